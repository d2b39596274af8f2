// Port services for tests and fuzzers: links, speeds and addresses set by the test, every frame, state
// and flush recorded. Port p of system `id` has the MAC 02-00-00-00-<id>-<p>.
#pragma once

#include "port_services.h"

#include <array>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace proto_test {

using proto::kFrontPorts;
using proto::Mac;

struct SentFrame {
  unsigned port;
  std::vector<uint8_t> bytes;
};

struct Flush {
  int flush_port;
  unsigned port;
  int flush_vlan;
  unsigned vid;
};

class ScriptedPortServices : public proto::PortServices {
 public:
  explicit ScriptedPortServices(uint8_t id) {
    for (unsigned p = 1; p <= kFrontPorts; ++p)
      macs[p] = Mac{0x02, 0x00, 0x00, 0x00, id, static_cast<uint8_t>(p)};
    speed.fill(1000);
    duplex.fill(true);
  }

  Mac port_mac(unsigned port) override { return macs[port]; }
  Mac system_mac() override { return macs[1]; }
  bool link_state(unsigned port) override { return link[port]; }
  unsigned link_speed(unsigned port) override { return link[port] ? speed[port] : 0; }
  // Like port management: speed and duplex are known only while the link is up.
  bool link_duplex(unsigned port) override { return link[port] && duplex[port]; }
  uint16_t make_key(unsigned port, uint16_t admin_key) override {
    return static_cast<uint16_t>((admin_key << 8 | (speed_code(link_speed(port)) & 15)) & 0xffff);
  }
  uint8_t *frame_alloc(unsigned, size_t length, void **buffer_ref) override {
    if (!alloc_ok) return nullptr;
    buffers_.emplace_back(length, 0xEE);
    *buffer_ref = &buffers_.back();
    return buffers_.back().data();
  }
  bool frame_send(unsigned port, uint8_t *frame, size_t length, void *buffer_ref) override {
    auto *buffer = static_cast<std::vector<uint8_t> *>(buffer_ref);
    if (buffer == nullptr || buffer->data() != frame || length > buffer->size()) ++foreign_sends;
    sent.push_back({port, std::vector<uint8_t>(frame, frame + length)});
    return send_ok;
  }
  void set_stpstate(unsigned port, proto::StpState state) override { stp[port] = state; }
  int fwdstate(unsigned port) override { return apply[port]; }
  void set_fwdstate(unsigned port, int flag) override { apply[port] = flag; }
  void flush_fdb(int flush_port, unsigned port, int flush_vlan, unsigned vid) override {
    flushes.push_back({flush_port, port, flush_vlan, vid});
  }
  void trace(unsigned, unsigned level, const char *, int, const char *text) override {
    traces.emplace_back(level, text);
  }

  // Port management's speed code: 1 10M, 2 100M, 3 1G, 4 10G; 0 without link.
  static unsigned speed_code(unsigned mbits) {
    switch (mbits) {
      case 0:
        return 0;
      case 10:
        return 1;
      case 100:
        return 2;
      case 1000:
        return 3;
      case 10000:
        return 4;
      default:
        return 0;
    }
  }
  size_t traces_containing(const std::string &needle) const {
    size_t n = 0;
    for (const auto &t : traces) n += t.second.find(needle) != std::string::npos;
    return n;
  }
  bool traced(const std::string &needle) const { return traces_containing(needle) > 0; }

  std::array<Mac, kFrontPorts + 1> macs{};
  std::array<bool, kFrontPorts + 1> link{};
  std::array<unsigned, kFrontPorts + 1> speed{};
  std::array<bool, kFrontPorts + 1> duplex{};
  std::array<int, kFrontPorts + 1> stp{};
  std::array<int, kFrontPorts + 1> apply{};
  bool alloc_ok = true;
  bool send_ok = true;
  // Frames handed to frame_send in a buffer that frame_alloc did not give out, or past its end.
  unsigned foreign_sends = 0;
  std::vector<SentFrame> sent;
  std::vector<Flush> flushes;
  std::vector<std::pair<unsigned, std::string>> traces;

 private:
  std::deque<std::vector<uint8_t>> buffers_;
};

}  // namespace proto_test
