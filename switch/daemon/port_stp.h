// The spanning-tree state the protocol engines set on the front ports, and whether it reaches the chip.
// It belongs to port management, not to any protocol module: the spanning tree starts before the
// aggregation module and sets these states while it starts, so they exist from the daemon's first line.
#pragma once

#include <cstdint>

// The engines' states (dis, blk, lrn, fwd, enb), mapped to the chip's DISABLED, BLOCKING, LEARNING,
// FORWARDING and ENABLED.
enum swc_common_stpstate_t : uint32_t { kStpDis = 0, kStpBlk = 1, kStpLrn = 2, kStpFwd = 3, kStpEnb = 4 };

// Stores the port's protocol state and, while the port's apply flag is set, hands it to port
// management. A port outside 1..6 or a state above enb is a programming error (assertion).
void swc_os_set_stpstate(unsigned port, uint32_t state);
uint32_t swc_os_get_stpstate(unsigned port);
// The apply flag: from 0 to 1 the stored state is applied; from 1 to 0 the chip port is blocked.
int swc_os_get_fwdstate(unsigned port);
void swc_os_set_fwdstate(unsigned port, int flag);

// Every port back to dis with the apply flag clear (port management's start).
void port_stp_reset();
