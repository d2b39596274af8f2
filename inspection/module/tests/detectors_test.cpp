// The port-scan, IP-sweep and flood detectors through the packet hook on the virtual clock:
// thresholds from the rule table, window ages, full tables, attack ids (base 1000 + offset).
#include <gtest/gtest.h>

#include <algorithm>

#include "packet_builder.h"
#include "vorn_detectors.h"
#include "vorn_fixture.h"
#include "vorn_log.h"
#include "vorn_pipeline.h"
#include "vorn_verdict.h"
#include "vorn_tracker.h"

namespace vorn_test {
namespace {

using namespace vorn;

constexpr uint32_t kBase = 1000;

std::string host(uint32_t n) {
  return "10.2." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
}

class Detectors : public VornTest {
 protected:
  // The basic image with every detector rule off, then the rules a test switches on.
  void install_rules(std::initializer_list<std::pair<uint8_t, uint16_t>> rules) {
    EngineImage image = basic_image();
    for (uint8_t id : {1, 2, 3, 4, 5, 17, 18, 19, 20}) image.set_threshold_rule(id, 0, 0, 0, "off");
    for (auto [id, threshold] : rules) image.set_threshold_rule(id, 0, 1, threshold, "on");
    install_image(image);
  }
  void syn(const std::string &from, uint16_t source_port, const std::string &to, uint16_t port,
           const std::string &device = "eth0") {
    send(Packet().from(from, source_port).to(to, port).flags(kSyn).bytes(), ETH_P_IP, device);
  }
  std::vector<uint32_t> attack_ids() {
    std::vector<uint32_t> ids;
    for (const auto &e : events()) ids.push_back(e.attack_id);
    return ids;
  }
};

// ---- port scans ---------------------------------------------------------------------------------
TEST_F(Detectors, SynScanLogsOnceAtTheThresholdAndDropsTheRest) {
  install_rules({{kRuleSynScan, 10}});
  for (uint16_t port = 1; port <= 9; ++port) {
    syn("10.0.0.9", 5000, "10.0.0.2", port);
    EXPECT_FALSE(dropped()) << port;
  }
  syn("10.0.0.9", 5000, "10.0.0.2", 10);
  EXPECT_TRUE(dropped());
  auto log = events();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].attack_id, kBase + 82);
  EXPECT_EQ(log[0].category, 4u);
  EXPECT_EQ(log[0].source, address_as_stored("10.0.0.9"));
  kern::clock_advance_ms(2000);  // a new counting window; the alarm stays with the record
  for (uint16_t port = 11; port <= 13; ++port) {
    syn("10.0.0.9", 5000, "10.0.0.2", port);
    EXPECT_TRUE(dropped()) << port;
  }
  syn("10.0.0.9", 5000, "10.0.0.3", 1);  // another host is another record
  EXPECT_FALSE(dropped());
  EXPECT_TRUE(events().empty());
}

TEST_F(Detectors, ScanRecordAgesOutFiveSecondsAfterItsLastNewPort) {
  install_rules({{kRuleSynScan, 3}});
  for (uint16_t port = 1; port <= 3; ++port) syn("10.0.0.9", 5000, "10.0.0.2", port);
  EXPECT_TRUE(dropped());
  kern::clock_advance_ms(5000);
  syn("10.0.0.9", 5001, "10.0.0.2", 3);  // a port seen before: the record lives on, still alarmed
  EXPECT_TRUE(dropped());
  kern::clock_advance_ms(1000);  // no new port for more than 5 seconds
  syn("10.0.0.9", 5002, "10.0.0.2", 3);
  EXPECT_FALSE(dropped());
  EXPECT_EQ(attack_ids(), std::vector<uint32_t>{kBase + 82});
}

TEST_F(Detectors, ScanTypesFollowTheFlags) {
  install_rules({{kRuleFinScan, 2}, {kRuleOtherScan, 2}, {kRuleUdpScan, 2}});
  send(Packet().from("10.0.0.7", 1).to("10.0.0.2", 1).flags(kFin).bytes());
  send(Packet().from("10.0.0.7", 1).to("10.0.0.2", 2).flags(kFin).bytes());
  EXPECT_TRUE(dropped());
  send(Packet().from("10.0.0.8", 1).to("10.0.0.2", 1).flags(kRst).bytes());  // RST alone: no scan
  send(Packet().from("10.0.0.8", 1).to("10.0.0.2", 2).flags(kRst | kAck).bytes());
  EXPECT_FALSE(dropped());
  send(Packet().from("10.0.0.8", 1).to("10.0.0.2", 3).flags(kSyn | kAck | kUrg).bytes());  // "other" flags
  send(Packet().from("10.0.0.8", 1).to("10.0.0.2", 4).flags(kSyn | kRst | kAck).bytes());
  EXPECT_TRUE(dropped());
  send(Packet().udp().from("10.0.0.6", 1).to("10.0.0.2", 53).bytes());
  send(Packet().udp().from("10.0.0.6", 1).to("10.0.0.2", 54).bytes());
  EXPECT_TRUE(dropped());
  EXPECT_TRUE(printed("Drop by Port Scan UDP\n"));
  EXPECT_EQ(attack_ids(), (std::vector<uint32_t>{kBase + 83, kBase + 84, kBase + 85}));
}

