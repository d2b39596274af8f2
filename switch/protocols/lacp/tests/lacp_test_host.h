// A recording host for LACP engines and a virtual cable between two of them, on a virtual clock:
// time moves only when a test calls second().
#pragma once

#include "lacp_engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace lacp_test {

using lacp::Mac;

struct SentFrame {
    unsigned port;
    std::vector<uint8_t> bytes;
};

// What both kinds of recording host share: links, speeds and keys, addresses, a frame recorder and the
// trace lines they were given.
template <class Interface>
class RecordingSystem : public Interface {
  public:
    explicit RecordingSystem(uint8_t system_id) : system_id_(system_id) {
        for (unsigned p = 0; p <= lacp::kPortCount; ++p) {
            link[p] = 0;
            duplex[p] = 1;
            speed[p] = 3;
        }
    }

    int link_state(unsigned port) override { return link[port]; }
    // Like port management: the duplex of a port is known only while its link is up.
    int link_duplex(unsigned port) override { return link[port] ? duplex[port] : 0; }
    uint16_t make_key(unsigned port, uint16_t admin_key) override {
        return static_cast<uint16_t>((admin_key << 8 | (speed[port] & 15)) & 0xffff);
    }
    Mac system_mac() override { return port_mac(1); }
    Mac port_mac(unsigned port) override { return Mac{0x02, 0x00, 0x00, 0x00, system_id_, static_cast<uint8_t>(port)}; }
    uint8_t *frame_alloc(unsigned, size_t length, void **buffer_ref) override {
        if (!alloc_ok)
            return nullptr;
        buffers_.emplace_back(length, 0xEE);
        *buffer_ref = &buffers_.back();
        return buffers_.back().data();
    }
    bool frame_send(unsigned port, uint8_t *frame, size_t length, void *buffer_ref) override {
        auto *buffer = static_cast<std::vector<uint8_t> *>(buffer_ref);
        EXPECT_EQ(buffer->data(), frame);
        sent.push_back({port, std::vector<uint8_t>(frame, frame + length)});
        return send_ok;
    }

    size_t traces_containing(const std::string &needle) const {
        size_t n = 0;
        for (const auto &t : traces)
            n += t.second.find(needle) != std::string::npos;
        return n;
    }
    size_t sent_lacpdus(unsigned port) const {
        size_t n = 0;
        for (const auto &f : sent)
            n += f.port == port && f.bytes[lacp::kOffSubtype] == lacp::kSubtypeLacp;
        return n;
    }

    int link[lacp::kPortCount + 1];
    int duplex[lacp::kPortCount + 1];
    uint32_t speed[lacp::kPortCount + 1];
    bool alloc_ok = true;
    bool send_ok = true;
    std::vector<SentFrame> sent;
    std::vector<std::pair<unsigned, std::string>> traces;

  private:
    uint8_t system_id_;
    std::deque<std::vector<uint8_t>> buffers_;
};

class RecordingHost : public RecordingSystem<lacp::Host> {
  public:
    using RecordingSystem::RecordingSystem;

    void set_hwaggr(unsigned aggregator, unsigned port) override {
        events.push_back("set " + std::to_string(aggregator) + " " + std::to_string(port));
    }
    void clear_hwaggr(unsigned aggregator, unsigned port) override {
        events.push_back("clear " + std::to_string(aggregator) + " " + std::to_string(port));
    }
    int fwdstate(unsigned) override { return 1; }
    void trace(unsigned level, const char *, int, const char *text) override { traces.emplace_back(level, text); }

    std::vector<std::string> events;
};

// LACP enabled with the given key, short timeout, active.
inline std::vector<uint8_t> port_config(uint16_t key, uint8_t enabled = 1, uint8_t fast = 1, uint8_t active = 1) {
    std::vector<uint8_t> bytes(lacp::kPortConfigSize);
    lacp::encode_port_config(lacp::PortConfig{32768, key, enabled, fast, active}, bytes.data());
    return bytes;
}

// Two systems whose ports are cabled one to one (port p of A to port p of B) unless cut.
struct BackToBack {
    RecordingHost host_a{0xA};
    RecordingHost host_b{0xB};
    lacp::Engine a{host_a};
    lacp::Engine b{host_b};
    bool cut[lacp::kPortCount + 1] = {};  // frames on this cable are lost (both directions)
    bool mute_b[lacp::kPortCount + 1] = {}; // B's frames on this cable are lost
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
                if (!cut[f.port])
                    b.receive(f.port, f.bytes.data(), f.bytes.size());
            }
            while (delivered_b < host_b.sent.size()) {
                SentFrame f = host_b.sent[delivered_b++];
                if (!cut[f.port] && !mute_b[f.port])
                    a.receive(f.port, f.bytes.data(), f.bytes.size());
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
        for (unsigned i = 0; i < n; ++i)
            second();
    }
};

} // namespace lacp_test
