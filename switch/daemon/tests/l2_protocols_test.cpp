// The L2 module's protocol slots: the protocol modules start, read their configuration, hear of link
// and VLAN changes and run their per-pass work in the daemon's fixed orders.
#include "l2_fixture.h"
#include "l2_vlan.h"
#include "port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> calls;

template <L2ProtocolId Id>
struct Recorder {
  static std::string name() { return Id == kL2ProtoAggr ? "aggr" : Id == kL2ProtoRstp ? "rstp" : "dot1x"; }
  static void init() { calls.push_back(name() + " init"); }
  static void conf(int create) { calls.push_back(name() + (create ? " create" : " read")); }
  static bool mgmt(MgmtObject &object) {
    if (object.obj_id() != 4017 + Id) return false;
    calls.push_back(name() + " mgmt");
    object.set_res(kMgmtResOk);
    return true;
  }
  static void more_work() { calls.push_back(name() + " work"); }
  static void link_changed(unsigned port, int link) {
    calls.push_back(name() + " link " + std::to_string(port) + " " + std::to_string(link));
  }
  static void receive(uint32_t port, const uint8_t *, uint32_t) {
    calls.push_back(name() + " rx " + std::to_string(port));
  }
  static void vlan_add(uint32_t vid, const uint32_t *member) {
    std::string ports;
    for (unsigned p = 1; p <= kPortCount; ++p) ports += member[p] ? std::to_string(p) : "-";
    calls.push_back(name() + " vlan " + std::to_string(vid) + " " + ports);
  }
  static void vlan_del(uint32_t vid) { calls.push_back(name() + " vlan del " + std::to_string(vid)); }
  static L2Protocol slot() {
    return L2Protocol{init, conf, mgmt, more_work, link_changed, receive, vlan_add, vlan_del, nullptr};
  }
};

// The slots are filled before the L2 module starts, as portvisor's main does.
class L2Protocols : public L2Fixture {
 protected:
  void SetUp() override {
    calls.clear();
    loop_hooks_init();
    l2_protocol_set(kL2ProtoAggr, Recorder<kL2ProtoAggr>::slot());
    l2_protocol_set(kL2ProtoRstp, Recorder<kL2ProtoRstp>::slot());
    l2_protocol_set(kL2ProtoDot1x, Recorder<kL2ProtoDot1x>::slot());
    L2Fixture::SetUp();
  }
  void TearDown() override {
    for (int id = 0; id < kL2Protos; ++id) l2_protocol_set(static_cast<L2ProtocolId>(id), L2Protocol{});
    loop_hooks_init();
    L2Fixture::TearDown();
  }
  static std::vector<std::string> matching(const std::string &what) {
    std::vector<std::string> out;
    for (const auto &c : calls)
      if (c.find(what) != std::string::npos) out.push_back(c);
    return out;
  }
};

TEST_F(L2Protocols, StartAndConfigurationFollowTheDaemonsOrder) {
  // A first start: the store creates the defaults (create), then l2_init reads them (read).
  std::vector<std::string> order;
  for (const auto &c : calls)
    if (c.find(" init") != std::string::npos || c.find(" create") != std::string::npos ||
        c.find(" read") != std::string::npos)
      order.push_back(c);
  EXPECT_EQ(order,
            (std::vector<std::string>{"aggr create", "rstp create", "dot1x create", "rstp init", "dot1x init",
                                      "aggr init", "aggr read", "rstp read", "dot1x read"}));
}

TEST_F(L2Protocols, SpanningTreeLearnsTheVlansTheTableHeldAtItsStartAndEveryChange) {
  // VLAN 1 with all ports stood in the table before the spanning tree started; the configuration
  // read then brought the defaults 1, 2 and 6.
  const auto vlans = matching("rstp vlan");
  ASSERT_GE(vlans.size(), 4u);
  EXPECT_EQ(vlans[0], "rstp vlan 1 123456");
  const auto init = std::find(calls.begin(), calls.end(), "rstp init");
  const auto first = std::find(calls.begin(), calls.end(), vlans[0]);
  EXPECT_LT(init, first) << "announced once the engine exists";
  EXPECT_EQ(std::vector<std::string>(vlans.end() - 3, vlans.end()),
            (std::vector<std::string>{"rstp vlan 1 1----6", "rstp vlan 2 -23456", "rstp vlan 6 -23456"}));
  calls.clear();
  L2VlanEntry e{};
  e.vid = 9;
  e.member[3] = 1;
  ASSERT_GE(vlan_config_add(e), 0);
  EXPECT_EQ(vlan_config_del(9), 3);
  EXPECT_EQ(vlan_config_del(9), -1) << "not in the table: the spanning tree hears nothing";
  EXPECT_EQ(calls, (std::vector<std::string>{"rstp vlan 9 --3---", "rstp vlan del 9"}));
  e.vid = 4096;
  EXPECT_EQ(vlan_config_add(e), -1);
  EXPECT_TRUE(matching("vlan 4096").empty()) << "a VLAN the table refused never reaches the spanning tree";
}

TEST_F(L2Protocols, LinkChangesAndPassWorkReachLacpThenRstpThen8021x) {
  calls.clear();
  l2_link_changed(3, 1);
  l2_link_changed(3, 0);
  l2_protocols_more_work();
  EXPECT_EQ(calls, (std::vector<std::string>{"aggr link 3 1", "rstp link 3 1", "dot1x link 3 1",
                                             "aggr link 3 0", "rstp link 3 0", "dot1x link 3 0", "aggr work",
                                             "rstp work", "dot1x work"}));
}

TEST_F(L2Protocols, FramesAndObjectsReachTheirModule) {
  calls.clear();
  const uint8_t lacpdu[60] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0x88, 0x09, 1};
  uint8_t bpdu[60] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 39, 0x42, 0x42, 0x03};
  EXPECT_TRUE(l2_frame_dispatch(2, lacpdu, sizeof lacpdu));
  EXPECT_TRUE(l2_frame_dispatch(5, bpdu, sizeof bpdu));
  EXPECT_EQ(res(request(4017, kMgmtCmdGet, {})), 0u);
  EXPECT_EQ(res(request(4018, kMgmtCmdGet, {})), 0u);
  EXPECT_EQ(res(request(4014, kMgmtCmdGet, {})), 2u);
  EXPECT_EQ(calls, (std::vector<std::string>{"aggr rx 2", "rstp rx 5", "aggr mgmt", "rstp mgmt"}));
}

}  // namespace
