// Frames from the wire into an engine whose ports are up and aggregating: any byte string must be
// counted or handled, never read past or crash.
#include "lacp_engine.h"
#include "scripted_port_services.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Odd ports up; aggregation events and trace lines go nowhere.
class FuzzHost : public proto_test::ScriptedPortServices, public lacp::AggregatorEvents {
 public:
  FuzzHost() : ScriptedPortServices(1) {
    for (unsigned port = 1; port <= proto::kFrontPorts; ++port) link[port] = port % 2;
    apply.fill(1);
  }
  void set_hwaggr(unsigned, unsigned) override {}
  void clear_hwaggr(unsigned, unsigned) override {}
  void trace(unsigned, unsigned, const char *, int, const char *) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzHost host;
  lacp::Engine engine(host, host);
  engine.init();
  uint8_t config[lacp::kPortConfigSize];
  lacp::encode_port_config(lacp::PortConfig{32768, 1, 1, 1, 1}, config);
  engine.set_portconfig(1, config);
  engine.tick();
  // The input is cut into frames by a leading length byte pair, so one run can carry a conversation.
  while (size >= 2) {
    size_t length = static_cast<size_t>(data[0] << 8 | data[1]);
    data += 2;
    size -= 2;
    length = length > size ? size : length;
    // An exact-size copy lets the sanitizer see any read past the frame; an empty frame still has an
    // address, as every frame the dispatch hands over does.
    auto frame = std::make_unique<uint8_t[]>(length);
    std::memcpy(frame.get(), data, length);
    engine.receive(1 + (length % lacp::kPortCount), frame.get(), length);
    engine.tick();
    data += length;
    size -= length;
  }
  uint8_t status[lacp::kAggrStatusSize];
  for (unsigned id = 1; id <= lacp::kAggregatorCount; ++id) engine.get_aggr_status(id, status);
  return 0;
}
