// L2 management objects and received frames as a peer could send them, against the in-process chip
// model: the static MAC table, MAC status, flush, age time and learned counts, and the frame dispatch.
#include "chip_model.h"
#include "conf.h"
#include "driver.h"
#include "l2.h"
#include "loop.h"
#include "mgmt.h"
#include "swc_api.h"
#include "swgenio.h"

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct ChipBench {
  swchip::ChipModel chip;
  swchip::Driver driver{chip};
  std::unique_ptr<SwcApiState> state = std::make_unique<SwcApiState>();
  SwcContext context{};
};

void init_once() {
  static std::unique_ptr<ChipBench> bench;
  if (bench) return;
  bench = std::make_unique<ChipBench>();
  swgenio_attach_in_process(
      [](uint32_t code, std::span<uint8_t> record) { return bench->driver.handle(code, record); });
  swgenio_set_recording(false);
  bench->context.fd = swgenio_open("/dev/swgenio", 2);
  bench->context.state = bench->state.get();
  swc_select_context(&bench->context);
  SwcInitSetup setup{1, 1, 0, -1, 0};
  swc_init_state(&setup);
  char dir[] = "/tmp/pv_l2_fuzz.XXXXXX";
  setenv("PORTVISOR_WORKDIR", mkdtemp(dir), 1);
  conf_module_reg(kConfModuleL2, l2_conf);
  mgmt_module_reg(4, l2_mgmt);
  conf_init();
  l2_init();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  init_once();
  if (size > kMgmtBufferSize) return 0;
  // Exactly the input's bytes, so any read past their end is caught.
  std::vector<uint8_t> bytes(data, data + size);
  l2_frame_dispatch(1, bytes.data(), bytes.size());
  mgmt_process(bytes.data(), bytes.size());
  static uint32_t now = 0;
  timer_dispatch(now += 500);
  return 0;
}
