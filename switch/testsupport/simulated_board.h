// portvisor on the simulated board: the chip simulator and the daemon in a network namespace of their
// own with an "eth0", reached over UDP port 28. Needs root (namespaces, tap device, port 28). The test
// program registers board_namespace once as its global environment.
#pragma once

#include "mgmt_client.h"
#include "process_util.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

// swchipd on `device`, its control socket at `control`, `options` after them (e.g. "--front-ports swp"
// for TAP devices swp1..swp6). The device is there when this returns, unless the simulator failed: its
// output tells why.
inline std::unique_ptr<ChildProcess> start_chip_simulator(const std::string &device,
                                                          const std::string &control,
                                                          const std::vector<std::string> &options = {}) {
  std::vector<std::string> argv{std::getenv("SWCHIPD_BIN"), "--device", device, "--control", control};
  argv.insert(argv.end(), options.begin(), options.end());
  auto simulator = std::make_unique<ChildProcess>(argv, std::vector<std::string>{});
  wait_for_path(device, 5s);
  return simulator;
}

// portvisor on the simulated board's `device`, its work folder and pid file in `dir`, `options` after
// the program.
inline std::unique_ptr<ChildProcess> start_portvisor_on(const TempDir &dir, const std::string &device,
                                                        const std::vector<std::string> &options = {}) {
  std::vector<std::string> argv{std::getenv("PORTVISOR_BIN")};
  argv.insert(argv.end(), options.begin(), options.end());
  return std::make_unique<ChildProcess>(argv,
                                        std::vector<std::string>{"PORTVISOR_WORKDIR=" + dir.path() + "/work",
                                                                 "PORTVISOR_PIDFILE=" + dir.path() + "/pid",
                                                                 "PORTVISOR_SWITCH_DEVICE=" + device});
}

// Moves a front port's TAP device into a named namespace and brings it up there without IPv6, so the
// peer's own stack sends nothing a test could count with its frames.
inline bool move_to_netns(const std::string &ifname, const std::string &netns) {
  return run("ip link set " + ifname + " netns " + netns + " && ip netns exec " + netns +
             " sysctl -qw net.ipv6.conf." + ifname + ".disable_ipv6=1 && ip netns exec " + netns +
             " ip link set " + ifname + " up");
}

// Everything of this test program, the daemon and the simulator included, lives in a network namespace
// of its own with loopback up and an "eth0" of address 00:11:22:33:44:55.
class BoardNamespace : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(unshare(CLONE_NEWNET), 0) << "needs root for a network namespace";
    ASSERT_TRUE(run("ip link set lo up"));
    ASSERT_TRUE(add_eth0());
  }
  static bool add_eth0() {
    return run(
        "ip tuntap add eth0 mode tap && ip link set eth0 address 00:11:22:33:44:55 && ip link set eth0 up");
  }
};

// The board's namespace and a peer namespace beside it, named after this process, for the front ports'
// TAP devices.
class BoardAndPeerNamespace : public BoardNamespace {
 public:
  explicit BoardAndPeerNamespace(std::string peer) : peer_(std::move(peer)) {}
  void SetUp() override {
    BoardNamespace::SetUp();
    ASSERT_TRUE(run("ip netns add " + peer_));
  }
  void TearDown() override { run("ip netns del " + peer_); }

 private:
  std::string peer_;
};

class SimulatedBoard : public ::testing::Test {
 protected:
  void SetUp() override { start_simulator(); }
  // A fresh simulator on the device path (its chip starts from power-on).
  void start_simulator(const std::vector<std::string> &options = {}) {
    unlink(device().c_str());
    simulator = start_chip_simulator(device(), control(), options);
    ASSERT_TRUE(wait_for_path(device(), 0ms)) << simulator->output();
  }
  void stop_simulator() {
    kill(simulator->pid(), SIGTERM);
    simulator->wait_exit(5s);
  }
  void TearDown() override {
    if (!run("ip link show eth0 >/dev/null 2>&1")) BoardNamespace::add_eth0();
    stop_simulator();
  }
  std::string device() const { return dir.path() + "/swgenio"; }
  std::string control() const { return dir.path() + "/ctl"; }
  // The simulator's answer to a control command, without the line end.
  std::string ctl(const std::string &command) const {
    std::string out =
        output_of(std::string(std::getenv("SWCHIPCTL_BIN")) + " --control " + control() + " " + command);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  // Traces at debug by default; a test whose requests make thousands of chip accesses asks for less,
  // since nobody reads the output while it waits for a reply.
  std::unique_ptr<ChildProcess> start_portvisor(const std::vector<std::string> &options = {"--trace", "all",
                                                                                           "debug"}) {
    return start_portvisor_on(dir, device(), options);
  }
  // The daemon's start-up (chip reset, PHY set-up) blocks its loop for seconds on a loaded machine.
  bool wait_ready() {
    for (int i = 0; i < 600; ++i) {
      uint32_t res = 99;
      if (client.object(8, 0, std::vector<uint8_t>(8), res, 50ms)) return res == 0;
    }
    return false;
  }
  TempDir dir;
  std::unique_ptr<ChildProcess> simulator;
  MgmtClient client{28};
};
