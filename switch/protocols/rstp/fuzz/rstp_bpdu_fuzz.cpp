// Frames from the wire into the BPDU decoder and a running bridge: the first byte picks the front port,
// the rest is the frame. Every few frames a tick lets the machines act on what was accepted.
#include "rstp_engine.h"
#include "scripted_port_services.h"

#include <cstddef>
#include <cstdint>

namespace {

// Every link up, port 5 at half duplex, port 6 of unknown speed; trace lines go nowhere.
class QuietHost : public proto_test::ScriptedPortServices {
 public:
  QuietHost() : ScriptedPortServices(1) {
    link.fill(true);
    duplex[5] = false;
    speed[6] = 0;
  }
  void trace(unsigned, unsigned, const char *, int, const char *) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rstp::Bpdu bpdu;
  if (size > 1) (void)rstp::decode_bpdu(data + 1, size - 1, bpdu);
  QuietHost host;
  rstp::Engine engine(host);
  engine.start();
  // Split the input into frames at a marker so one run can feed a conversation.
  size_t start = 0, count = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i < size && !(i + 1 < size && data[i] == 0xFE && data[i + 1] == 0xFE)) continue;
    if (i > start + 1) {
      unsigned port = data[start] % rstp::kFrontPorts + 1;
      engine.receive(port, data + start + 1, i - start - 1);
      if (++count % 3 == 0) engine.tick();
    }
    start = i + 2;
    ++i;
  }
  for (int t = 0; t < 5; ++t) engine.tick();
  engine.finish_work();
  // Whatever came in, every BPDU sent out was written into its own buffer and fits a BPDU frame.
  if (host.foreign_sends != 0) __builtin_trap();
  for (const auto &frame : host.sent)
    if (frame.bytes.size() > rstp::kMaxBpduFrame) __builtin_trap();
  return 0;
}
