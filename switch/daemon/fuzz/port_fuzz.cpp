// The port module's outside inputs on the in-process chip model. The first byte selects the input:
// even, a management datagram of port objects (3000..3020, QoS and CableScan included) as a peer could
// send it; odd, a stored configuration block as a file could carry it, read at start: bits 1-7 modulo
// 3 choose block 3 (ports), 4 (port QoS) or 15 (general QoS).
#include "chip_model.h"
#include "conf.h"
#include "driver.h"
#include "loop.h"
#include "mgmt.h"
#include "port.h"
#include "port_qos.h"
#include "swc_api.h"
#include "swc_clock.h"
#include "swc_phy.h"
#include "swgenio.h"
#include "trace.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Harness {
  swchip::ChipModel chip;
  swchip::Driver driver{chip};
  SwcApiState state{};
  std::vector<unsigned char> phy_state;
  SwcPhyContext phy{};
  SwcContext context{};
  SwcManualClock clock;  // the start-up's sleep and PHY waits pass at once

  Harness() {
    swc_clock_set(&clock);
    trace_option_apply("all", "emerg");  // rejections are expected; their lines only slow the runs
    char dir[] = "/tmp/pv_port_fuzz.XXXXXX";
    setenv("PORTVISOR_WORKDIR", mkdtemp(dir), 1);
    process_state().debug_flags[kConfDebugFileDisabled] = 1;  // the store stays in memory
    swgenio_attach_in_process(
        [this](uint32_t code, std::span<uint8_t> record) { return driver.handle(code, record); });
    swgenio_set_recording(false);
    phy_state.assign(swc_phy_sizeof_al(6), 0);
    phy = SwcPhyContext{0, reinterpret_cast<SwcPhyState *>(phy_state.data())};
    context = SwcContext{swgenio_open("/dev/swgenio", 2), &state, &phy};
    swc_select_context(&context);
    conf_module_reg(kConfModulePort, port_conf);
    mgmt_module_reg(3, port_mgmt);
    conf_init();
    port_init();
  }
};

void stored_block(uint32_t id, const uint8_t *data, size_t size) {
  uint8_t *block = conf_create(id, static_cast<uint32_t>(size));
  if (!block) return;
  if (size) std::memcpy(block, data, size);
  conf_close(id);
  port_conf(ConfAction{kConfActionRead, 0});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Harness h;
  if (size < 1 || size > kMgmtBufferSize) return 0;
  if (data[0] & 1) {
    static const uint32_t kBlocks[3] = {kPortConfBlock, kQosPortConfBlock, kQosGenConfBlock};
    stored_block(kBlocks[(data[0] >> 1) % 3], data + 1, size - 1);
    return 0;
  }
  // Exactly the datagram's bytes, so any read past its end is caught.
  std::vector<uint8_t> datagram(data + 1, data + size);
  mgmt_process(datagram.data(), datagram.size());
  port_status_poll(0, 0, 33);
  return 0;
}
