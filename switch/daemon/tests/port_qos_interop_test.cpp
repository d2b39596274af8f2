// QoS and CableScan end to end: portvisor on the chip simulator in a network namespace of their own.
// Cable descriptions go to the simulated PHYs through swchipctl, QoS settings through UDP port 28; the
// results are read back over port 28 and from the simulated chip's registers. Needs root.
#include "mgmt_client.h"
#include "process_util.h"
#include "simulated_board.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new BoardNamespace);

struct CableEntry {
  uint32_t port = 0, valid = 0, result_valid = 0;
  uint16_t status[4] = {}, length[4] = {};
};

class QosAndCablesOnSimulator : public SimulatedBoard {
 protected:
  std::unique_ptr<ChildProcess> start_portvisor() {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{std::getenv("PORTVISOR_BIN"), "--trace", "port", "debug", "--trace",
                                 "cablescan", "debug", "--trace", "api_hl", "warning"},
        std::vector<std::string>{"PORTVISOR_WORKDIR=" + dir.path() + "/work",
                                 "PORTVISOR_PIDFILE=" + dir.path() + "/pid",
                                 "PORTVISOR_SWITCH_DEVICE=" + device(), "PORTVISOR_ARBITER_POLLS=1000"});
  }
  uint32_t chip_register(unsigned block, unsigned subblock, unsigned reg) {
    char command[64];
    std::snprintf(command, sizeof command, "read %u %u %u", block, subblock, reg);
    return static_cast<uint32_t>(std::strtoul(ctl(command).c_str(), nullptr, 0));
  }
  bool wait_ready() {
    MgmtClient client{28};
    for (int i = 0; i < 400; ++i) {
      uint32_t res = 99;
      if (client.object(8, 0, std::vector<uint8_t>(8), res, 50ms)) return res == 0;
    }
    return false;
  }
  bool start_and_wait(std::unique_ptr<ChildProcess> &pv) {
    pv = start_portvisor();
    return wait_ready() && pv->wait_for_output("Link up on port 6: 1G-f", 15s);
  }
  bool terminate() {
    MgmtClient client{28};
    uint32_t res = 99;
    return client.object(5, 1, {}, res, 1s) && res == 0;
  }
  // A table object of entries {port, words...}; the reply's entries as words, or nothing.
  std::optional<std::vector<std::vector<uint32_t>>> table(uint32_t obj_id, uint32_t cmd,
                                                          const std::vector<std::vector<uint32_t>> &entries,
                                                          size_t entry_size, uint32_t &res) {
    std::vector<uint8_t> data(4 + entries.size() * entry_size, 0);
    le_store16(&data[0], static_cast<uint16_t>(entries.size()));
    le_store16(&data[2], static_cast<uint16_t>(entry_size));
    for (size_t i = 0; i < entries.size(); ++i)
      for (size_t w = 0; w < entries[i].size(); ++w)
        le_store32(&data[4 + i * entry_size + 4 * w], entries[i][w]);
    MgmtClient client{28};
    auto reply = client.object(obj_id, cmd, data, res, 10s);
    if (!reply) return std::nullopt;
    std::vector<std::vector<uint32_t>> out(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
      for (size_t w = 0; w < entry_size / 4; ++w)
        out[i].push_back(le_load32(&(*reply)[4 + i * entry_size + 4 * w]));
    return out;
  }
  std::optional<std::vector<uint32_t>> words(uint32_t obj_id, uint32_t cmd, std::vector<uint32_t> data,
                                             uint32_t &res) {
    std::vector<uint8_t> bytes(4 * data.size());
    for (size_t i = 0; i < data.size(); ++i) le_store32(&bytes[4 * i], data[i]);
    MgmtClient client{28};
    auto reply = client.object(obj_id, cmd, bytes, res, 5s);
    if (!reply) return std::nullopt;
    for (size_t i = 0; i < data.size(); ++i) data[i] = le_load32(&(*reply)[4 * i]);
    return data;
  }
  // Object 3018 for the ports; each entry's result.
  std::optional<std::vector<CableEntry>> cablescan(const std::vector<uint32_t> &ports,
                                                   std::chrono::milliseconds timeout = 60s) {
    std::vector<uint8_t> data(4 + ports.size() * 28, 0);
    le_store16(&data[0], static_cast<uint16_t>(ports.size()));
    le_store16(&data[2], 28);
    for (size_t i = 0; i < ports.size(); ++i) le_store32(&data[4 + i * 28], ports[i]);
    MgmtClient client{28};
    uint32_t res = 99;
    auto reply = client.object(3018, 0, data, res, timeout);
    if (!reply || res != 0) return std::nullopt;
    std::vector<CableEntry> out(ports.size());
    for (size_t i = 0; i < ports.size(); ++i) {
      const uint8_t *e = &(*reply)[4 + i * 28];
      out[i].port = le_load32(e);
      out[i].valid = le_load32(e + 4);
      out[i].result_valid = le_load32(e + 8);
      for (unsigned p = 0; p < 4; ++p) {
        out[i].status[p] = le_load16(e + 12 + 2 * p);
        out[i].length[p] = le_load16(e + 20 + 2 * p);
      }
    }
    return out;
  }
};

