// Chip family layer "arden": the register sequences of this switch chip family (the six-port chip and
// its G5e variant): MIIM, port MAC set-up, flow control, CPU interface, memories, VLAN and MAC table
// primitives, CPU frame header and frame transmit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "swc_types.h"

// One VLAN table entry: the member mask as a chip-port bit field and the entry's three flags.
struct ArVlanEntry {
  uint32_t mask;
  uint32_t flags;
};

// MIIM transfer on controller 0 or 1. A read returns the register 0..0xFFFF or a negative code
// (-17 when no PHY answered); a write returns 0 or a negative code.
int32_t ar_phy_readwrite(bool write, uint32_t controller, uint32_t phy_addr, uint32_t phy_reg,
                         uint32_t value);

swc_rc ar_port_setup(uint32_t port_no, const SwcPortSetup *setup);
swc_rc ar_setup_flowcontrol(uint32_t port_no, const SwcPortSetup *setup);

// Decodes the head frame's header of CPU receive queue 1 or 2; a bad header drops the frame (-6).
swc_rc ar_cpurx_systemheader(uint32_t queue, SwcCpuRxHeader *header);
// Releases the head frame of CPU receive queue 1 or 2.
swc_rc ar_cpurx_discard_frame(uint32_t queue);

// Sends a frame out of a port through the CPU transmit registers; vid non-zero inserts an 802.1Q tag.
swc_rc ar_cpu_tx_frame(uint32_t port_no, const uint8_t *frame, size_t length, uint32_t vid);

swc_rc ar_vlan_entry_write(uint32_t vid, const ArVlanEntry *entry);
swc_rc ar_vlan_entry_read(uint32_t vid, ArVlanEntry *entry);
swc_rc ar_vlan_table_clear();

// Reads MAC table index 0..8191 (4 * bucket + slot); -7 when the entry is not valid.
swc_rc ar_mac_table_read_index(uint32_t index, SwcMacEntry *entry, uint32_t *pgid, uint32_t lookup);
// Reads `count` entries from index `first` on (0-based) with the same accesses as that many calls of
// ar_mac_table_read_index, handed to register I/O as scripts; each index's code goes to results[i].
swc_rc ar_mac_table_read_indexes(uint32_t first, uint32_t count, SwcMacEntry *entries, uint32_t *pgids,
                                 swc_rc *results);
swc_rc ar_mac_table_idle();
swc_rc ar_vlan_table_idle();

swc_rc ar_reset_memories();
swc_rc ar_setup_cpu_if(const SwcInitSetup *setup);

// Status polls of a CPU transmit word before the transmit is aborted.
inline constexpr uint32_t kArTxBusyPolls = 1000001;
// Largest total length the transmit header's 16-bit field carries.
inline constexpr size_t kArTxMaxTotal = 0xFFFF;
// Largest frame a CPU receive queue's window holds (510 words less the FCS).
inline constexpr uint32_t kArRxMaxFrame = 2036;
