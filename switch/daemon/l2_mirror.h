// The mirror part of the L2 module: the monitor port that receives the copies, and per port whether
// its received (ingress) and sent (egress) frames are copied there; loaded into the chip, saved in
// switch.conf, served to management.
#pragma once

#include <cstddef>
#include <cstdint>

struct mgmt_object;

// Configuration blocks.
inline constexpr uint32_t L2_MIRROR_CONF_MONITOR = 11;  // u32 monitor port
inline constexpr uint32_t L2_MIRROR_CONF_INGRESS = 12;  // u16 count 6, u16 entry size 8, six entries
inline constexpr uint32_t L2_MIRROR_CONF_EGRESS = 19;   // the same layout as block 12
inline constexpr uint32_t L2_MIRROR_DEFAULT_MONITOR = 1;
// Module debug flag word that leaves the mirror configuration alone.
inline constexpr int L2_DEBUG_DISABLE_MIRROR = 10;

// Whether a port's frames are copied to the monitor port; the 8-byte record of objects 4010/4013 and
// of blocks 12 and 19.
struct l2_mirror_entry {
  uint32_t port;
  uint32_t enabled;
};
inline constexpr size_t L2_MIRROR_RECORD_SIZE = 8;

void l2_mirror_record_load(const uint8_t *record, l2_mirror_entry &entry);
void l2_mirror_record_store(uint8_t *record, const l2_mirror_entry &entry);

// 1; the monitor port in `port`.
int mirror_monitor_get(uint32_t &port);
// -1 for a port outside 1..6; otherwise the port is kept and the chip's result returned.
int mirror_monitor_set(uint32_t port);
// The stored entry of `entry.port`: 1, or -1 for a port outside 1..6.
int mirror_ingress_get(l2_mirror_entry &entry);
int mirror_egress_get(l2_mirror_entry &entry);
// Stores the entry and writes the whole set of mirrored ports to the chip: the chip's result, or -1 for
// a port outside 1..6. An entry the chip refuses is not kept.
int mirror_ingress_set(const l2_mirror_entry &entry);
int mirror_egress_set(const l2_mirror_entry &entry);

void l2_mirror_init();
void l2_mirror_conf(bool create);
// Objects 4009, 4010 and 4013; false for another id.
bool l2_mirror_mgmt(mgmt_object &object);
