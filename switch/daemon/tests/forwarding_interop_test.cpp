// portvisor forwarding between hosts: the simulator's front ports swp1..swp4 sit in host namespaces of
// their own with addresses in one subnet, and real traffic crosses the simulated switch: ping (learned
// unicast, broadcast, multicast) and a short iperf3 run; a monitor port gets a copy of every frame of a
// mirrored port; private VLANs keep ports apart; mirror and private VLANs come back from switch.conf
// after a restart. Needs root (namespaces, TAP devices, UDP port 28) and iperf3.
#include "mgmt.h"
#include "packet_socket.h"
#include "simulated_board.h"

#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

namespace {

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new BoardNamespace);

constexpr uint32_t kHosts = 4;  // on ports 1..4
std::string host_ns(uint32_t port) {
  return "pvfwd-" + std::to_string(getpid()) + "-h" + std::to_string(port);
}
std::string host_ip(uint32_t port) {
  return "10.77.0." + std::to_string(port);
}
std::string in_host(uint32_t port, const std::string &command) {
  return "ip netns exec " + host_ns(port) + " " + command;
}

// Every frame an interface of a host namespace sees, both directions, as queued on a raw socket.
class Capture {
 public:
  Capture(const std::string &ns, const std::string &ifname)
      : socket_(ifname, ns, {.nonblocking = true, .receive_buffer = 4 << 20}) {}
  bool ok() const { return socket_.ok(); }
  // The frames queued so far, padded to 60 bytes as a wire carries them.
  std::vector<std::vector<uint8_t>> take() {
    auto frames = socket_.take();
    for (auto &f : frames)
      if (f.size() < 60) f.resize(60, 0);
    return frames;
  }

 private:
  PacketSocket socket_;
};

bool is_icmp(const std::vector<uint8_t> &f) {
  return f.size() > 23 && f[12] == 0x08 && f[13] == 0x00 && f[23] == 1;
}

std::vector<uint8_t> table_of(uint16_t entry_size, const std::vector<std::vector<uint32_t>> &entries) {
  std::vector<uint8_t> d(4, 0);
  le_store16(&d[0], static_cast<uint16_t>(entries.size()));
  le_store16(&d[2], entry_size);
  for (const auto &words : entries) {
    std::vector<uint8_t> e(entry_size, 0);
    for (size_t i = 0; i < words.size(); ++i) le_store32(&e[4 * i], words[i]);
    d.insert(d.end(), e.begin(), e.end());
  }
  return d;
}

// Member words 0..6 with the given ports set.
std::vector<uint32_t> members(uint32_t number, std::initializer_list<uint32_t> ports) {
  std::vector<uint32_t> words(8, 0);
  words[0] = number;
  for (uint32_t p : ports) words[1 + p] = 1;
  return words;
}

class BoardHosts : public ::testing::Environment {
 public:
  void SetUp() override {
    for (uint32_t p = 1; p <= kHosts; ++p) {
      ASSERT_TRUE(run("ip netns add " + host_ns(p)));
      ASSERT_TRUE(run(in_host(p, "ip link set lo up")));
      // Nothing of the hosts' own making (IPv6 neighbour discovery) on the wire.
      ASSERT_TRUE(run(in_host(p, "sysctl -qw net.ipv6.conf.all.disable_ipv6=1")));
      ASSERT_TRUE(run(in_host(p, "sysctl -qw net.ipv4.icmp_echo_ignore_broadcasts=0")));
    }
  }
  void TearDown() override {
    for (uint32_t p = 1; p <= kHosts; ++p) run("ip netns del " + host_ns(p));
  }
};
const auto *const kHostsEnvironment = ::testing::AddGlobalTestEnvironment(new BoardHosts);

