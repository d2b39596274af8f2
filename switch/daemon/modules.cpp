#include "modules.h"

#include "board.h"
#include "chip_objects.h"
#include "conf.h"
#include "l2.h"
#include "l3.h"
#include "mgmt.h"
#include "packet.h"
#include "port.h"

void modules_init() {
  // The store asks the modules for their defaults while it starts, and management requests may come
  // as soon as the server is up: both tables are filled before any module starts.
  conf_module_reg(kConfModuleMgmt, mgmt_conf);
  conf_module_reg(kConfModulePort, port_conf);
  mgmt_module_reg(2, conf_mgmt);
  mgmt_module_reg(3, port_mgmt);
  conf_module_reg(kConfModuleL2, l2_conf);
  mgmt_module_reg(4, l2_mgmt);
  conf_module_reg(kConfModuleL3, l3_conf);
  mgmt_module_reg(5, l3_mgmt);
  // Start-up order: board, conf, port, packet, l2, l3, mgmt.
  board_init();
  conf_init();
  port_init();
  packet_init();
  chip_objects_reg();
  l2_init();
  l3_init();
  mgmt_init();
}
