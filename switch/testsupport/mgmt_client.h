// A management peer for tests and benchmarks: sends one datagram of objects over UDP and waits for the reply.
#pragma once

#include "le.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

class MgmtClient {
 public:
  explicit MgmtClient(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket");
    peer_.sin_family = AF_INET;
    peer_.sin_port = htons(port);
    peer_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~MgmtClient() { close(fd_); }
  MgmtClient(const MgmtClient &) = delete;
  MgmtClient &operator=(const MgmtClient &) = delete;

  // The reply, or nothing when none came within the timeout.
  std::optional<std::vector<uint8_t>> request(const std::vector<uint8_t> &datagram,
                                              std::chrono::milliseconds timeout) {
    sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr *>(&peer_),
           sizeof peer_);
    return receive(timeout);
  }

  // The next datagram that arrives within the timeout.
  std::optional<std::vector<uint8_t>> receive(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    std::vector<uint8_t> reply(65535);
    ssize_t n = recv(fd_, reply.data(), reply.size(), 0);
    if (n < 0) return std::nullopt;
    reply.resize(static_cast<size_t>(n));
    return reply;
  }

  // One object {obj_id, cmd, data}; the reply's data, or nothing without reply. `res` receives the result.
  std::optional<std::vector<uint8_t>> object(uint32_t obj_id, uint32_t cmd, std::vector<uint8_t> data,
                                             uint32_t &res, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> d(16, 0);
    le_store32(&d[0], obj_id);
    le_store32(&d[4], cmd);
    le_store16(&d[14], static_cast<uint16_t>(16 + data.size()));
    d.insert(d.end(), data.begin(), data.end());
    // A reply of another shape answers an earlier request that this peer no longer waited for
    // (a daemon busy at start answers every readiness probe at once): skip it.
    auto deadline = std::chrono::steady_clock::now() + timeout;
    auto reply = request(d, timeout);
    while (reply && (reply->size() != d.size() || le_load32(reply->data()) != obj_id)) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      reply = receive(left);
    }
    if (!reply) return std::nullopt;
    res = le_load32(reply->data() + 8);
    return std::vector<uint8_t>(reply->begin() + 16, reply->end());
  }

 private:
  int fd_ = -1;
  sockaddr_in peer_{};
};

inline std::vector<uint8_t> u32_data(uint32_t value) {
  std::vector<uint8_t> d(4);
  le_store32(d.data(), value);
  return d;
}

// A UDP port nobody uses at this moment (for daemons started by parallel tests).
inline uint16_t free_udp_port() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}
