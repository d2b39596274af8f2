// Switch API: state record, context, start-up and port map.
#pragma once

#include <cstddef>

#include "swc_context.h"
#include "swc_state.h"
#include "swc_types.h"

// Size of the API state record the caller allocates.
size_t swc_sizeof_al();

// Installs the context (device descriptor, API state, PHY context) for every layer of the API. Until a
// context is installed the API works on a built-in state without a device, so every register access
// fails with -96 / -97 instead of touching memory nobody allocated.
swc_rc swc_select_context(SwcContext *context);

// Clears the state record and sets its defaults.
void swc_init_state(const SwcInitSetup *setup);

// Full start-up: state defaults, chip reset and basic set-up, VLAN 1, flood PGID, CPU capture, PHYs.
swc_rc swc_init(const SwcInitSetup *setup);

// Installs the port map, indexed by port 0..6 (entry 0 unused).
swc_rc swc_port_map_set(const SwcPortMap *port_map);

// VLAN port mode of a port 1..6: stored, then written to the chip.
swc_rc swc_vlan_port_mode_set(uint32_t port_no, const SwcVlanPortMode *mode);
// Member flags [7] of a VLAN 0..4095: written to the chip first, stored only when that succeeded.
swc_rc swc_vlan_port_members_set(uint32_t vid, const uint32_t *members);
// Computes one PGID's destination mask from its members and the aggregations and writes it.
swc_rc swc_pgid_table_write(uint32_t pgid_no);
// Which frame classes the chip copies to the CPU: stored, then written to the chip.
swc_rc swc_cpu_rx_registration_set(const SwcCpuRxRegistration *registration);
