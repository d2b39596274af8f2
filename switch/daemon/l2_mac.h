// The MAC table part of the L2 module: the sorted table of configured (static) MAC entries, which it
// loads into the chip and saves in switch.conf, the chip table's ageing timer, and the MAC management
// objects.
#pragma once

#include <cstddef>
#include <cstdint>

struct mgmt_object;

// Configuration blocks.
inline constexpr uint32_t L2_MAC_CONF_GENERAL = 5;  // u32 age time in seconds
inline constexpr uint32_t L2_MAC_CONF_TABLE = 6;    // u16 count, u16 entry size, the first 32 entries
inline constexpr uint32_t L2_MAC_DEFAULT_AGE_TIME = 300;
inline constexpr size_t L2_MAC_TABLE_MAX = 8192;
inline constexpr size_t L2_MAC_SAVED_MAX = 32;
// Module debug flag word that leaves the MAC configuration alone.
inline constexpr int L2_DEBUG_DISABLE_MAC = 7;

// A static entry: VLAN, address and destination ports 1..6 (member[0] is port 1; non-zero: member).
struct l2_mac_entry {
  uint32_t vid;
  uint8_t mac[6];
  uint32_t member[6];
};

// The 40-byte record of object 4000 and of block 6, little-endian.
inline constexpr size_t L2_MAC_RECORD_SIZE = 40;
void l2_mac_record_load(const uint8_t *record, l2_mac_entry &entry);
void l2_mac_record_store(uint8_t *record, const l2_mac_entry &entry);

// Table operations: the entry's index, or -1.
int mac_config_add(const l2_mac_entry &entry);
int mac_config_del(const l2_mac_entry &entry);
// The first entry above the key (vid, mac), or with `exact` the first at or above it.
int mac_config_get(l2_mac_entry &entry, bool exact);
size_t mac_config_count();

uint32_t mac_age_time();

void l2_mac_init();
void l2_mac_conf(bool create);
// Objects 4000-4003 and 4016; false for another id.
bool l2_mac_mgmt(mgmt_object &object);