class Forwarding : public ::testing::Test {
 protected:
  void SetUp() override {
    unlink(device().c_str());
    simulator = start_chip_simulator(device(), dir.path() + "/ctl", {"--front-ports", "swp"});
    ASSERT_TRUE(wait_for_path(device(), 0ms)) << simulator->output();
    for (uint32_t p = 1; p <= kHosts; ++p) {
      const std::string tap = "swp" + std::to_string(p);
      ASSERT_TRUE(run("ip link set " + tap + " netns " + host_ns(p)));
      ASSERT_TRUE(run(in_host(p, "ip addr add " + host_ip(p) + "/24 dev " + tap)));
      ASSERT_TRUE(run(in_host(p, "ip link set " + tap + " up")));
      ASSERT_TRUE(run(in_host(p, "ip route add 224.0.0.0/4 dev " + tap)));
    }
    start_portvisor();
  }
  void TearDown() override {
    stop_portvisor();
    if (iperf_server) kill(iperf_server->pid(), SIGTERM);
    kill(simulator->pid(), SIGTERM);
    simulator->wait_exit(5s);
  }
  std::string device() const { return dir.path() + "/swgenio"; }
  // Default traces only: nobody reads the daemon's output while the test runs.
  void start_portvisor() {
    daemon = start_portvisor_on(dir, device());
    bool ready = false;
    for (int i = 0; i < 600 && !ready; ++i) {
      uint32_t res = 99;
      ready = client.object(8, kMgmtCmdGet, std::vector<uint8_t>(8), res, 50ms).has_value() && res == 0;
    }
    ASSERT_TRUE(ready) << daemon->output();
  }
  void stop_portvisor() {
    if (!daemon) return;
    kill(daemon->pid(), SIGTERM);
    EXPECT_EQ(daemon->wait_exit(10s), 0) << daemon->output();
    daemon.reset();
  }
  uint32_t object(uint32_t obj_id, uint32_t cmd, const std::vector<uint8_t> &data) {
    MgmtClient own{28};
    uint32_t res = 99;
    EXPECT_TRUE(own.object(obj_id, cmd, data, res, 10s)) << obj_id;
    return res;
  }
  std::optional<std::vector<uint8_t>> get(uint32_t obj_id, const std::vector<uint8_t> &data) {
    MgmtClient own{28};
    uint32_t res = 99;
    auto reply = own.object(obj_id, kMgmtCmdGet, data, res, 10s);
    EXPECT_EQ(res, 0u) << obj_id;
    return reply;
  }
  bool ping(uint32_t from, const std::string &to, const std::string &options = "-c 1 -W 1") {
    return run(in_host(from, "ping -q " + options + " " + to + " >/dev/null 2>&1"));
  }
  // Ports come up through the daemon's status poll: the first exchange may need a few tries.
  bool reaches(uint32_t from, uint32_t to) {
    for (int i = 0; i < 20; ++i) {
      if (ping(from, host_ip(to))) return true;
    }
    return false;
  }
  // Replies from each host 1..4 (bit p) to one echo request sent to `to`.
  uint32_t responders(uint32_t from, const std::string &to) {
    const std::string out = output_of(in_host(from, "ping -n -c 2 -i 0.5 -W 1 " + to + " 2>&1"));
    uint32_t bits = 0;
    for (uint32_t p = 1; p <= kHosts; ++p) {
      if (out.find("from " + host_ip(p) + ":") != std::string::npos) bits |= 1u << p;
    }
    return bits;
  }
  void forget_neighbours() {
    for (uint32_t p = 1; p <= kHosts; ++p) run(in_host(p, "ip neigh flush all"));
  }
  TempDir dir;
  MgmtClient client{28};
  std::unique_ptr<ChildProcess> simulator, daemon, iperf_server;
};

TEST_F(Forwarding, LearnedUnicastBroadcastAndMulticastCrossTheSwitch) {
  // Ports 2..4 share VLAN 2 of the default configuration.
  ASSERT_TRUE(reaches(2, 3));
  ASSERT_TRUE(reaches(2, 4));
  // Both addresses are learned now: a further exchange between 2 and 3 never shows on port 4.
  Capture bystander(host_ns(4), "swp4");
  ASSERT_TRUE(bystander.ok());
  ASSERT_TRUE(ping(2, host_ip(3), "-c 5 -i 0.2 -W 1"));
  for (const auto &f : bystander.take())
    EXPECT_FALSE(is_icmp(f)) << "an echo between ports 2 and 3 flooded to port 4";
  EXPECT_EQ(responders(2, "10.77.0.255 -b"), 1u << 2 | 1u << 3 | 1u << 4)
      << "the sender answers its broadcast too";
  EXPECT_EQ(responders(2, "224.0.0.1"), 1u << 2 | 1u << 3 | 1u << 4) << "all-hosts: the sender answers too";
  EXPECT_EQ(responders(2, host_ip(1)), 0u) << "port 1 is in VLAN 1";

  iperf_server = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/bin/ip", "netns", "exec", host_ns(3), "iperf3", "-s", "-1", "--forceflush"},
      std::vector<std::string>{});
  ASSERT_TRUE(iperf_server->wait_for_output("Server listening", 10s)) << iperf_server->output();
  const std::string result = output_of(in_host(2, "iperf3 -J -t 2 -c " + host_ip(3)));
  const size_t received = result.find("\"sum_received\"");
  ASSERT_NE(received, std::string::npos) << result;
  const size_t bytes = result.find("\"bytes\":", received);
  ASSERT_NE(bytes, std::string::npos) << result;
  EXPECT_GT(std::stoull(result.substr(bytes + 8)), 1000000u) << result;
  EXPECT_EQ(iperf_server->wait_exit(10s), 0);
  iperf_server.reset();
}

