// A raw packet socket on one interface, in this program's network namespace or in a named one (made
// with "ip netns add"): whole Ethernet frames in and out, as a peer on the wire sees them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class PacketSocket {
 public:
  struct Options {
    uint16_t protocol = 0x0003;  // ETH_P_ALL: every frame
    bool nonblocking = false;
    int receive_buffer = 0;  // bytes; 0 keeps the system's default
  };
  // `netns` empty: the interface is in this program's namespace.
  PacketSocket(const std::string &ifname, const std::string &netns);
  PacketSocket(const std::string &ifname, const std::string &netns, const Options &how);
  ~PacketSocket();
  PacketSocket(const PacketSocket &) = delete;
  PacketSocket &operator=(const PacketSocket &) = delete;

  bool ok() const { return fd_ >= 0; }
  bool send(const std::vector<uint8_t> &frame) const;
  // The next frame that comes in (not one this side sent), of at least 14 bytes, that `wanted` accepts.
  std::optional<std::vector<uint8_t>> receive_if(
      const std::function<bool(const std::vector<uint8_t> &)> &wanted,
      std::chrono::milliseconds timeout) const;
  // The same for an EtherType (or length field) of `type`.
  std::optional<std::vector<uint8_t>> receive(uint16_t type, std::chrono::milliseconds timeout) const;
  // Every frame queued so far, either direction (a non-blocking socket).
  std::vector<std::vector<uint8_t>> take() const;

 private:
  int fd_ = -1;
};
