// The report calls of the web pages against a started daemon in this process: top list, category
// totals, single events with their names, reset, the chart, and the hour buckets behind it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "fake_module.h"
#include "ipc.h"
#include "ipc_namespace.h"
#include "policy_builder.h"
#include "records.h"
#include "rpt_agent.h"
#include "rpt_tree.h"

namespace vornagent {
namespace {

using testing::FakeDevice;
using testing::FakeModule;

constexpr uint32_t kAlice = 0x0100000a;  // 10.0.0.1 as stored
constexpr uint32_t kBob = 0x0200000a;

class ReportClient : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(enter_fresh_ipc_namespace());
    setenv("VORNAGENT_NET_DEV", "/nonexistent/net_dev", 1);
    ::testing::internal::CaptureStdout();
    module.state = 4;
    ASSERT_EQ(kaStartup(), 0);
    alarm(0);
    install_names({"Zero", "Ping of Death", "Land"});
    semaphore = kaGetKey();
  }
  void TearDown() override {
    kaShutDown();
    output = ::testing::internal::GetCapturedStdout();
    unsetenv("VORNAGENT_NET_DEV");
  }

  void install_names(std::vector<std::string> names) {
    builder::PolicySpec spec;
    spec.attack_names = std::move(names);
    std::vector<uint8_t> file = builder::build_policy_file(spec);
    void *segment = nullptr;
    int size = 0;
    ASSERT_EQ(kaGetSharedMemory(&segment, &size), 0);
    std::memcpy(segment, file.data(), file.size());
    kaReleaseSharedMemory(&segment);
    ASSERT_EQ(kaUpdateSig(), 0);
  }

  // The alarm fires and its handler runs the tick; the real timer stays off so that only the test
  // makes ticks.
  void tick() {
    raise(SIGALRM);
    alarm(0);
  }

  std::vector<KaRawEvent> events() {
    std::vector<KaRawEvent> all;
    EXPECT_EQ(kaSemWait(semaphore), 0);
    KaRawEvent event{};
    for (int n = 0; kaGetRawData(n, &event) == 0; ++n) all.push_back(event);
    EXPECT_EQ(kaGetRawData(-1, &event), -1);
    kaSemSignal(semaphore);
    return all;
  }

  FakeModule module;
  FakeDevice device{module};
  int semaphore = -1;
  std::string output;
};

TEST_F(ReportClient, TopFiveShowsTheBusiestSourcesAndNAForEmptyPlaces) {
  for (int i = 0; i < 3; ++i) module.log_event(kBob, 1, 1);
  module.log_event(kAlice, 2, 4);
  module.log_event(0xFFFFFFFFu, 2, 4);
  tick();
  KaTop5 top{};
  ASSERT_EQ(kaGetTop5(&top), 0);
  EXPECT_STREQ(top.address[0], "10.0.0.2");
  EXPECT_EQ(top.count[0], 3u);
  EXPECT_STREQ(top.address[1], "10.0.0.1");
  EXPECT_STREQ(top.address[2], "255.255.255.255");  // a real source, not an empty place
  EXPECT_STREQ(top.address[3], "N/A");
  EXPECT_EQ(top.count[3], 0u);
  EXPECT_EQ(kaGetTop5(nullptr), -1);
}

// The daemon's own code may hold the report lock when the alarm comes: the tick is skipped, not
// waited for, and the next one counts everything that waited and keeps the slots in time.
TEST_F(ReportClient, AnAlarmWhileTheReportIsLockedIsCaughtUpAtTheNext) {
  auto *report = static_cast<const uint32_t *>(attach_segment(kRptAgntKey));
  for (int i = 0; i < 3; ++i) module.log_event(kBob, 1, 1);
  ASSERT_EQ(kaSemWait(semaphore), 0);
  tick();
  ASSERT_EQ(kaSemSignal(semaphore), 0);
  EXPECT_EQ(report[rpt::kCurrentSlot], 0u);
  EXPECT_EQ(module.log.size(), 3u);
  EXPECT_EQ(report[rpt::kTopCounts], 0u);

  for (int i = 0; i < 2; ++i) module.log_event(kAlice, 1, 4);
  tick();
  EXPECT_TRUE(module.log.empty());
  EXPECT_EQ(report[rpt::kCurrentSlot], 2u);  // the skipped slot and this one
  EXPECT_EQ(report[rpt::kSlotEvents + 0], 0u);
  EXPECT_EQ(report[rpt::kSlotEvents + 1], 5u);
  EXPECT_EQ(report[rpt::kCategoryCounters + 0], 3u);
  EXPECT_EQ(report[rpt::kCategoryCounters + 3], 2u);
  KaTop5 top{};
  ASSERT_EQ(kaGetTop5(&top), 0);
  EXPECT_STREQ(top.address[0], "10.0.0.2");
  EXPECT_EQ(top.count[0], 3u);
  EXPECT_EQ(top.count[1], 2u);
  detach_segment(const_cast<uint32_t *>(report));
}

