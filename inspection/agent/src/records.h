// Records exchanged with the inspection module through /dev/vorn and the layouts of the shared
// segments. Every record is little-endian with the exact size the module expects; the asserts below
// keep the compiler from changing any of them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vornagent.h"

namespace vornagent {

// ioctl numbers (type 0x83). Written out literally: the log table is larger than the 14 size bits
// of the encoding can express, so the number must not be derived from sizeof.
enum : unsigned long {
  kIocGetStatus = 0x80088314UL,
  kIocSetStatus = 0xc0088315UL,
  kIocLoadRuleTables = 0xc0088319UL,
  kIocGetLogs = 0xc010831aUL,
  kIocGetLogsLen = 0xc004831bUL,
  kIocGetP2pAction = 0xc044831eUL,
  kIocSetP2pAction = 0xc004831fUL,
  kIocGetImAction = 0xc0448320UL,
  kIocSetImAction = 0xc0048321UL,
  kIocGetAnomalyAction = 0xc0448322UL,
  kIocSetAnomalyAction = 0xc0048323UL,
  kIocGetRulePortscan = 0xc0488324UL,
  kIocSetRulePortscan = 0xc0088325UL,
  kIocGetRuleDdos = 0xc0488326UL,
  kIocSetRuleDdos = 0xc0088327UL,
};

struct ParamtVornStatus {
  uint32_t value;
  uint32_t status;
};

// The module takes header_address as an address in the caller's memory.
struct ParamtVornPolicyTable {
  uint32_t header_address;
  uint32_t status;
};

struct IM_P2P_AD_Status {
  uint8_t index;
  uint8_t action;
  uint16_t app_id;
};

struct KaAppStatTH {
  uint8_t index;
  uint8_t action;
  uint16_t rule_id;
  uint32_t threshold;
};

static_assert(sizeof(ParamtVornStatus) == 8);
static_assert(sizeof(ParamtVornPolicyTable) == 8);
static_assert(sizeof(IM_P2P_AD_Status) == 4);
static_assert(sizeof(KaAppStatTH) == 8);
static_assert(sizeof(IM_P2P_AD_Info) == 68 && offsetof(IM_P2P_AD_Info, name) == 4);
static_assert(sizeof(KaAppInfoTH) == 72 && offsetof(KaAppInfoTH, threshold) == 4 &&
              offsetof(KaAppInfoTH, name) == 8);

static_assert(sizeof(KaTop5) == 100 && offsetof(KaTop5, count) == 80);
static_assert(sizeof(KaCategoryList) == 436 && offsetof(KaCategoryList, count) == 388);
static_assert(sizeof(KaRawEvent) == 84 && offsetof(KaRawEvent, address) == 68);

static_assert(sizeof(CmdAgnt) == 28460);
static_assert(offsetof(CmdAgnt, app_count) == 24 && offsetof(CmdAgnt, th_count) == 36);
static_assert(offsetof(CmdAgnt, app) == 44 && offsetof(CmdAgnt, app[1]) == 8748 &&
              offsetof(CmdAgnt, app[2]) == 17452);
static_assert(offsetof(CmdAgnt, th) == 26156 && offsetof(CmdAgnt, th[1]) == 27308);

// Rule agent record (segment key 13666). The two address words at 52 and 252 are process-local
// pointers in the router's design; a shared segment must not carry them, so they stay 0 and each
// process keeps its own attachments in statics.
struct SectionEntry {
  uint32_t offset;
  uint32_t size;
  uint32_t compressed_size;
};

constexpr int kMaxCompressedSections = 8;
constexpr std::size_t kKeySize = 50;

struct RulAgnt {
  uint8_t key[kKeySize];
  uint8_t pad0[2];
  uint32_t raw_address_unused;
  uint32_t payload_length;
  uint32_t version;
  uint8_t kept16[16];
  uint8_t kept_byte;
  uint8_t compressed_count;
  uint8_t download_count;
  uint8_t trailer[64];
  uint8_t pad1[5];
  uint32_t decompressed_size;
  SectionEntry sections[kMaxCompressedSections];
  uint32_t sections_address_unused;
  ParamtVornPolicyTable download;
};

static_assert(sizeof(RulAgnt) == 264);
static_assert(offsetof(RulAgnt, raw_address_unused) == 52 && offsetof(RulAgnt, payload_length) == 56 &&
              offsetof(RulAgnt, version) == 60 && offsetof(RulAgnt, kept16) == 64 &&
              offsetof(RulAgnt, kept_byte) == 80 && offsetof(RulAgnt, compressed_count) == 81 &&
              offsetof(RulAgnt, download_count) == 82 && offsetof(RulAgnt, trailer) == 83 &&
              offsetof(RulAgnt, decompressed_size) == 152 && offsetof(RulAgnt, sections) == 156 &&
              offsetof(RulAgnt, sections_address_unused) == 252 && offsetof(RulAgnt, download) == 256);

// Report agent record (segment key 13671): 84668 little-endian words. The 64-bit counters sit at
// word offsets that are not 8-byte aligned, so the segment is addressed as words, never as a struct.
namespace rpt {
constexpr std::size_t kWords = 84668;
constexpr std::size_t kBytes = kWords * 4;
constexpr std::size_t kTreeRoot = 0;          // a daemon heap pointer on the router; stays 0 here
constexpr std::size_t kCategoryCounters = 1;  // categories 1..12, so word c counts category c
constexpr std::size_t kCategories = 12;
// The event ring is a ParamtVornLogTable: the module fills it in place through GET_LOGS.
constexpr std::size_t kLogTable = 13;
constexpr std::size_t kRingRecords = 8192;
constexpr uint32_t kRingMask = kRingRecords - 1;
constexpr std::size_t kRecordWords = 4;
constexpr std::size_t kRingRead = kLogTable + kRingRecords * kRecordWords;  // 32781
constexpr std::size_t kRingWrite = kRingRead + 1;
constexpr std::size_t kRingCount = kRingRead + 2;
constexpr std::size_t kRingStatus = kRingRead + 3;
constexpr std::size_t kTopCounts = 32785;
constexpr std::size_t kTopPlaces = 6;
constexpr std::size_t kTopAddresses = 32797;
constexpr std::size_t kTopAddressWords = 12;
constexpr std::size_t kSlots = 17280;       // 24 hours of 5-second slots
constexpr std::size_t kSlotWan = 32809;     // uint64 per slot, two words each
constexpr std::size_t kSlotEvents = 67369;  // uint32 per slot
constexpr std::size_t kOldestSlot = 84649;
constexpr std::size_t kCurrentSlot = 84650;
constexpr std::size_t kLastWan = 84651;
constexpr std::size_t kInterval = 84653;
constexpr std::size_t kCategoryMap = 84654;
constexpr std::size_t kShownCategories = 84666;
constexpr std::size_t kTreeResetRequest = 84667;
constexpr uint32_t kDefaultInterval = 5;
}  // namespace rpt
static_assert(rpt::kBytes == 338672);
static_assert(rpt::kRingRead == 32781 && rpt::kRingStatus == 32784);
static_assert(rpt::kSlotEvents == rpt::kSlotWan + 2 * rpt::kSlots &&
              rpt::kOldestSlot == rpt::kSlotEvents + rpt::kSlots);

// One inspection event as the module logs it.
struct VornLogRecord {
  uint32_t source;  // IPv4 address as it stands in the IP header
  uint32_t attack_id;
  uint32_t category;  // 1..12
  uint32_t time;      // seconds
};
static_assert(sizeof(VornLogRecord) == 16);
constexpr std::size_t kLogTableBytes = 0x20010;
static_assert(rpt::kRingRecords * sizeof(VornLogRecord) + 16 == kLogTableBytes);

// The 64-bit counters of the report segment are two little-endian words at any word offset.
inline uint64_t load_u64(const uint32_t *words, std::size_t at) {
  return static_cast<uint64_t>(words[at]) | static_cast<uint64_t>(words[at + 1]) << 32;
}
inline void store_u64(uint32_t *words, std::size_t at, uint64_t value) {
  words[at] = static_cast<uint32_t>(value);
  words[at + 1] = static_cast<uint32_t>(value >> 32);
}

}  // namespace vornagent
