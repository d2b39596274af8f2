// RSTP of portvisor on the simulated board against real bridges: Open vSwitch looped onto front ports 2
// and 3 (both in VLAN 2 of the default configuration) settles with one discarding port, follows the
// priorities set through object 4019, and turns the alternate port forwarding when the root port's cable
// is pulled; the kernel's 802.1D bridge makes the ports fall back to configuration BPDUs until a migration
// check (object 4021) after an RSTP peer took its place; every BPDU the switch sends reads cleanly in
// tshark; malformed BPDUs are counted and dropped. Needs root.
#include "ovs_peer.h"
#include "protocol_objects.h"
#include "simulated_switch.h"

#include <gtest/gtest.h>

#include <set>

using namespace peers;
using namespace std::chrono_literals;

namespace {

class SwitchNetwork : public ::testing::Environment {
 public:
  void SetUp() override { isolate_network(); }
};
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new SwitchNetwork);

std::optional<RstpStatus> status_of(const SimulatedSwitch &sw) {
  const auto bytes = sw.get(kObjRstpStatus, RstpStatus::kSize);
  if (!bytes) return std::nullopt;
  return RstpStatus::decode(*bytes);
}

// The bridge instance that holds front port p.
const RstpBridgeStatus *instance_of(const RstpStatus &s, unsigned p) {
  for (const RstpBridgeStatus &b : s.bridges)
    if (b.enabled && b.vlan == s.ports[p].vlan) return &b;
  return nullptr;
}

// Short timers (forward delay 4 s, max age 6 s, hello 2 s) and RSTP on every port, bridge priority as given.
bool configure_rstp(const SimulatedSwitch &sw, uint16_t priority, uint8_t force_version = 2) {
  const auto bytes = sw.get(kObjRstpConfig, RstpConfig::kSize);
  if (!bytes) return false;
  RstpConfig c = RstpConfig::decode(*bytes);
  c.priority = priority;
  c.max_age = 6;
  c.hello = 2;
  c.forward_delay = 4;
  c.force_version = force_version;
  for (RstpPortConfig &p : c.ports) p.enabled = 1;
  return sw.set(kObjRstpConfig, c.encode());
}

std::string interface_mac(const Netns &ns, const std::string &ifname) {
  std::string mac = ns.run("cat /sys/class/net/" + ifname + "/address").output;
  while (!mac.empty() && mac.back() == '\n') mac.pop_back();
  return mac;
}

// "8000.aabbccddeeff", as the kernel shows a bridge identifier, to "aa:bb:cc:dd:ee:ff".
std::string kernel_id_mac(const std::string &id) {
  const std::string hex = id.substr(id.find('.') + 1);
  std::string mac;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) mac += (i ? ":" : "") + hex.substr(i, 2);
  return mac;
}

bool discarding(const RstpPortStatus &p) {
  return p.state == RstpState::kDiscarding;
}
bool forwarding_as(const RstpPortStatus &p, RstpRole role) {
  return p.role == role && p.state == RstpState::kForwarding;
}
bool ovs_port_is(const OvsPeer &ovs, const std::string &ifname, const std::string &role,
                 const std::string &state) {
  const auto br = ovs.rstp_bridge_named("br0");
  return br && br->port(ifname) && br->port(ifname)->role == role && br->port(ifname)->state == state;
}

// Front ports 2 and 3 looped onto one peer bridge in namespace `peer`; a host on port 4 in `hosts`.
class LoopOntoAPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.adopt_bridge_port("swp2") && peer.adopt_bridge_port("swp3"));
    ASSERT_TRUE(hosts.adopt("swp4"));
    ASSERT_TRUE(hosts.run("ip addr add 10.79.0.1/24 dev swp4").ok());
  }
  bool ping() const { return hosts.run("ping -c 1 -W 1 10.79.0.2").ok(); }
  bool pings_within(std::chrono::seconds limit) const {
    return eventually([&] { return ping(); }, limit, 100ms);
  }
  std::string report() const {
    std::string text;
    if (const auto s = status_of(sw))
      for (unsigned p : {2u, 3u})
        text += "switch port " + std::to_string(p) + ": " + role_name(s->ports[p].role) + " " +
                state_name(s->ports[p].state) + " old " + std::to_string(s->ports[p].old_protocol) + "\n";
    return text;
  }
  SimulatedSwitch sw;
  Netns peer{"pv-rstp"};
  Netns hosts{"pv-rstp"};
};

