// Port management end to end: portvisor on the chip simulator in a network namespace of their own,
// cables pulled and plugged through the simulator's control socket, port status read over UDP port 28.
// Needs root (namespaces, tap device, port 28).
#include "mgmt_client.h"
#include "process_util.h"
#include "simulated_board.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new BoardNamespace);

// One port's row of object 3001.
struct PortStatus {
  uint32_t link = 0, speed = 0, fdx = 0;
};

class PortsOnSimulator : public SimulatedBoard {
 protected:
  std::vector<std::string> env() const {
    return {"PORTVISOR_WORKDIR=" + dir.path() + "/work", "PORTVISOR_PIDFILE=" + pidfile(),
            "PORTVISOR_SWITCH_DEVICE=" + device(), "PORTVISOR_ARBITER_POLLS=1000"};
  }
  std::string pidfile() const { return dir.path() + "/pid"; }
  std::unique_ptr<ChildProcess> start_portvisor() {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{std::getenv("PORTVISOR_BIN"), "--trace", "port", "debug"}, env());
  }
  // Each request goes out on a socket of its own: late answers to the readiness probes must not be
  // taken for the answer to a later request.
  bool wait_ready() {
    MgmtClient client{28};
    for (int i = 0; i < 400; ++i) {
      uint32_t res = 99;
      if (client.object(8, 0, std::vector<uint8_t>(8), res, 50ms)) return res == 0;
    }
    return false;
  }
  // Object 3001 for one port.
  std::optional<PortStatus> status(uint32_t port) {
    std::vector<uint8_t> data(4 + 64, 0);
    le_store16(&data[0], 1);
    le_store16(&data[2], 64);
    le_store32(&data[4], port);
    uint32_t res = 99;
    MgmtClient client{28};
    auto reply = client.object(3001, 0, data, res, 5s);
    if (!reply || res != 0) return std::nullopt;
    return PortStatus{le_load32(&(*reply)[4 + 8]), le_load32(&(*reply)[4 + 12]),
                      le_load32(&(*reply)[4 + 16])};
  }
  bool all_ports_up_at_1g_full() {
    for (uint32_t port = 1; port <= 6; ++port) {
      auto s = status(port);
      if (!s || s->link != 1 || s->speed != 3 || s->fdx != 1) return false;
    }
    return true;
  }
  bool wait_all_ports_up() {
    for (int i = 0; i < 300; ++i) {
      if (all_ports_up_at_1g_full()) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  // Object 3000 for one port: {port, enabled, flow control, aneg, speed, fdx, max length}.
  std::optional<std::vector<uint32_t>> config(uint32_t cmd, std::vector<uint32_t> entry) {
    entry.resize(7);
    std::vector<uint8_t> data(4 + 28, 0);
    le_store16(&data[0], 1);
    le_store16(&data[2], 28);
    for (size_t w = 0; w < 7; ++w) le_store32(&data[4 + 4 * w], entry[w]);
    uint32_t res = 99;
    MgmtClient client{28};
    auto reply = client.object(3000, cmd, data, res, 5s);
    if (!reply || res != 0) return std::nullopt;
    std::vector<uint32_t> words;
    for (size_t w = 0; w < 7; ++w) words.push_back(le_load32(&(*reply)[4 + 4 * w]));
    return words;
  }
  bool terminate() {
    MgmtClient client{28};
    uint32_t res = 99;
    return client.object(5, 1, {}, res, 1s) && res == 0;
  }
};

TEST_F(PortsOnSimulator, AllSixPortsComeUpFromDefaults) {
  auto pv = start_portvisor();
  ASSERT_TRUE(wait_ready()) << pv->output();
  ASSERT_TRUE(pv->wait_for_output("Link up on port 6: 1G-f", 10s)) << pv->output();
  EXPECT_NE(pv->output().find("Detected Chip: NVC7385 \"Corvex-G5\" revision A."), std::string::npos);
  EXPECT_TRUE(all_ports_up_at_1g_full());
  auto port3 = config(0, {3});
  ASSERT_TRUE(port3);
  EXPECT_EQ(*port3, (std::vector<uint32_t>{3, 1, 3, 1, 3, 1, 1518}));
  ASSERT_TRUE(terminate());
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

TEST_F(PortsOnSimulator, PulledCableIsSeenByThePollAndReportedByTheStatusObject) {
  auto pv = start_portvisor();
  ASSERT_TRUE(wait_ready()) << pv->output();
  ASSERT_TRUE(pv->wait_for_output("Link up on port 6: 1G-f", 10s)) << pv->output();
  ASSERT_EQ(ctl("cable 0 1 unplug"), "ok");
  // No management request in between: the status poll alone notices the loss.
  ASSERT_TRUE(pv->wait_for_output("Link down on port 2", 5s)) << pv->output();
  auto port2 = status(2);
  ASSERT_TRUE(port2);
  EXPECT_EQ(port2->link, 0u);
  EXPECT_EQ(status(1)->link, 1u);
  ASSERT_EQ(ctl("cable 0 1 plug"), "ok");
  ASSERT_TRUE(pv->wait_for_output("Link up on port 2: 1G-f", 5s)) << pv->output();
  EXPECT_EQ(status(2)->link, 1u);
  ASSERT_TRUE(terminate());
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

TEST_F(PortsOnSimulator, SpeedAndDuplexFollowThePartner) {
  auto pv = start_portvisor();
  ASSERT_TRUE(wait_ready()) << pv->output();
  ASSERT_TRUE(pv->wait_for_output("Link up on port 6: 1G-f", 10s)) << pv->output();
  ASSERT_EQ(ctl("cable 0 4 unplug"), "ok");
  ASSERT_TRUE(pv->wait_for_output("Link down on port 5", 5s)) << pv->output();
  ASSERT_EQ(ctl("cable 0 4 plug 0x80"), "ok");  // a partner of 100 Mbit/s half duplex only
  ASSERT_TRUE(pv->wait_for_output("Link up on port 5: 100h", 5s)) << pv->output();
  auto port5 = status(5);
  ASSERT_TRUE(port5);
  EXPECT_EQ(port5->speed, 2u);
  EXPECT_EQ(port5->fdx, 0u);
  ASSERT_EQ(ctl("cable 1 3 unplug"), "ok");
  ASSERT_EQ(ctl("cable 1 3 plug 0x40"), "ok");  // port 6, 10 Mbit/s full duplex
  ASSERT_TRUE(pv->wait_for_output("Link up on port 6:  10f", 5s)) << pv->output();
  auto port6 = status(6);
  ASSERT_TRUE(port6);
  EXPECT_EQ(port6->speed, 1u);
  EXPECT_EQ(port6->fdx, 1u);
  ASSERT_TRUE(terminate());
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

TEST_F(PortsOnSimulator, ConfigurationSurvivesARestart) {
  {
    auto pv = start_portvisor();
    ASSERT_TRUE(wait_ready()) << pv->output();
    ASSERT_TRUE(config(1, {4, 1, 0, 1, 3, 1, 4000}));
    ASSERT_TRUE(terminate());
    ASSERT_EQ(pv->wait_exit(10s), 0);
  }
  auto pv = start_portvisor();
  ASSERT_TRUE(wait_ready()) << pv->output();
  EXPECT_TRUE(pv->wait_for_output("Port 4 enabled, aneg enabled, max_len: 4000, flow control disabled", 10s))
      << pv->output();
  auto port4 = config(0, {4});
  ASSERT_TRUE(port4);
  EXPECT_EQ(*port4, (std::vector<uint32_t>{4, 1, 0, 1, 3, 1, 4000}));
  ASSERT_TRUE(terminate());
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

pid_t pid_in(const std::string &path) {
  std::string text = read_text_file(path);
  return text.empty() ? -1 : static_cast<pid_t>(std::atoi(text.c_str()));
}

pid_t parent_of(pid_t pid) {
  std::string stat = read_text_file("/proc/" + std::to_string(pid) + "/stat");
  size_t paren = stat.rfind(')');
  if (paren == std::string::npos) return -1;
  return static_cast<pid_t>(std::atoi(stat.c_str() + paren + 4));
}

TEST_F(PortsOnSimulator, FatalChipErrorEndsTheWorkerAndTheSupervisorBringsThePortsBack) {
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  ChildProcess launcher({std::getenv("PORTVISOR_BIN"), "--daemon"}, env());
  ASSERT_EQ(launcher.wait_exit(10s), 0);
  ASSERT_TRUE(wait_ready());
  pid_t worker = pid_in(pidfile());
  ASSERT_GT(worker, 0);
  pid_t supervisor = parent_of(worker);
  ASSERT_GT(supervisor, 1);
  ASSERT_TRUE(wait_all_ports_up());

  // The arbiter never empties: the next port reconfiguration (the link-down of port 1) fails with the
  // fatal code and the worker ends with status 2, the only status the supervisor restarts on.
  ASSERT_EQ(ctl("stick arbiter on"), "ok");
  ASSERT_EQ(ctl("cable 0 0 unplug"), "ok");
  pid_t replacement = -1;
  for (int i = 0; i < 500 && (replacement = pid_in(pidfile())) == worker; ++i)
    std::this_thread::sleep_for(20ms);
  ASSERT_NE(replacement, worker);
  ASSERT_EQ(ctl("stick arbiter off"), "ok");
  ASSERT_EQ(ctl("cable 0 0 plug"), "ok");
  EXPECT_EQ(kill(supervisor, 0), 0);
  EXPECT_TRUE(wait_all_ports_up());
  EXPECT_EQ(parent_of(pid_in(pidfile())), supervisor);
  ASSERT_TRUE(terminate());
  EXPECT_EQ(wait_child_exit(supervisor, 10s), 0);
}

}  // namespace
