// The VLAN part of the L2 module: the configured VLANs with their member ports, each front port's VLAN
// mode, and the VLAN-aware switch; loaded into the chip, saved in switch.conf, served to management.
#pragma once

#include <cstddef>
#include <cstdint>

struct MgmtObject;

// Configuration blocks.
inline constexpr uint32_t kL2VlanConfTable = 7;     // u16 count, u16 entry size, the first 32 entries
inline constexpr uint32_t kL2VlanConfPorts = 8;     // u16 count 6, u16 size 20, six port records
inline constexpr uint32_t kL2VlanConfGeneral = 18;  // u32 VLAN-aware switch
inline constexpr size_t kL2VlanTableMax = 4096;
inline constexpr size_t kL2VlanSavedMax = 32;
// Module debug flag word that leaves the VLAN configuration alone.
inline constexpr int kL2DebugDisableVlan = 8;

// A VLAN: member[0], then ports 1..6 (non-zero: member). Also the 32-byte record of objects 4004/4005.
struct L2VlanEntry {
  uint32_t vid;
  uint32_t member[7];
};
inline constexpr size_t kL2VlanRecordSize = 32;

// A front port's VLAN settings; the 20-byte record of object 4006 and block 8.
struct L2VlanPort {
  uint32_t port;
  uint32_t aware;
  uint32_t pvid;
  uint32_t frame_type;
  uint32_t ingress_filter;
};
inline constexpr size_t kL2VlanPortRecordSize = 20;

void l2_vlan_record_load(const uint8_t *record, L2VlanEntry &entry);
void l2_vlan_record_store(uint8_t *record, const L2VlanEntry &entry);
void l2_vlan_port_record_load(const uint8_t *record, L2VlanPort &port);
void l2_vlan_port_record_store(uint8_t *record, const L2VlanPort &port);

// Table operations: the entry's index, or -1.
int vlan_config_add(const L2VlanEntry &entry);
int vlan_config_del(uint32_t vid);
// The first entry with a greater vid, or with `exact` the first with an equal or greater one.
int vlan_config_get(L2VlanEntry &entry, bool exact);
size_t vlan_config_count();
// 1, or -1 for a port outside 1..6 (and for set, a chip failure).
int vlan_port_config_get(L2VlanPort &port);
int vlan_port_config_set(const L2VlanPort &port);
// The port's pvid; 0 for a port outside 1..6.
uint32_t vlan_port_pvid(uint32_t port);
uint32_t vlan_aware();

void l2_vlan_init();
void l2_vlan_conf(bool create);
// Objects 4004-4006 and 4012; false for another id.
bool l2_vlan_mgmt(MgmtObject &object);
