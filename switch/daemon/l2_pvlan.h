// The private-VLAN part of the L2 module: a sorted table of private VLANs with their member ports. A
// port forwards only to the ports that share one of its private VLANs. Loaded into the chip, saved in
// switch.conf, served to management.
#pragma once

#include <cstddef>
#include <cstdint>

struct MgmtObject;

// Configuration block: u16 count, u16 entry size, room for 7 entries (the table holds at most 6).
inline constexpr uint32_t kL2PvlanConfTable = 17;
inline constexpr size_t kL2PvlanTableMax = 6;
inline constexpr size_t kL2PvlanBlockEntries = 7;
// Module debug flag word that leaves the private-VLAN (and aggregation) configuration alone.
inline constexpr int kL2DebugDisablePvlan = 9;

// A private VLAN 1..6: member[0] unused, then ports 1..6 (non-zero: member). Also the 32-byte record of
// object 4011 and block 17.
struct L2PvlanEntry {
  uint32_t pvlan_no;
  uint32_t member[7];
};
inline constexpr size_t kL2PvlanRecordSize = 32;

void l2_pvlan_record_load(const uint8_t *record, L2PvlanEntry &entry);
void l2_pvlan_record_store(uint8_t *record, const L2PvlanEntry &entry);

// The entry's index, or -1 (illegal number, table full, chip failure; after a chip failure the entry
// stays in the table).
int pvlan_config_add(const L2PvlanEntry &entry);
// The deleted entry's index, or -1 (not found, chip failure; the entry is removed in either case).
int pvlan_config_del(uint32_t pvlan_no);
// The entry with the number of `entry` and its index; without one, its number set to 0 and 1.
int pvlan_config_get(L2PvlanEntry &entry);
size_t pvlan_config_count();

void l2_pvlan_init();
void l2_pvlan_conf(bool create);
// Object 4011; false for another id.
bool l2_pvlan_mgmt(MgmtObject &object);
