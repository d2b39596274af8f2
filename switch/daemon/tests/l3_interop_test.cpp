// Router legs against the real Linux IP stack: portvisor runs on the chip simulator in this program's
// network namespace (the board's), its front ports swp1 and swp2 are moved into two host namespaces,
// and the hosts ping the board's legs through the chip, the CPU port and the TAP devices. Routes are
// read back with `ip route`, a leg gets its address from dnsmasq, and legs and routes survive restarts
// and default restores as the keep flag says. Needs root.
#include "le.h"
#include "mgmt.h"
#include "mgmt_client.h"
#include "process_util.h"
#include "simulated_board.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

const std::string kSuffix = std::to_string(getpid());
const std::string kHost1 = "l3-host1-" + kSuffix, kHost2 = "l3-host2-" + kSuffix;

std::string in_ns(const std::string &ns, const std::string &command) {
  return "ip netns exec " + ns + " " + command;
}

bool pings(const std::string &ns, const std::string &address) {
  return run(in_ns(ns, "ping -q -c 1 -W 1 " + address + " >/dev/null 2>&1"));
}

// Pings until an answer comes (the front ports come up through the daemon's poll), at most `tries` times.
bool reaches(const std::string &ns, const std::string &address, int tries = 30) {
  for (int i = 0; i < tries; ++i)
    if (pings(ns, address)) return true;
  return false;
}

uint32_t ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return static_cast<uint32_t>(a) << 24 | b << 16 | c << 8 | d;
}

std::vector<uint8_t> words(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> d;
  for (uint32_t v : values) {
    d.resize(d.size() + 4);
    le_store32(&d[d.size() - 4], v);
  }
  return d;
}

// A table object's data with one entry of words.
std::vector<uint8_t> one_entry(uint16_t entry_size, std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> d(4);
  le_store16(&d[0], 1);
  le_store16(&d[2], entry_size);
  const auto entry = words(values);
  d.insert(d.end(), entry.begin(), entry.end());
  return d;
}

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new BoardNamespace);

class RouterLegs : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto &ns : {kHost1, kHost2}) ASSERT_TRUE(run("ip netns add " + ns));
    simulator = start_chip_simulator(device(), dir.path() + "/ctl", {"--front-ports", "swp"});
    ASSERT_TRUE(wait_for_path(device(), 0ms)) << simulator->output();
    ASSERT_TRUE(move_to_netns("swp1", kHost1));
    ASSERT_TRUE(move_to_netns("swp2", kHost2));
    start_daemon();
  }
  void TearDown() override {
    // A DHCP client the test started must not outlive it.
    run("DHCPC_INBAND_STATE=" + dir.path() + "/dhcpc " + std::getenv("DHCPC_SCRIPT") +
        " stop >/dev/null 2>&1");
    stop_daemon();
    if (dnsmasq) {
      kill(dnsmasq->pid(), SIGTERM);
      dnsmasq->wait_exit(5s);
    }
    kill(simulator->pid(), SIGTERM);
    simulator->wait_exit(5s);
    for (const auto &ns : {kHost1, kHost2}) run("ip netns del " + ns);
  }
  std::string device() const { return dir.path() + "/swgenio"; }
  std::string trace_file() const { return dir.path() + "/portvisor.out"; }
  void start_daemon() {
    // The traces go to a file: nobody reads a pipe while the test waits for pings.
    const std::string command =
        std::string("exec ") + std::getenv("PORTVISOR_BIN") + " --trace l3 debug >>" + trace_file() + " 2>&1";
    daemon = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", command},
        std::vector<std::string>{"PORTVISOR_WORKDIR=" + dir.path() + "/work",
                                 "PORTVISOR_PIDFILE=" + dir.path() + "/pid",
                                 "PORTVISOR_SWITCH_DEVICE=" + device(),
                                 std::string("PORTVISOR_DHCP_SCRIPT=") + std::getenv("DHCPC_SCRIPT"),
                                 "DHCPC_INBAND_STATE=" + dir.path() + "/dhcpc"});
    // A peer of its own: the answers a starting daemon gives to all queued probes at once must not
    // be taken for the next start's.
    MgmtClient probe{28};
    bool ready = false;
    for (int i = 0; i < 600 && !ready; ++i) {
      uint32_t res = 99;
      ready = probe.object(8, kMgmtCmdGet, std::vector<uint8_t>(8), res, 50ms).has_value();
    }
    ASSERT_TRUE(ready) << read_text_file(trace_file());
  }
  void stop_daemon() {
    if (!daemon) return;
    kill(daemon->pid(), SIGTERM);
    EXPECT_EQ(daemon->wait_exit(10s), 0);
    daemon.reset();
  }
  uint32_t object(uint32_t obj_id, uint32_t cmd, const std::vector<uint8_t> &data,
                  std::vector<uint8_t> *reply = nullptr) {
    MgmtClient c{28};
    uint32_t res = 99;
    auto got = c.object(obj_id, cmd, data, res, 20s);
    if (reply && got) *reply = *got;
    return got ? res : 99;
  }
  // Object 5003: VID, address, mask, gateway, DHCP, IP enabled.
  uint32_t set_interface(uint32_t vid, uint32_t address, uint32_t mask, uint32_t gateway, uint32_t dhcp) {
    return object(5003, kMgmtCmdSet, words({vid, address, mask, gateway, dhcp, 1}));
  }
  static std::string board(const std::string &command) { return output_of(command + " 2>&1"); }
  static bool device_exists(const std::string &name) {
    return run("ip link show " + name + " >/dev/null 2>&1");
  }

  TempDir dir;
  std::unique_ptr<ChildProcess> simulator, daemon, dnsmasq;
};

