#include "packet_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int open_bound(const std::string &ifname, const PacketSocket::Options &how) {
  int fd =
      socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC | (how.nonblocking ? SOCK_NONBLOCK : 0), htons(how.protocol));
  if (fd < 0) return -1;
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_protocol = htons(how.protocol);
  address.sll_ifindex = static_cast<int>(if_nametoindex(ifname.c_str()));
  const bool buffered =
      how.receive_buffer == 0 ||
      setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &how.receive_buffer, sizeof how.receive_buffer) == 0;
  if (!buffered || address.sll_ifindex == 0 ||
      bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

PacketSocket::PacketSocket(const std::string &ifname, const std::string &netns)
    : PacketSocket(ifname, netns, Options{}) {}

PacketSocket::PacketSocket(const std::string &ifname, const std::string &netns, const Options &how) {
  if (netns.empty()) {
    fd_ = open_bound(ifname, how);
    return;
  }
  // The socket stays in the namespace it was made in; the thread goes back to its own at once.
  const int here = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  const int there = open(("/var/run/netns/" + netns).c_str(), O_RDONLY | O_CLOEXEC);
  if (here >= 0 && there >= 0 && setns(there, CLONE_NEWNET) == 0) {
    fd_ = open_bound(ifname, how);
    setns(here, CLONE_NEWNET);
  }
  if (here >= 0) close(here);
  if (there >= 0) close(there);
}

PacketSocket::~PacketSocket() {
  if (fd_ >= 0) close(fd_);
}

bool PacketSocket::send(const std::vector<uint8_t> &frame) const {
  return ::send(fd_, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size());
}

std::optional<std::vector<uint8_t>> PacketSocket::receive_if(
    const std::function<bool(const std::vector<uint8_t> &)> &wanted,
    std::chrono::milliseconds timeout) const {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    std::vector<uint8_t> frame(10000);
    sockaddr_ll from{};
    socklen_t from_length = sizeof from;
    const ssize_t n =
        recvfrom(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&from), &from_length);
    if (n < 14 || from.sll_pkttype == PACKET_OUTGOING) continue;
    frame.resize(static_cast<size_t>(n));
    if (wanted(frame)) return frame;
  }
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> PacketSocket::receive(uint16_t type,
                                                          std::chrono::milliseconds timeout) const {
  return receive_if([type](const std::vector<uint8_t> &f) { return (f[12] << 8 | f[13]) == type; }, timeout);
}

std::vector<std::vector<uint8_t>> PacketSocket::take() const {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> frame(16384);
  for (;;) {
    const ssize_t n = recv(fd_, frame.data(), frame.size(), MSG_DONTWAIT);
    if (n < 0) break;
    frames.emplace_back(frame.begin(), frame.begin() + n);
  }
  return frames;
}
