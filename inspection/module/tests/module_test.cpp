// Module start and stop: what is registered, in which order, and that nothing stays behind.
#include <gtest/gtest.h>

#include <sstream>

#include "vorn_engine.h"
#include "vorn_fixture.h"
#include "vorn_log.h"
#include "vorn_pipeline.h"
#include "vorn_verdict.h"

namespace vorn_test {
namespace {

using LoadUnload = VornTest;

size_t index_of(const std::vector<std::string> &lines, const std::string &text) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find(text) != std::string::npos) return i;
  return lines.size();
}

TEST_F(LoadUnload, StartRegistersDeviceProcInterruptsAndHook) {
  std::string name;
  ASSERT_TRUE(kern::chrdev_registered(239, &name));
  EXPECT_EQ(name, "vorn");
  EXPECT_TRUE(kern::proc_registered("driver/vorn"));
  ASSERT_TRUE(kern::irq_requested(16, &name));
  EXPECT_EQ(name, "VornSFinish");
  ASSERT_TRUE(kern::irq_requested(17, &name));
  EXPECT_EQ(name, "VornQEmpty");
  EXPECT_EQ(PacketInspect, &vorn::kkPacketInspect);
  EXPECT_EQ(vorn::module().DriverState, vorn::kStateQxDrvInited);
  EXPECT_EQ(device->resets(), 1u);
}

TEST_F(LoadUnload, StartPrintsItsLinesInOrder) {
  unload_module();
  kern::printk_clear();
  ASSERT_EQ(load_module(), 0);
  auto lines = kern::printk_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("<6>Vorn Linux Driver:Version=v1.59(", 0), 0u);
  size_t tracking = index_of(lines, "Enable Tcp Connection Tracking\n");
  size_t used = index_of(lines, "The Total Used Table Memory Size = 0xFB4878 = 16082K\n");
  EXPECT_LT(tracking, used);
  EXPECT_LT(used, lines.size());
}

TEST_F(LoadUnload, CleanupReleasesEverythingHookFirst) {
  unload_module();
  EXPECT_EQ(PacketInspect, nullptr);
  EXPECT_FALSE(kern::chrdev_registered(239));
  EXPECT_FALSE(kern::proc_registered("driver/vorn"));
  EXPECT_FALSE(kern::irq_requested(16));
  EXPECT_FALSE(kern::irq_requested(17));
  EXPECT_EQ(kern::blocks_in_use(), baseline_blocks);
  auto lines = kern::printk_lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Vorn Linux Driver:cleanup_module()\n");
  EXPECT_EQ(lines.back(), "Vorn Linux Driver:cleanup_module(),OK\n");
}

TEST_F(LoadUnload, ReloadWorksAgain) {
  for (int round = 0; round < 3; ++round) {
    unload_module();
    ASSERT_EQ(load_module(), 0);
  }
  EXPECT_EQ(vorn::module().DriverState, vorn::kStateQxDrvInited);
}

struct FailedStart {
  kern::Alloc kind;
  int skip;
  const char *message;
};

class LoadFailure : public VornTest, public ::testing::WithParamInterface<FailedStart> {};

