// The VLAN part of the L2 module: the configured VLANs with their member ports, each front port's VLAN
// mode, and the VLAN-aware switch; loaded into the chip, saved in switch.conf, served to management.
#pragma once

#include <cstddef>
#include <cstdint>

struct mgmt_object;

// Configuration blocks.
inline constexpr uint32_t L2_VLAN_CONF_TABLE = 7;     // u16 count, u16 entry size, the first 32 entries
inline constexpr uint32_t L2_VLAN_CONF_PORTS = 8;     // u16 count 6, u16 size 20, six port records
inline constexpr uint32_t L2_VLAN_CONF_GENERAL = 18;  // u32 VLAN-aware switch
inline constexpr size_t L2_VLAN_TABLE_MAX = 4096;
inline constexpr size_t L2_VLAN_SAVED_MAX = 32;
// Module debug flag word that leaves the VLAN configuration alone.
inline constexpr int L2_DEBUG_DISABLE_VLAN = 8;

// A VLAN: member[0], then ports 1..6 (non-zero: member). Also the 32-byte record of objects 4004/4005.
struct l2_vlan_entry {
  uint32_t vid;
  uint32_t member[7];
};
inline constexpr size_t L2_VLAN_RECORD_SIZE = 32;

// A front port's VLAN settings; the 20-byte record of object 4006 and block 8.
struct l2_vlan_port {
  uint32_t port;
  uint32_t aware;
  uint32_t pvid;
  uint32_t frame_type;
  uint32_t ingress_filter;
};
inline constexpr size_t L2_VLAN_PORT_RECORD_SIZE = 20;

void l2_vlan_record_load(const uint8_t *record, l2_vlan_entry &entry);
void l2_vlan_record_store(uint8_t *record, const l2_vlan_entry &entry);
void l2_vlan_port_record_load(const uint8_t *record, l2_vlan_port &port);
void l2_vlan_port_record_store(uint8_t *record, const l2_vlan_port &port);

// Table operations: the entry's index, or -1.
int vlan_config_add(const l2_vlan_entry &entry);
int vlan_config_del(uint32_t vid);
// The first entry with a greater vid, or with `exact` the first with an equal or greater one.
int vlan_config_get(l2_vlan_entry &entry, bool exact);
size_t vlan_config_count();
// 1, or -1 for a port outside 1..6 (and for set, a chip failure).
int vlan_port_config_get(l2_vlan_port &port);
int vlan_port_config_set(const l2_vlan_port &port);
// The port's pvid; 0 for a port outside 1..6.
uint32_t vlan_port_pvid(uint32_t port);
uint32_t vlan_aware();

void l2_vlan_init();
void l2_vlan_conf(bool create);
// Objects 4004-4006 and 4012; false for another id.
bool l2_vlan_mgmt(mgmt_object &object);
