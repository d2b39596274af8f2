// Reading Open vSwitch's reports: the texts below are what ovs-appctl printed for a bond and a looped
// pair of bridges in this project's peer tests (Open vSwitch 3.1).
#include "ovs_show.h"

#include <gtest/gtest.h>

using namespace peers;

namespace {

const char *const kLacpOneMemberDown = R"(---- bond0 ----
  status: active negotiated
  sys_id: d6:65:20:9a:b4:47
  sys_priority: 65534
  aggregation key: 1
  lacp_time: fast

member: l1a: defaulted detached
  port_id: 2
  port_priority: 65535
  may_enable: false

  actor sys_id: d6:65:20:9a:b4:47
  actor sys_priority: 65534
  actor port_id: 2
  actor port_priority: 65535
  actor key: 1
  actor state: activity timeout aggregation defaulted

  partner sys_id: 00:00:00:00:00:00
  partner sys_priority: 0
  partner port_id: 0
  partner port_priority: 0
  partner key: 0
  partner state:

member: l2a: current attached
  port_id: 1
  port_priority: 65535
  may_enable: true

  actor sys_id: d6:65:20:9a:b4:47
  actor sys_priority: 65534
  actor port_id: 1
  actor port_priority: 65535
  actor key: 1
  actor state: activity timeout aggregation synchronized collecting distributing

  partner sys_id: f6:dc:ef:c8:65:49
  partner sys_priority: 32768
  partner port_id: 3
  partner port_priority: 32768
  partner key: 5
  partner state: activity timeout aggregation synchronized collecting distributing
)";

TEST(LacpShow, MembersWithBothSidesOfTheirState) {
  const auto bonds = parse_lacp_show(kLacpOneMemberDown);
  ASSERT_EQ(bonds.size(), 1u);
  const LacpBond &b = bonds[0];
  EXPECT_EQ(b.name, "bond0");
  EXPECT_EQ(b.status, "active negotiated");
  EXPECT_EQ(b.sys_id, "d6:65:20:9a:b4:47");
  EXPECT_EQ(b.sys_priority, 65534u);
  EXPECT_EQ(b.key, 1u);
  ASSERT_EQ(b.members.size(), 2u);

  const LacpMember *down = b.member("l1a");
  ASSERT_NE(down, nullptr);
  EXPECT_EQ(down->status, "defaulted detached");
  EXPECT_FALSE(down->aggregated());
  EXPECT_TRUE(down->partner.state.empty());
  EXPECT_EQ(down->actor.state.count("defaulted"), 1u);

  const LacpMember *up = b.member("l2a");
  ASSERT_NE(up, nullptr);
  EXPECT_TRUE(up->aggregated());
  EXPECT_EQ(up->actor.port_id, 1u);
  EXPECT_EQ(up->partner.sys_id, "f6:dc:ef:c8:65:49");
  EXPECT_EQ(up->partner.sys_priority, 32768u);
  EXPECT_EQ(up->partner.port_id, 3u);
  EXPECT_EQ(up->partner.port_priority, 32768u);
  EXPECT_EQ(up->partner.key, 5u);
  EXPECT_EQ(b.member("l3a"), nullptr);
}

// A member is aggregated only when both ends say so: one side collecting alone is a bond half formed.
TEST(LacpShow, AggregatedNeedsCurrentAttachedAndBothSidesInSync) {
  LacpMember m;
  m.status = "current attached";
  m.actor.state = {"activity", "synchronized", "collecting", "distributing"};
  m.partner.state = m.actor.state;
  EXPECT_TRUE(m.aggregated());
  m.partner.state.erase("distributing");
  EXPECT_FALSE(m.aggregated());
  m.partner.state = m.actor.state;
  m.status = "expired attached";
  EXPECT_FALSE(m.aggregated());
  m.status = "current detached";
  EXPECT_FALSE(m.aggregated());
}