TEST_P(LoadFailure, LeavesNothingRegisteredOrAllocated) {
  unload_module();
  kern::fail_next(GetParam().kind, GetParam().skip);
  kern::printk_clear();
  int rc = load_module();
  EXPECT_LT(rc, 0);
  EXPECT_TRUE(printed(GetParam().message));
  EXPECT_FALSE(kern::chrdev_registered(239));
  EXPECT_FALSE(kern::proc_registered("driver/vorn"));
  EXPECT_FALSE(kern::irq_requested(16));
  EXPECT_FALSE(kern::irq_requested(17));
  EXPECT_EQ(PacketInspect, nullptr);
  EXPECT_EQ(kern::blocks_in_use(), baseline_blocks);
  kern::clear_failures();
  EXPECT_EQ(load_module(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, LoadFailure,
    ::testing::Values(FailedStart{kern::Alloc::kChrdev, 0, "Vorn_init():register_chrdev() Error in main:"},
                      FailedStart{kern::Alloc::kDma, 0, "allocate QuorixMem memory(16777216) failed\n"},
                      FailedStart{kern::Alloc::kDma, 1,
                                  "allocate TcpConnectionTable memory(4194304) failed\n"},
                      FailedStart{kern::Alloc::kIrq, 0, "<3>qxIsrRegistration(): Can't request irq 16\n"},
                      FailedStart{kern::Alloc::kIrq, 1, "<3>qxIsrRegistration(): Can't request irq 17\n"}));

TEST_F(LoadUnload, AMajorTakenByAnotherDriverIsLeftToIt) {
  unload_module();
  file_operations other{};
  ASSERT_EQ(register_chrdev(239, "other", &other), 0);
  EXPECT_LT(load_module(), 0);
  std::string name;
  ASSERT_TRUE(kern::chrdev_registered(239, &name));
  EXPECT_EQ(name, "other");
  EXPECT_EQ(unregister_chrdev(239, "other"), 0);
}

TEST_F(LoadUnload, OpenAndReleaseSucceedReadAndWriteAreRefused) {
  EXPECT_EQ(kern::chrdev_open(239), 0);
  char buffer[8] = {};
  EXPECT_EQ(kern::chrdev_read(239, buffer, sizeof buffer), -22);
  EXPECT_EQ(kern::chrdev_write(239, buffer, sizeof buffer), -22);
  EXPECT_EQ(kern::chrdev_release(239), 0);
}

TEST_F(LoadUnload, UnloadReleasesPacketsTheEngineStillHolds) {
  enable_inspection();
  device->set_auto_run(false);
  unsigned char ip[28] = {0x45, 0, 0,  28, 0, 1, 0,    0,    64, 17, 0, 0, 10, 0,
                          0,    1, 10, 0,  0, 2, 0x30, 0x39, 0,  53, 0, 8, 0,  0};
  for (int i = 0; i < 3; ++i) kern::receive(kern::make_frame("eth0", ETH_P_IP, ip, 28));
  EXPECT_TRUE(deliveries.empty());
  unload_module();
  EXPECT_EQ(kern::blocks_in_use(), baseline_blocks);
}

// ---- /proc/driver/vorn --------------------------------------------------------------------------
std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(LoadUnload, ProcReportHasItsThirteenLines) {
  auto lines = lines_of(proc_report());
  ASSERT_EQ(lines.size(), 13u);
  uint32_t start = vorn::module().quorix_mem_bus + vorn::kDescriptorChainOffset + 0x40000000;
  char expected[64];
  EXPECT_EQ(lines[0], "Quorix Driver Version = v1.59, State=QXDRV_INITED");
  EXPECT_EQ(lines[1], "Quorix hardware status=0x100");
  std::snprintf(expected, sizeof expected, "Current Desc Ptr=0x%X", start);
  EXPECT_EQ(lines[2], expected);
  std::snprintf(expected, sizeof expected, "Desc Chain Base Address=0x%X", start);
  EXPECT_EQ(lines[3], expected);
  std::snprintf(expected, sizeof expected, "State Table Base Address=0x%X",
                vorn::module().quorix_mem_bus + 0x198000 + 0x40000000);
  EXPECT_EQ(lines[4], expected);
  std::snprintf(expected, sizeof expected, "Rule Table Base Address=0x%X",
                vorn::module().quorix_mem_bus + 0x80000 + 0x40000000);
  EXPECT_EQ(lines[5], expected);
  std::snprintf(expected, sizeof expected, "Pattern Table Base Address=0x%X",
                vorn::module().quorix_mem_bus + 0x40000000);
  EXPECT_EQ(lines[6], expected);
  EXPECT_EQ(lines[7], "Total Desc Num=1024");
  EXPECT_EQ(lines[8], "Desc Write Index=0");
  EXPECT_EQ(lines[9], "Current Working Index=0");
  EXPECT_EQ(lines[10], "Desc Read Index=0");
  EXPECT_EQ(lines[11], "Bogo bps=0");
  EXPECT_EQ(lines[12], "# of Tcp Conn=0,MLT_EST=1800,MLT_ABN=60");
}

TEST_F(LoadUnload, ProcReportFollowsStateRingAndPayloadRate) {
  enable_inspection();
  proc_report();  // takes the first rate sample
  unsigned char ip[128] = {0x45, 0, 0, 128, 0, 1, 0, 0,    64,   17, 0,  0, 10,
                           0,    0, 1, 10,  0, 0, 2, 0x30, 0x39, 0,  53, 0, 108};
  kern::clock_advance_ms(1000);
  for (int i = 0; i < 10; ++i) kern::receive(kern::make_frame("eth0", ETH_P_IP, ip, sizeof ip));
  auto lines = lines_of(proc_report());
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[0], "Quorix Driver Version = v1.59, State=OK");
  EXPECT_EQ(lines[8], "Desc Write Index=10");
  EXPECT_EQ(lines[9], "Current Working Index=10");
  EXPECT_EQ(lines[10], "Desc Read Index=10");
  // 10 payloads of 100 bytes in 100 jiffies: 10 bytes per jiffy, 8000 bits per second.
  EXPECT_EQ(lines[11], "Bogo bps=8000");
}

TEST(DriverStateText, NamesEveryState) {
  EXPECT_STREQ(vorn::driver_state_text(0), "CLOSE");
  EXPECT_STREQ(vorn::driver_state_text(2), "MODULE_INITED");
  EXPECT_STREQ(vorn::driver_state_text(4), "QXDRV_INITED");
  EXPECT_STREQ(vorn::driver_state_text(6), "RULE_INSERTING");
  EXPECT_STREQ(vorn::driver_state_text(8), "OK");
  EXPECT_STREQ(vorn::driver_state_text(101), "QUEUE_FULL");
  EXPECT_STREQ(vorn::driver_state_text(7), "ERROR");
}

}  // namespace
}  // namespace vorn_test