class RstpWithOvs : public LoopOntoAPeer {
 protected:
  void SetUp() override {
    LoopOntoAPeer::SetUp();
    if (HasFatalFailure()) return;
    ovs = std::make_unique<OvsPeer>(peer);
    ASSERT_TRUE(ovs->add_bridge(
        "br0", "rstp_enable=true other_config:rstp-forward-delay=4 other_config:rstp-max-age=6"));
    ASSERT_TRUE(ovs->add_port("br0", "swp2") && ovs->add_port("br0", "swp3"));
    ASSERT_TRUE(peer.run("ip addr add 10.79.0.2/24 dev br0 && ip link set br0 up").ok());
  }
  // The switch below the root Open vSwitch: one root port forwarding, the other discarding as alternate
  // or backup, both ports of the root designated and forwarding.
  bool settled_below_ovs() const {
    const auto s = status_of(sw);
    if (!s) return false;
    const RstpPortStatus &p2 = s->ports[2], &p3 = s->ports[3];
    const auto blocked = [](const RstpPortStatus &p) {
      return discarding(p) && (p.role == RstpRole::kAlternate || p.role == RstpRole::kBackup);
    };
    return ((forwarding_as(p2, RstpRole::kRoot) && blocked(p3)) ||
            (forwarding_as(p3, RstpRole::kRoot) && blocked(p2))) &&
           ovs_port_is(*ovs, "swp2", "Designated", "Forwarding") &&
           ovs_port_is(*ovs, "swp3", "Designated", "Forwarding");
  }
  // The switch as root: its two ports designated and forwarding, Open vSwitch with a root port and an
  // alternate one.
  bool settled_as_root() const {
    const auto s = status_of(sw);
    if (!s) return false;
    const auto br = ovs->rstp_bridge_named("br0");
    if (!br || !br->port("swp2") || !br->port("swp3")) return false;
    const std::set<std::string> ovs_roles = {br->port("swp2")->role + " " + br->port("swp2")->state,
                                             br->port("swp3")->role + " " + br->port("swp3")->state};
    return forwarding_as(s->ports[2], RstpRole::kDesignated) &&
           forwarding_as(s->ports[3], RstpRole::kDesignated) &&
           ovs_roles == std::set<std::string>{"Root Forwarding", "Alternate Discarding"};
  }
  std::string report() const { return LoopOntoAPeer::report() + ovs->appctl("rstp/show").output; }
  std::unique_ptr<OvsPeer> ovs;
};