TEST_F(RouterLegs, HostsPingTheLegOfTheirVlanOnly) {
  ASSERT_EQ(set_interface(1, ip(192, 168, 1, 1), ip(255, 255, 255, 0), 0, 0), 0u);
  EXPECT_NE(board("ip -4 addr show tap1").find("inet 192.168.1.1/24"), std::string::npos) << board("ip addr");
  ASSERT_TRUE(run(in_ns(kHost1, "ip addr add 192.168.1.10/24 dev swp1")));
  EXPECT_TRUE(reaches(kHost1, "192.168.1.1")) << read_text_file(trace_file());
  // The host's address was learned through ARP over the switch.
  EXPECT_NE(board("ip neigh show dev tap1").find("192.168.1.10"), std::string::npos);

  // Leg 2 in VLAN 2 (ports 2..6): the host on port 2 reaches it, the host on port 1 does not, even with
  // an address of that network.
  ASSERT_EQ(object(5000, kMgmtCmdAdd, one_entry(24, {2, 2, ip(192, 168, 2, 1), ip(255, 255, 255, 0), 0, 0})),
            0u);
  ASSERT_TRUE(run(in_ns(kHost2, "ip addr add 192.168.2.10/24 dev swp2")));
  EXPECT_TRUE(reaches(kHost2, "192.168.2.1")) << read_text_file(trace_file());
  ASSERT_TRUE(run(in_ns(kHost1, "ip addr add 192.168.2.20/24 dev swp1")));
  ASSERT_TRUE(run(in_ns(kHost2, "ip addr add 192.168.1.20/24 dev swp2")));
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(pings(kHost1, "192.168.2.1"));
    EXPECT_FALSE(pings(kHost2, "192.168.1.1"));
  }
  EXPECT_TRUE(pings(kHost1, "192.168.1.1"));
  EXPECT_TRUE(pings(kHost2, "192.168.2.1"));

  // Without IP enabled the legs go quiet; deleting a leg takes its device away.
  ASSERT_EQ(object(5002, kMgmtCmdSet, words({0})), 0u);
  EXPECT_FALSE(pings(kHost1, "192.168.1.1"));
  ASSERT_EQ(object(5002, kMgmtCmdSet, words({1})), 0u);
  EXPECT_TRUE(reaches(kHost1, "192.168.1.1", 5));
  ASSERT_EQ(object(5000, kMgmtCmdDel, one_entry(24, {2, 0, 0, 0, 0, 0})), 0u);
  EXPECT_FALSE(device_exists("tap2"));
  EXPECT_FALSE(pings(kHost2, "192.168.2.1"));
}