TEST_F(Detectors, FinFromTheFarEndOfATrackedConnectionIsNoScanOnTheWanSide) {
  install_rules({{kRuleFinScan, 1}});
  send(Packet().from("192.168.1.5", 40000).to("10.0.0.2", 80).flags(kSyn).bytes(), ETH_P_IP, "eth0");
  // Not this connection's own FIN (that one would skip the detector), but from the same server.
  send(Packet().from("10.0.0.2", 80).to("192.168.1.5", 40001).flags(kFin).bytes(), ETH_P_IP, "eth1");
  EXPECT_FALSE(dropped());
  send(Packet().from("10.0.0.3", 80).to("192.168.1.5", 40001).flags(kFin).bytes(), ETH_P_IP, "eth1");
  EXPECT_TRUE(dropped());
}

TEST(PortBits, HighPortsHashIntoTheSecondMap) {
  EXPECT_EQ(high_port_bit(1024), 640u);
  EXPECT_EQ(high_port_bit(3040), 1877u);
  EXPECT_LT(high_port_bit(65535), 2016u);
}

TEST_F(Detectors, HighPortsCountAsDistinctPorts) {
  install_rules({{kRuleSynScan, 3}});
  syn("10.0.0.9", 5000, "10.0.0.2", 1024);
  syn("10.0.0.9", 5000, "10.0.0.2", 1024);
  syn("10.0.0.9", 5000, "10.0.0.2", 3040);
  EXPECT_FALSE(dropped());
  syn("10.0.0.9", 5000, "10.0.0.2", 50000);
  EXPECT_TRUE(dropped());
}

// Spoofed sources can take every record; the rest then go uncounted until records age out.
TEST_F(Detectors, FullScanTableCountsNoNewSourceUntilRecordsAge) {
  install_rules({{kRuleOtherScan, 2}});
  for (uint32_t i = 0; i < kPortScanRecords; ++i)
    send(Packet().from(host(i), 1).to("10.0.0.2", 7).flags(kUrg | kAck | kRst).bytes());
  EXPECT_EQ(port_scan_records_in_use(), kPortScanRecords);
  for (uint16_t port = 1; port <= 3; ++port)
    send(Packet().from("10.0.0.9", 1).to("10.0.0.2", port).flags(kUrg | kAck | kRst).bytes());
  EXPECT_FALSE(dropped());
  kern::clock_advance_ms(6000);
  for (uint16_t port = 1; port <= 2; ++port)
    send(Packet().from("10.0.0.9", 1).to("10.0.0.2", port).flags(kUrg | kAck | kRst).bytes());
  EXPECT_TRUE(dropped());
  EXPECT_EQ(port_scan_records_in_use(), 1u);
}

// The longest hash chain of the port-scan table in engine memory.
uint32_t longest_scan_chain() {
  const auto *heads = reinterpret_cast<const int32_t *>(module().QuorixMem + kPortScanHashOffset);
  const auto *records = reinterpret_cast<const PortScanRecord *>(module().QuorixMem + kPortScanRecordsOffset);
  uint32_t longest = 0;
  for (uint32_t h = 0; h < kPortScanHeads; ++h) {
    uint32_t length = 0;
    for (int32_t i = heads[h]; i >= 0 && length < kPortScanRecords; i = records[i].hash_next) ++length;
    longest = std::max(longest, length);
  }
  return longest;
}