TEST_F(RstpWithOvs, LoopSettlesWithOneDiscardingPortAndRolesAgreeOnBothSides) {
  const std::string file = sw.folder() + "/swp2.pcap";
  Capture bpdus(peer, {"swp2", "swp3"}, file, "stp");
  const std::string own_mac = interface_mac(peer, "swp2");
  // Open vSwitch (32768) is root: the switch's instance priority carries its VLAN id in the low bits.
  ASSERT_TRUE(configure_rstp(sw, 32768));
  ASSERT_TRUE(eventually([&] { return settled_below_ovs(); }, 40s)) << report();

  const RstpStatus s = *status_of(sw);
  const RstpBridgeStatus *bridge = instance_of(s, 2);
  ASSERT_NE(bridge, nullptr);
  EXPECT_EQ(instance_of(s, 3), bridge) << "both looped ports in one instance";
  const auto root = ovs->rstp_bridge_named("br0");
  ASSERT_TRUE(root && root->is_root);
  EXPECT_EQ(colon_text(bridge->root.mac), root->bridge_id);
  EXPECT_EQ(bridge->root.priority, root->bridge_priority);
  EXPECT_EQ(bridge->root_cost,
            s.ports[2].role == RstpRole::kRoot ? s.ports[2].path_cost : s.ports[3].path_cost);
  EXPECT_EQ(bridge->forward_delay, 4);
  EXPECT_EQ(bridge->max_age, 6);
  for (unsigned p : {2u, 3u}) {
    EXPECT_EQ(s.ports[p].old_protocol, 0) << "port " << p;
    EXPECT_GT(s.ports[p].rst_received(), 0u);
    EXPECT_EQ(s.ports[p].illegal(), 0u);
    EXPECT_EQ(s.ports[p].edge, 0) << "a bridge on the other end";
    EXPECT_EQ(s.ports[p].p2p, 1);
  }
  EXPECT_TRUE(pings_within(20s)) << "frames cross the loop through its forwarding link";

  bpdus.stop();
  const std::string from_switch = "stp && eth.src != " + own_mac;
  const auto sent = dissect(file, from_switch, "-e stp.version -e stp.type");
  ASSERT_FALSE(sent.empty());
  for (const std::string &line : sent) EXPECT_EQ(line, "2,0x02") << "RST BPDUs only";
  const auto problems = dissector_problems(file, "stp");
  EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST_F(RstpWithOvs, PrioritiesSetOnTheSwitchMoveTheRootBothWays) {
  ASSERT_TRUE(configure_rstp(sw, 4096));
  ASSERT_TRUE(eventually([&] { return settled_as_root(); }, 40s)) << report();
  const RstpStatus s = *status_of(sw);
  const RstpBridgeStatus *bridge = instance_of(s, 2);
  ASSERT_NE(bridge, nullptr);
  EXPECT_EQ(bridge->root, bridge->bridge) << "the switch is its own root";
  EXPECT_EQ(bridge->bridge.priority & 0xF000, 4096);
  const auto seen = ovs->rstp_bridge_named("br0");
  EXPECT_EQ(seen->root_id, colon_text(bridge->bridge.mac));
  EXPECT_FALSE(seen->is_root);
  EXPECT_TRUE(pings_within(20s));

  ASSERT_TRUE(configure_rstp(sw, 61440));
  ASSERT_TRUE(eventually([&] { return settled_below_ovs(); }, 40s)) << report();
  EXPECT_TRUE(ovs->rstp_bridge_named("br0")->is_root);
  EXPECT_EQ(instance_of(*status_of(sw), 2)->bridge.priority & 0xF000, 61440);
  EXPECT_TRUE(pings_within(20s));
}

TEST_F(RstpWithOvs, PulledRootPortCableTurnsTheAlternateForwarding) {
  ASSERT_TRUE(configure_rstp(sw, 32768));
  ASSERT_TRUE(eventually([&] { return settled_below_ovs(); }, 40s)) << report();
  const RstpStatus before = *status_of(sw);
  const unsigned root_port = before.ports[2].role == RstpRole::kRoot ? 2 : 3;
  const unsigned alternate = 5 - root_port;
  ASSERT_TRUE(pings_within(20s));

  ASSERT_TRUE(sw.cable(root_port, false));
  ASSERT_TRUE(eventually(
      [&] {
        const auto s = status_of(sw);
        return s && forwarding_as(s->ports[alternate], RstpRole::kRoot) &&
               s->ports[root_port].role == RstpRole::kDisabled;
      },
      10s))
      << report();
  EXPECT_TRUE(pings_within(10s)) << "frames take the former alternate link";

  ASSERT_TRUE(sw.cable(root_port, true));
  ASSERT_TRUE(eventually([&] { return settled_below_ovs(); }, 40s)) << report();
}

// The kernel's bridge speaks 802.1D only: the switch's looped ports fall back to configuration BPDUs and
// the loop is cut; when an RSTP bridge takes the Linux bridge's place, the migration check brings them
// back. The switch is root throughout, so its ports are designated and speak on every hello.
TEST_F(LoopOntoAPeer, OldProtocolPeerMakesThePortsFallBackUntilAMigrationCheck) {
  const std::string file = sw.folder() + "/bpdus.pcap";
  Capture bpdus(peer, {"swp2", "swp3"}, file, "stp");
  const std::string mac2 = interface_mac(peer, "swp2"), mac3 = interface_mac(peer, "swp3");
  ASSERT_TRUE(configure_rstp(sw, 4096));
  {
    // Times in hundredths of a second.
    LinuxBridgePeer bridge(peer, "br0", true, "forward_delay 400 hello_time 200 max_age 600");
    ASSERT_TRUE(bridge.add_port("swp2") && bridge.add_port("swp3"));
    ASSERT_TRUE(peer.run("ip addr add 10.79.0.2/24 dev br0").ok());
    const auto loop_cut = [&] {
      const auto s = status_of(sw);
      if (!s) return false;
      for (unsigned p : {2u, 3u})
        if (s->ports[p].old_protocol != 1 || !forwarding_as(s->ports[p], RstpRole::kDesignated)) return false;
      const std::set<std::string> kernel = {bridge.port_state("swp2"), bridge.port_state("swp3")};
      return kernel == std::set<std::string>{"blocking", "forwarding"};
    };
    ASSERT_TRUE(eventually(loop_cut, 60s))
        << report() << bridge.port_state("swp2") << " " << bridge.port_state("swp3");
    const RstpStatus s = *status_of(sw);
    EXPECT_EQ(kernel_id_mac(bridge.root_id()), colon_text(instance_of(s, 2)->bridge.mac)) << bridge.root_id();
    for (unsigned p : {2u, 3u}) EXPECT_GT(s.ports[p].config_sent(), 0u) << "port " << p;
    EXPECT_TRUE(pings_within(20s));
  }
  bpdus.stop();
  const std::string from_switch = "stp && eth.src != " + mac2 + " && eth.src != " + mac3;
  const auto sent = dissect(file, from_switch, "-e stp.version -e stp.type");
  EXPECT_NE(std::find(sent.begin(), sent.end(), "0,0x00"), sent.end())
      << "configuration BPDUs after the fall-back";
  const auto problems = dissector_problems(file, "stp");
  EXPECT_TRUE(problems.empty()) << problems.front();

  // An RSTP bridge in its place, and the migration check on ports 2 and 3.
  OvsPeer ovs(peer);
  ASSERT_TRUE(ovs.add_bridge(
      "br0", "rstp_enable=true other_config:rstp-forward-delay=4 other_config:rstp-max-age=6"));
  ASSERT_TRUE(ovs.add_port("br0", "swp2") && ovs.add_port("br0", "swp3"));
  std::vector<uint8_t> mcheck(8, 0);
  mcheck[2] = mcheck[3] = 1;
  ASSERT_TRUE(sw.set(kObjRstpMcheck, mcheck));
  const auto rst_sent = [&] {
    const auto s = status_of(sw);
    return s ? s->ports[2].rst_sent() + s->ports[3].rst_sent() : 0;
  };
  const uint32_t rst_before = rst_sent();
  ASSERT_TRUE(eventually(
      [&] {
        const auto s = status_of(sw);
        if (!s || s->ports[2].old_protocol != 0 || s->ports[3].old_protocol != 0) return false;
        const auto br = ovs.rstp_bridge_named("br0");
        if (!br || !br->port("swp2") || !br->port("swp3")) return false;
        const std::set<std::string> roles = {br->port("swp2")->role + " " + br->port("swp2")->state,
                                             br->port("swp3")->role + " " + br->port("swp3")->state};
        return roles == std::set<std::string>{"Root Forwarding", "Alternate Discarding"};
      },
      40s))
      << report() << ovs.appctl("rstp/show").output;
  EXPECT_TRUE(eventually([&] { return rst_sent() > rst_before; }, 10s)) << "the ports send RST BPDUs again";
}

// Bridge frames that fail the checks are counted on their port; the daemon keeps answering.
class MalformedBpdus : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.adopt("swp2"));
    socket = std::make_unique<RawSocket>(peer, "swp2");
    ASSERT_TRUE(socket->ok());
    ASSERT_TRUE(configure_rstp(sw, 32768));
  }
  // A BPDU frame of `length` bytes: LLC, protocol 0, the version and type given, a root that is worse
  // than any real bridge (priority 0xF000), so a frame that is taken changes no role.
  static std::vector<uint8_t> bpdu(size_t length, uint8_t version, uint8_t type) {
    std::vector<uint8_t> f(std::max<size_t>(length, 21), 0);
    const uint8_t head[] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x0C, 0x02};
    std::copy(head, head + sizeof head, f.begin());
    const size_t llc_length = length > 14 ? length - 14 : 0;
    f[12] = static_cast<uint8_t>(llc_length >> 8);
    f[13] = static_cast<uint8_t>(llc_length);
    f[14] = 0x42;
    f[15] = 0x42;
    f[16] = 0x03;
    f[19] = version;
    f[20] = type;
    if (f.size() >= 53) {
      f[22] = 0xF0;
      f[27] = 0x0C;
      f[34] = 0xF0;
      f[39] = 0x0C;
      f[42] = 0x80;
      f[43] = 0x01;
      f[47] = 20;
      f[49] = 2;
      f[51] = 15;
    }
    f.resize(length);
    return f;
  }
  RstpPortStatus port2() const { return status_of(sw)->ports[2]; }
  template <typename Counter>
  bool counted(const std::vector<uint8_t> &frame, Counter counter) {
    const uint32_t before = counter(port2());
    return send_until(*socket, frame, [&] { return counter(port2()) > before; });
  }
  SimulatedSwitch sw;
  Netns peer{"pv-rstp"};
  std::unique_ptr<RawSocket> socket;
};

