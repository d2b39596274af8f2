// Bridges on an in-memory wire: each engine has a fake host, frames sent on a port are padded as the
// chip pads them and handed to the engine at the other end of the cable; time is a tick counter.
#pragma once

#include "rstp_engine.h"

#include <algorithm>
#include <stdexcept>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace rstp::test {

struct Flush {
    int flush_port;
    unsigned port;
    int flush_vlan;
    unsigned vid;
};

struct Sent {
    unsigned port;
    std::vector<uint8_t> frame;
};

class FakeHost : public Host {
  public:
    explicit FakeHost(uint8_t id) {
        for (unsigned p = 1; p <= kFrontPorts; ++p)
            macs[p] = Mac{0x02, 0x00, 0x00, 0x00, id, uint8_t(p)};
    }
    Mac port_mac(unsigned port) override { return macs[port]; }
    bool link_state(unsigned port) override { return link[port]; }
    unsigned link_speed(unsigned port) override { return link[port] ? speed[port] : 0; }
    bool link_duplex(unsigned port) override { return duplex[port]; }
    void set_stpstate(unsigned port, StpState state) override { stp[port] = state; }
    void set_fwdstate(unsigned port, int flag) override { fwdstate[port] = flag; }
    bool frame_send(unsigned port, const uint8_t *frame, size_t length) override {
        sent.push_back({port, std::vector<uint8_t>(frame, frame + length)});
        return true;
    }
    void flush_fdb(int flush_port, unsigned port, int flush_vlan, unsigned vid) override {
        flushes.push_back({flush_port, port, flush_vlan, vid});
    }
    void trace(unsigned, const char *, int, const char *text) override { lines.emplace_back(text); }

    bool traced(const std::string &needle) const {
        for (const auto &l : lines)
            if (l.find(needle) != std::string::npos)
                return true;
        return false;
    }

    std::array<Mac, kFrontPorts + 1> macs{};
    std::array<bool, kFrontPorts + 1> link{};
    std::array<unsigned, kFrontPorts + 1> speed{0, 1000, 1000, 1000, 1000, 1000, 1000};
    std::array<bool, kFrontPorts + 1> duplex{false, true, true, true, true, true, true};
    std::array<int, kFrontPorts + 1> stp{};
    std::array<int, kFrontPorts + 1> fwdstate{};
    std::vector<Sent> sent;
    std::vector<Flush> flushes;
    std::vector<std::string> lines;
};

struct Node {
    explicit Node(uint8_t id) : host(id), engine(host) {}
    FakeHost host;
    Engine engine;
    size_t delivered = 0; // frames of host.sent already put on the wire
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
        for (auto &n : nodes_)
            n->engine.start();
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
            for (auto &n : nodes_)
                n->engine.finish_work();
            for (auto &n : nodes_) {
                while (n->delivered < n->host.sent.size()) {
                    Sent s = n->host.sent[n->delivered++];
                    moved = true;
                    auto it = cables_.find({n.get(), s.port});
                    if (it == cables_.end() || muted_[{n.get(), s.port}] || !n->host.link[s.port])
                        continue;
                    s.frame.resize(std::max<size_t>(s.frame.size(), 60), 0);
                    it->second.first->engine.receive(it->second.second, s.frame.data(), s.frame.size());
                }
            }
            if (!moved)
                return;
        }
        throw std::runtime_error("network did not settle");
    }
    void ticks(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            for (auto &n : nodes_)
                n->engine.tick();
            settle();
        }
    }

  private:
    std::vector<std::unique_ptr<Node>> nodes_;
    std::map<std::pair<Node *, unsigned>, std::pair<Node *, unsigned>> cables_;
    std::map<std::pair<Node *, unsigned>, bool> muted_;
};

} // namespace rstp::test
