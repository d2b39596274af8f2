// Frames from the wire into the BPDU decoder and a running bridge: the first byte picks the front port,
// the rest is the frame. Every few frames a tick lets the machines act on what was accepted.
#include "rstp_engine.h"

#include <cstddef>
#include <cstdint>

namespace {

class QuietHost : public rstp::Host {
  public:
    rstp::Mac port_mac(unsigned port) override { return {0x02, 0, 0, 0, 1, uint8_t(port)}; }
    bool link_state(unsigned) override { return true; }
    unsigned link_speed(unsigned port) override { return port == 6 ? 0 : 1000; }
    bool link_duplex(unsigned port) override { return port != 5; }
    void set_stpstate(unsigned, rstp::StpState) override {}
    void set_fwdstate(unsigned, int) override {}
    bool frame_send(unsigned, const uint8_t *, size_t length) override { return length <= rstp::kMaxBpduFrame; }
    void flush_fdb(int, unsigned, int, unsigned) override {}
    void trace(unsigned, const char *, int, const char *) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    rstp::Bpdu bpdu;
    if (size > 1)
        (void)rstp::decode_bpdu(data + 1, size - 1, bpdu);
    QuietHost host;
    rstp::Engine engine(host);
    engine.start();
    // Split the input into frames at a marker so one run can feed a conversation.
    size_t start = 0, count = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && !(i + 1 < size && data[i] == 0xFE && data[i + 1] == 0xFE))
            continue;
        if (i > start + 1) {
            unsigned port = data[start] % rstp::kFrontPorts + 1;
            engine.receive(port, data + start + 1, i - start - 1);
            if (++count % 3 == 0)
                engine.tick();
        }
        start = i + 2;
        ++i;
    }
    for (int t = 0; t < 5; ++t)
        engine.tick();
    engine.finish_work();
    return 0;
}
