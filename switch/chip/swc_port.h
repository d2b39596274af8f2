// Switch API: port set-up, link status, MIIM access, raw PHY access and 64-bit traffic counters.
#pragma once

#include <cstdint>

#include "swc_types.h"

// Link status of a port (also the PHY layer's status record).
struct SwcPortStatus {
  uint32_t link_down_event;  // 1 when the link went down since the previous read
  uint32_t link;
  uint32_t speed;  // 0 undefined, 1 10M, 2 100M, 3 1G, 4 10G
  uint32_t full_duplex;
  uint32_t pause_obey;
  uint32_t pause_generate;
};
static_assert(sizeof(SwcPortStatus) == 24);

// Counters of a port or aggregation, in the order the management objects report them.
struct SwcPoagCounters {
  uint64_t field[13];
};
static_assert(sizeof(SwcPoagCounters) == 104);

inline constexpr uint32_t kSwcMaxFrameLength = 9600;

swc_rc swc_port_setup(uint32_t port_no, const SwcPortSetup *setup);
swc_rc swc_port_status_get(uint32_t port_no, SwcPortStatus *status);
swc_rc swc_port_counters_update(uint32_t port_no);
swc_rc swc_poag_counters_clear(uint32_t poag_no);
// Field 6 of the record is left as the caller had it.
swc_rc swc_poag_counters_get(uint32_t poag_no, SwcPoagCounters *counters);

swc_rc swc_miim_phy_read(uint32_t miim_controller, uint32_t phy_addr, uint32_t phy_reg, uint16_t *value);
swc_rc swc_miim_phy_write(uint32_t miim_controller, uint32_t phy_addr, uint32_t phy_reg, uint32_t value);
swc_rc swc_miim_phy_writemasked(uint32_t miim_controller, uint32_t phy_addr, uint32_t phy_reg, uint32_t value,
                                uint32_t mask);

// Raw PHY access by controller and address; `reg` is a paged register number (page << 5 | register).
swc_rc swc_phy_addr_read(uint32_t miim_controller, uint32_t phy_addr, uint32_t reg, uint16_t *value);
swc_rc swc_phy_addr_writemasked(uint32_t miim_controller, uint32_t phy_addr, uint32_t reg, uint32_t value,
                                uint32_t mask);
