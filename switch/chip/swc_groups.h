// Switch API: the inputs of the chip's forwarding masks: VLAN membership, private VLANs, aggregations
// and port groups (PGIDs, the destination sets that MAC entries point to).
#pragma once

#include <cstdint>

#include "swc_types.h"

// Finds or takes a PGID for the member flags [10] (poag 1..9). A shared request (exclusive 0) reuses
// the lowest PGID in use with the same members; otherwise the lowest free one is taken and written to
// the chip. -7 when none is free; the chip's code when the write fails (the PGID is then not kept).
swc_rc swc_pgid_alloc(uint32_t *pgid_no, uint32_t exclusive, const uint32_t *members);
// Drops one reference; -5 for a PGID that is already free or reserved.
swc_rc swc_pgid_free(uint32_t pgid_no);

// VLAN port mode of a port 0..6 (0 is accepted and holds zeros).
swc_rc swc_vlan_port_mode_get(uint32_t port_no, SwcVlanPortMode *mode);
// Member flags [7] of a VLAN 0..4095 as last written.
swc_rc swc_vlan_port_members_get(uint32_t vid, uint32_t *members);
// Member flags [7] of a private VLAN 1..6.
swc_rc swc_pvlan_port_members_get(uint32_t pvlan_no, uint32_t *members);
// Flags [7] of the ports whose poag is poag_no (1..9).
swc_rc swc_aggr_port_members_get(uint32_t poag_no, uint32_t *members);
// The poag of a port 1..6, or -5.
swc_rc swc_aggr_port_member_get(uint32_t port_no);
// Aggregation mode flags m0..m4: the frame fields the aggregation code is computed from.
swc_rc swc_aggr_mode_set(const uint32_t *mode);

// Member flags [7] of a private VLAN 1..6; recomputes the source masks.
swc_rc swc_pvlan_port_members_set(uint32_t pvlan_no, const uint32_t *members);
// The ports flagged in members [7] join poag_no (1..9), the others leave it. A port poag must name
// exactly itself (-64 otherwise). Recomputes all masks.
swc_rc swc_aggr_port_members_set(uint32_t poag_no, const uint32_t *members);
// Port 1..6 into poag 1..9 (itself or an aggregation 7..9); recomputes all masks when it changes.
swc_rc swc_aggr_port_member_set(uint32_t port_no, uint32_t poag_no);

// Mirroring: the monitor port 1..6 receives copies of the mirrored ports' frames; flags [7] by port.
// At most one port may be mirrored on egress only (-5 otherwise, nothing stored).
swc_rc swc_mirror_monitor_port_set(uint32_t port_no);
swc_rc swc_mirror_ingress_ports_set(const uint32_t *ports);
swc_rc swc_mirror_egress_ports_set(const uint32_t *ports);
