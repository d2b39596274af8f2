// Module-wide state of the vorn inspection module and the layout of its engine memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "kservices.h"
#include "vorn_classifier.h"
#include "vorn_packet.h"
#include "vorn_records.h"

namespace vorn {

constexpr const char *kVersion = "v1.59";
constexpr unsigned kVornMajor = 239;
constexpr const char *kProcName = "driver/vorn";

enum DriverStates : uint8_t {
  kStateClose = 0,
  kStateModuleInited = 2,
  kStateQxDrvInited = 4,
  kStateRuleInserting = 6,
  kStateOk = 8,
  kStateQueueFull = 101,
};

constexpr uint32_t QX_MEM_SIZE = 0x1000000;
constexpr uint32_t kConnectionTableSize = 0x400000;

// Engine memory: where initialisation places each table inside the 16 MiB block.
constexpr uint32_t kPatternTableOffset = 0x000000;
constexpr uint32_t kRuleTableOffset = 0x080000;
constexpr uint32_t kPatternRuleRecords = 2048;
constexpr uint32_t kPatternRuleRecordSize = 128;
constexpr uint32_t kMatchedStateQueueOffset = 0x0c0000;
constexpr uint32_t kStateSegmentOffset = 0x180000;
constexpr uint32_t kStateTableOffset = 0x198000;  // the engine's state table base
constexpr uint32_t kDescriptorChainOffset = 0xda0000;
constexpr uint32_t kCharsetTableOffset = 0xdb0000;
constexpr uint32_t kZeroStateTableOffset = 0xdb0020;
constexpr uint32_t kHeaderRuleCountOffset = 0xdb0220;
constexpr uint32_t kHeaderRulesOffset = 0xdb0224;
constexpr uint32_t kMaxHeaderRules = 512;
constexpr uint32_t kRuleSetOffset = 0xdb1a24;
constexpr uint32_t kKernLogQueueOffset = 0xdb1a70;
constexpr uint32_t kHeaderItemsOffset = 0xdb5a78;
constexpr uint32_t kHeaderItemSize = 112;
constexpr uint32_t kAppTableOffset = 0xdc3a78;
constexpr uint32_t kAppEntries = 256;
constexpr uint32_t kConditionsOffset = 0xdc5e78;
constexpr uint32_t kConditionSize = 100;
constexpr uint32_t kThresholdTableOffset = 0xdf7e78;
constexpr uint32_t kThresholdEntries = 32;
constexpr uint32_t kPortScanRecordsOffset = 0xdf8878;
constexpr uint32_t kPortScanHashOffset = 0xfb0878;
constexpr uint32_t kUsedTableMemory = 0xfb4878;

constexpr uint32_t kDescriptorCount = 1024;

// Rule-set block fields (byte offsets).
constexpr uint32_t kRuleSetHeaderBase = 38;
constexpr uint32_t kRuleSetEventBase = 40;
constexpr uint32_t kRuleSetItemsPointer = 44;
constexpr uint32_t kRuleSetAppTablePointer = 48;
constexpr uint32_t kRuleSetConditionsPointer = 52;
constexpr uint32_t kRuleSetThresholdPointer = 56;
constexpr uint32_t kRuleSetPortScanHashPointer = 60;
constexpr uint32_t kRuleSetPortScanRecordsPointer = 64;
constexpr uint32_t kRuleSetEnableWord = 72;

#pragma pack(push, 1)
struct VornAppEntry {
  uint8_t valid;
  uint8_t index;
  uint8_t AppID;
  uint8_t action;
  char name[32];
};
struct VornRuleEntry {
  uint8_t valid;
  uint8_t index;
  uint8_t rule_id;
  uint8_t action;
  uint16_t threshold;
  uint8_t unused[2];
  char name[32];
};
#pragma pack(pop)
static_assert(sizeof(VornAppEntry) == 36);
static_assert(sizeof(VornRuleEntry) == 40);

// Little-endian loads and stores at any alignment.
inline uint16_t load16(const unsigned char *p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t load32(const unsigned char *p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
// Big-endian (network order) loads of packet header fields.
inline uint16_t be16(const unsigned char *p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t be32(const unsigned char *p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void store16(unsigned char *p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void store32(unsigned char *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Table pointers fixed by engine initialisation; the image's own pointer fields are never followed.
struct EngineTables {
  unsigned char *rule_records = nullptr;
  unsigned char *header_items = nullptr;
  VornAppEntry *app_table = nullptr;
  unsigned char *conditions = nullptr;
  VornRuleEntry *threshold_table = nullptr;
};
// Payload-rate samples behind the /proc report's "Bogo bps".
struct PayloadRate {
  uint64_t bytes_now = 0;
  uint64_t bytes_sampled = 0;
  unsigned long jiffies_sampled = 0;
  unsigned long jiffies_now = 0;
};

// ---- module state -------------------------------------------------------------------------------
// Everything the module keeps between calls, in one record reached through module(). The tables
// themselves live in the engine memory and the connection table, which the record points into.
struct ModuleState {
  // Control: the driver state machine, the one-ioctl-at-a-time lock, and the flags the hook and the
  // interrupt handler raise while they run (a policy load waits for both to leave).
  uint8_t DriverState = kStateClose;
  std::atomic<uint8_t> isDriversLocked{0};
  volatile uint32_t VornLock_PacketInspect = 0;
  volatile uint8_t isIn_VornSearchFinishISR = 0;
  uint8_t isThresholdError = 0;

  // Engine memory (16 MiB) and the places initialisation fixed inside it.
  unsigned char *QuorixMem = nullptr;
  dma_addr_t quorix_mem_bus = 0;
  unsigned char *pVornRuleSetInfo = nullptr;
  VornKernLogQueue *pVornKernLogQueue = nullptr;
  EngineTables tables;

  // The descriptor ring and the packet each busy descriptor holds.
  unsigned char *qx_desc_table = nullptr;
  uint32_t desc_write_index = 0;
  uint32_t desc_read_index = 0;
  uint32_t num_of_total_desc = kDescriptorCount;
  sk_buff *MappingTable_IpsDescriptorToSkb[kDescriptorCount] = {};
  // Where each held packet's headers and payload lie, as found when it was queued, so that the
  // interrupt handler need not parse them again.
  PacketView held_packets[kDescriptorCount] = {};

  // TCP connection tracking: the table and its counters.
  unsigned char *pTcpConnectionTable = nullptr;
  dma_addr_t tcp_connection_table_bus = 0;
  uint8_t isBKTcpConntrackInited = 0;
  uint32_t Tcp_currentconn = 0;
  uint32_t BKTcpLongestChain = 0;
  uint64_t bk_tcp_probe_total = 0;
  uint32_t BKTcpAgingTimeStamp = 0;
  uint32_t BKTcpForceAgingTimeStamp = 0;
  uint32_t BKTcpBootTime = 0;
  uint32_t MinLiveTime_in_EstState = 1800;
  uint32_t MinLiveTime_in_AbnormalState = 60;

  // The software model's table places and scratch, and the character map of the engine's case
  // folding, set up by initializePmaMem.
  PmaModel pma_model;
  unsigned char character_map[256] = {};

  PayloadRate payload_rate_samples;
};

// The module's state. Always the same record, so a caller may keep the reference.
[[gnu::const]] ModuleState &module();

inline uint32_t ips_enable_word() {
  const unsigned char *rule_set = module().pVornRuleSetInfo;
  return rule_set ? load32(rule_set + kRuleSetEnableWord) : 0;
}
inline void set_ips_enable_word(uint32_t v) {
  if (unsigned char *rule_set = module().pVornRuleSetInfo) store32(rule_set + kRuleSetEnableWord, v);
}
inline void note_payload_bytes(uint32_t bytes) {
  module().payload_rate_samples.bytes_now += bytes;
}

// ---- entry points -------------------------------------------------------------------------------
int Quorix_init();
void Quorix_cleanup();
inline int init_module() {
  return Quorix_init();
}
inline void cleanup_module() {
  Quorix_cleanup();
}
int Quorix_ioctl(inode *node, file *f, unsigned int cmd, unsigned long arg);
int Quorix_read_proc(char *page, char **start, long off, int count, int *eof, void *data);
const char *driver_state_text(uint8_t state);

}  // namespace vorn