// A source that picks hosts whose addresses agree in their low 12 bits would, on a hash the sender
// can work out, put every record on one chain that each later packet walks. The chains stay short.
TEST_F(Detectors, ScanOfHostsChosenToShareAChainSpreadsOverTheTable) {
  install_rules({{kRuleSynScan, 1000}});
  for (uint32_t i = 0; i < kPortScanRecords; ++i) {
    uint32_t destination = 10u << 24 | i << 12 | 0x105;  // low 12 bits alike
    std::string dotted = std::to_string(destination >> 24) + "." + std::to_string(destination >> 16 & 0xff) +
                         "." + std::to_string(destination >> 8 & 0xff) + "." +
                         std::to_string(destination & 0xff);
    syn("10.3.0.9", 5000, dotted, 7);
  }
  EXPECT_EQ(port_scan_records_in_use(), kPortScanRecords);
  EXPECT_LE(longest_scan_chain(), 16u);
}

// ---- IP sweeps ----------------------------------------------------------------------------------
TEST_F(Detectors, SweepOfFiveHostsWithinASecondIsDropped) {
  install_rules({{kRuleIpSweep, 5}});
  for (uint32_t h = 1; h <= 4; ++h) {
    syn("10.0.0.9", static_cast<uint16_t>(6000 + h), "10.0.1." + std::to_string(h), 80);
    EXPECT_FALSE(dropped()) << h;
  }
  syn("10.0.0.9", 6005, "10.0.1.5", 80);
  EXPECT_TRUE(dropped());
  syn("10.0.0.9", 6006, "10.0.1.6", 80);
  EXPECT_TRUE(dropped());
  syn("10.0.0.9", 6007, "10.0.1.7", 81);  // another port is another sweep
  EXPECT_FALSE(dropped());
  EXPECT_EQ(attack_ids(), std::vector<uint32_t>{kBase + 81});
  kern::clock_advance_ms(6000);  // quiet for more than 5 seconds: the record goes
  syn("10.0.0.9", 6008, "10.0.1.8", 80);
  EXPECT_FALSE(dropped());
}

TEST_F(Detectors, RepeatedHostIsCountedOnce) {
  install_rules({{kRuleIpSweep, 3}});
  for (int i = 0; i < 5; ++i) syn("10.0.0.9", static_cast<uint16_t>(6000 + i), "10.0.1.1", 80);
  syn("10.0.0.9", 6010, "10.0.1.2", 80);
  EXPECT_FALSE(dropped());
  syn("10.0.0.9", 6011, "10.0.1.3", 80);
  EXPECT_TRUE(dropped());
}

// A slow sweep is measured by its rate once the window is older than 5 seconds: one host every two
// seconds stays below 5 hosts per 8 seconds.
TEST_F(Detectors, SlowSweepRestartsItsWindowInsteadOfAlarming) {
  install_rules({{kRuleIpSweep, 5}});
  for (uint32_t h = 1; h <= 6; ++h) {
    syn("10.0.0.9", static_cast<uint16_t>(6000 + h), "10.0.1." + std::to_string(h), 80);
    EXPECT_FALSE(dropped()) << h;
    kern::clock_advance_ms(2000);
  }
  EXPECT_TRUE(events().empty());
}

// One source probing a port per packet makes a sweep record per port: the table fills to its fixed
// size and stops there, records made early are still found among the many, and once they age out the
// table takes new sweeps again.
TEST_F(Detectors, PortByPortProbingFillsTheSweepTableWithoutLosingEarlyRecords) {
  install_rules({{kRuleIpSweep, 5}});
  for (uint32_t port = 1; port <= 1500; ++port)
    syn("10.0.0.9", 7000, "10.0.1.1", static_cast<uint16_t>(port));
  EXPECT_EQ(sweep_records_in_use(), static_cast<size_t>(kSweepRecords));
  for (uint32_t h = 2; h <= 4; ++h) {
    syn("10.0.0.9", static_cast<uint16_t>(7000 + h), "10.0.1." + std::to_string(h), 500);
    EXPECT_FALSE(dropped()) << h;
  }
  syn("10.0.0.9", 7005, "10.0.1.5", 500);  // the fifth host on port 500, recorded early
  EXPECT_TRUE(dropped());
  for (uint32_t h = 2; h <= 6; ++h)
    syn("10.0.0.9", static_cast<uint16_t>(7000 + h), "10.0.1." + std::to_string(h), 1400);
  EXPECT_FALSE(dropped());  // port 1400 found the table full and goes uncounted
  kern::clock_advance_ms(6000);
  for (uint32_t h = 2; h <= 6; ++h)
    syn("10.0.0.9", static_cast<uint16_t>(7100 + h), "10.0.1." + std::to_string(h), 1400);
  EXPECT_TRUE(dropped());
  EXPECT_LE(sweep_records_in_use(), static_cast<size_t>(kSweepRecords));
}

