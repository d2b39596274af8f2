// LACP of portvisor on the simulated board with Open vSwitch as the partner: a bond of front ports 2
// and 3 (both in VLAN 2 of the default configuration) forms on both sides, carries a host's frames,
// survives a pulled member cable, takes the member back when it is plugged in; every LACPDU the switch
// sends reads cleanly in tshark; malformed LACPDUs are counted and dropped. Needs root.
#include "ovs_peer.h"
#include "protocol_objects.h"
#include "simulated_switch.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace peers;
using namespace std::chrono_literals;

namespace {

class SwitchNetwork : public ::testing::Environment {
 public:
  void SetUp() override { isolate_network(); }
};
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new SwitchNetwork);

const uint16_t kSlowProtocols = 0x8809;

std::optional<LacpStatus> status_of(const SimulatedSwitch &sw) {
  const auto bytes = sw.get(kObjLacpStatus, LacpStatus::kSize);
  if (!bytes) return std::nullopt;
  return LacpStatus::decode(*bytes);
}

// The switch's status holds one aggregation of exactly `ports`.
bool switch_aggregates(const SimulatedSwitch &sw, const std::vector<unsigned> &ports) {
  const auto s = status_of(sw);
  if (!s || s->aggregations.size() != 1) return false;
  for (unsigned p = 1; p <= 6; ++p) {
    const bool wanted = std::find(ports.begin(), ports.end(), p) != ports.end();
    if ((s->aggregations[0].members[p - 1] != 0) != wanted) return false;
  }
  return true;
}

bool ovs_aggregates(const OvsPeer &ovs, const std::vector<std::string> &members) {
  const auto bond = ovs.lacp_bond_named("bond0");
  if (!bond) return false;
  for (const std::string &m : members)
    if (!bond->member(m) || !bond->member(m)->aggregated()) return false;
  return true;
}

// The sixteen aggregation code masks of the chip (register 2/0/0x30..0x3F), front port p at chip bit p - 1.
std::vector<uint32_t> aggregation_masks(const SimulatedSwitch &sw) {
  std::vector<uint32_t> masks;
  for (unsigned code = 1; code <= 16; ++code) {
    char reg[8];
    std::snprintf(reg, sizeof reg, "0x%02x", 0x2F + code);
    masks.push_back(static_cast<uint32_t>(std::stoul(sw.ctl(std::string("read 2 0 ") + reg), nullptr, 16)));
  }
  return masks;
}

// The chip's MAC table and masks, for a failure message.
std::string forwarding_report(const SimulatedSwitch &sw) {
  std::string text = "MAC table:\n" + sw.ctl("dump mac") + "\nmasks:";
  for (const char *reg :
       {"0x80", "0x81", "0x82", "0x83", "0x84", "0x86", "0x40", "0x41", "0x42", "0x43", "0x48", "0x10"})
    text += std::string(" ") + reg + "=" + sw.ctl(std::string("read 2 0 ") + reg);
  for (uint32_t mask : aggregation_masks(sw)) text += " " + std::to_string(mask);
  return text;
}

// LACP on the given front ports through object 4017, everything else as configured.
bool enable_lacp(const SimulatedSwitch &sw, const std::vector<unsigned> &ports, bool on) {
  const auto bytes = sw.get(kObjLacpConfig, LacpConfig::kSize);
  if (!bytes) return false;
  LacpConfig config = LacpConfig::decode(*bytes);
  for (unsigned p : ports) config.ports[p - 1].enabled = on ? 1 : 0;
  return sw.set(kObjLacpConfig, config.encode());
}

class LacpWithOvs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.adopt_bridge_port("swp2") && peer.adopt_bridge_port("swp3"));
    ASSERT_TRUE(hosts.adopt("swp4"));
    ASSERT_TRUE(hosts.run("ip addr add 10.78.0.1/24 dev swp4").ok());
    ASSERT_TRUE(ovs.add_bridge("br0"));
    ASSERT_TRUE(ovs.add_lacp_bond("br0", "bond0", {"swp2", "swp3"}));
    ASSERT_TRUE(peer.run("ip addr add 10.78.0.2/24 dev br0 && ip link set br0 up").ok());
  }
  bool ping() const { return hosts.run("ping -c 1 -W 1 10.78.0.2").ok(); }
  bool pings_within(std::chrono::seconds limit) const {
    return eventually([&] { return ping(); }, limit, 100ms);
  }

  SimulatedSwitch sw;
  Netns peer{"pv-lacp"};
  Netns hosts{"pv-lacp"};
  OvsPeer ovs{peer};
};

