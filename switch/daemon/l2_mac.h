// The MAC table part of the L2 module: the sorted table of configured (static) MAC entries, which it
// loads into the chip and saves in switch.conf, the chip table's ageing timer, and the MAC management
// objects.
#pragma once

#include <cstddef>
#include <cstdint>

struct MgmtObject;
struct SwcMacEntry;

// Configuration blocks.
inline constexpr uint32_t kL2MacConfGeneral = 5;  // u32 age time in seconds
inline constexpr uint32_t kL2MacConfTable = 6;    // u16 count, u16 entry size, the first 32 entries
inline constexpr uint32_t kL2MacDefaultAgeTime = 300;
inline constexpr size_t kL2MacTableMax = 8192;
inline constexpr size_t kL2MacSavedMax = 32;
// Module debug flag word that leaves the MAC configuration alone.
inline constexpr int kL2DebugDisableMac = 7;

// A static entry: VLAN, address and destination ports 1..6 (member[0] is port 1; non-zero: member).
struct L2MacEntry {
  uint32_t vid;
  uint8_t mac[6];
  uint32_t member[6];
};

// The 40-byte record of object 4000 and of block 6, little-endian.
inline constexpr size_t kL2MacRecordSize = 40;
void l2_mac_record_load(const uint8_t *record, L2MacEntry &entry);
void l2_mac_record_store(uint8_t *record, const L2MacEntry &entry);

// Table operations: the entry's index, or -1.
int mac_config_add(const L2MacEntry &entry);
int mac_config_del(const L2MacEntry &entry);
// The first entry above the key (vid, mac), or with `exact` the first at or above it.
int mac_config_get(L2MacEntry &entry, bool exact);
size_t mac_config_count();
// A router leg can own the VLAN and address of a static entry: the chip holds one entry for both. Adds
// the static entry's ports to `entry` when one is configured for its key.
bool mac_config_merge(SwcMacEntry &entry);

uint32_t mac_age_time();

void l2_mac_init();
void l2_mac_conf(bool create);
// Objects 4000-4003 and 4016; false for another id.
bool l2_mac_mgmt(MgmtObject &object);
