// The mirror part of the L2 module: the monitor port that receives the copies, and per port whether
// its received (ingress) and sent (egress) frames are copied there; loaded into the chip, saved in
// switch.conf, served to management.
#pragma once

#include <cstddef>
#include <cstdint>

struct MgmtObject;

// Configuration blocks.
inline constexpr uint32_t kL2MirrorConfMonitor = 11;  // u32 monitor port
inline constexpr uint32_t kL2MirrorConfIngress = 12;  // u16 count 6, u16 entry size 8, six entries
inline constexpr uint32_t kL2MirrorConfEgress = 19;   // the same layout as block 12
inline constexpr uint32_t kL2MirrorDefaultMonitor = 1;
// Module debug flag word that leaves the mirror configuration alone.
inline constexpr int kL2DebugDisableMirror = 10;

// Whether a port's frames are copied to the monitor port; the 8-byte record of objects 4010/4013 and
// of blocks 12 and 19.
struct L2MirrorEntry {
  uint32_t port;
  uint32_t enabled;
};
inline constexpr size_t kL2MirrorRecordSize = 8;

void l2_mirror_record_load(const uint8_t *record, L2MirrorEntry &entry);
void l2_mirror_record_store(uint8_t *record, const L2MirrorEntry &entry);

// 1; the monitor port in `port`.
int mirror_monitor_get(uint32_t &port);
// -1 for a port outside 1..6; otherwise the port is kept and the chip's result returned.
int mirror_monitor_set(uint32_t port);
// The stored entry of `entry.port`: 1, or -1 for a port outside 1..6.
int mirror_ingress_get(L2MirrorEntry &entry);
int mirror_egress_get(L2MirrorEntry &entry);
// Stores the entry and writes the whole set of mirrored ports to the chip: the chip's result, or -1 for
// a port outside 1..6. An entry the chip refuses is not kept.
int mirror_ingress_set(const L2MirrorEntry &entry);
int mirror_egress_set(const L2MirrorEntry &entry);

void l2_mirror_init();
void l2_mirror_conf(bool create);
// Objects 4009, 4010 and 4013; false for another id.
bool l2_mirror_mgmt(MgmtObject &object);
