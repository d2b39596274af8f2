// Counting detectors of the packet hook: port scans (TCP and UDP), IP sweeps (TCP SYNs to many hosts)
// and floods (TCP SYN, UDP, ICMP, IGMP to one host). Each follows its threshold rule, logs once when a
// source first crosses the threshold and then has the hook drop that traffic.
#pragma once

#include <cstdint>

#include "vorn_module.h"
#include "vorn_packet.h"

namespace vorn {

// Threshold rule ids and the offsets of their events from the rule set's event base.
enum DetectorRule : uint8_t {
  kRuleSynScan = 1,
  kRuleFinScan = 2,
  kRuleOtherScan = 3,
  kRuleUdpScan = 4,
  kRuleIpSweep = 5,
  kRuleSynFlood = 17,
  kRuleUdpFlood = 18,
  kRuleIcmpFlood = 19,
  kRuleIgmpFlood = 20,
};
constexpr uint8_t kSweepOffset = 81;       // + scan type for port scans
constexpr uint8_t kFloodOffset = 86 - 17;  // + flood type
constexpr uint8_t kCategoryDos = 1;
constexpr uint8_t kCategoryScan = 4;

constexpr uint32_t kPortScanRecords = 4096;
constexpr uint32_t kPortScanHeads = 4096;
constexpr uint32_t kSweepRecords = 1024;
constexpr uint32_t kFloodTypes = 32;
constexpr uint32_t kFloodEntries = 20;
constexpr uint32_t kDetectorAgeSeconds = 5;

// One port-scan record in engine memory (440 bytes of 32-bit words).
struct PortScanRecord {
  uint32_t source;       // host order
  uint32_t destination;  // host order
  uint32_t type;
  uint32_t low_ports[32];   // ports 0..1023
  uint32_t high_ports[63];  // hashed ports above 1023 (2016 bits)
  uint32_t distinct;
  uint16_t lowest;
  uint16_t highest;
  uint32_t window_start;
  uint32_t last_new_port;
  uint32_t last_reset;
  uint32_t alarm;
  int32_t age_next, age_prev;
  int32_t hash_next, hash_prev;  // hash_next also links the free list
  uint32_t packets;
  uint32_t unused;
};
static_assert(sizeof(PortScanRecord) == 440);
static_assert(kPortScanRecords * sizeof(PortScanRecord) <= kPortScanHashOffset - kPortScanRecordsOffset);

#pragma pack(push, 1)
struct SweepRecord {
  uint32_t source;  // as stored
  uint16_t port;
  uint16_t hosts;
  uint32_t prefix;  // first two bytes of the destination, as stored
  uint32_t last_seen;
  uint8_t host_map[256];
  uint32_t window_start;
  uint32_t alarm_time;
  uint8_t alarm;
  uint8_t unused;
  uint8_t last_host[2];  // fourth and third byte of the last destination
  int32_t age_next, age_prev;
  int32_t hash_next, hash_prev;
};
struct FloodEntry {
  uint8_t in_use;
  uint8_t alarm;
  uint16_t type;
  uint32_t destination;  // as stored
  uint32_t count;
  uint32_t time;
};
#pragma pack(pop)
static_assert(sizeof(SweepRecord) == 300);
static_assert(sizeof(FloodEntry) == 16);

// Scan type 0 (none) .. 3 from the TCP flags, as `tcp_scan_guess` classifies them.
int tcp_scan_guess(const sk_buff *skb, const PacketView &packet);
// Bit of the high-port map that a port above 1023 uses.
uint32_t high_port_bit(uint16_t port);

int kkDetectPortScan(const sk_buff *skb, const PacketView &packet);
int RecordScan(uint32_t source, uint32_t destination, uint16_t port, int type, const PacketView &packet);
int check_threshold(PortScanRecord *record, int type, const PacketView &packet);
int PortScanInit();

int kkIpSweepDetect(const PacketView &packet, uint16_t destination_port);
int check_ips_threshold(SweepRecord *record, const PacketView &packet);
int IPSweepInit();

int kkDetectDdos(const PacketView &packet, uint32_t type);
void DdosDetectingAgingOut(uint32_t type);
void DdosInit();

// For tests and the report: records in use.
uint32_t port_scan_records_in_use();
uint32_t sweep_records_in_use();
// For tests: the most records that share one chain of the sweep table.
uint32_t longest_sweep_chain();

}  // namespace vorn
