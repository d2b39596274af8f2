// What reaches the aggregation module from outside: management datagrams (objects 4007, 4008, 4017, 4018)
// and the configuration blocks 9, 10 and 20 of a switch.conf. The first byte chooses which.
#include "conf.h"
#include "l2_aggr.h"
#include "scripted_port_services.h"
#include "loop.h"
#include "mgmt.h"

#include <cstring>
#include <vector>

namespace {

// Odd ports up; trace lines go nowhere.
class FuzzServices : public proto_test::ScriptedPortServices, public lacp::AggrChip {
 public:
  FuzzServices() : ScriptedPortServices(1) {
    for (unsigned port = 1; port <= proto::kFrontPorts; ++port) link[port] = port % 2;
  }
  // Number 9 is refused, as a chip may refuse a member set.
  int aggr_port_members_set(uint32_t poag_no, const std::array<uint32_t, 7> &) override {
    return poag_no == 9 ? -64 : 0;
  }
  int aggr_mode_set(const std::array<uint32_t, 5> &) override { return 0; }
  void rstp_aggr_add(uint32_t, const std::array<uint32_t, 7> &) override {}
  void rstp_aggr_del(uint32_t) override {}
  void trace(unsigned, unsigned, const char *, int, const char *) override {}
};

FuzzServices services;

void l2_objects(MgmtObject &object) {
  switch (object.obj_id()) {
    case lacp::kObjTable:
      l2_aggr_table(object);
      break;
    case lacp::kObjMode:
      l2_aggr_gen_conf(object);
      break;
    case lacp::kObjLacpConfig:
      l2_lacp_config(object);
      break;
    case lacp::kObjLacpStatus:
      l2_lacp_status(object);
      break;
    default:
      object.set_res(kMgmtResNoHandler);
      break;
  }
}

void init_once() {
  static bool done = false;
  if (done) return;
  done = true;
  process_state().debug_flags[kConfDebugFileDisabled] = 1;  // the store stays in memory
  lacp::l2_aggr_services_set(&services, &services);
  l2_aggr_init();
  mgmt_module_reg(4, l2_objects);
}

// Splits the input into three blocks by 2-byte length prefixes and reads them as the configuration.
void read_blocks(const uint8_t *data, size_t size) {
  for (uint32_t id : {lacp::kConfBlockMode, lacp::kConfBlockTable, lacp::kConfBlockLacp}) {
    if (size < 2) break;
    size_t length = static_cast<size_t>(data[0] << 8 | data[1]);
    data += 2;
    size -= 2;
    length = length > size ? size : length;
    if (uint8_t *block = conf_create(id, static_cast<uint32_t>(length)); block && length)
      std::memcpy(block, data, length);
    data += length;
    size -= length;
  }
  l2_aggr_conf(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  services.sent.clear();  // the recorded frames of one input only
  init_once();
  if (size < 1 || size > kMgmtBufferSize) return 0;
  if (data[0] & 1) {
    read_blocks(data + 1, size - 1);
  } else {
    std::vector<uint8_t> datagram(data + 1, data + size);
    mgmt_process(datagram.data(), datagram.size());
  }
  static uint32_t now = 0;
  timer_dispatch(now += 1000);
  for (int pass = 0; pass < 6; ++pass) swc_lacp_more_work();
  return 0;
}
