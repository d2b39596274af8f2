// The private-VLAN part of the L2 module: a sorted table of private VLANs with their member ports. A
// port forwards only to the ports that share one of its private VLANs. Loaded into the chip, saved in
// switch.conf, served to management.
#pragma once

#include <cstddef>
#include <cstdint>

struct mgmt_object;

// Configuration block: u16 count, u16 entry size, room for 7 entries (the table holds at most 6).
inline constexpr uint32_t L2_PVLAN_CONF_TABLE = 17;
inline constexpr size_t L2_PVLAN_TABLE_MAX = 6;
inline constexpr size_t L2_PVLAN_BLOCK_ENTRIES = 7;
// Module debug flag word that leaves the private-VLAN (and aggregation) configuration alone.
inline constexpr int L2_DEBUG_DISABLE_PVLAN = 9;

// A private VLAN 1..6: member[0] unused, then ports 1..6 (non-zero: member). Also the 32-byte record of
// object 4011 and block 17.
struct l2_pvlan_entry {
  uint32_t pvlan_no;
  uint32_t member[7];
};
inline constexpr size_t L2_PVLAN_RECORD_SIZE = 32;

void l2_pvlan_record_load(const uint8_t *record, l2_pvlan_entry &entry);
void l2_pvlan_record_store(uint8_t *record, const l2_pvlan_entry &entry);

// The entry's index, or -1 (illegal number, table full, chip failure; after a chip failure the entry
// stays in the table).
int pvlan_config_add(const l2_pvlan_entry &entry);
// The deleted entry's index, or -1 (not found, chip failure; the entry is removed in either case).
int pvlan_config_del(uint32_t pvlan_no);
// The entry with the number of `entry` and its index; without one, its number set to 0 and 1.
int pvlan_config_get(l2_pvlan_entry &entry);
size_t pvlan_config_count();

void l2_pvlan_init();
void l2_pvlan_conf(bool create);
// Object 4011; false for another id.
bool l2_pvlan_mgmt(mgmt_object &object);
