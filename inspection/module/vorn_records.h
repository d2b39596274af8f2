// Records of the /dev/vorn control device: little-endian, packed, of fixed size on every build.
// The agent library keeps its own definitions of these; the two are held together by a cross-check.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorn {

// Command numbers are literal: GET_LOGS's record (0x20010 bytes) does not fit the 14 size bits, so
// its number carries 0x10 there, and no copy size is ever taken from the size bits.
enum IoctlCommand : uint32_t {
  VORN_IOC_GET_STATUS = 0x80088314,
  VORN_IOC_SET_STATUS = 0xc0088315,
  VORN_IOC_LOAD_RULE_TABLES = 0xc0088319,
  VORN_IOC_GET_LOGS = 0xc010831a,
  VORN_IOC_GET_LOGS_LEN = 0xc004831b,
  VORN_IOC_GET_P2P_ACTION = 0xc044831e,
  VORN_IOC_SET_P2P_ACTION = 0xc004831f,
  VORN_IOC_GET_IM_ACTION = 0xc0448320,
  VORN_IOC_SET_IM_ACTION = 0xc0048321,
  VORN_IOC_GET_ANOMALY_ACTION = 0xc0448322,
  VORN_IOC_SET_ANOMALY_ACTION = 0xc0048323,
  VORN_IOC_GET_RULE_PORTSCAN = 0xc0488324,
  VORN_IOC_SET_RULE_PORTSCAN = 0xc0088325,
  VORN_IOC_GET_RULE_DDOS = 0xc0488326,
  VORN_IOC_SET_RULE_DDOS = 0xc0088327,
};

constexpr uint32_t POLICY_TABLE_ID_KERNEL_MEMORY_BANK_01 = 0x20000001;

#pragma pack(push, 1)
struct ParamtVornStatus {
  uint32_t value;
  uint32_t status;
};

// The header address is a 32-bit address in the caller's memory.
struct ParamtVornPolicyTable {
  uint32_t header_address;
  uint32_t status;
};

struct pParamtVornPolicyTableHeader {
  uint32_t TableID;
  uint32_t TableOriginalSize;
  uint32_t TableZippedSize;
};

struct VornLogRecord {
  uint32_t source;  // as it stands in the IP header
  uint32_t attack_id;
  uint32_t category;
  uint32_t time;
};

constexpr uint32_t kKernLogEntries = 1024;
constexpr uint32_t kKernLogMask = 0x3ff;
struct VornKernLogQueue {
  uint32_t write_index;
  uint32_t read_index;
  VornLogRecord records[kKernLogEntries];
};

constexpr uint32_t kCallerLogEntries = 8192;
constexpr uint32_t kCallerLogMask = 0x1fff;
struct ParamtVornLogTable {
  VornLogRecord ring[kCallerLogEntries];
  uint32_t read_index;
  uint32_t write_index;
  uint32_t count;
  uint32_t status;
};

struct ParamtVornNeededLogsNum {
  uint32_t count;
};

struct IM_P2P_AD_Info {
  uint8_t index;
  uint8_t action;
  uint16_t AppID;
  char name[64];
};

struct IM_P2P_AD_Status {
  uint8_t index;
  uint8_t action;
  uint16_t AppID;
};

struct KaAppInfoTH {
  uint8_t index;
  uint8_t action;
  uint16_t rule_id;
  uint32_t threshold;
  char name[64];
};

struct KaAppStatTH {
  uint8_t index;
  uint8_t action;
  uint16_t rule_id;
  uint32_t threshold;
};
#pragma pack(pop)

static_assert(sizeof(ParamtVornStatus) == 8);
static_assert(sizeof(ParamtVornPolicyTable) == 8);
static_assert(sizeof(pParamtVornPolicyTableHeader) == 12);
static_assert(sizeof(VornLogRecord) == 16);
static_assert(sizeof(VornKernLogQueue) == 0x4008);
static_assert(sizeof(ParamtVornLogTable) == 0x20010);
static_assert(offsetof(ParamtVornLogTable, read_index) == 0x20000);
static_assert(offsetof(ParamtVornLogTable, write_index) == 0x20004);
static_assert(offsetof(ParamtVornLogTable, count) == 0x20008);
static_assert(offsetof(ParamtVornLogTable, status) == 0x2000c);
static_assert(sizeof(ParamtVornNeededLogsNum) == 4);
static_assert(sizeof(IM_P2P_AD_Info) == 68);
static_assert(offsetof(IM_P2P_AD_Info, AppID) == 2);
static_assert(sizeof(IM_P2P_AD_Status) == 4);
static_assert(sizeof(KaAppInfoTH) == 72);
static_assert(offsetof(KaAppInfoTH, threshold) == 4);
static_assert(offsetof(KaAppInfoTH, name) == 8);
static_assert(sizeof(KaAppStatTH) == 8);

}  // namespace vorn