TEST_F(MalformedBpdus, AreCountedAndTheDaemonCarriesOn) {
  // A configuration BPDU that is whole: the port is up and receiving.
  ASSERT_TRUE(counted(bpdu(60, 0, 0x00), [](const RstpPortStatus &r) { return r.config_received(); }));
  const RstpPortStatus start = port2();
  // Truncated: the frame's length field holds less than its BPDU type needs (the wire pads the frame).
  ASSERT_TRUE(counted(bpdu(40, 0, 0x00), [](const RstpPortStatus &r) { return r.illegal(); }));
  ASSERT_TRUE(counted(bpdu(21, 2, 0x02), [](const RstpPortStatus &r) { return r.illegal(); }));
  // A type nobody defines, and an RST BPDU of a protocol version that has none.
  ASSERT_TRUE(counted(bpdu(60, 0, 0x55), [](const RstpPortStatus &r) { return r.unknown_type(); }));
  ASSERT_TRUE(counted(bpdu(60, 1, 0x02), [](const RstpPortStatus &r) { return r.unknown_type(); }));
  // A later protocol version: still an RST BPDU, read for the fields it defines.
  ASSERT_TRUE(counted(bpdu(60, 3, 0x02), [](const RstpPortStatus &r) { return r.rst_received(); }));
  // Oversized: a configuration BPDU padded to a full frame.
  ASSERT_TRUE(counted(bpdu(1514, 0, 0x00), [](const RstpPortStatus &r) { return r.config_received(); }));

  const RstpPortStatus end = port2();
  EXPECT_EQ(end.unknown_type(), start.unknown_type() + 2);
  EXPECT_GE(end.illegal(), start.illegal() + 2);
  EXPECT_EQ(end.role, RstpRole::kDesignated) << "a worse root changes no role";
  EXPECT_TRUE(sw.daemon_running());
  uint32_t res = 99;
  EXPECT_TRUE(sw.object(8, 0, std::vector<uint8_t>(8), res).has_value());
  EXPECT_EQ(res, 0u);
  EXPECT_TRUE(sw.stop_daemon()) << sw.daemon_log();
}

}  // namespace
