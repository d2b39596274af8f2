// Bridge instances per VLAN and the port moves between them.
#include "rstp_net.h"

#include <gtest/gtest.h>

namespace rstp::test {
namespace {

std::array<uint8_t, 7> members(std::initializer_list<unsigned> ports) {
  std::array<uint8_t, 7> m{};
  for (unsigned p : ports) m[p] = 1;
  return m;
}

struct Instances : ::testing::Test {
  void SetUp() override {
    host.link[1] = host.link[2] = host.link[3] = true;
    engine.start();
    engine.finish_work();
  }
  unsigned vid_of(unsigned p) { return engine.bridge(unsigned(engine.port(p).bridge)).vid; }
  FakeHost host{1};
  Engine engine{host};
};

TEST_F(Instances, StartPutsEveryPortIntoTheDefaultInstance) {
  for (unsigned p = 1; p <= kLogicalPorts; ++p) EXPECT_EQ(vid_of(p), kDefaultVid);
  EXPECT_TRUE(engine.port(7).admin_non_stp);
  EXPECT_EQ(host.apply[1], 1);
  EXPECT_EQ(host.stp[4], kStpBlocking);
}

TEST_F(Instances, VlanAddMovesItsMembersAndRemovalMovesThemBack) {
  auto m = members({1, 2});
  engine.vlan_add(10, m.data());
  EXPECT_EQ(vid_of(1), 10u);
  EXPECT_EQ(vid_of(2), 10u);
  EXPECT_EQ(vid_of(3), kDefaultVid);
  m = members({1});
  engine.vlan_add(10, m.data());
  EXPECT_TRUE(host.traced("Modifying existing vlan-id 10"));
  EXPECT_EQ(vid_of(2), kDefaultVid);
  engine.vlan_del(10);
  EXPECT_EQ(vid_of(1), kDefaultVid);
  EXPECT_EQ(engine.bridge_of_vid(10), -1);
}

TEST_F(Instances, ASeventhInstanceIsIgnored) {
  for (unsigned vid = 2; vid <= 6; ++vid) {
    auto m = members({vid - 1});
    engine.vlan_add(vid, m.data());
    EXPECT_GE(engine.bridge_of_vid(vid), 0);
  }
  auto m = members({6});
  engine.vlan_add(7, m.data());
  EXPECT_EQ(engine.bridge_of_vid(7), -1);
  EXPECT_EQ(vid_of(6), kDefaultVid);
}

TEST_F(Instances, BridgeIdCarriesTheVlanInItsPriorityField) {
  auto m = members({2, 3});
  engine.vlan_add(0x123, m.data());
  const Bridge &b = engine.bridge(unsigned(engine.bridge_of_vid(0x123)));
  EXPECT_EQ(b.id.priority, 0x8123);
  EXPECT_EQ(b.id.mac, host.macs[2]);
  for (const Flush &f : host.flushes) {
    if (f.flush_port == 0) {
      EXPECT_EQ(f.vid, 0x123u);
    }
  }
}

TEST_F(Instances, BpduOnAPortWithoutInstanceIsIgnored) {
  engine.vlan_del(kDefaultVid);
  EXPECT_EQ(engine.port(1).bridge, -1);
  Bpdu b;
  b.type = kBpduConfig;
  uint8_t frame[60] = {};
  encode_bpdu(b, Mac{}, frame);
  engine.receive(1, frame, sizeof frame);
  engine.tick();
  engine.linkstate_changed(1, false);
  EXPECT_EQ(engine.port(1).counters.config_received, 0u);
}

TEST_F(Instances, PortWithoutProtocolIsHeldForwardingAndComesBackDiscarding) {
  PortConfig off;
  off.enabled = 0;
  engine.set_port_config(2, off);
  EXPECT_EQ(host.stp[2], kStpEnabled);
  EXPECT_EQ(engine.port(2).role, kRoleNonStp);
  engine.set_port_config(2, PortConfig{});
  engine.finish_work();
  EXPECT_EQ(host.stp[2], kStpBlocking);
}

}  // namespace
}  // namespace rstp::test

namespace rstp::test {
namespace {

TEST(Aggregation, SendsOnTheFirstMemberAndCountsFramesOfEveryMember) {
  Network net;
  Node &a = net.add(1, 4096);
  Node &b = net.add(2);
  a.host.speed[3] = a.host.speed[4] = b.host.speed[3] = b.host.speed[4] = 100;
  net.start();
  net.connect(a, 3, b, 4);
  net.connect(a, 4, b, 3);
  const uint32_t members[7] = {0, 0, 0, 1, 1, 0, 0};
  a.engine.aggr_add(7, members);
  b.engine.aggr_add(7, members);
  net.ticks(5);
  EXPECT_EQ(a.engine.port(7).path_cost, 100000u);
  EXPECT_EQ(a.engine.representative(4), 7u);
  for (const Sent &s : a.host.sent)
    if (s.bytes[20] == kBpduRst && s.port == 4)
      ADD_FAILURE() << "an aggregation sends on its first member only";
  const Sent &last = a.host.sent.back();
  EXPECT_EQ(last.port, 3u);
  EXPECT_TRUE(std::equal(a.host.macs[3].begin(), a.host.macs[3].end(), last.bytes.begin() + 6));
  EXPECT_GT(b.engine.port(7).counters.rst_received, 0u) << "received on member 4, counted on the aggregation";
  EXPECT_EQ(b.engine.port(4).counters.rst_received, 0u);
  EXPECT_EQ(b.engine.port(7).role, kRoleRoot);
  EXPECT_EQ(b.host.stp[3], kStpForwarding);
  EXPECT_EQ(b.host.stp[4], kStpForwarding) << "members follow the aggregation port's state";

  a.engine.aggr_del(7);
  b.engine.aggr_del(7);
  net.ticks(40);
  EXPECT_EQ(b.engine.representative(4), 4u);
  EXPECT_TRUE(b.engine.port(7).boring());
  int alternates = (b.engine.port(3).role == kRoleAlternate) + (b.engine.port(4).role == kRoleAlternate);
  EXPECT_EQ(alternates, 1) << "two plain links between two bridges: one blocks";
}

TEST(Aggregation, AMemberWithoutSpanningTreeLeavesEveryMemberUnmapped) {
  FakeHost host{1};
  Engine engine{host};
  host.link[1] = host.link[2] = true;
  engine.start();
  PortConfig off;
  off.enabled = 0;
  engine.set_port_config(2, off);
  const uint32_t members[7] = {0, 1, 1, 0, 0, 0, 0};
  engine.aggr_add(8, members);
  EXPECT_TRUE(host.traced("Running LACP without RSTP on port 2"));
  EXPECT_EQ(engine.representative(1), 1u);
  EXPECT_FALSE(engine.port(1).boring());
  EXPECT_TRUE(engine.port(8).boring());
}

}  // namespace
}  // namespace rstp::test
