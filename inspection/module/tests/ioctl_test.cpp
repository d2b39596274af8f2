// The fifteen commands of /dev/vorn: records, answers and refusals.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>

#include "vorn_engine.h"
#include "vorn_fixture.h"
#include "vorn_records.h"

namespace vorn_test {
namespace {

using namespace vorn;

class Ioctl : public VornTest {
 protected:
  void put_kernel_log(uint32_t read, uint32_t write) {
    module().pVornKernLogQueue->read_index = read;
    module().pVornKernLogQueue->write_index = write;
    for (uint32_t i = read; i != write; i = (i + 1) & kKernLogMask)
      module().pVornKernLogQueue->records[i] = VornLogRecord{0x0100000a, i, 4, 1700000000 + i};
  }
  std::unique_ptr<ParamtVornLogTable> log_table(uint32_t read, uint32_t write, uint32_t count) {
    auto table = std::make_unique<ParamtVornLogTable>();
    std::memset(table.get(), 0xEE, sizeof *table);
    table->read_index = read;
    table->write_index = write;
    table->count = count;
    table->status = 0x5a5a;
    return table;
  }
};

// ---- status ---------------------------------------------------------------------------------------
TEST_F(Ioctl, StatusBeforeAnyDownloadReportsEngineInitialised) {
  ParamtVornStatus status{7, 7};
  EXPECT_EQ(ioctl(VORN_IOC_GET_STATUS, &status), 0);
  EXPECT_EQ(status.value, 0u);
  EXPECT_EQ(status.status, 0x1000004u);
}

TEST_F(Ioctl, SetStatusBeforeDownloadChangesNothing) {
  ParamtVornStatus status{1, 0};
  EXPECT_EQ(ioctl(VORN_IOC_SET_STATUS, &status), 0);
  EXPECT_EQ(status.value, 0u);
  EXPECT_EQ(status.status, 0x1000004u);
  EXPECT_EQ(ips_enable_word(), 0u);
}

TEST_F(Ioctl, SetStatusAfterDownloadSwitchesInspection) {
  ASSERT_EQ(download(basic_image()), 0);
  ParamtVornStatus status{0, 9};
  EXPECT_EQ(ioctl(VORN_IOC_SET_STATUS, &status), 0);
  EXPECT_EQ(status.status, 0u);
  ParamtVornStatus now{9, 9};
  EXPECT_EQ(ioctl(VORN_IOC_GET_STATUS, &now), 0);
  EXPECT_EQ(now.value, 0u);
  EXPECT_EQ(now.status, 0u);
}

// ---- policy download ------------------------------------------------------------------------------
TEST_F(Ioctl, DownloadInstallsTheImageAndResetsTheEngine) {
  unsigned resets = device->resets();
  EngineImage image = basic_image();
  unsigned char rule[12] = {6, 0, 3, 0x80, 0, 0, 0, 0, 0, 0, 0, 0};
  image.set_header_rule(0, rule);
  image.set_header_rule(1, rule);
  image.set_header_rule_count(2);
  image.bytes()[kZeroStateTableOffset] = 0x77;
  image.bytes()[kCharsetTableOffset + 4] = 0x55;
  ASSERT_EQ(download(image), 0);
  EXPECT_EQ(module().DriverState, kStateOk);
  EXPECT_EQ(device->resets(), resets + 1);
  EXPECT_TRUE(printed("Reset IDP Engine!!!\n"));
  EXPECT_EQ(device->tables().header_rules[0], 0x80030006u);
  EXPECT_EQ(device->tables().header_rules[3], 0x80030006u);
  EXPECT_EQ(device->tables().zero_state[0], 0x77u);
  EXPECT_EQ(device->tables().charsets[1], 0x55u);
  ParamtVornStatus status{};
  EXPECT_EQ(ioctl(VORN_IOC_GET_STATUS, &status), 0);
  EXPECT_EQ(status.status, 0u);
  // The enable word in force before the download (0) is kept, whatever the image carries.
  EXPECT_EQ(status.value, 0u);
}

TEST_F(Ioctl, DownloadKeepsTheEnableWordInForce) {
  ASSERT_EQ(download(basic_image()), 0);
  ParamtVornStatus on{1, 0};
  ASSERT_EQ(ioctl(VORN_IOC_SET_STATUS, &on), 0);
  EngineImage second = basic_image();
  second.set_enable_word(0);
  ASSERT_EQ(download(second), 0);
  EXPECT_EQ(ips_enable_word(), 1u);
}

TEST_F(Ioctl, DownloadKeepsUnreadEvents) {
  ASSERT_EQ(download(basic_image()), 0);
  put_kernel_log(5, 8);
  ASSERT_EQ(download(basic_image()), 0);
  EXPECT_EQ(module().pVornKernLogQueue->read_index, 5u);
  EXPECT_EQ(module().pVornKernLogQueue->write_index, 8u);
  EXPECT_EQ(module().pVornKernLogQueue->records[6].attack_id, 6u);
}

struct BadDownload {
  const char *name;
  std::function<std::vector<unsigned char>()> make;
  const char *message;
};

class DownloadRefused : public Ioctl, public ::testing::WithParamInterface<BadDownload> {};

TEST_P(DownloadRefused, LeavesInspectionOffAndStateTwo) {
  ASSERT_EQ(download(basic_image()), 0);
  ParamtVornStatus on{1, 0};
  ASSERT_EQ(ioctl(VORN_IOC_SET_STATUS, &on), 0);
  kern::printk_clear();
  EXPECT_EQ(download(GetParam().make()), -25);
  if (*GetParam().message) {
    EXPECT_TRUE(printed(GetParam().message)) << GetParam().message;
  }
  EXPECT_EQ(module().DriverState, kStateModuleInited);
  EXPECT_EQ(ips_enable_word(), 0u);
  ParamtVornStatus status{};
  EXPECT_EQ(ioctl(VORN_IOC_GET_STATUS, &status), 0);
  EXPECT_EQ(status.value, 0u);
  EXPECT_EQ(status.status, 0x1000002u);
  // A good download afterwards recovers (the enable word in force, 0, is kept).
  EXPECT_EQ(download(basic_image()), 0);
  EXPECT_EQ(module().DriverState, kStateOk);
}

std::vector<unsigned char> packed_basic() {
  return VornTest::basic_image().packed(1);
}

INSTANTIATE_TEST_SUITE_P(
    EachRefusal, DownloadRefused,
    ::testing::Values(BadDownload{"WrongTableId",
                                  [] {
                                    auto p = packed_basic();
                                    store32(p.data(), 0x20000002);
                                    return p;
                                  },
                                  "TableID(0x20000002)!=POLICY_TABLE_ID_KERNEL_MEMORY_BANK_01\n"},
                      BadDownload{"OriginalTooLarge",
                                  [] {
                                    auto p = packed_basic();
                                    store32(p.data() + 4, 0x1000001);
                                    return p;
                                  },
                                  "pParamtVornPolicyTableHeader->TableOriginalSize>QX_MEM_SIZE\n"},
                      BadDownload{"ZippedTooLarge",
                                  [] {
                                    auto p = packed_basic();
                                    store32(p.data() + 8, 0x1000001);
                                    return p;
                                  },
                                  "TableZippedSize>QX_MEM_SIZE"},
                      BadDownload{"TruncatedStream",
                                  [] {
                                    auto p = packed_basic();
                                    uint32_t half = load32(p.data() + 8) / 2;
                                    store32(p.data() + 8, half);
                                    p.resize(12 + half);
                                    return p;
                                  },
                                  "unZip  Error(-3)"},
                      BadDownload{"CorruptStream",
                                  [] {
                                    auto p = packed_basic();
                                    p[12] = 0x00;
                                    return p;
                                  },
                                  "unZip  Error("},
                      BadDownload{"ImageLargerThanEngineMemory",
                                  [] {
                                    return pack_table(std::vector<unsigned char>(QX_MEM_SIZE + 1, 0),
                                                      0x20000001, 1);
                                  },
                                  "pParamtVornPolicyTableHeader->TableOriginalSize>QX_MEM_SIZE\n"},
                      BadDownload{"TooManyHeaderRules",
                                  [] {
                                    EngineImage image = VornTest::basic_image();
                                    image.set_header_rule_count(513);
                                    return image.packed(1);
                                  },
                                  "Header-only rule number(513) is ERROR\n"},
                      BadDownload{"StreamRunsPastTheCallersMemory",
                                  [] {
                                    auto p = packed_basic();
                                    store32(p.data() + 8, 0x1000000);
                                    return p;
                                  },
                                  ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Ioctl, DownloadWithNullOrUnmappedHeaderIsRefused) {
  ParamtVornPolicyTable table{0, 0};
  EXPECT_EQ(ioctl(VORN_IOC_LOAD_RULE_TABLES, &table), -25);
  table.header_address = 0x1000;  // the first pages are never mapped
  EXPECT_EQ(ioctl(VORN_IOC_LOAD_RULE_TABLES, &table), -25);
  EXPECT_EQ(module().DriverState, kStateModuleInited);
}

TEST_F(Ioctl, DownloadDropsHeldPackets) {
  ASSERT_EQ(download(basic_image()), 0);
  ParamtVornStatus on{1, 0};
  ASSERT_EQ(ioctl(VORN_IOC_SET_STATUS, &on), 0);
  device->set_auto_run(false);
  unsigned char ip[28] = {0x45, 0, 0, 28, 0, 1, 0, 0,    64,   17, 0,  0, 10,
                          0,    0, 1, 10, 0, 0, 2, 0x30, 0x39, 0,  53, 0, 8};
  for (int i = 0; i < 4; ++i) kern::receive(kern::make_frame("eth0", ETH_P_IP, ip, sizeof ip));
  ASSERT_NE(module().MappingTable_IpsDescriptorToSkb[0], nullptr);
  ASSERT_EQ(download(basic_image()), 0);
  for (auto *held : module().MappingTable_IpsDescriptorToSkb) EXPECT_EQ(held, nullptr);
  EXPECT_EQ(module().desc_write_index, 0u);
  EXPECT_EQ(module().desc_read_index, 0u);
}

// ---- log ring -------------------------------------------------------------------------------------
TEST_F(Ioctl, GetLogsCountZeroLeavesTheBlockUnchanged) {
  put_kernel_log(0, 3);
  auto table = log_table(0, 0, 0);
  auto before = *table;
  EXPECT_EQ(ioctl(VORN_IOC_GET_LOGS, table.get()), 0);
  EXPECT_EQ(std::memcmp(&before, table.get(), sizeof before), 0);
  EXPECT_EQ(module().pVornKernLogQueue->read_index, 0u);
}

TEST_F(Ioctl, GetLogsCountOf8192IsRefused) {
  auto table = log_table(0, 0, 8192);
  EXPECT_EQ(ioctl(VORN_IOC_GET_LOGS, table.get()), -25);
}

TEST_F(Ioctl, GetLogsCopiesIntoTheCallersRingAndWraps) {
  put_kernel_log(1020, 3);
  auto table = log_table(40, 8190, 100);
  ASSERT_EQ(ioctl(VORN_IOC_GET_LOGS, table.get()), 0);
  EXPECT_EQ(table->count, 7u);
  EXPECT_EQ(table->write_index, 5u);
  EXPECT_EQ(table->read_index, 40u);
  EXPECT_EQ(table->status, 0x5a5au);
  EXPECT_EQ(table->ring[8190].attack_id, 1020u);
  EXPECT_EQ(table->ring[1].attack_id, 1023u);
  EXPECT_EQ(table->ring[4].attack_id, 2u);
  EXPECT_EQ(table->ring[4].source, 0x0100000au);
  EXPECT_EQ(table->ring[5].attack_id, 0xEEEEEEEEu);
  EXPECT_EQ(module().pVornKernLogQueue->read_index, 3u);
}

TEST_F(Ioctl, GetLogsStopsAtTheRequestedCount) {
  put_kernel_log(0, 10);
  auto table = log_table(0, 0, 4);
  ASSERT_EQ(ioctl(VORN_IOC_GET_LOGS, table.get()), 0);
  EXPECT_EQ(table->count, 4u);
  EXPECT_EQ(module().pVornKernLogQueue->read_index, 4u);
}

TEST_F(Ioctl, GetLogsIntoAFullCallerRingCopiesNothing) {
  put_kernel_log(0, 10);
  auto table = log_table(100, 99, 5);
  ASSERT_EQ(ioctl(VORN_IOC_GET_LOGS, table.get()), 0);
  EXPECT_EQ(table->count, 0u);
  EXPECT_EQ(table->write_index, 99u);
  EXPECT_EQ(module().pVornKernLogQueue->read_index, 0u);
}

TEST_F(Ioctl, GetLogsRefusesCallerIndicesOutsideItsRing) {
  put_kernel_log(0, 10);
  auto table = log_table(0, 8192, 5);
  EXPECT_EQ(ioctl(VORN_IOC_GET_LOGS, table.get()), -25);
  table = log_table(0x80000000u, 0, 5);
  EXPECT_EQ(ioctl(VORN_IOC_GET_LOGS, table.get()), -25);
  EXPECT_EQ(module().pVornKernLogQueue->read_index, 0u);
}

TEST_F(Ioctl, KernelRingIndicesFromAnImageAreMasked) {
  module().pVornKernLogQueue->read_index = 0xFFFF0000u;
  module().pVornKernLogQueue->write_index = 0xFFFF0002u;
  auto table = log_table(0, 0, 5);
  ASSERT_EQ(ioctl(VORN_IOC_GET_LOGS, table.get()), 0);
  EXPECT_EQ(table->count, 2u);
}

TEST_F(Ioctl, GetLogsLenCountsAcrossTheWrap) {
  put_kernel_log(1020, 3);
  ParamtVornNeededLogsNum waiting{99};
  EXPECT_EQ(ioctl(VORN_IOC_GET_LOGS_LEN, &waiting), 0);
  EXPECT_EQ(waiting.count, 7u);
  put_kernel_log(8, 8);
  EXPECT_EQ(ioctl(VORN_IOC_GET_LOGS_LEN, &waiting), 0);
  EXPECT_EQ(waiting.count, 0u);
}

// ---- application actions -------------------------------------------------------------------------
TEST_F(Ioctl, GetActionFindsTheEntryByIndexWithinItsType) {
  ASSERT_EQ(download(basic_image()), 0);
  IM_P2P_AD_Info info{};
  std::memset(info.name, 'x', sizeof info.name);
  info.index = 1;
  ASSERT_EQ(ioctl(VORN_IOC_GET_IM_ACTION, &info), 0);
  EXPECT_EQ(info.AppID, 2);
  EXPECT_EQ(info.action, 0);
  EXPECT_STREQ(info.name, "MSN");
  EXPECT_EQ(info.name[32], 'x');  // only the first 32 bytes are the module's
  info.index = 0;
  ASSERT_EQ(ioctl(VORN_IOC_GET_P2P_ACTION, &info), 0);
  EXPECT_EQ(info.AppID, 101);
  EXPECT_STREQ(info.name, "BitTorrent");
  ASSERT_EQ(ioctl(VORN_IOC_GET_ANOMALY_ACTION, &info), 0);
  EXPECT_EQ(info.AppID, 201);
}

TEST_F(Ioctl, GetActionOfAnInvalidOrMissingEntryIsRefusedQuietly) {
  ASSERT_EQ(download(basic_image()), 0);
  kern::printk_clear();
  IM_P2P_AD_Info info{};
  info.index = 1;  // eDonkey, not valid
  EXPECT_EQ(ioctl(VORN_IOC_GET_P2P_ACTION, &info), -25);
  info.index = 9;
  EXPECT_EQ(ioctl(VORN_IOC_GET_IM_ACTION, &info), -25);
  EXPECT_FALSE(printed("Error on cmd"));
}

TEST_F(Ioctl, SetActionSelectsByAppIdWhateverTheCommandsType) {
  ASSERT_EQ(download(basic_image()), 0);
  IM_P2P_AD_Status status{0, 0, 101};
  ASSERT_EQ(ioctl(VORN_IOC_SET_IM_ACTION, &status), 0);
  EXPECT_EQ(module().tables.app_table[101].action, 0);
  status = {0, 1, 2};
  ASSERT_EQ(ioctl(VORN_IOC_SET_ANOMALY_ACTION, &status), 0);
  EXPECT_EQ(module().tables.app_table[2].action, 1);
}

TEST_F(Ioctl, SetActionRefusals) {
  ASSERT_EQ(download(basic_image()), 0);
  IM_P2P_AD_Status status{0, 1, 256};
  EXPECT_EQ(ioctl(VORN_IOC_SET_P2P_ACTION, &status), -25);
  EXPECT_TRUE(printed("AppID[256] is Invalid\n"));
  status.AppID = 102;
  EXPECT_EQ(ioctl(VORN_IOC_SET_P2P_ACTION, &status), -25);
  EXPECT_TRUE(printed("IM_P2P_AD_Rule_Table[102] is Invalid\n"));
  EXPECT_TRUE(printed("Quorix_ioctl():Error on cmd=0xC004831F"));
}

TEST_F(Ioctl, TableCommandsNeedTheRuleSet) {
  // Before any image the rule set exists (engine initialisation placed it) but every entry is invalid.
  IM_P2P_AD_Status status{0, 1, 1};
  EXPECT_EQ(ioctl(VORN_IOC_SET_IM_ACTION, &status), -25);
}

// ---- threshold rules ------------------------------------------------------------------------------
TEST_F(Ioctl, GetRuleSearchesItsIdRange) {
  ASSERT_EQ(download(basic_image()), 0);
  KaAppInfoTH info{};
  info.index = 4;
  ASSERT_EQ(ioctl(VORN_IOC_GET_RULE_PORTSCAN, &info), 0);
  EXPECT_EQ(info.rule_id, 5);
  EXPECT_EQ(info.threshold, 50u);
  EXPECT_STREQ(info.name, "IP sweep");
  info.index = 0;
  ASSERT_EQ(ioctl(VORN_IOC_GET_RULE_DDOS, &info), 0);
  EXPECT_EQ(info.rule_id, 17);
  EXPECT_EQ(info.threshold, 2000u);
  info.index = 1;  // UDP flood, not valid
  EXPECT_EQ(ioctl(VORN_IOC_GET_RULE_DDOS, &info), -25);
}

TEST_F(Ioctl, SetRuleSharesOneHandlerAndChecksBounds) {
  ASSERT_EQ(download(basic_image()), 0);
  KaAppStatTH stat{0, 0, 5, 2048};
  EXPECT_EQ(ioctl(VORN_IOC_SET_RULE_DDOS, &stat), 0);
  EXPECT_EQ(module().tables.threshold_table[5].threshold, 2048);
  EXPECT_EQ(module().tables.threshold_table[5].action, 0);

  struct Refused {
    uint16_t id;
    uint32_t threshold;
  } refused[] = {{5, 2049}, {6, 1}, {17, 0}, {1, 3041}, {20, 60001}};
  for (auto r : refused) {
    kern::printk_clear();
    stat = {0, 1, r.id, r.threshold};
    EXPECT_EQ(ioctl(VORN_IOC_SET_RULE_PORTSCAN, &stat), -25);
    char message[80];
    std::snprintf(message, sizeof message, "ScanDDOS Rule(%d)'s Threshold(%d) is ERROR\n", r.id,
                  static_cast<int>(r.threshold));
    EXPECT_TRUE(printed(message)) << message;
  }
  stat = {0, 1, 32, 1};
  EXPECT_EQ(ioctl(VORN_IOC_SET_RULE_DDOS, &stat), -25);
  EXPECT_TRUE(printed("AppID[32] is Invalid\n"));
  stat = {0, 1, 18, 100};
  EXPECT_EQ(ioctl(VORN_IOC_SET_RULE_DDOS, &stat), -25);
  EXPECT_TRUE(printed("PortScan_and_DdosRuleTable[18] is Invalid\n"));
}

// ---- dispatch -------------------------------------------------------------------------------------
TEST_F(Ioctl, WrongTypeNumberAndUnknownCommandsAreRefused) {
  uint32_t word = 0;
  EXPECT_EQ(ioctl(0x80088414, &word), -25);
  EXPECT_TRUE(printed("Quorix_ioctl():_IOC_TYPE ERROR\n"));
  EXPECT_EQ(ioctl(0x80088329, &word), -25);
  EXPECT_TRUE(printed("Quorix_ioctl():_IOC_NR ERROR\n"));
  for (uint32_t nr : {0x16u, 0x17u, 0x18u, 0x1cu, 0x1du, 0x28u, 0x00u}) {
    kern::printk_clear();
    EXPECT_EQ(ioctl(0xc0088300 | nr, &word), -25);
    EXPECT_TRUE(printed("Quorix_ioctl():Unknown Command,cmd=0x"));
    EXPECT_TRUE(printed("Quorix_ioctl():Error on cmd=0x"));
  }
  EXPECT_EQ(module().isDriversLocked.load(), 0);
}

TEST_F(Ioctl, ArgumentBeyondTheUserLimitIsABadAddress) {
  EXPECT_EQ(kern::chrdev_ioctl(239, VORN_IOC_GET_STATUS, TASK_SIZE + 0x1000), -14);
  EXPECT_TRUE(printed("Quorix_ioctl():Memory Access Error,cmd=0x80088314"));
}

TEST_F(Ioctl, UnmappedRecordFailsTheCommand) {
  EXPECT_EQ(kern::chrdev_ioctl(239, VORN_IOC_GET_STATUS, 0x1000), -25);
  EXPECT_EQ(kern::chrdev_ioctl(239, VORN_IOC_SET_STATUS, 0x1000), -25);
  EXPECT_EQ(module().isDriversLocked.load(), 0);
}

TEST_F(Ioctl, SecondIoctlWhileOneRunsIsRefusedAndLeavesTheFlag) {
  module().isDriversLocked = 1;  // as while another caller's ioctl sleeps in a user copy
  ParamtVornStatus status{};
  EXPECT_EQ(ioctl(VORN_IOC_GET_STATUS, &status), -25);
  EXPECT_TRUE(printed("Quorix_open(): is locked by other!!\n"));
  EXPECT_EQ(module().isDriversLocked.load(), 1);
  module().isDriversLocked = 0;
  EXPECT_EQ(ioctl(VORN_IOC_GET_STATUS, &status), 0);
}

}  // namespace
}  // namespace vorn_test