// Likewise when the alarm comes while the daemon's own code holds the device lock in a command.
TEST_F(ReportClient, AnAlarmDuringTheProcesssOwnDeviceCommandIsCaughtUpAtTheNext) {
  auto *report = static_cast<const uint32_t *>(attach_segment(kRptAgntKey));
  module.log_event(kBob, 1, 1);
  module.signal_in_next_ioctl = SIGALRM;
  EXPECT_EQ(kaSetIPSFunction(0), 0);
  alarm(0);
  EXPECT_EQ(module.ips, 0u);
  EXPECT_EQ(report[rpt::kCurrentSlot], 0u);
  EXPECT_EQ(module.log.size(), 1u);
  tick();
  EXPECT_TRUE(module.log.empty());
  EXPECT_EQ(report[rpt::kCurrentSlot], 2u);
  EXPECT_EQ(report[rpt::kSlotEvents + 1], 1u);
  detach_segment(const_cast<uint32_t *>(report));
}

TEST_F(ReportClient, CategoriesListTheShownOnesBusiestFirstInCodeOrderOnTies) {
  for (int i = 0; i < 2; ++i) module.log_event(kAlice, 1, 11);
  module.log_event(kAlice, 1, 7);
  tick();
  KaCategoryList list{};
  ASSERT_EQ(kaGetCategory(&list), 0);
  ASSERT_EQ(list.n, 10u);
  EXPECT_STREQ(list.name[0], "Web Attacks");
  EXPECT_EQ(list.count[0], 2u);
  EXPECT_STREQ(list.name[1], "P2P");
  EXPECT_STREQ(list.name[2], "DoS / DDoS");
  EXPECT_STREQ(list.name[8], "IM");
  EXPECT_STREQ(list.name[9], "Virus Worm");
  EXPECT_EQ(list.name[10][0], '\0');
  for (uint32_t i = 0; i < list.n; ++i) {
    EXPECT_STRNE(list.name[i], "Porn");
    EXPECT_STRNE(list.name[i], "Spam");
  }
}

TEST_F(ReportClient, TheNumberOfCategoriesShownNeverExceedsTheList) {
  auto *report = static_cast<uint32_t *>(attach_segment(kRptAgntKey));
  report[rpt::kShownCategories] = 1000;
  KaCategoryList list{};
  ASSERT_EQ(kaGetCategory(&list), 0);
  EXPECT_EQ(list.n, 10u);
  report[rpt::kShownCategories] = 3;
  ASSERT_EQ(kaGetCategory(&list), 0);
  EXPECT_EQ(list.n, 3u);
  detach_segment(report);
}

TEST_F(ReportClient, RawEventsComeNewestFirstWithNameAndDottedAddress) {
  module.log_event(kAlice, 1, 1, 1000);
  module.log_event(0xFFFFFFFFu, 2, 1, 1001);
  module.log_event(kBob, 3, 1, 1002);  // one past the names
  tick();
  std::vector<KaRawEvent> all = events();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].time, 1002u);
  EXPECT_STREQ(all[0].name, "");
  EXPECT_STREQ(all[1].address, "255.255.255.255");
  EXPECT_STREQ(all[1].name, "Land");
  EXPECT_STREQ(all[2].address, "10.0.0.1");
  EXPECT_STREQ(all[2].name, "Ping of Death");
}

TEST_F(ReportClient, AttackNamesAreBoundedByTheNamesThisClientAttached) {
  char name[64];
  EXPECT_EQ(kaGetAttackName(0, name), -1);  // outside a bracket
  ASSERT_EQ(kaSemWait(semaphore), 0);
  EXPECT_EQ(kaGetAttackName(2, name), 0);
  EXPECT_STREQ(name, "Land");
  EXPECT_EQ(kaGetAttackName(3, name), -1);
  kaSemSignal(semaphore);
  KaRawEvent event{};
  EXPECT_EQ(kaGetRawData(0, &event), -1);
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("RawDataAgnt is NULL\n"), std::string::npos);
  ::testing::internal::CaptureStdout();
}

// A policy may name no attack at all: it installs, and its events are still listed, without names.
TEST_F(ReportClient, APolicyWithoutAttackNamesInstallsAndItsEventsAreListed) {
  install_names({});
  module.log_event(kAlice, 1, 1, 1000);
  tick();
  std::vector<KaRawEvent> all = events();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_STREQ(all[0].address, "10.0.0.1");
  EXPECT_STREQ(all[0].name, "");
  ASSERT_EQ(kaSemWait(semaphore), 0);
  char name[64];
  EXPECT_EQ(kaGetAttackName(0, name), -1);
  kaSemSignal(semaphore);
}

