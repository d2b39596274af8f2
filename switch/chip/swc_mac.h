// Switch API: the chip's MAC table, and the sorted shadow of its keys that lets callers walk the table
// in (VID, MAC) order although the chip can only be searched by exact key or read by index.
#pragma once

#include <cstdint>

#include "swc_types.h"

// Events of the MAC table (swc_mac_table_status_get): learned, changed, learn failed, aged out.
inline constexpr unsigned kSwcMacEvents = 4;
// The shadow is rebuilt one block of this many chip indexes per optimiser step.
inline constexpr uint32_t kSwcMacBlockSize = 1024;
// Every this many list elements one enters the shadow's search index.
inline constexpr uint32_t kSwcMacIndexStep = 128;

// Learns a static or multicast entry: the old entry of the key is forgotten first, then the entry is
// learned with a (shared) PGID for its destination flags; -3 when no PGID is left.
swc_rc swc_mac_table_learn(const SwcMacEntry *entry);
// Forgets one entry, releasing its PGID when it is locked; -7 when the chip does not hold it.
swc_rc swc_mac_table_forget_vid_mac(const SwcVidMac *vid_mac);
// Exact search in the chip; -7 when absent.
swc_rc swc_mac_table_lookup(const SwcVidMac *vid_mac, SwcMacEntry *entry);
// The first chip entry whose key is above the given one, in (VID, MAC) order; -7 at the end. Entries
// learned since the last shadow pass over their block are not seen yet.
swc_rc swc_mac_table_get_next(const SwcVidMac *vid_mac, SwcMacEntry *entry);
// Chip index 1..8192; the chip's -7 for an empty index.
swc_rc swc_mac_table_read(uint32_t idx, SwcMacEntry *entry);
// Indexes first..first + count - 1 each read as swc_mac_table_read would, with the same accesses in the
// same order, handed to register I/O in runs: entries[i] and results[i] are index first + i's. -5 for a
// range outside 1..8192 (nothing read), otherwise 0.
swc_rc swc_mac_table_read_range(uint32_t first, uint32_t count, SwcMacEntry *entries, swc_rc *results);
// Raised events since the last call are set in status[4]; the others are left as the caller had them.
swc_rc swc_mac_table_status_get(uint32_t *status);
swc_rc swc_mac_table_flush();
swc_rc swc_mac_table_age();
swc_rc swc_mac_table_age_vlan(uint32_t vid);
swc_rc swc_mac_table_forget_port(uint32_t port_no);
swc_rc swc_mac_table_forget_vlan(uint32_t vid);
swc_rc swc_mac_table_forget_port_in_vlan(uint32_t port_no, uint32_t vid);
// Poag flags [10].
swc_rc swc_ipmc_flood_mask_set(const uint32_t *members);
// One step of the shadow rebuild (a block of 1024 indexes); a pass starts only after table events.
swc_rc swc_mac_table_optimize();
// The chip's one-second work, then one optimiser step.
swc_rc swc_optimize_1sec();
// The chip's 100-ms work.
swc_rc swc_optimize_100msec();
