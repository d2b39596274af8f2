// CableScan through port management in-process: object 3018 starts tests on the ports it names, waits
// for them in the main loop and answers with what the simulated PHYs' cables hold.
#include "conf.h"
#include "loop.h"
#include "mgmt.h"
#include "port.h"
#include "port_cablescan.h"
#include "process_util.h"
#include "trace.h"

#include "daemon_on_chip.h"
#include "phy_echo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

class PortCableScan : public DaemonOnChip {
 protected:
  void SetUp() override {
    DaemonOnChip::SetUp();
    swgenio_set_recording(false);
    conf_module_reg(kConfModulePort, port_conf);
    mgmt_module_reg(3, port_mgmt);
  }
  void start() {
    conf_init();
    port_init();
  }
  swchip::PhyModel &phy(unsigned port) { return port == 6 ? chip.phy(1, 3) : chip.phy(0, port - 1); }
  void describe(unsigned port, const std::string &text) {
    swchip::CableDescription cable;
    ASSERT_EQ(swchip::parse_cable_description(text, cable), "");
    phy(port).describe_cable(cable);
  }
  std::vector<uint8_t> request(const std::vector<uint32_t> &ports, uint32_t cmd = kMgmtCmdGet) {
    std::vector<uint8_t> d(20 + ports.size() * kCablescanEntrySize, 0);
    le_store32(&d[0], kCablescanObj);
    le_store32(&d[4], cmd);
    le_store32(&d[8], 77);
    le_store16(&d[14], static_cast<uint16_t>(d.size()));
    le_store16(&d[16], static_cast<uint16_t>(ports.size()));
    le_store16(&d[18], kCablescanEntrySize);
    for (size_t i = 0; i < ports.size(); ++i) le_store32(&d[20 + i * kCablescanEntrySize], ports[i]);
    EXPECT_EQ(mgmt_process(d.data(), d.size()), d.size());
    return d;
  }
  struct Entry {
    uint32_t port, valid, result_valid;
    uint16_t status[4], length[4];
  };
  static Entry entry_of(const std::vector<uint8_t> &d, size_t i) {
    const uint8_t *e = &d[20 + i * kCablescanEntrySize];
    Entry out{le_load32(e), le_load32(e + 4), le_load32(e + 8), {}, {}};
    for (unsigned p = 0; p < 4; ++p) {
      out.status[p] = le_load16(e + 12 + 2 * p);
      out.length[p] = le_load16(e + 20 + 2 * p);
    }
    return out;
  }
  static uint32_t res(const std::vector<uint8_t> &d) { return le_load32(&d[8]); }
};

TEST_F(PortCableScan, ObjectReturnsTheDescribedCablesOfSeveralPorts) {
  start();
  describe(1, "30 B=open@12");
  describe(3, "50 D=short@7");
  describe(6, "8 A=open@2 B=open@2 C=open@2 D=open@2");
  testing::internal::CaptureStdout();
  trace_option_apply("cablescan", "debug");
  std::vector<uint8_t> d = request({1, 3, 6});
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(res(d), 0u);
  Entry a = entry_of(d, 0), b = entry_of(d, 1), c = entry_of(d, 2);
  EXPECT_EQ(a.port, 1u);
  EXPECT_EQ(a.valid, 1u);
  EXPECT_EQ(a.result_valid, 1u);
  EXPECT_EQ(a.status[1], 2u);
  EXPECT_EQ(a.length[1], 12u);
  EXPECT_EQ(a.status[0], 0u);
  EXPECT_EQ(a.length[0], 30u);
  EXPECT_EQ(b.valid, 1u);
  EXPECT_EQ(b.status[3], 1u);
  EXPECT_EQ(b.length[3], 7u);
  EXPECT_EQ(b.length[0], 50u);
  EXPECT_EQ(c.valid, 1u);
  for (unsigned p = 0; p < 4; ++p) {
    EXPECT_EQ(c.status[p], 2u);
    EXPECT_EQ(c.length[p], 2u);
  }
  for (const char *line : {"Starting CableScan for port 1", "Starting CableScan for port 6",
                           "CableScan for port 3", "CableScan main done for port 6"})
    EXPECT_NE(out.find(line), std::string::npos) << line;
  EXPECT_LT(out.find("Starting CableScan for port 6"), out.find(": CableScan for port 1"));
  for (unsigned port : {1u, 3u, 6u}) EXPECT_FALSE(port_cablescan_pending(port));
  // Links are back after the test: the PHYs were restored.
  for (unsigned i = 0; i < 12; ++i) port_status_poll(0, 0, 33);
  EXPECT_EQ(swc_os_get_linkstate(1), 1);
  EXPECT_EQ(swc_os_get_linkstate(6), 1);
}

