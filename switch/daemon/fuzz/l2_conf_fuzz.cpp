// switch.conf contents as the L2 module reads them into the in-process chip model: the MAC, VLAN,
// mirror and private-VLAN blocks with any count, entry size and contents.
#include "chip_model.h"
#include "conf.h"
#include "driver.h"
#include "l2.h"
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
  char dir[] = "/tmp/pv_l2_conf_fuzz.XXXXXX";
  setenv("PORTVISOR_WORKDIR", mkdtemp(dir), 1);
  l2_init();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  init_once();
  conf_reset();
  std::vector<uint8_t> image(data, data + size);
  if (conf_load_image(image) == 0) l2_conf(ConfAction{kConfActionRead, 0});
  return 0;
}