TEST(BondShow, EnabledAndActiveMembers) {
  const auto bonds = parse_bond_show(R"(---- bond0 ----
bond_mode: active-backup
bond may use recirculation: no, Recirc-ID : -1
bond-hash-basis: 0
updelay: 0 ms
downdelay: 0 ms
lacp_status: negotiated
lacp_fallback_ab: false
active-backup primary: <none>
active member mac: da:6d:8f:3c:dc:01(l2b)

member l1b: disabled
  may_enable: false

member l2b: enabled
  active member
  may_enable: true
)");
  ASSERT_EQ(bonds.size(), 1u);
  EXPECT_EQ(bonds[0].mode, "active-backup");
  EXPECT_EQ(bonds[0].lacp_status, "negotiated");
  ASSERT_EQ(bonds[0].members.size(), 2u);
  EXPECT_FALSE(bonds[0].member("l1b")->enabled);
  EXPECT_FALSE(bonds[0].member("l1b")->active);
  EXPECT_FALSE(bonds[0].member("l1b")->may_enable);
  EXPECT_TRUE(bonds[0].member("l2b")->enabled);
  EXPECT_TRUE(bonds[0].member("l2b")->active);
  EXPECT_TRUE(bonds[0].member("l2b")->may_enable);
}

TEST(RstpShow, RootBridgeAndABridgeWithRootAndAlternatePorts) {
  const auto bridges = parse_rstp_show(R"(---- br0 ----
Root ID:
  stp-priority    4096
  stp-system-id   f6:dc:ef:c8:65:49
  stp-hello-time  2s
  stp-max-age     20s
  stp-fwd-delay   15s
  root-port       l1a
  root-path-cost  2000

Bridge ID:
  stp-priority    32768
  stp-system-id   d6:65:20:9a:b4:47
  stp-hello-time  2s
  stp-max-age     20s
  stp-fwd-delay   15s

  Interface  Role       State      Cost     Pri.Nbr 
  ---------- ---------- ---------- -------- -------
  l1a        Root       Forwarding 2000     128.1
  l2a        Alternate  Discarding 2000     128.2

---- br1 ----
Root ID:
  stp-priority    4096
  stp-system-id   f6:dc:ef:c8:65:49
  stp-hello-time  2s
  stp-max-age     20s
  stp-fwd-delay   15s
  This bridge is the root

Bridge ID:
  stp-priority    4096
  stp-system-id   f6:dc:ef:c8:65:49
  stp-hello-time  2s
  stp-max-age     20s
  stp-fwd-delay   15s

  Interface  Role       State      Cost     Pri.Nbr 
  ---------- ---------- ---------- -------- -------
  l1b        Designated Forwarding 2000     128.1
  l2b        Designated Discarding 2000     16.2

)");
  ASSERT_EQ(bridges.size(), 2u);
  const RstpBridgeState &a = bridges[0];
  EXPECT_EQ(a.name, "br0");
  EXPECT_FALSE(a.is_root);
  EXPECT_EQ(a.root_priority, 4096u);
  EXPECT_EQ(a.root_id, "f6:dc:ef:c8:65:49");
  EXPECT_EQ(a.root_port, "l1a");
  EXPECT_EQ(a.root_path_cost, 2000u);
  EXPECT_EQ(a.bridge_priority, 32768u);
  EXPECT_EQ(a.bridge_id, "d6:65:20:9a:b4:47");
  ASSERT_EQ(a.ports.size(), 2u);
  EXPECT_EQ(a.port("l1a")->role, "Root");
  EXPECT_EQ(a.port("l1a")->state, "Forwarding");
  EXPECT_EQ(a.port("l2a")->role, "Alternate");
  EXPECT_EQ(a.port("l2a")->state, "Discarding");
  EXPECT_EQ(a.port("l2a")->cost, 2000u);
  EXPECT_EQ(a.port("l2a")->number, 2u);

  const RstpBridgeState &b = bridges[1];
  EXPECT_TRUE(b.is_root);
  EXPECT_TRUE(b.root_port.empty());
  EXPECT_EQ(b.bridge_priority, 4096u);
  EXPECT_EQ(b.port("l2b")->priority, 16u);
  EXPECT_EQ(b.port("l2b")->number, 2u);
}

// An error text (a bridge without the protocol, a daemon that went away) reads as nothing at all.
TEST(OvsShow, TextsWithoutReportsGiveNothing) {
  EXPECT_TRUE(parse_lacp_show("no such bond\novs-appctl: transaction error (Broken pipe)\n").empty());
  EXPECT_TRUE(parse_bond_show("").empty());
  EXPECT_TRUE(parse_rstp_show("no such bridge\n").empty());
  const auto truncated =
      parse_rstp_show("---- br0 ----\nRoot ID:\n  stp-priority\n  Interface Role\n  x y\n");
  ASSERT_EQ(truncated.size(), 1u);
  EXPECT_EQ(truncated[0].root_priority, 0u);
  EXPECT_TRUE(truncated[0].ports.empty());
}

}  // namespace
