// The peers themselves, before the switch meets them: two Open vSwitch instances in namespaces of their
// own form an LACP bond and a spanning tree over veth pairs, and leave nothing behind. Needs root.
#include "ovs_peer.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>

using namespace peers;
using namespace std::chrono_literals;

namespace {

// Two namespaces joined by two veth pairs: l1a-l1b and l2a-l2b.
class TwoLinkedNamespaces : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *link : {"l1", "l2"})
      ASSERT_TRUE(shell(std::string("ip link add ") + link + "a netns " + a.name() + " type veth peer name " +
                        link + "b netns " + b.name())
                      .ok());
    for (const char *i : {"l1a", "l2a"}) ASSERT_TRUE(a.run(std::string("ip link set ") + i + " up").ok());
    for (const char *i : {"l1b", "l2b"}) ASSERT_TRUE(b.run(std::string("ip link set ") + i + " up").ok());
  }
  Netns a{"pv-peers"};
  Netns b{"pv-peers"};
};

bool both_aggregated(const OvsPeer &peer, const std::vector<std::string> &members) {
  const auto bond = peer.lacp_bond_named("bond0");
  if (!bond) return false;
  for (const std::string &m : members)
    if (!bond->member(m) || !bond->member(m)->aggregated()) return false;
  return true;
}

TEST_F(TwoLinkedNamespaces, OvsPairFormsALacpBondAndLeavesNothingBehind) {
  std::string folder;
  pid_t daemons[2] = {};
  {
    OvsPeer pa(a), pb(b);
    folder = pa.folder();
    ASSERT_TRUE(pa.add_bridge("br0"));
    ASSERT_TRUE(pb.add_bridge("br0"));
    ASSERT_TRUE(pa.add_lacp_bond("br0", "bond0", {"l1a", "l2a"}));
    ASSERT_TRUE(pb.add_lacp_bond("br0", "bond0", {"l1b", "l2b"}));
    ASSERT_TRUE(eventually(
        [&] {
          return both_aggregated(pa, {"l1a", "l2a"}) && both_aggregated(pb, {"l1b", "l2b"});
        },
        20s))
        << pa.appctl("lacp/show").output << pb.appctl("lacp/show").output;
    const auto bond = pa.lacp_bond_named("bond0");
    EXPECT_EQ(bond->member("l1a")->partner.sys_id, pb.lacp_bond_named("bond0")->sys_id);

    // One link down: the bond keeps the other member and drops this one on both sides.
    ASSERT_TRUE(a.run("ip link set l1a down").ok());
    ASSERT_TRUE(eventually(
        [&] {
          const auto states = pb.bond_show();
          return states.size() == 1 && states[0].member("l1b") && !states[0].member("l1b")->enabled &&
                 states[0].member("l2b") && states[0].member("l2b")->enabled;
        },
        20s))
        << pb.appctl("bond/show").output;
    EXPECT_TRUE(both_aggregated(pb, {"l2b"}));
    const std::string pids =
        shell("cat " + folder + "/ovs-vswitchd.pid " + pb.folder() + "/ovs-vswitchd.pid").output;
    ASSERT_EQ(sscanf(pids.c_str(), "%d %d", &daemons[0], &daemons[1]), 2) << pids;
  }
  EXPECT_FALSE(std::filesystem::exists(folder));
  for (pid_t pid : daemons) EXPECT_NE(kill(pid, 0), 0) << "ovs-vswitchd " << pid << " still runs";
}

TEST_F(TwoLinkedNamespaces, OvsPairBuildsASpanningTreeOverALoop) {
  OvsPeer pa(a), pb(b);
  ASSERT_TRUE(pa.add_bridge("br0", "rstp_enable=true"));
  ASSERT_TRUE(pb.add_bridge("br0", "rstp_enable=true other_config:rstp-priority=4096"));
  for (const char *i : {"l1a", "l2a"}) ASSERT_TRUE(pa.add_port("br0", i));
  for (const char *i : {"l1b", "l2b"}) ASSERT_TRUE(pb.add_port("br0", i));
  ASSERT_TRUE(eventually(
      [&] {
        const auto br = pa.rstp_bridge_named("br0");
        return br && br->port("l1a") && br->port("l2a") && br->port("l1a")->role == "Root" &&
               br->port("l1a")->state == "Forwarding" && br->port("l2a")->role == "Alternate";
      },
      20s))
      << pa.appctl("rstp/show").output;
  const auto root = pb.rstp_bridge_named("br0");
  ASSERT_TRUE(root);
  EXPECT_TRUE(root->is_root);
  EXPECT_EQ(pa.rstp_bridge_named("br0")->root_id, root->bridge_id);
  EXPECT_EQ(pa.rstp_bridge_named("br0")->port("l2a")->state, "Discarding");

  // The root port's link pulled: the alternate port takes over at once.
  ASSERT_TRUE(a.run("ip link set l1a down").ok());
  ASSERT_TRUE(eventually(
      [&] {
        const auto br = pa.rstp_bridge_named("br0");
        return br && br->port("l2a") && br->port("l2a")->role == "Root" &&
               br->port("l2a")->state == "Forwarding";
      },
      10s))
      << pa.appctl("rstp/show").output;
}

TEST(LinuxBridgePeer, RunsTheKernelSpanningTreeAndIsRemovedWithItsOwner) {
  Netns ns("pv-peers");
  {
    LinuxBridgePeer bridge(ns, "br9", true, "forward_delay 400 hello_time 100");
    ASSERT_TRUE(
        ns.run("ip link add d0 type veth peer name d1 && ip link set d1 up && ip link set d0 up").ok());
    ASSERT_TRUE(bridge.add_port("d0"));
    EXPECT_EQ(bridge.bridge_id(), bridge.root_id()) << "alone, the bridge is its own root";
    EXPECT_TRUE(eventually([&] { return bridge.port_state("d0") == "forwarding"; }, 20s))
        << bridge.port_state("d0");
    EXPECT_EQ(bridge.port_state("nothing"), "unknown");
  }
  EXPECT_FALSE(ns.run("ip link show br9").ok());
}

}  // namespace