TEST_F(RouterLegs, FrameLongerThanTheBufferIsDroppedAndCounted) {
  ASSERT_EQ(set_interface(1, ip(192, 168, 1, 1), ip(255, 255, 255, 0), 0, 0), 0u);
  ASSERT_TRUE(run(in_ns(kHost1, "ip addr add 192.168.1.10/24 dev swp1")));
  ASSERT_TRUE(reaches(kHost1, "192.168.1.1"));
  ASSERT_TRUE(run("ip link set tap1 mtu 9700"));
  EXPECT_FALSE(run("ping -q -c 1 -W 1 -M do -s 9650 192.168.1.10 >/dev/null 2>&1"));
  EXPECT_NE(read_text_file(trace_file()).find("Frame too long, n: 9601"), std::string::npos);
  EXPECT_TRUE(pings(kHost1, "192.168.1.1")) << "the leg goes on";
}

TEST_F(RouterLegs, RoutesAppearInTheBoardsTableAndGoAway) {
  ASSERT_EQ(set_interface(1, ip(192, 168, 1, 1), ip(255, 255, 255, 0), ip(192, 168, 1, 254), 0), 0u);
  EXPECT_NE(board("ip route show default").find("default via 192.168.1.254 dev tap1"), std::string::npos)
      << board("ip route");
  ASSERT_EQ(
      object(5001, kMgmtCmdAdd, one_entry(12, {ip(10, 1, 0, 0), ip(255, 255, 0, 0), ip(192, 168, 1, 9)})),
      0u);
  EXPECT_NE(board("ip route show 10.1.0.0/16").find("10.1.0.0/16 via 192.168.1.9 dev tap1"),
            std::string::npos)
      << board("ip route");
  std::vector<uint8_t> reply;
  ASSERT_EQ(object(5001, kMgmtCmdGet, one_entry(12, {0, 0, 0}), &reply), 0u);
  ASSERT_EQ(reply.size(), 16u);
  EXPECT_EQ(le_load16(&reply[0]), 1u);
  EXPECT_EQ(le_load32(&reply[4]), 0u) << "the default route comes first";
  EXPECT_EQ(le_load32(&reply[12]), ip(192, 168, 1, 254));

  // A new gateway replaces the route; delete removes it.
  ASSERT_EQ(
      object(5001, kMgmtCmdAdd, one_entry(12, {ip(10, 1, 0, 0), ip(255, 255, 0, 0), ip(192, 168, 1, 8)})),
      0u);
  EXPECT_NE(board("ip route show 10.1.0.0/16").find("via 192.168.1.8"), std::string::npos)
      << board("ip route");
  EXPECT_EQ(board("ip route show 10.1.0.0/16").find("via 192.168.1.9"), std::string::npos);
  ASSERT_EQ(object(5001, kMgmtCmdDel, one_entry(12, {ip(10, 1, 0, 0), ip(255, 255, 0, 0), 0})), 0u);
  EXPECT_EQ(board("ip route show 10.1.0.0/16"), "");
  ASSERT_EQ(set_interface(1, ip(192, 168, 1, 1), ip(255, 255, 255, 0), 0, 0), 0u);
  EXPECT_EQ(board("ip route show default"), "");
}