TEST_F(LacpWithOvs, BondFormsCarriesFramesAndRidesOutAPulledCable) {
  const auto capture_file = sw.folder() + "/swp2.pcap";
  Capture slow(peer, {"swp2"}, capture_file, "ether proto 0x8809");
  ASSERT_TRUE(enable_lacp(sw, {2, 3}, true));

  ASSERT_TRUE(eventually(
      [&] {
        return ovs_aggregates(ovs, {"swp2", "swp3"}) && switch_aggregates(sw, {2, 3});
      },
      30s))
      << ovs.appctl("lacp/show").output << sw.daemon_log();
  const LacpStatus s = *status_of(sw);
  const LacpBond bond = *ovs.lacp_bond_named("bond0");
  EXPECT_EQ(colon_text(s.aggregations[0].partner), bond.sys_id);
  EXPECT_EQ(s.aggregations[0].partner_key, bond.key);
  for (unsigned p : {2u, 3u}) {
    const LacpPortStatus &r = s.ports[p - 1];
    EXPECT_EQ(r.port, p);
    EXPECT_EQ(r.enabled, 1);
    EXPECT_EQ(r.aggregation, s.aggregations[0].id) << "port " << p;
    EXPECT_GT(r.lacpdus_sent(), 0u);
    EXPECT_GT(r.lacpdus_received(), 0u);
    EXPECT_EQ(r.illegal(), 0u);
  }
  // What Open vSwitch learnt of its partner is the switch's own view of its ports.
  const LacpMember &m2 = *bond.member("swp2");
  EXPECT_EQ(m2.partner.port_id, 2u);
  EXPECT_EQ(m2.partner.key, s.ports[1].oper_key);
  EXPECT_EQ(m2.partner.sys_id,
            colon_text(LacpConfig::decode(*sw.get(kObjLacpConfig, LacpConfig::kSize)).system_mac));

  // The chip spreads the aggregation codes over the two members: each code reaches exactly one of them.
  unsigned via2 = 0, via3 = 0;
  for (uint32_t mask : aggregation_masks(sw)) {
    EXPECT_NE((mask >> 1 & 1) + (mask >> 2 & 1), 2u) << std::hex << mask;
    via2 += mask >> 1 & 1;
    via3 += mask >> 2 & 1;
  }
  EXPECT_EQ(via2 + via3, 16u);
  EXPECT_GT(via2, 0u);
  EXPECT_GT(via3, 0u);

  EXPECT_TRUE(pings_within(20s)) << "frames cross the bond\n"
                                 << forwarding_report(sw) << "\n"
                                 << ovs.appctl("bond/show").output << ovs.appctl("fdb/show br0").output
                                 << hosts.run("ip neigh; ip -s link show swp4").output
                                 << peer.run("ip neigh; ip -s link show br0").output;

  // One member's cable pulled: the bond stays up on the other on both sides, and frames still cross.
  ASSERT_TRUE(sw.cable(2, false));
  ASSERT_TRUE(eventually(
      [&] {
        const auto states = ovs.bond_show();
        return states.size() == 1 && states[0].member("swp2") && !states[0].member("swp2")->enabled &&
               ovs_aggregates(ovs, {"swp3"});
      },
      20s))
      << ovs.appctl("bond/show").output;
  ASSERT_TRUE(eventually(
      [&] {
        const auto st = status_of(sw);
        return st && st->ports[2].aggregation != 0 && st->ports[1].aggregation != st->ports[2].aggregation;
      },
      20s))
      << sw.daemon_log();
  // A single port is no hardware aggregation: every code reaches port 3 alone of the two.
  for (uint32_t mask : aggregation_masks(sw)) EXPECT_EQ(mask >> 2 & 1, 1u) << std::hex << mask;
  EXPECT_TRUE(pings_within(20s)) << "frames cross the remaining member";

  // Plugged back: the member joins again on both sides.
  ASSERT_TRUE(sw.cable(2, true));
  ASSERT_TRUE(eventually(
      [&] {
        return ovs_aggregates(ovs, {"swp2", "swp3"}) && switch_aggregates(sw, {2, 3});
      },
      30s))
      << ovs.appctl("lacp/show").output;
  EXPECT_TRUE(pings_within(20s));

  // Every LACPDU the switch sent, from its first to the ones of the formed bond, reads cleanly.
  slow.stop();
  const std::string from_switch = "lacp && lacp.actor.sysid != " + bond.sys_id;
  const auto sent = dissect(capture_file, from_switch, "-e lacp.actor.state");
  EXPECT_GE(sent.size(), 3u);
  const auto problems = dissector_problems(capture_file, "slow");
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_NE(std::find(sent.begin(), sent.end(), "0x3f"), sent.end())
      << "a LACPDU of a collecting and distributing port";
}