class Mirroring : public Forwarding {
 protected:
  // Port 1 joins ports 2..4 in VLAN 2; port 3 watches port 1 both ways.
  void configure() {
    ASSERT_EQ(object(4004, kMgmtCmdAdd, table_of(32, {{2, 1, 1, 1, 1, 1, 1, 1}})), 0u);
    ASSERT_EQ(object(4006, kMgmtCmdSet, table_of(20, {{1, 0, 2, 0, 0}})), 0u);
    ASSERT_EQ(object(4009, kMgmtCmdSet, u32_data(3)), 0u);
    ASSERT_EQ(object(4010, kMgmtCmdSet, table_of(8, {{1, 1}})), 0u);
    ASSERT_EQ(object(4013, kMgmtCmdSet, table_of(8, {{1, 1}})), 0u);
  }
  // Every frame port 1's host sends and receives while it exchanges with port 2 arrives at the
  // monitor's host as well.
  void expect_monitor_sees_port_1() {
    ASSERT_TRUE(reaches(1, 2));
    forget_neighbours();
    Capture watched(host_ns(1), "swp1"), monitor(host_ns(3), "swp3");
    ASSERT_TRUE(watched.ok() && monitor.ok());
    ASSERT_TRUE(ping(1, host_ip(2), "-c 5 -i 0.2 -W 1"));
    ASSERT_TRUE(ping(2, host_ip(1), "-c 5 -i 0.2 -W 1"));
    std::this_thread::sleep_for(200ms);
    const auto seen = watched.take();
    auto copies = monitor.take();
    size_t icmp = 0;
    for (const auto &f : seen) {
      icmp += is_icmp(f);
      const auto at = std::find(copies.begin(), copies.end(), f);
      EXPECT_NE(at, copies.end()) << "a frame of port 1 without a copy, EtherType " << std::hex
                                  << (f[12] << 8 | f[13]);
      if (at != copies.end()) copies.erase(at);
    }
    EXPECT_GE(icmp, 20u) << "ten echo requests and ten replies";
  }
};

TEST_F(Mirroring, MonitorPortGetsEveryFrameOfTheMirroredPortAlsoAfterARestart) {
  configure();
  expect_monitor_sees_port_1();
  stop_portvisor();
  start_portvisor();
  const auto monitor = get(4009, u32_data(0));
  ASSERT_TRUE(monitor);
  EXPECT_EQ(le_load32(monitor->data()), 3u);
  expect_monitor_sees_port_1();
}

class PrivateVlans : public Forwarding {
 protected:
  // Port 3 shares a private VLAN with port 2 and another with port 4; ports 2 and 4 share none.
  void configure() {
    ASSERT_EQ(object(4011, kMgmtCmdAdd, table_of(32, {members(2, {2, 3}), members(3, {3, 4})})), 0u);
    ASSERT_EQ(object(4011, kMgmtCmdDel, table_of(32, {members(1, {})})), 0u);
  }
  void expect_separated() {
    ASSERT_TRUE(reaches(3, 2));
    ASSERT_TRUE(reaches(3, 4));
    forget_neighbours();
    EXPECT_FALSE(ping(2, host_ip(4), "-c 2 -i 0.3 -W 1"));
    EXPECT_FALSE(ping(4, host_ip(2), "-c 2 -i 0.3 -W 1"));
    EXPECT_EQ(responders(3, "10.77.0.255 -b"), 1u << 2 | 1u << 3 | 1u << 4);
    EXPECT_EQ(responders(2, "10.77.0.255 -b"), 1u << 2 | 1u << 3);
  }
};

TEST_F(PrivateVlans, PortsOutsideEachOthersPrivateVlanAreSeparatedAlsoAfterARestart) {
  ASSERT_TRUE(reaches(2, 4)) << "the default private VLAN holds every port";
  configure();
  expect_separated();
  stop_portvisor();
  start_portvisor();
  expect_separated();
  // Back to one private VLAN of all ports: 2 and 4 meet again.
  ASSERT_EQ(object(4011, kMgmtCmdAdd, table_of(32, {members(1, {1, 2, 3, 4, 5, 6})})), 0u);
  EXPECT_TRUE(reaches(2, 4));
}

}  // namespace