TEST_F(ReportClient, ResetEmptiesEverythingAndTheDaemonForgetsItsSources) {
  for (int i = 0; i < 4; ++i) module.log_event(kBob, 1, 1);
  tick();
  ASSERT_EQ(kaResetLog(), 0);
  KaTop5 top{};
  kaGetTop5(&top);
  EXPECT_STREQ(top.address[0], "N/A");
  EXPECT_TRUE(events().empty());
  module.log_event(kBob, 1, 1);
  tick();
  EXPECT_EQ(source_events(kBob), 1u);  // the old four are not counted again
  kaGetTop5(&top);
  EXPECT_EQ(top.count[0], 1u);
}

TEST_F(ReportClient, TheChartIsWrittenAndAMissingReportLeavesNoFile) {
  std::filesystem::path chart =
      std::filesystem::temp_directory_path() / ("vornagent-report." + std::to_string(getpid()) + ".png");
  tick();
  ASSERT_EQ(kaPaintChart(chart.c_str()), 0);
  EXPECT_GT(std::filesystem::file_size(chart), 100u);
  std::filesystem::remove(chart);
  EXPECT_EQ(kaPaintChart("/nonexistent/dir/chart.png"), -1);
  kaShutDown();
  EXPECT_EQ(kaPaintChart(chart.c_str()), -1);
  EXPECT_FALSE(std::filesystem::exists(chart));
}

// --- hour buckets ----------------------------------------------------------------------------------

TEST(HourBuckets, TenMinutesAfterStartOnlyTheLatestHourHoldsAnything) {
  std::vector<uint32_t> report(rpt::kWords);
  reset_report(report.data(), 0);
  for (uint32_t slot = 0; slot < 120; ++slot) {
    report[rpt::kSlotEvents + slot] = 1;
    store_u64(report.data(), rpt::kSlotWan + 2 * slot, 1 << 20);
  }
  report[rpt::kCurrentSlot] = 120;
  int wan[24], events[24];
  ASSERT_TRUE(sum_hours(report.data(), wan, events));
  EXPECT_EQ(events[0], 120);
  EXPECT_EQ(wan[0], 120);
  for (int hour = 1; hour < 24; ++hour) EXPECT_EQ(events[hour] + wan[hour], 0) << hour;
}

TEST(HourBuckets, SevenHundredTwentySlotsMakeAnHourCountedBackFromTheCurrentSlot) {
  std::vector<uint32_t> report(rpt::kWords);
  reset_report(report.data(), 0);
  for (uint32_t slot = 0; slot < rpt::kSlots; ++slot) report[rpt::kSlotEvents + slot] = 1;
  report[rpt::kCurrentSlot] = 100;  // a wrapped day: the oldest is the one after the current
  report[rpt::kOldestSlot] = 101;
  report[rpt::kSlotEvents + 99] = 1000;  // the newest slot
  int wan[24], events[24];
  ASSERT_TRUE(sum_hours(report.data(), wan, events));
  EXPECT_EQ(events[0], 720 - 1 + 1000);
  for (int hour = 1; hour < 23; ++hour) EXPECT_EQ(events[hour], 720);
  EXPECT_EQ(events[23], 720 - 1);  // 17279 slots in all
  report[rpt::kOldestSlot] = rpt::kSlots;
  EXPECT_FALSE(sum_hours(report.data(), wan, events));
}

// --- the per-source tree ---------------------------------------------------------------------------

// Checks order, heights and balance; returns the number of nodes.
std::size_t check_tree(const RptAvlT *node, int64_t low, int64_t high) {
  if (!node) return 0;
  EXPECT_GT(int64_t{node->key}, low);
  EXPECT_LT(int64_t{node->key}, high);
  int32_t left = RptAvlTHeight(node->left), right = RptAvlTHeight(node->right);
  EXPECT_EQ(node->height, 1 + std::max(left, right));
  EXPECT_LE(std::abs(left - right), 1);
  return 1 + check_tree(node->left, low, node->key) + check_tree(node->right, node->key, high);
}

