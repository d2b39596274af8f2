// Management datagrams as a peer on the network could send them.
#include "conf.h"
#include "loop.h"
#include "mgmt.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void init_once() {
  static bool done = false;
  if (done) return;
  done = true;
  char dir[] = "/tmp/pv_mgmt_fuzz.XXXXXX";
  setenv("PORTVISOR_WORKDIR", mkdtemp(dir), 1);
  setenv("PORTVISOR_MGMT_PORT", "0", 1);
  conf_module_reg(kConfModuleMgmt, mgmt_conf);
  mgmt_module_reg(2, conf_mgmt);
  conf_init();
  mgmt_init();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  init_once();
  if (size > kMgmtBufferSize) return 0;
  // Exactly the datagram's bytes, so any read past its end is caught.
  std::vector<uint8_t> datagram(data, data + size);
  mgmt_process(datagram.data(), datagram.size());
  static uint32_t now = 0;
  timer_dispatch(now += 1000);  // lets a requested default restore finish
  process_state().terminate = 0;
  process_state().pause = 0;
  return 0;
}
