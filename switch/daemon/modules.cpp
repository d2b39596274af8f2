#include "modules.h"

#include "board.h"
#include "conf.h"
#include "mgmt.h"

void modules_init() {
    // The store asks these modules for their defaults while it starts, so they are known before it.
    conf_module_reg(CONF_MODULE_MGMT, mgmt_conf);
    mgmt_module_reg(2, conf_mgmt);
    board_init();
    conf_init();
    mgmt_init();
}
