#include "server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "swgenio_abi.h"
#include "wire.h"

namespace swchip {

namespace {
constexpr size_t kMaxControlLine = 16384;  // room for a hex frame of the largest CPU size

bool fill_address(const std::string &path, sockaddr_un &addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  return true;
}

void send_all(int fd, const std::string &text) {
  size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}
}  // namespace

int listen_unix(const std::string &path, int type) {
  sockaddr_un addr;
  if (!fill_address(path, addr)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0 || ::listen(fd, 16) < 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

Server::~Server() {
  for (int fd : clients_) ::close(fd);
  if (device_listener_ >= 0) {
    ::close(device_listener_);
    ::unlink(device_path_.c_str());
  }
  if (control_listener_ >= 0) {
    ::close(control_listener_);
    ::unlink(control_path_.c_str());
  }
}

bool Server::listen(const std::string &device_path, const std::string &control_path, std::string &error) {
  device_listener_ = listen_unix(device_path, SOCK_SEQPACKET);
  if (device_listener_ < 0) {
    error = "device socket " + device_path + ": " + std::strerror(errno);
    return false;
  }
  device_path_ = device_path;
  control_listener_ = listen_unix(control_path, SOCK_STREAM);
  if (control_listener_ < 0) {
    error = "control socket " + control_path + ": " + std::strerror(errno);
    return false;
  }
  control_path_ = control_path;
  return true;
}

void Server::run(volatile std::sig_atomic_t &stop, const sigset_t *wait_mask) {
  std::vector<pollfd> fds;
  while (!stop) {
    fds.clear();
    fds.push_back({device_listener_, POLLIN, 0});
    fds.push_back({control_listener_, POLLIN, 0});
    for (const Source &s : sources_) fds.push_back({s.fd, POLLIN, 0});
    for (int fd : clients_) fds.push_back({fd, POLLIN, 0});
    // Sleep until a request comes, never polling: a client's request wakes the server on the client's
    // processor, where polling would keep that client from running and taking its reply.
    const int n = ::ppoll(fds.data(), fds.size(), nullptr, wait_mask);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    // Clients first, from the back, so that removing one keeps the others' indexes valid.
    const size_t first_client = 2 + sources_.size();
    for (size_t i = fds.size(); i-- > first_client;) {
      if (fds[i].revents != 0) serve_device_client(i - first_client);
    }
    for (size_t i = 0; i < sources_.size(); ++i) {
      if (fds[2 + i].revents != 0) sources_[i].on_readable();
    }
    if (fds[0].revents & POLLIN) accept_device_client();
    if (fds[1].revents & POLLIN) serve_control_client();
    for (const auto &hook : after_wakeup_) hook();
  }
}

void Server::accept_device_client() {
  const int fd = ::accept4(device_listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) clients_.push_back(fd);
}

void Server::serve_device_client(size_t index) {
  const int fd = clients_[index];
  uint8_t datagram[swgenio::wire::kMaxBatchDatagram];
  const ssize_t n = ::recv(fd, datagram, sizeof datagram, MSG_TRUNC | MSG_DONTWAIT);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    // The client closed its descriptor (or went away); the chip keeps its state for the next open.
    ::close(fd);
    clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
    return;
  }
  const std::vector<uint8_t> reply = static_cast<size_t>(n) > sizeof datagram
                                         ? swgenio::wire::encode_reply(-EINVAL, {})
                                         : answer({datagram, static_cast<size_t>(n)});
  ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
}

std::vector<uint8_t> Server::answer(std::span<const uint8_t> datagram) {
  if (swgenio::wire::is_batch(datagram)) {
    const auto batch = swgenio::wire::decode_batch_request(datagram);
    if (batch.error != 0) return swgenio::wire::encode_batch_reply(batch.error, {});
    return swgenio::wire::encode_batch_reply(0, driver_.run_batch(batch.ops));
  }
  if (datagram.size() > swgenio::wire::kMaxDatagram) return swgenio::wire::encode_reply(-EINVAL, {});
  auto decoded = swgenio::wire::decode_request(datagram);
  if (decoded.error != 0) return swgenio::wire::encode_reply(decoded.error, {});
  auto &record = decoded.request.record;
  const int result = driver_.handle(decoded.request.code, record);
  const bool returns_data =
      result == 0 && (swgenio::request_direction(decoded.request.code) & swgenio::kDirRead);
  return swgenio::wire::encode_reply(
      result, returns_data ? std::span<const uint8_t>(record) : std::span<const uint8_t>());
}

void Server::serve_control_client() {
  const int fd = ::accept4(control_listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  // A control client that never finishes its line must not hold the chip up for long.
  timeval limit{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  std::string line;
  char buf[512];
  while (line.size() < kMaxControlLine && line.find('\n') == std::string::npos) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  std::string reply;
  if (line.size() >= kMaxControlLine) {
    reply = "error: command too long";
  } else {
    reply = control_.execute(line.substr(0, line.find('\n')));
  }
  if (reply.empty() || reply.back() != '\n') reply += '\n';
  send_all(fd, reply);
  ::close(fd);
}

}  // namespace swchip