TEST_F(Detectors, SweepIsOnlyLookedForWhenItsRuleIsOn) {
  install_rules({});
  for (uint32_t h = 1; h <= 10; ++h)
    syn("10.0.0.9", static_cast<uint16_t>(6000 + h), "10.0.1." + std::to_string(h), 80);
  EXPECT_FALSE(dropped());
  EXPECT_EQ(sweep_records_in_use(), 0u);
}

// The sweep hash as a build with a fixed key would have it: a sender who reads the code can search
// it for destination ports and prefixes that all land on one chain.
uint32_t unkeyed_sweep_hash(uint32_t source, uint32_t port, uint32_t prefix) {
  uint32_t h = source * 0x9e3779b1u ^ port * 0x85ebca6bu ^ prefix * 0xc2b2ae35u;
  return (h ^ (h >> 15)) & (kSweepRecords - 1);
}

// One source sweeping the ports and prefixes that such a search picks fills the table with records
// that would share one chain, walked by every later packet of that source. The chains stay short.
TEST_F(Detectors, SweepsChosenToShareAChainSpreadOverTheTable) {
  install_rules({{kRuleIpSweep, 1000}});
  const uint32_t source = address_as_stored("10.3.0.9");
  uint32_t sent = 0;
  for (uint32_t first = 11; first < 224 && sent < kSweepRecords; ++first) {
    for (uint32_t second = 0; second < 256 && sent < kSweepRecords; ++second) {
      for (uint32_t port = 1; port <= 0xffff && sent < kSweepRecords; ++port) {
        if (unkeyed_sweep_hash(source, port, first | second << 8) != 0) continue;
        syn("10.3.0.9", 5000, std::to_string(first) + "." + std::to_string(second) + ".1.1",
            static_cast<uint16_t>(port));
        ++sent;
      }
    }
  }
  EXPECT_EQ(sweep_records_in_use(), kSweepRecords);
  EXPECT_LE(longest_sweep_chain(), 16u);
}

// ---- floods -------------------------------------------------------------------------------------
TEST_F(Detectors, SynFloodAboveTheThresholdWithinASecond) {
  install_rules({{kRuleSynFlood, 100}});
  for (uint16_t i = 0; i < 100; ++i) syn("10.0.0.9", static_cast<uint16_t>(7000 + i), "10.0.0.2", 80);
  EXPECT_FALSE(dropped());
  syn("10.0.0.9", 7100, "10.0.0.2", 80);
  EXPECT_TRUE(dropped());
  EXPECT_TRUE(printed("hit VORN_DDOS_TYPE=17\n"));
  syn("10.0.0.9", 7101, "10.0.0.2", 80);
  EXPECT_TRUE(dropped());
  auto log = events();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].attack_id, kBase + 86);
  EXPECT_EQ(log[0].category, 1u);
  kern::clock_advance_ms(1000);  // a new second clears the table
  syn("10.0.0.9", 7102, "10.0.0.2", 80);
  EXPECT_FALSE(dropped());
}

TEST_F(Detectors, EachFloodTypeLogsItsOwnId) {
  install_rules({{kRuleUdpFlood, 2}, {kRuleIcmpFlood, 2}, {kRuleIgmpFlood, 2}});
  Packet igmp;
  igmp.protocol = 2;
  igmp.payload.assign(8, 'i');
  for (int i = 0; i < 3; ++i) send(Packet().udp().from("10.0.0.9", 9).to("10.0.0.2", 53).bytes());
  for (int i = 0; i < 3; ++i) send(Packet().icmp().bytes());
  for (int i = 0; i < 3; ++i) send(igmp.bytes());
  EXPECT_EQ(attack_ids(), (std::vector<uint32_t>{kBase + 87, kBase + 88, kBase + 89}));
  EXPECT_EQ(deliveries.size(), 9u);
  for (size_t i = 0; i < 9; ++i)
    EXPECT_EQ(deliveries[i].fate, i % 3 == 2 ? kern::Fate::kDropped : kern::Fate::kDelivered) << i;
}

TEST_F(Detectors, FloodRuleSwitchedOffNeverDrops) {
  install_rules({});
  for (int i = 0; i < 50; ++i) send(Packet().icmp().bytes());
  EXPECT_FALSE(dropped());
  EXPECT_TRUE(events().empty());
}

