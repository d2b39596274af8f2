// Bridges on an in-memory wire: each engine has scripted port services, frames sent on a port are padded
// as the chip pads them and handed to the engine at the other end of the cable; time is a tick counter.
#pragma once

#include "rstp_engine.h"
#include "scripted_port_services.h"

#include <algorithm>
#include <stdexcept>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace rstp::test {

using proto_test::Flush;
using Sent = proto_test::SentFrame;
using FakeHost = proto_test::ScriptedPortServices;

struct Node {
  explicit Node(uint8_t id) : host(id), engine(host) {}
  FakeHost host;
  Engine engine;
  size_t delivered = 0;  // frames of host.sent already put on the wire
};

class Network {
 public:
  // Bridge ids come from the MACs 02-00-00-00-<id>-<port>: a lower id wins at equal priority.
  Node &add(uint8_t id, uint16_t priority = 32768, uint8_t force_version = 2) {
    nodes_.push_back(std::make_unique<Node>(id));
    Node &n = *nodes_.back();
    BridgeConfig c;
    c.priority = priority;
    c.force_version = force_version;
    n.engine.set_config(c);
    return n;
  }
  void start() {
    for (auto &n : nodes_) n->engine.start();
    settle();
  }
  // Cables carry frames only while both ends have link.
  void connect(Node &a, unsigned pa, Node &b, unsigned pb) {
    cables_[{&a, pa}] = {&b, pb};
    cables_[{&b, pb}] = {&a, pa};
    a.host.link[pa] = b.host.link[pb] = true;
    if (a.engine.initialised()) {
      a.engine.linkstate_changed(pa, true);
      b.engine.linkstate_changed(pb, true);
    }
    settle();
  }
  void unplug(Node &a, unsigned pa) {
    auto [b, pb] = cables_.at({&a, pa});
    a.host.link[pa] = b->host.link[pb] = false;
    a.engine.linkstate_changed(pa, false);
    b->engine.linkstate_changed(pb, false);
    settle();
  }
  // Frames from this end are lost while the link stays up (a peer that stopped speaking).
  void mute(Node &a, unsigned pa, bool on) { muted_[{&a, pa}] = on; }

  void settle() {
    for (int guard = 0; guard < 1000; ++guard) {
      bool moved = false;
      for (auto &n : nodes_) n->engine.finish_work();
      for (auto &n : nodes_) {
        while (n->delivered < n->host.sent.size()) {
          Sent s = n->host.sent[n->delivered++];
          moved = true;
          auto it = cables_.find({n.get(), s.port});
          if (it == cables_.end() || muted_[{n.get(), s.port}] || !n->host.link[s.port]) continue;
          s.bytes.resize(std::max<size_t>(s.bytes.size(), 60), 0);
          it->second.first->engine.receive(it->second.second, s.bytes.data(), s.bytes.size());
        }
      }
      if (!moved) return;
    }
    throw std::runtime_error("network did not settle");
  }
  void ticks(unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      for (auto &n : nodes_) n->engine.tick();
      settle();
    }
  }

 private:
  std::vector<std::unique_ptr<Node>> nodes_;
  std::map<std::pair<Node *, unsigned>, std::pair<Node *, unsigned>> cables_;
  std::map<std::pair<Node *, unsigned>, bool> muted_;
};

}  // namespace rstp::test
