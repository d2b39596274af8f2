// The engine's frame and clock seams on a real (or stand-in) adapter.
#pragma once

#include <windows.h>

#include "adapter_packet_io.h"
#include "engine_ports.h"

namespace upgrade {

class AdapterFramePort final : public FramePort {
 public:
  explicit AdapterFramePort(AdapterPacketIo &io) : io_(io) {}
  bool own_mac(Mac &out) override {
    std::uint8_t mac[6];
    if (io_.GetOwnMac(mac) != 0) return false;
    std::copy(mac, mac + 6, out.begin());
    return true;
  }
  int send(std::span<const std::uint8_t> frame) override {
    return io_.SendUpgradeFrame(frame.data(), frame.size());
  }
  std::size_t receive(FrameBuffer &buffer) override { return io_.ReceiveUpgradeFrame(buffer.data()); }

 private:
  AdapterPacketIo &io_;
};

class TickClock final : public Clock {
 public:
  std::uint32_t now_ms() override { return GetTickCount(); }
};

}  // namespace upgrade
