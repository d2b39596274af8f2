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

inline bool run(const std::string &command) {
  return std::system(command.c_str()) == 0;
}

// Everything of this test program, the daemon and the simulator included, lives in a network namespace
// of its own with loopback up and an "eth0" of address 00:11:22:33:44:55.
class board_namespace : public ::testing::Environment {
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

class SimulatedBoard : public ::testing::Test {
 protected:
  void SetUp() override { start_simulator(); }
  // A fresh simulator on the device path (its chip starts from power-on).
  void start_simulator() {
    unlink(device().c_str());
    simulator =
        std::make_unique<child_process>(std::vector<std::string>{std::getenv("SWCHIPD_BIN"), "--device",
                                                                 device(), "--control", dir.path() + "/ctl"},
                                        std::vector<std::string>{});
    struct stat st {};
    for (int i = 0; i < 500 && stat(device().c_str(), &st) != 0; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(stat(device().c_str(), &st), 0) << simulator->output();
  }
  void stop_simulator() {
    kill(simulator->pid(), SIGTERM);
    simulator->wait_exit(5s);
  }
  void TearDown() override {
    if (!run("ip link show eth0 >/dev/null 2>&1")) board_namespace::add_eth0();
    stop_simulator();
  }
  std::string device() const { return dir.path() + "/swgenio"; }
  // Traces at debug by default; a test whose requests make thousands of chip accesses asks for less,
  // since nobody reads the output while it waits for a reply.
  std::unique_ptr<child_process> start_portvisor(std::vector<std::string> options = {"--trace", "all",
                                                                                     "debug"}) {
    options.insert(options.begin(), std::getenv("PORTVISOR_BIN"));
    return std::make_unique<child_process>(
        options, std::vector<std::string>{"PORTVISOR_WORKDIR=" + dir.path() + "/work",
                                          "PORTVISOR_PIDFILE=" + dir.path() + "/pid",
                                          "PORTVISOR_SWITCH_DEVICE=" + device()});
  }
  // The daemon's start-up (chip reset, PHY set-up) blocks its loop for seconds on a loaded machine.
  bool wait_ready() {
    for (int i = 0; i < 600; ++i) {
      uint32_t res = 99;
      if (client.object(8, 0, std::vector<uint8_t>(8), res, 50ms)) return res == 0;
    }
    return false;
  }
  temp_dir dir;
  std::unique_ptr<child_process> simulator;
  mgmt_client client{28};
};
