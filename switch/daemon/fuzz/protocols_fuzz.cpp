// Frames from the front ports into portvisor's L2 dispatch with the aggregation module, the spanning
// tree and 802.1X running on every port (all links up, all protocols on, 802.1X automatic), on the
// in-process chip model. The input is cut into frames by 2-byte length prefixes; the first byte of each
// frame picks the port and whether the frame gets a BPDU, an LACPDU or an EAPOL header, so the engines'
// parsers are reached at once. Between frames
// the main loop's timers and passes run; at the end the buffer pools must be full again.
#include "chip_model.h"
#include "conf.h"
#include "driver.h"
#include "l2.h"
#include "l2_aggr.h"
#include "l2_dot1x.h"
#include "l2_rstp.h"
#include "loop.h"
#include "mgmt.h"
#include "packet.h"
#include "port.h"
#include "protocols.h"
#include "swc_api.h"
#include "swc_clock.h"
#include "swc_phy.h"
#include "swgenio.h"
#include "trace.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint8_t kBpduHeader[17] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x00, 0x02, 0,   0,
                                     0,    0,    0x09, 0,    0x27, 0x42, 0x42, 0x03};
constexpr uint8_t kSlowHeader[14] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x02, 0x02, 0, 0, 0, 0, 0x09, 0x88, 0x09};
constexpr uint8_t kEapolHeader[14] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x03, 0x02, 0, 0, 0, 0, 0x09, 0x88, 0x8E};

struct Harness {
  swchip::ChipModel chip;
  swchip::Driver driver{chip};
  SwcManualClock clock;
  SwcApiState state{};
  std::vector<unsigned char> phy_state;
  SwcPhyContext phy{};
  SwcContext context{};
  uint32_t now = 1000000;

  Harness() {
    trace_option_apply("all", "emerg");
    process_state().debug_flags[kConfDebugFileDisabled] = 1;  // the store stays in memory
    swgenio_attach_in_process(
        [this](uint32_t code, std::span<uint8_t> record) { return driver.handle(code, record); });
    swgenio_set_recording(false);
    swc_clock_set(&clock);
    phy_state.assign(swc_phy_sizeof_al(6), 0);
    phy = SwcPhyContext{0, reinterpret_cast<SwcPhyState *>(phy_state.data())};
    context = SwcContext{swgenio_open("/dev/swgenio", 2), &state, &phy};
    swc_select_context(&context);
    conf_module_reg(kConfModulePort, port_conf);
    conf_module_reg(kConfModuleL2, l2_conf);
    protocols_install();
    conf_init();
    port_init();
    packet_init();
    l2_init();
    for (unsigned port = 1; port <= kPortCount; ++port) port_status_update(port);
    // Both protocols on every port.
    rstp::Config config;
    for (auto &p : config.ports) p.enabled = 1;
    for (unsigned slot = 0; slot < 7; ++slot) {
      uint8_t block[rstp::kConfigSize];
      rstp::encode_config(config, block);
      swc_rstp_set_portconfig(slot, block + rstp::kBridgeConfigSize + rstp::kPortConfigSize * slot);
    }
    uint8_t lacp_port[lacp::kPortConfigSize];
    lacp::encode_port_config(lacp::PortConfig{32768, 1, 1, 1, 1}, lacp_port);
    for (unsigned port = 1; port <= kPortCount; ++port) swc_lacp_set_portconfig(port, lacp_port);
    for (unsigned port = 1; port <= kPortCount; ++port) swc_dot1x_set_portconfig(port, dot1x::kAuto);
    dot1x::SystemConfig dot1x_system;
    dot1x_system.enabled = 1;
    dot1x_system.server = 0x7F000001;  // nothing answers there
    dot1x_system.server_port = 9;
    uint8_t dot1x_block[dot1x::kSystemConfigSize];
    dot1x::encode_system(dot1x_system, dot1x_block);
    swc_dot1x_set_systemconfig(dot1x_block);
    run(3000);
  }
  // The main loop over `ms` milliseconds.
  void run(uint32_t ms) {
    for (uint32_t i = 0; i < ms; ++i) {
      timer_dispatch(++now);
      packet_queue();
      packet_poll();
      l2_protocols_more_work();
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Harness h;
  while (size >= 3) {
    size_t length = static_cast<size_t>(data[0] << 8 | data[1]);
    data += 2;
    size -= 2;
    length = length > size ? size : length;
    if (length == 0) break;
    const uint8_t selector = data[0];
    const unsigned port = 1 + selector % kPortCount;
    // The header of the chosen class, then the rest of the frame as it came.
    std::vector<uint8_t> frame;
    if ((selector & 0xC0) == 0xC0)
      frame.assign(kEapolHeader, kEapolHeader + sizeof kEapolHeader);
    else if (selector & 0x80)
      frame.assign(kBpduHeader, kBpduHeader + sizeof kBpduHeader);
    else if (selector & 0x40)
      frame.assign(kSlowHeader, kSlowHeader + sizeof kSlowHeader);
    frame.insert(frame.end(), data + 1, data + length);
    // Exact size: ASan sees any read past the frame.
    auto exact = std::make_unique<uint8_t[]>(frame.empty() ? 1 : frame.size());
    if (!frame.empty()) std::memcpy(exact.get(), frame.data(), frame.size());
    l2_frame_dispatch(port, exact.get(), frame.size());
    h.run(selector & 0x20 ? 1100 : 3);
    data += length;
    size -= length;
  }
  // What the engines queued leaves, one frame a millisecond.
  for (int i = 0; i < 1000 && packet_stats_get().tx_list != 0; ++i) h.run(1);
  const PacketStats stats = packet_stats_get();
  if (stats.free[0] != kPacketSmallCount || stats.free[1] != kPacketMediumCount ||
      stats.free[2] != kPacketBigCount)
    std::abort();
  return 0;
}