TEST_F(PortCableScan, TestThatOutlastsTwentySecondsIsLeftToTheStatusPoll) {
  start();
  describe(2, "30 silent");  // every quiet read of the noise floor waits 2 s
  testing::internal::CaptureStdout();
  trace_option_apply("cablescan", "debug");
  const uint64_t before = clock.now_us();
  std::vector<uint8_t> d = request({2});
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_GE(clock.now_us() - before, 20'000'000u);
  EXPECT_LT(clock.now_us() - before, 23'000'000u);
  EXPECT_NE(out.find("timeout for port 2"), std::string::npos) << out;
  Entry e = entry_of(d, 0);
  EXPECT_EQ(e.valid, 0u);
  EXPECT_EQ(e.status[0], 1u);  // still running
  EXPECT_TRUE(port_cablescan_pending(2));
  EXPECT_TRUE(phy(2).cable_test_running());
  // The status poll takes the test on to its end; the PHY gets its settings back.
  // (Its quiet reads of the noise floor take 2 s each, a hundred per pair.)
  for (unsigned round = 0; round < 100000 && port_cablescan_pending(2); ++round) {
    clock.advance_us(33'000);
    port_status_poll(0, 0, 33);
  }
  EXPECT_FALSE(port_cablescan_pending(2));
  EXPECT_FALSE(phy(2).cable_test_running());
}

TEST_F(PortCableScan, PortsThatCannotBeTestedAnswerAtOnce) {
  phy(4) = swchip::PhyModel(0x0007, 0x0421);  // family 6: no cable test
  phy(5).mounted = false;
  start();
  const uint64_t before = clock.now_us();
  std::vector<uint8_t> d = request({4, 5});
  EXPECT_LT(clock.now_us() - before, 1'000'000u);
  EXPECT_EQ(res(d), 0u);
  EXPECT_EQ(entry_of(d, 0).valid, 0u);
  EXPECT_EQ(entry_of(d, 0).result_valid, 0u);
  EXPECT_EQ(entry_of(d, 1).valid, 0u);
}

TEST_F(PortCableScan, BadRequestsAreRefused) {
  start();
  describe(1, "10 A=open@5");
  std::vector<uint8_t> walk = request({1, 7, 2});
  EXPECT_EQ(res(walk), 1u);
  EXPECT_EQ(entry_of(walk, 0).valid, 1u);
  EXPECT_EQ(entry_of(walk, 0).status[0], 2u);
  EXPECT_EQ(entry_of(walk, 2).valid, 0u);  // after the bad port: untouched
  EXPECT_FALSE(port_cablescan_pending(2));
  EXPECT_EQ(res(request({0})), 1u);
  std::vector<uint8_t> short_object = request({1});
  le_store16(&short_object[16], 3);  // claims three entries in room for one
  mgmt_process(short_object.data(), short_object.size());
  EXPECT_EQ(res(short_object), 1u);
  EXPECT_EQ(res(request({1}, kMgmtCmdSet)), 0u);  // nothing to set
  EXPECT_FALSE(port_cablescan_pending(1));
}

}  // namespace
