// Several bridges back to back on an in-memory wire, driven by a virtual one-second tick.
#include "rstp_net.h"

#include <gtest/gtest.h>

namespace rstp::test {
namespace {

const Port &port(Node &n, unsigned p) {
  return n.engine.port(p);
}
const Bridge &bridge(Node &n) {
  return n.engine.bridge(unsigned(n.engine.bridge_of_vid(kDefaultVid)));
}

// Only protocol ports: the front ports not cabled in a test stay edge ports without link.
void no_edge(Node &n, unsigned p) {
  PortConfig c;
  c.admin_edge = 0;
  n.engine.set_port_config(p, c);
}

TEST(RootElection, LowestPriorityWinsAndEveryOtherBridgePointsAtIt) {
  Network net;
  Node &a = net.add(1, 32768);
  Node &b = net.add(2, 4096);
  net.start();
  net.connect(a, 1, b, 1);
  net.ticks(3);
  EXPECT_EQ(bridge(b).root_port_id, 0);
  EXPECT_EQ(bridge(a).root_priority.root, bridge(b).id);
  EXPECT_EQ(port(a, 1).role, kRoleRoot);
  EXPECT_EQ(port(b, 1).role, kRoleDesignated);
  EXPECT_EQ(bridge(a).root_priority.root_path_cost, 20000u);
  EXPECT_EQ(bridge(b).id.priority, 0x1000 | (kDefaultVid & 0xFFF));
}

TEST(RootElection, EqualPriorityFallsBackToTheLowerMac) {
  Network net;
  Node &a = net.add(7);
  Node &b = net.add(3);
  net.start();
  net.connect(a, 2, b, 5);
  net.ticks(3);
  EXPECT_EQ(bridge(b).root_port_id, 0);
  EXPECT_EQ(port(a, 2).role, kRoleRoot);
  EXPECT_TRUE(b.host.traced("For brige") == false);
}

TEST(RapidTransition, ProposalAndAgreementForwardWithoutWaitingForwardDelay) {
  Network net;
  Node &a = net.add(1, 4096);
  Node &b = net.add(2);
  net.start();
  no_edge(a, 1);
  no_edge(b, 1);
  net.connect(a, 1, b, 1);
  net.ticks(2);  // forward delay is 15 ticks
  EXPECT_EQ(port(a, 1).stp_state, kStpForwarding);
  EXPECT_EQ(port(b, 1).stp_state, kStpForwarding);
  EXPECT_EQ(a.host.stp[1], kStpForwarding);
  EXPECT_EQ(b.host.stp[1], kStpForwarding);
}

TEST(RapidTransition, SharedMediaWaitsTwiceTheForwardDelay) {
  Network net;
  Node &a = net.add(1, 4096);
  Node &b = net.add(2);
  a.host.duplex[1] = b.host.duplex[1] = false;
  net.start();
  no_edge(a, 1);
  no_edge(b, 1);
  net.connect(a, 1, b, 1);
  net.ticks(10);
  EXPECT_NE(port(a, 1).stp_state, kStpForwarding);
  EXPECT_FALSE(port(a, 1).oper_p2p);
  net.ticks(25);
  EXPECT_EQ(port(a, 1).stp_state, kStpForwarding);
  EXPECT_EQ(port(b, 1).stp_state, kStpForwarding);
}

struct Ring : ::testing::Test {
  // a (root) port 1 - b port 1; b port 2 - c port 2; c port 1 - a port 2.
  void SetUp() override {
    a = &net.add(1, 4096);
    b = &net.add(2, 8192);
    c = &net.add(3, 32768);
    net.start();
    for (Node *n : {a, b, c})
      for (unsigned p : {1u, 2u}) no_edge(*n, p);
    net.connect(*a, 1, *b, 1);
    net.connect(*b, 2, *c, 2);
    net.connect(*c, 1, *a, 2);
    net.ticks(40);
  }
  Network net;
  Node *a = nullptr, *b = nullptr, *c = nullptr;
};

TEST_F(Ring, ConvergesWithExactlyOneAlternatePortOnTheWorstBridge) {
  EXPECT_EQ(port(*a, 1).role, kRoleDesignated);
  EXPECT_EQ(port(*a, 2).role, kRoleDesignated);
  EXPECT_EQ(port(*b, 1).role, kRoleRoot);
  EXPECT_EQ(port(*b, 2).role, kRoleDesignated);
  EXPECT_EQ(port(*c, 1).role, kRoleRoot);
  EXPECT_EQ(port(*c, 2).role, kRoleAlternate);
  EXPECT_EQ(c->host.stp[2], kStpBlocking);
  int forwarding = 0;
  for (Node *n : {a, b, c})
    for (unsigned p : {1u, 2u}) forwarding += n->host.stp[p] == kStpForwarding;
  EXPECT_EQ(forwarding, 5);
}

TEST_F(Ring, LinkFailureReconvergesThroughTheAlternate) {
  net.unplug(*a, 2);  // c loses its root port
  net.ticks(3);
  EXPECT_EQ(port(*c, 2).role, kRoleRoot);
  EXPECT_EQ(c->host.stp[2], kStpForwarding);
  EXPECT_EQ(port(*c, 1).role, kRoleDisabled);
  EXPECT_EQ(bridge(*c).root_priority.root, bridge(*a).id);
  EXPECT_EQ(bridge(*c).root_priority.root_path_cost, 40000u);
}

TEST_F(Ring, SilentRootAgesOutAndTheNextBestBridgeTakesOver) {
  net.mute(*a, 1, true);
  net.mute(*a, 2, true);
  net.ticks(8);  // received information lives 3 hello times
  EXPECT_EQ(bridge(*b).root_port_id, 0);
  EXPECT_EQ(bridge(*c).root_priority.root, bridge(*b).id);
  EXPECT_EQ(port(*c, 2).role, kRoleRoot);
  net.ticks(40);
  EXPECT_EQ(c->host.stp[2], kStpForwarding);
}

TEST_F(Ring, TopologyChangeFlushesTheOtherPortsAndReachesTheNeighbours) {
  for (Node *n : {a, b, c}) n->host.flushes.clear();
  net.unplug(*a, 2);  // c's alternate becomes root port and starts forwarding: a topology change
  net.ticks(2);
  auto flushed_other = [](Node &n, unsigned except) {
    for (const Flush &f : n.host.flushes)
      if (f.flush_port == 1 && f.port != except) return true;
    return false;
  };
  EXPECT_TRUE(flushed_other(*c, 2));
  EXPECT_TRUE(flushed_other(*b, 2));  // told through the TC flag
  for (Node *n : {a, b, c})
    for (const Flush &f : n->host.flushes)
      EXPECT_EQ(f.flush_vlan, 0) << "the default instance flushes without a VLAN";
}

TEST(EdgePorts, ForwardAfterTheEdgeDelayWithoutBpdus) {
  Network net;
  Node &a = net.add(1);
  a.host.link[4] = true;
  net.start();
  a.host.flushes.clear();
  net.ticks(2);
  EXPECT_NE(a.host.stp[4], kStpForwarding);
  net.ticks(2);
  EXPECT_EQ(a.host.stp[4], kStpForwarding);
  EXPECT_TRUE(port(a, 4).oper_edge);
  EXPECT_TRUE(a.host.traced("port 4 'edge' resolved by timer"));
  EXPECT_TRUE(a.host.flushes.empty()) << "an edge port going forwarding is no topology change";
}

TEST(EdgePorts, ABpduDuringTheEdgeDelayKeepsThePortNonEdge) {
  Network net;
  Node &a = net.add(1);
  Node &b = net.add(2);
  net.start();
  net.connect(a, 3, b, 3);
  net.ticks(5);
  EXPECT_FALSE(port(a, 3).oper_edge);
  EXPECT_FALSE(port(b, 3).oper_edge);
  EXPECT_TRUE(a.host.traced("port 3 'edge' resolved by BPDU"));
}

TEST(LegacyNeighbour, RstpBridgeFallsBackToConfigurationBpdusAndTcns) {
  Network net;
  Node &legacy = net.add(1, 4096, 0);
  Node &rapid = net.add(2);
  net.start();
  no_edge(legacy, 1);
  no_edge(rapid, 1);
  no_edge(rapid, 2);
  rapid.host.link[2] = true;  // a second, silent segment on the RSTP bridge
  rapid.engine.linkstate_changed(2, true);
  net.connect(legacy, 1, rapid, 1);
  net.ticks(6);
  EXPECT_FALSE(port(rapid, 1).send_rstp);
  EXPECT_TRUE(port(rapid, 2).send_rstp);
  size_t from = rapid.host.sent.size();
  size_t legacy_from = legacy.host.sent.size();
  net.ticks(40);  // the silent segment goes forwarding after twice the forward delay: a topology change
  bool tcn = false, rst_on_1 = false;
  for (size_t i = from; i < rapid.host.sent.size(); ++i) {
    const Sent &s = rapid.host.sent[i];
    if (s.port == 1) {
      tcn = tcn || s.bytes[20] == kBpduTcn;
      rst_on_1 = rst_on_1 || s.bytes[20] == kBpduRst;
    }
  }
  EXPECT_TRUE(tcn);
  EXPECT_FALSE(rst_on_1);
  bool acked = false;
  for (size_t i = legacy_from; i < legacy.host.sent.size(); ++i) {
    const Sent &s = legacy.host.sent[i];
    EXPECT_NE(s.bytes[20], kBpduRst);
    acked = acked || (s.bytes[20] == kBpduConfig && (s.bytes[21] & kFlagTcAck));
  }
  EXPECT_TRUE(acked);
  EXPECT_EQ(port(rapid, 1).role, kRoleRoot);
  EXPECT_GT(port(legacy, 1).counters.tcn_received, 0u);
}

TEST(LegacyNeighbour, ForceVersionZeroIgnoresRstBpdus) {
  Network net;
  Node &legacy = net.add(1, 32768, 0);
  Node &rapid = net.add(2, 4096);
  net.start();
  net.connect(legacy, 1, rapid, 1);
  net.ticks(6);
  EXPECT_GT(port(legacy, 1).counters.rst_received, 0u);
  EXPECT_EQ(port(legacy, 1).role, kRoleRoot);
  EXPECT_GT(port(legacy, 1).counters.config_received, 0u);
  for (const Sent &s : legacy.host.sent) EXPECT_NE(s.bytes[20], kBpduRst);
}

TEST(Transmit, AtMostThreeBpdusPerPortPerTick) {
  Network net;
  Node &a = net.add(5);
  a.host.link[1] = true;
  net.start();
  no_edge(a, 1);
  net.ticks(20);
  // A peer flapping between a better and a worse root makes the port send again and again.
  Bpdu better;
  better.version = 2;
  better.type = kBpduRst;
  better.flags = kBpduRoleDesignated << kFlagRoleShift;
  better.vector.root = better.vector.designated_bridge = {0x1000, {0x02, 0, 0, 0, 9, 1}};
  better.vector.designated_port = 0x8001;
  better.times = {0, 20, 15, 2};
  Bpdu worse = better;
  worse.vector.root = worse.vector.designated_bridge = {0xF000, {0x02, 0, 0, 0, 9, 1}};
  size_t before = a.host.sent.size();
  for (int i = 0; i < 10; ++i) {
    uint8_t frame[60] = {};
    encode_bpdu(i % 2 ? better : worse, Mac{0x02, 0, 0, 0, 9, 1}, frame);
    a.engine.receive(1, frame, sizeof frame);
    a.engine.finish_work();
  }
  EXPECT_LE(a.host.sent.size() - before, 3u);
  EXPECT_GT(a.host.sent.size() - before, 0u);
}

TEST(HostileInput, ShortUnknownAndLyingFramesAreCountedAndDropped) {
  Network net;
  Node &a = net.add(1);
  a.host.link[1] = true;
  net.start();
  uint8_t frame[60] = {};
  a.engine.receive(1, frame, 55);
  EXPECT_EQ(port(a, 1).counters.illegal, 1u);
  a.engine.receive(1, frame, 60);  // no LLC header
  EXPECT_EQ(port(a, 1).counters.unrecognised, 1u);
  Bpdu b;
  b.type = kBpduRst;
  b.version = 2;
  encode_bpdu(b, Mac{}, frame);
  frame[13] = 0xFF;
  a.engine.receive(1, frame, 60);
  EXPECT_EQ(port(a, 1).counters.illegal, 2u);
  EXPECT_EQ(port(a, 1).counters.rst_received, 0u);
}

TEST(HostileInput, HelloTimeZeroFromAPeerDoesNotHangTheBridge) {
  Network net;
  Node &a = net.add(1);
  a.host.link[1] = true;
  net.start();
  no_edge(a, 1);
  Bpdu b;
  b.version = 2;
  b.type = kBpduRst;
  b.flags = kBpduRoleDesignated << kFlagRoleShift;
  b.vector.root = b.vector.designated_bridge = {0x1000, {0x02, 0, 0, 0, 9, 1}};
  b.vector.designated_port = 0x8001;
  b.times = {0, 0, 0, 0};
  uint8_t frame[60] = {};
  encode_bpdu(b, Mac{}, frame);
  a.engine.receive(1, frame, sizeof frame);
  net.ticks(2);
  EXPECT_EQ(port(a, 1).role, kRoleRoot);
  EXPECT_EQ(bridge(a).root_times.hello_time, kMinHello);
  EXPECT_EQ(bridge(a).root_times.forward_delay, kMinForwardDelay);
  EXPECT_FALSE(a.host.traced("did not settle"));
}

TEST(PathCosts, SlowerLinksCostMoreAndAnAdminCostWins) {
  Network net;
  Node &a = net.add(1);
  a.host.link[1] = a.host.link[2] = true;
  a.host.speed[1] = 10;
  net.start();
  EXPECT_EQ(port(a, 1).path_cost, 2000000u);
  EXPECT_EQ(port(a, 2).path_cost, 20000u);
  PortConfig c;
  c.admin_cost = 1234;
  a.engine.set_port_config(2, c);
  net.ticks(1);
  EXPECT_EQ(port(a, 2).path_cost, 1234u);
}

}  // namespace
}  // namespace rstp::test