TEST_F(QosAndCablesOnSimulator, CableScanReturnsTheCablesDescribedWithSwchipctl) {
  std::unique_ptr<ChildProcess> pv;
  ASSERT_TRUE(start_and_wait(pv)) << pv->output();
  ASSERT_EQ(ctl("cable 0 0 describe 30 B=open@12 C=short@20"), "ok");
  ASSERT_EQ(ctl("cable 1 3 describe 90 A=short@75 D=open@1"), "ok");
  EXPECT_NE(ctl("cable 0 0 describe 30 B=open@31").find("error: "), std::string::npos);
  // One port per request: tests on several ports share the request's 20 s, which a slow simulator
  // (a sanitizer build on a loaded machine) may not keep.
  std::vector<CableEntry> result;
  for (uint32_t port : {1u, 6u}) {
    const auto started = std::chrono::steady_clock::now();
    auto one = cablescan({port});
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(one) << pv->output();
    std::printf("CableScan of port %u through object 3018: %lld ms\n", port,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    result.push_back((*one)[0]);
  }
  const CableEntry &p1 = result[0], &p6 = result[1];
  EXPECT_EQ(p1.port, 1u);
  EXPECT_EQ(p1.valid, 1u);
  EXPECT_EQ(p1.result_valid, 1u);
  const uint16_t status1[4] = {0, 2, 1, 0}, length1[4] = {30, 12, 20, 30};
  const uint16_t status6[4] = {1, 0, 0, 0}, length6[4] = {75, 255, 255, 1};
  for (unsigned p = 0; p < 4; ++p) {
    EXPECT_EQ(p1.status[p], status1[p]) << p;
    EXPECT_EQ(p1.length[p], length1[p]) << p;
  }
  EXPECT_EQ(p6.valid, 1u);
  EXPECT_EQ(p6.status[0], status6[0]);
  EXPECT_EQ(p6.length[0], length6[0]);
  EXPECT_EQ(p6.status[3], 2u);
  EXPECT_EQ(p6.length[3], 0u);  // an open right at the port
  EXPECT_EQ(p6.length[1], length6[1]);
  EXPECT_TRUE(pv->wait_for_output("CableScan main done for port 6", 5s)) << pv->output();
  // The ports keep their links and the daemon goes on serving.
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(pv->output().find("Link down on port 1"), std::string::npos);
  ASSERT_TRUE(terminate());
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

TEST_F(QosAndCablesOnSimulator, QosSetThroughPort28SurvivesARestartAndLandsInTheChip) {
  {
    std::unique_ptr<ChildProcess> pv;
    ASSERT_TRUE(start_and_wait(pv)) << pv->output();
    uint32_t res = 99;
    ASSERT_TRUE(table(3014, 1, {{3, 0}}, 8, res));
    EXPECT_EQ(res, 0u);
    ASSERT_TRUE(table(3004, 1, {{3, 4, 4, 4, 1, 1, 2, 2, 3}}, 36, res));
    EXPECT_EQ(res, 0u);
    ASSERT_TRUE(table(3015, 1, {{3, 2}}, 8, res));
    ASSERT_TRUE(words(3013, 1, {1, 500, 0, 7}, res));
    EXPECT_EQ(res, 0u);
    ASSERT_TRUE(words(3011, 1, {3}, res));
    EXPECT_EQ(res, 1u);  // three queues the chip does not have
    ASSERT_TRUE(terminate());
    ASSERT_EQ(pv->wait_exit(10s), 0);
  }
  ASSERT_EQ(ctl("power-on"), "ok");  // nothing of it stays in the chip
  std::unique_ptr<ChildProcess> pv;
  ASSERT_TRUE(start_and_wait(pv)) << pv->output();
  uint32_t res = 99;
  auto mode = table(3014, 0, {{3}}, 8, res);
  ASSERT_TRUE(mode);
  EXPECT_EQ((*mode)[0][1], 0u);
  auto tags = table(3004, 0, {{3}}, 36, res);
  ASSERT_TRUE(tags);
  EXPECT_EQ((*tags)[0], (std::vector<uint32_t>{3, 4, 4, 4, 1, 1, 2, 2, 3}));
  auto limits = words(3013, 0, {0, 0, 0, 0}, res);
  ASSERT_TRUE(limits);
  EXPECT_EQ(*limits, (std::vector<uint32_t>{1, 500, 0, 7}));
  // Port 3 is chip port 2: tag classification on, DSCP off, user priorities to queues 3,3,3,0,0,1,1,2.
  EXPECT_EQ(chip_register(1, 2, 0x6F) >> 28 & 1, 1u);
  EXPECT_EQ(chip_register(1, 2, 0x77) >> 21 & 1, 0u);
  EXPECT_EQ(chip_register(1, 2, 0x75) & 0x33333333u, 0x21100333u);
  EXPECT_EQ(chip_register(1, 2, 0x6F) >> 16 & 3, 1u);  // default priority 2
  const uint32_t rates = chip_register(2, 0, 2);
  EXPECT_EQ(rates >> 30 & 1, 1u);      // limit A on
  EXPECT_EQ(rates >> 8 & 0xFF, 255u);  // 500 x 1000 / 981, at most 255
  EXPECT_EQ(rates >> 31 & 1, 0u);
  // Frames classified as the settings say: user priority 0 to queue 3, 4 to queue 0, untagged to 1.
  EXPECT_EQ(ctl("classify 2 020000000001020000000002"
                "81000001"
                "88b5" +
                std::string(92, '0')),
            "queue 3");
  EXPECT_EQ(ctl("classify 2 020000000001020000000002"
                "81008001"
                "88b5" +
                std::string(92, '0')),
            "queue 0");
  EXPECT_EQ(ctl("classify 2 020000000001020000000002"
                "0800"
                "4500" +
                std::string(96, '0')),
            "queue 1");
  // Another port keeps the defaults: DSCP groups, every DSCP to priority 4 (queue 3).
  EXPECT_EQ(ctl("classify 0 020000000001020000000002"
                "0800"
                "45b8" +
                std::string(96, '0')),
            "queue 3");
  ASSERT_TRUE(terminate());
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

TEST_F(QosAndCablesOnSimulator, DaemonKilledDuringACableTestLeavesNothingBehindForTheNextStart) {
  std::unique_ptr<ChildProcess> pv;
  ASSERT_TRUE(start_and_wait(pv)) << pv->output();
  ASSERT_EQ(ctl("cable 1 3 describe 40 silent"), "ok");  // a test that runs long
  auto pending = std::async(std::launch::async, [this] { return cablescan({6}, 5s); });
  ASSERT_TRUE(pv->wait_for_output("Starting CableScan for port 6", 10s)) << pv->output();
  std::this_thread::sleep_for(1500ms);
  kill(pv->pid(), SIGKILL);
  pv->wait_exit(5s);
  pending.wait();
  // And, as if the kill came in the middle of a paged access, the external PHY on the TR page:
  // MIIM controller 1, address 3, register 31 = 0x52B5.
  ASSERT_EQ(ctl("write 3 1 1 0x007F52B5"), "ok");
  const auto started = std::chrono::steady_clock::now();
  pv = start_portvisor();
  ASSERT_TRUE(wait_ready()) << pv->output();
  ASSERT_TRUE(pv->wait_for_output("Link up on port 6: 1G-f", 15s)) << pv->output();
  const auto took = std::chrono::steady_clock::now() - started;
  std::printf("start after a kill with the external PHY on another page: %lld ms to port 6 up\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  EXPECT_EQ(pv->output().find("reset timeout"), std::string::npos) << pv->output();
  EXPECT_EQ(pv->output().find("swc_phy_reset failed"), std::string::npos) << pv->output();
  ASSERT_EQ(ctl("cable 1 3 describe 40 A=open@25"), "ok");
  auto result = cablescan({6});
  ASSERT_TRUE(result);
  EXPECT_EQ((*result)[0].valid, 1u);
  EXPECT_EQ((*result)[0].status[0], 2u);
  EXPECT_EQ((*result)[0].length[0], 25u);
  ASSERT_TRUE(terminate());
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

}  // namespace