// Entries fill from the end of the table, so destination n sits at entry 20 - n.
TEST_F(Detectors, NewDestinationReplacesTheLeastCountedOfAFullTable) {
  install_rules({{kRuleIcmpFlood, 3}});
  auto ping = [&](uint32_t n) { send(Packet().icmp().to("10.0.3." + std::to_string(n), 0).bytes()); };
  ping(1);
  ping(1);
  for (uint32_t n = 2; n <= 20; ++n) ping(n);
  ping(21);  // replaces the last entry with the smallest count: destination 2
  ping(1);
  EXPECT_FALSE(dropped());
  ping(1);
  EXPECT_TRUE(dropped());  // 1, the last entry but counted twice, kept its count
  ping(20);
  ping(20);
  EXPECT_FALSE(dropped());
  ping(20);
  EXPECT_TRUE(dropped());  // 20, the first of those counted once, kept its count
}

// A steady stream of one type must not add up over seconds because packets of another type were
// the first to see each new second.
TEST_F(Detectors, EachFloodTypeClearsOnItsOwnSecond) {
  install_rules({{kRuleUdpFlood, 100}, {kRuleIcmpFlood, 100}});
  for (int second = 0; second < 3; ++second) {
    send(Packet().icmp().bytes());
    for (int i = 0; i < 60; ++i) send(Packet().udp().from("10.0.0.9", 9).to("10.0.0.2", 53).bytes());
    kern::clock_advance_ms(1000);
  }
  for (const auto &d : deliveries) EXPECT_EQ(d.fate, kern::Fate::kDelivered);
  EXPECT_TRUE(events().empty());
}

TEST_F(Detectors, FloodOfATypeWithoutAnEventPasses) {
  install_rules({{kRuleOtherScan, 0}});
  auto bytes = Packet().icmp().bytes();
  PacketView view;
  ASSERT_TRUE(parse_ipv4(bytes.data(), bytes.size(), &view));
  kern::CpuSection cpu;
  EXPECT_EQ(kkDetectDdos(view, kRuleOtherScan), 0);
  EXPECT_EQ(kkDetectDdos(view, 32), 0);
  EXPECT_TRUE(printed("DDOS Type ERROR!!\n"));
}

// ---- captures of real tools --------------------------------------------------------------------
// nmap -sS over ports 20-29: each probe is answered with RST+ACK, which is no scan.
TEST_F(Detectors, NmapSynScanIsCaughtAtTheFifthPort) {
  install_rules({{kRuleSynScan, 5}});
  auto fates = replay("nmap_syn.pcap");
  ASSERT_EQ(fates.size(), 20u);
  for (size_t i = 0; i < fates.size(); ++i) {
    bool late_probe = i % 2 == 0 && i / 2 >= 4;
    EXPECT_EQ(fates[i], late_probe ? kern::Fate::kDropped : kern::Fate::kDelivered) << i;
  }
  auto log = events();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].attack_id, kBase + 82);
  EXPECT_EQ(log[0].source, address_as_stored("10.77.0.1"));
}

// hping3 sends its five datagrams to port 53 from a new source port each: no port scan, but a flood
// once the threshold of three is passed; the port-unreachable replies are ICMP and not counted.
TEST_F(Detectors, Hping3UdpBurstIsAFloodNotAScan) {
  install_rules({{kRuleUdpScan, 2}, {kRuleUdpFlood, 3}});
  auto fates = replay("hping3_udp.pcap");
  ASSERT_EQ(fates.size(), 10u);
  for (size_t i = 0; i < fates.size(); ++i) {
    bool flooding = i % 2 == 0 && i / 2 >= 3;
    EXPECT_EQ(fates[i], flooding ? kern::Fate::kDropped : kern::Fate::kDelivered) << i;
  }
  EXPECT_EQ(attack_ids(), std::vector<uint32_t>{kBase + 87});
}

// ---- set-up after a policy load -----------------------------------------------------------------
TEST_F(Detectors, EveryLoadStartsTheDetectorsAfresh) {
  install_rules({{kRuleSynScan, 3}});
  for (uint16_t port = 1; port <= 3; ++port) syn("10.0.0.9", 5000, "10.0.0.2", port);
  EXPECT_TRUE(dropped());
  EXPECT_TRUE(printed("Enable DDOS Detection!!\n"));
  EXPECT_TRUE(printed("Enable PortScan Detection!!\n"));
  EXPECT_TRUE(printed("Enable IP Sweep Detection!!\n"));
  install_rules({{kRuleSynScan, 3}});
  EXPECT_EQ(port_scan_records_in_use(), 0u);
  syn("10.0.0.9", 5000, "10.0.0.2", 4);
  EXPECT_FALSE(dropped());
}

}  // namespace
}  // namespace vorn_test