TEST(SourceTree, StaysOrderedAndBalancedThroughInsertionsAndDeletions) {
  SourceTree tree;
  std::mt19937 random(7);
  std::vector<uint32_t> keys;
  for (int i = 0; i < 3000; ++i) keys.push_back(random() % 5000);
  for (uint32_t key : keys) tree.add(key);
  std::shuffle(keys.begin(), keys.end(), random);
  for (std::size_t i = 0; i < keys.size() / 2; ++i) tree.remove(keys[i]);
  std::size_t nodes = check_tree(tree.root(), -1, int64_t{1} << 33);
  EXPECT_EQ(nodes, tree.size());
  EXPECT_LE(RptAvlTHeight(tree.root()), 16);
  for (std::size_t i = keys.size() / 2; i < keys.size(); ++i) tree.remove(keys[i]);
  EXPECT_EQ(tree.size(), 0u);
  EXPECT_EQ(tree.root(), nullptr);
}

TEST(SourceTree, HoldsNoMoreSourcesThanTheRingCanHaveRecords) {
  SourceTree tree;
  ::testing::internal::CaptureStdout();
  for (uint32_t key = 0; key < SourceTree::kCapacity; ++key) ASSERT_NE(tree.add(key), nullptr);
  EXPECT_EQ(tree.add(SourceTree::kCapacity), nullptr);
  EXPECT_NE(tree.add(5), nullptr);  // a known source still counts
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "kaRptAgnt(131) : Out of Space\n");
  EXPECT_EQ(tree.remove(SourceTree::kCapacity + 1), -1);
}

TEST(SourceTree, FindMinAndMaxAreTheLeftmostAndRightmostNodes) {
  NodePool pool(64);
  EXPECT_EQ(RptAvlTFindMin(nullptr), nullptr);
  EXPECT_EQ(RptAvlTFindMax(nullptr), nullptr);
  RptAvlT *tree = nullptr;
  for (uint32_t key : {50u, 20u, 80u, 10u, 30u, 70u, 90u, 5u, 95u, 60u})
    tree = RptAvlTInsert(key, key, tree, pool);
  RptAvlT *smallest = RptAvlTFindMin(tree);
  RptAvlT *largest = RptAvlTFindMax(tree);
  ASSERT_NE(smallest, nullptr);
  ASSERT_NE(largest, nullptr);
  EXPECT_EQ(smallest->key, 5u);
  EXPECT_EQ(smallest->left, nullptr);
  EXPECT_EQ(largest->key, 95u);
  EXPECT_EQ(largest->right, nullptr);

  tree = RptAvlTDelete(5, tree, pool);
  tree = RptAvlTDelete(95, tree, pool);
  EXPECT_EQ(RptAvlTFindMin(tree)->key, 10u);
  EXPECT_EQ(RptAvlTFindMax(tree)->key, 90u);
  RptAvlT single{42, 1, nullptr, nullptr, 0};
  EXPECT_EQ(RptAvlTFindMin(&single), &single);
  EXPECT_EQ(RptAvlTFindMax(&single), &single);
}

TEST(SourceTree, MakeEmptyGivesEveryNodeBackForReuse) {
  constexpr std::size_t kNodes = 16;
  NodePool pool(kNodes);
  EXPECT_EQ(RptAvlTMakeEmpty(nullptr, pool), nullptr);
  RptAvlT *tree = nullptr;
  for (uint32_t key = 0; key < kNodes; ++key) tree = RptAvlTInsert(key * 7 % kNodes, 1, tree, pool);
  ASSERT_EQ(pool.used(), kNodes);
  EXPECT_EQ(RptAvlTMakeEmpty(tree, pool), nullptr);
  EXPECT_EQ(pool.used(), 0u);
  tree = nullptr;
  for (uint32_t key = 100; key < 100 + kNodes; ++key) tree = RptAvlTInsert(key, 2, tree, pool);
  EXPECT_EQ(check_tree(tree, 99, 100 + kNodes), kNodes);

  SourceTree sources;
  for (uint32_t key = 0; key < SourceTree::kCapacity; ++key) ASSERT_NE(sources.add(key), nullptr);
  sources.clear();
  EXPECT_EQ(sources.size(), 0u);
  EXPECT_EQ(sources.root(), nullptr);
  for (uint32_t key = 0; key < SourceTree::kCapacity; ++key) ASSERT_NE(sources.add(key + 1), nullptr);
}

TEST(SourceTree, RetriveGivesTheNodeWithItsKeyAndCount) {
  NodePool pool(4);
  RptAvlT *tree = RptAvlTInsert(0x0100000a, 3, nullptr, pool);
  tree = RptAvlTInsert(0x0200000a, 1, tree, pool);
  RptAvlT *found = RptAvlTSrch(0x0100000a, tree);
  ASSERT_NE(found, nullptr);
  RptAvlT *element = RptAvlTRetrive(found);
  EXPECT_EQ(element, found);
  EXPECT_EQ(element->key, 0x0100000au);
  EXPECT_EQ(element->count, 3u);
  EXPECT_EQ(RptAvlTRetrive(nullptr), nullptr);
}

}  // namespace
}  // namespace vornagent