// Frames for the bond that fail the checks are counted on their port and never reach the engines' state;
// the daemon keeps answering.
class MalformedSlowProtocolFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.adopt("swp2"));
    socket = std::make_unique<RawSocket>(peer, "swp2");
    ASSERT_TRUE(socket->ok());
    ASSERT_TRUE(enable_lacp(sw, {2}, true));
  }
  std::vector<uint8_t> lacpdu(size_t length, uint8_t subtype, uint8_t version) const {
    std::vector<uint8_t> f(length, 0);
    const uint8_t head[] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x02, 0x02,
                            0x00, 0x00, 0x00, 0x0B, 0x02, 0x88, 0x09};
    std::copy(head, head + sizeof head, f.begin());
    if (length > 14) f[14] = subtype;
    if (length > 15) f[15] = version;
    if (length >= 124) {
      // Actor TLV of a partner that is not the switch: system 02:00:00:00:0b:02, key 9, port 5.
      f[16] = 1;
      f[17] = 20;
      f[18] = 0x80;
      f[20] = 0x02;
      f[24] = 0x0B;
      f[25] = 0x02;
      f[27] = 9;
      f[28] = 0x80;
      f[30] = 5;
      f[31] = 0x3D;
      f[36] = 2;
      f[37] = 20;
      f[56] = 3;
      f[57] = 16;
      f[59] = 0x80;
    }
    return f;
  }
  LacpPortStatus port2() const { return status_of(sw)->ports[1]; }
  // Sends until the given counter of port 2 has moved by `by` (the link may still be coming up).
  template <typename Counter>
  bool counted(const std::vector<uint8_t> &frame, Counter counter, uint32_t by = 1) {
    const uint32_t before = counter(port2());
    return send_until(*socket, frame, [&] { return counter(port2()) >= before + by; });
  }

  SimulatedSwitch sw;
  Netns peer{"pv-lacp"};
  std::unique_ptr<RawSocket> socket;
};

TEST_F(MalformedSlowProtocolFrames, AreCountedAndTheDaemonCarriesOn) {
  // A well-formed LACPDU first: the port is up and receiving.
  ASSERT_TRUE(counted(lacpdu(124, 1, 1), [](const LacpPortStatus &r) { return r.lacpdus_received(); }));
  const LacpPortStatus start = port2();

  // Truncated: the shortest frame a wire carries, and a LACPDU cut short of its terminator.
  ASSERT_TRUE(counted(lacpdu(60, 1, 1), [](const LacpPortStatus &r) { return r.illegal(); }));
  ASSERT_TRUE(counted(lacpdu(110, 1, 1), [](const LacpPortStatus &r) { return r.illegal(); }));
  // A subtype nobody knows.
  ASSERT_TRUE(counted(lacpdu(124, 0x0B, 1), [](const LacpPortStatus &r) { return r.unknown_subtype(); }));
  // A marker PDU with an unknown TLV type.
  auto marker = lacpdu(124, 2, 1);
  marker[16] = 0x07;
  ASSERT_TRUE(counted(marker, [](const LacpPortStatus &r) { return r.illegal(); }));
  // A later protocol version and an oversized frame: a LACPDU still, read for the fields it defines.
  ASSERT_TRUE(counted(lacpdu(124, 1, 0x7F), [](const LacpPortStatus &r) { return r.lacpdus_received(); }));
  ASSERT_TRUE(counted(lacpdu(1514, 1, 1), [](const LacpPortStatus &r) { return r.lacpdus_received(); }));

  const LacpPortStatus end = port2();
  EXPECT_EQ(end.unknown_subtype(), start.unknown_subtype() + 1);
  EXPECT_GE(end.illegal(), start.illegal() + 3);
  EXPECT_TRUE(sw.daemon_running());
  uint32_t res = 99;
  EXPECT_TRUE(sw.object(8, 0, std::vector<uint8_t>(8), res).has_value());
  EXPECT_EQ(res, 0u);
  EXPECT_TRUE(sw.stop_daemon()) << "the daemon ends cleanly on SIGTERM" << sw.daemon_log();
}

}  // namespace
