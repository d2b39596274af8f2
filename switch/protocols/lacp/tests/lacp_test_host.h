// Recording port services for LACP engines and a virtual cable between two of them, on a virtual
// clock: time moves only when a test calls second().
#pragma once

#include "lacp_engine.h"
#include "scripted_port_services.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace lacp_test {

using lacp::Mac;

using proto_test::SentFrame;

// Scripted port services with the LACP view of what they sent.
class LacpScripted : public proto_test::ScriptedPortServices {
 public:
  using ScriptedPortServices::ScriptedPortServices;
  size_t sent_lacpdus(unsigned port) const {
    size_t n = 0;
    for (const auto &f : sent) n += f.port == port && f.bytes[lacp::kOffSubtype] == lacp::kSubtypeLacp;
    return n;
  }
};

// A system whose engine's aggregation events are recorded; its ports' spanning-tree states apply.
class RecordingHost : public LacpScripted, public lacp::AggregatorEvents {
 public:
  explicit RecordingHost(uint8_t id) : LacpScripted(id) { apply.fill(1); }

  void set_hwaggr(unsigned aggregator, unsigned port) override {
    events.push_back("set " + std::to_string(aggregator) + " " + std::to_string(port));
  }
  void clear_hwaggr(unsigned aggregator, unsigned port) override {
    events.push_back("clear " + std::to_string(aggregator) + " " + std::to_string(port));
  }

  std::vector<std::string> events;
};

// LACP enabled with the given key, short timeout, active.
inline std::vector<uint8_t> port_config(uint16_t key, uint8_t enabled = 1, uint8_t fast = 1,
                                        uint8_t active = 1) {
  std::vector<uint8_t> bytes(lacp::kPortConfigSize);
  lacp::encode_port_config(lacp::PortConfig{32768, key, enabled, fast, active}, bytes.data());
  return bytes;
}

// Two systems whose ports are cabled one to one (port p of A to port p of B) unless cut.
struct BackToBack {
  RecordingHost host_a{0xA};
  RecordingHost host_b{0xB};
  lacp::Engine a{host_a, host_a};
  lacp::Engine b{host_b, host_b};
  bool cut[lacp::kPortCount + 1] = {};     // frames on this cable are lost (both directions)
  bool mute_b[lacp::kPortCount + 1] = {};  // B's frames on this cable are lost
  size_t delivered_a = 0, delivered_b = 0;

  BackToBack() {
    a.init();
    b.init();
  }

  void configure_all(uint16_t key) {
    for (unsigned p = 1; p <= lacp::kPortCount; ++p) {
      a.set_portconfig(p, port_config(key).data());
      b.set_portconfig(p, port_config(key).data());
    }
  }
  void link(unsigned port, int up) {
    host_a.link[port] = up;
    host_b.link[port] = up;
    a.linkstate_changed(port, up);
    b.linkstate_changed(port, up);
  }
  void deliver() {
    while (delivered_a < host_a.sent.size() || delivered_b < host_b.sent.size()) {
      while (delivered_a < host_a.sent.size()) {
        SentFrame f = host_a.sent[delivered_a++];
        if (!cut[f.port]) b.receive(f.port, f.bytes.data(), f.bytes.size());
      }
      while (delivered_b < host_b.sent.size()) {
        SentFrame f = host_b.sent[delivered_b++];
        if (!cut[f.port] && !mute_b[f.port]) a.receive(f.port, f.bytes.data(), f.bytes.size());
      }
    }
  }
  // One second: both ticks, then the main loop's passes, one port per pass, frames crossing between.
  void second() {
    a.tick();
    b.tick();
    deliver();
    for (unsigned pass = 0; pass < lacp::kPortCount; ++pass) {
      a.more_work();
      b.more_work();
      deliver();
    }
  }
  void seconds(unsigned n) {
    for (unsigned i = 0; i < n; ++i) second();
  }
};

}  // namespace lacp_test
