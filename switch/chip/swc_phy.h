// PHY layer: the PHY state and the port-to-MIIM map.
#pragma once

#include <cstddef>
#include <cstdint>

#include "swc_state.h"
#include "swc_types.h"

swc_rc swc_phy_select_context(swc_phy_context* context);
swc_rc swc_phy_io_select_context(swc_phy_context* context);
// Size of a PHY state for `ports` ports (plus the raw-access pseudo-port 0).
size_t swc_phy_sizeof_al(uint32_t ports);
// Initialises the PHY state for `ports` ports: every record unmapped, link down.
swc_rc swc_phy_init(uint32_t ports);
swc_rc swc_phy_map_port(uint32_t port_no, int32_t bus, int32_t address);

// The PHY record of a port, or nullptr when no PHY state is installed or the port is outside it.
swc_phy_port_t* swc_phy_port(uint32_t port_no);