TEST_F(RouterLegs, DhcpLegGetsItsAddressFromThePeer) {
  ASSERT_TRUE(run(in_ns(kHost1, "ip addr add 192.168.1.10/24 dev swp1")));
  dnsmasq = std::make_unique<ChildProcess>(
      std::vector<std::string>{
          "/usr/sbin/ip", "netns", "exec", kHost1, "dnsmasq", "--keep-in-foreground", "--port=0",
          "--no-resolv", "--no-hosts", "--interface=swp1", "--bind-interfaces",
          "--dhcp-range=192.168.1.100,192.168.1.150,255.255.255.0,1h",
          "--dhcp-option=option:router,192.168.1.10", "--dhcp-leasefile=" + dir.path() + "/leases",
          "--pid-file=" + dir.path() + "/dnsmasq.pid", "--log-dhcp"},
      std::vector<std::string>{});
  ASSERT_EQ(set_interface(1, 0, 0, 0, 1), 0u);
  std::string address;
  for (int i = 0; i < 60 && address.empty(); ++i) {
    const std::string shown = board("ip -4 -o addr show tap1");
    const auto at = shown.find("inet 192.168.1.1");
    if (at != std::string::npos && shown.find("/24", at) != std::string::npos)
      address = shown.substr(at + 5, shown.find('/', at) - at - 5);
    else
      std::this_thread::sleep_for(500ms);
  }
  ASSERT_FALSE(address.empty()) << read_text_file(trace_file()) << dnsmasq->output();
  EXPECT_EQ(board("ip -4 -o addr show tap1").find("192.168.1.1/"), std::string::npos) << "no static address";
  EXPECT_TRUE(reaches(kHost1, address));
  EXPECT_NE(board("ip route show default").find("via 192.168.1.10 dev tap1"), std::string::npos);
  // Deleting the leg stops the client.
  const pid_t client_pid = std::atoi(read_text_file(dir.path() + "/dhcpc/dhclient.tap1.pid").c_str());
  ASSERT_GT(client_pid, 0);
  ASSERT_EQ(set_interface(1, 0, 0, 0, 0), 0u);
  EXPECT_FALSE(device_exists("tap1"));
  bool gone = false;
  for (int i = 0; i < 50 && !gone; ++i) {
    gone = kill(client_pid, 0) != 0;
    if (!gone) std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(gone) << "dhclient " << client_pid << " still runs";
}

TEST_F(RouterLegs, RestartAndDefaultRestoreFollowTheKeepFlag) {
  ASSERT_EQ(set_interface(1, ip(192, 168, 1, 1), ip(255, 255, 255, 0), ip(192, 168, 1, 254), 0), 0u);
  ASSERT_EQ(object(5000, kMgmtCmdAdd, one_entry(24, {2, 2, ip(192, 168, 2, 1), ip(255, 255, 255, 0), 0, 0})),
            0u);
  ASSERT_EQ(
      object(5001, kMgmtCmdAdd, one_entry(12, {ip(10, 1, 0, 0), ip(255, 255, 0, 0), ip(192, 168, 2, 9)})),
      0u);
  stop_daemon();
  EXPECT_FALSE(device_exists("tap1"));
  EXPECT_FALSE(device_exists("tap2"));
  start_daemon();
  ASSERT_TRUE(device_exists("tap1") && device_exists("tap2"))
      << board("ip link") << read_text_file(trace_file());
  EXPECT_NE(board("ip -4 addr show tap2").find("inet 192.168.2.1/24"), std::string::npos);
  EXPECT_NE(board("ip route show 10.1.0.0/16").find("via 192.168.2.9 dev tap2"), std::string::npos)
      << board("ip route");
  EXPECT_NE(board("ip route show default").find("via 192.168.1.254"), std::string::npos);
  ASSERT_TRUE(run(in_ns(kHost1, "ip addr add 192.168.1.10/24 dev swp1")));
  ASSERT_TRUE(run(in_ns(kHost2, "ip addr add 192.168.2.10/24 dev swp2")));
  EXPECT_TRUE(reaches(kHost1, "192.168.1.1"));
  EXPECT_TRUE(reaches(kHost2, "192.168.2.1"));

  // Restore with keep: the management interface (leg 1, default route, flag) stays, the rest goes.
  auto restore = [&](uint32_t keep) {
    ASSERT_EQ(object(2001, kMgmtCmdSet, words({keep})), 0u);
    uint32_t res = 3;
    for (int i = 0; i < 100 && res == 3; ++i) {
      res = object(5002, kMgmtCmdGet, words({0}));
      if (res == 3) std::this_thread::sleep_for(100ms);
    }
    ASSERT_EQ(res, 0u);
  };
  restore(1);
  EXPECT_FALSE(device_exists("tap2"));
  EXPECT_EQ(board("ip route show 10.1.0.0/16"), "");
  EXPECT_NE(board("ip route show default").find("via 192.168.1.254"), std::string::npos);
  EXPECT_TRUE(reaches(kHost1, "192.168.1.1", 5));
  std::vector<uint8_t> reply;
  ASSERT_EQ(object(5003, kMgmtCmdGet, std::vector<uint8_t>(24), &reply), 0u);
  EXPECT_EQ(reply, words({1, ip(192, 168, 1, 1), ip(255, 255, 255, 0), ip(192, 168, 1, 254), 0, 1}));

  restore(0);
  EXPECT_FALSE(device_exists("tap1"));
  EXPECT_EQ(board("ip route show default"), "");
  ASSERT_EQ(object(5003, kMgmtCmdGet, std::vector<uint8_t>(24), &reply), 0u);
  EXPECT_EQ(reply, std::vector<uint8_t>(24, 0));
  // And the restored state is what the next start reads.
  stop_daemon();
  start_daemon();
  EXPECT_FALSE(device_exists("tap1"));
}

}  // namespace
