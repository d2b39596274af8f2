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
  uint16_t AppID;
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
constexpr std::size_t kTreeRoot = 0;  // a daemon heap pointer on the router; stays 0 here
constexpr std::size_t kCategoryCounters = 1;
constexpr std::size_t kTopCounts = 32785;
constexpr std::size_t kTopAddresses = 32797;
constexpr std::size_t kTopAddressWords = 12;
constexpr std::size_t kLastWan = 84651;
constexpr std::size_t kInterval = 84653;
constexpr std::size_t kCategoryMap = 84654;
constexpr std::size_t kShownCategories = 84666;
constexpr std::size_t kTreeResetRequest = 84667;
constexpr uint32_t kDefaultInterval = 5;
}  // namespace rpt
static_assert(rpt::kBytes == 338672);

}  // namespace vornagent
