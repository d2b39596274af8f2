// The report tick against an in-process module: events counted per category, per source and per
// 5-second slot, the ring's expiry, the WAN counters and the 24-hour slot window. Each tick is one
// step of the report's clock, so a day is 17280 calls.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "fake_module.h"
#include "records.h"
#include "rpt_agent.h"

namespace vornagent {
namespace {

using testing::FakeDevice;
using testing::FakeModule;

constexpr uint32_t address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return a | static_cast<uint32_t>(b) << 8 | static_cast<uint32_t>(c) << 16 | static_cast<uint32_t>(d) << 24;
}
constexpr uint32_t kAlice = address(10, 0, 0, 1);
constexpr uint32_t kBob = address(10, 0, 0, 2);
constexpr uint32_t kCarol = address(10, 0, 0, 3);

class ReportTick : public ::testing::Test {
 protected:
  void SetUp() override {
    net_dev = std::filesystem::temp_directory_path() / ("vornagent-netdev." + std::to_string(getpid()));
    write_counters(0, 0);
    setenv("VORNAGENT_NET_DEV", net_dev.c_str(), 1);
    reset_report(report(), 0);
    empty_source_tree();
    ::testing::internal::CaptureStdout();
  }
  void TearDown() override {
    output = ::testing::internal::GetCapturedStdout();
    unsetenv("VORNAGENT_NET_DEV");
    std::filesystem::remove(net_dev);
    empty_source_tree();
  }

  RptAgnt *report() { return words.data(); }
  uint32_t word(std::size_t at) const { return words[at]; }
  uint32_t category(uint32_t code) const { return words[rpt::kCategoryCounters + code - 1]; }
  uint32_t top_count(int place) const { return words[rpt::kTopCounts + place]; }
  uint32_t top_address(int place) const { return words[rpt::kTopAddresses + place]; }
  uint32_t slot_events(std::size_t slot) const { return words[rpt::kSlotEvents + slot]; }
  uint64_t slot_wan(std::size_t slot) const { return load_u64(words.data(), rpt::kSlotWan + 2 * slot); }
  uint32_t stored() const { return (word(rpt::kRingWrite) - word(rpt::kRingRead)) & rpt::kRingMask; }

  void write_counters(uint64_t received, uint64_t sent) {
    std::ofstream(net_dev) << "Inter-|   Receive                            |  Transmit\n"
                           << " face |bytes    packets errs drop fifo frame compressed multicast|bytes ...\n"
                           << "    lo: 999 1 0 0 0 0 0 0 999 1 0 0 0 0 0 0\n"
                           << " veth1: 777 1 0 0 0 0 0 0 777 1 0 0 0 0 0 0\n"
                           << "  eth1: " << received << " 12 0 0 0 0 0 0 " << sent << " 7 0 0 0 0 0 0\n";
  }

  void tick() { RptRawEventRetrive(report()); }

  FakeModule module;
  FakeDevice device{module};
  std::vector<uint32_t> words = std::vector<uint32_t>(rpt::kWords);
  std::filesystem::path net_dev;
  std::string output;
};

TEST_F(ReportTick, CountsEventsPerCategorySourceAndSlot) {
  module.log_event(kAlice, 7, 4, 100);
  module.log_event(kAlice, 7, 4, 101);
  module.log_event(kBob, 9, 1, 102);
  tick();
  EXPECT_EQ(category(4), 2u);
  EXPECT_EQ(category(1), 1u);
  EXPECT_EQ(stored(), 3u);
  EXPECT_EQ(slot_events(0), 3u);
  EXPECT_EQ(word(rpt::kCurrentSlot), 1u);
  EXPECT_EQ(top_address(0), kAlice);
  EXPECT_EQ(top_count(0), 2u);
  EXPECT_EQ(top_address(1), kBob);
  EXPECT_EQ(top_count(1), 1u);
  EXPECT_EQ(top_address(2), 0xFFFFFFFFu);
  EXPECT_EQ(source_events(kAlice), 2u);
  // The records themselves stand in the ring as the module gave them.
  EXPECT_EQ(word(rpt::kLogTable + 4 * 2 + 3), 102u);
}

TEST_F(ReportTick, AQuietTickStillClosesItsSlot) {
  module.log_event(kAlice, 1, 1);
  tick();
  tick();
  EXPECT_EQ(slot_events(0), 1u);
  EXPECT_EQ(slot_events(1), 0u);
  EXPECT_EQ(word(rpt::kCurrentSlot), 2u);
  EXPECT_EQ(word(rpt::kOldestSlot), 0u);
}

TEST_F(ReportTick, UnknownAndHiddenCategoriesCountOnlyInTheTreeAndTheSlot) {
  module.log_event(kAlice, 1, 13);
  module.log_event(kAlice, 1, 0);
  module.log_event(kAlice, 1, 10);  // "Porn" is not shown
  tick();
  for (uint32_t code = 1; code <= 12; ++code) EXPECT_EQ(category(code), 0u) << code;
  EXPECT_EQ(word(0), 0u);
  EXPECT_EQ(word(rpt::kLogTable), kAlice);  // the first ring record, untouched by the counters
  EXPECT_EQ(source_events(kAlice), 3u);
  EXPECT_EQ(slot_events(0), 3u);
  ::testing::internal::GetCapturedStdout();
  ::testing::internal::CaptureStdout();
}

TEST_F(ReportTick, MessagesNameTheRecordsThatAreNotCounted) {
  module.log_event(kAlice, 1, 13);
  module.log_event(kAlice, 1, 12);
  tick();
  std::string text = ::testing::internal::GetCapturedStdout();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(text, "wrong category value\ncategory not supported\n");
}

TEST_F(ReportTick, WithoutTheDeviceNothingHappensAtAll) {
  module.device_present = false;
  module.log_event(kAlice, 1, 1);
  write_counters(5000, 0);
  tick();
  EXPECT_EQ(word(rpt::kCurrentSlot), 0u);
  EXPECT_EQ(slot_wan(0), 0u);
  EXPECT_EQ(stored(), 0u);
}

TEST_F(ReportTick, ARefusedFetchIsReportedAndTheSlotStillAdvances) {
  module.log_event(kAlice, 1, 1);
  module.refuse_logs = true;
  tick();
  module.refuse_log_length = true;
  tick();
  std::string text = ::testing::internal::GetCapturedStdout();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(text, "kaRptAgnt(662) : Get Raw Data Fail\nkaRptAgnt(592) : Get Raw Data Length Fail\n");
  EXPECT_EQ(word(rpt::kCurrentSlot), 2u);
  EXPECT_EQ(stored(), 0u);
  EXPECT_EQ(category(1), 0u);
}

// --- expiry ----------------------------------------------------------------------------------------

// Fills the ring with `count` events of `source` through the module, 1023 per tick.
void fill(FakeModule &module, RptAgnt *report, uint32_t source, uint32_t category, uint32_t count) {
  while (count > 0) {
    uint32_t now = std::min<uint32_t>(count, 1023);
    for (uint32_t i = 0; i < now; ++i) module.log_event(source, 1, category);
    RptRawEventRetrive(report);
    count -= now;
  }
}

TEST_F(ReportTick, AFullRingExpiresExactlyTheRoomTheNewEventsNeed) {
  fill(module, report(), kAlice, 1, 8191);
  ASSERT_EQ(stored(), 8191u);
  ASSERT_EQ(category(1), 8191u);
  for (int i = 0; i < 10; ++i) module.log_event(kBob, 1, 4);
  tick();
  // Free room 1, 10 new: 10 - 1 + 1 = 10 records go (the old records' formula).
  EXPECT_EQ(category(1), 8181u);
  EXPECT_EQ(category(4), 10u);
  EXPECT_EQ(source_events(kAlice), 8181u);
  EXPECT_EQ(source_events(kBob), 10u);
  EXPECT_EQ(stored(), 8191u);
  EXPECT_TRUE(module.log.empty());
}

// Room for exactly as many records as wait is one too few: the module keeps a place empty.
TEST_F(ReportTick, RoomEqualToTheWaitingEventsStillTakesThemAll) {
  fill(module, report(), kAlice, 1, 8182);
  for (int i = 0; i < 10; ++i) module.log_event(kBob, 1, 4);
  tick();
  EXPECT_TRUE(module.log.empty());
  EXPECT_EQ(category(4), 10u);
  EXPECT_EQ(category(1), 8181u);
  EXPECT_EQ(stored(), 8191u);
}

TEST_F(ReportTick, ASourceWhoseEventsAllExpireLeavesTheTreeAndShowsAsEmpty) {
  for (int i = 0; i < 3; ++i) module.log_event(kCarol, 1, 2);
  tick();
  EXPECT_EQ(source_count(), 1u);
  EXPECT_EQ(top_address(0), kCarol);
  EXPECT_EQ(top_count(0), 3u);
  fill(module, report(), kAlice, 1, 8188);  // 3 + 8188 = 8191: full, nothing expired yet
  EXPECT_EQ(source_events(kCarol), 3u);
  for (int i = 0; i < 3; ++i) module.log_event(kBob, 1, 1);
  tick();
  EXPECT_EQ(source_events(kCarol), 0u);
  EXPECT_EQ(source_count(), 2u);
  EXPECT_EQ(category(2), 0u);
  // Carol's place fell to the end with count 0 and no address.
  EXPECT_EQ(top_address(0), kAlice);
  EXPECT_EQ(top_address(1), kBob);
  EXPECT_EQ(top_count(2), 0u);
  EXPECT_EQ(top_address(2), 0xFFFFFFFFu);
}

TEST_F(ReportTick, ExpiryNeverTakesACategoryBelowZero) {
  fill(module, report(), kAlice, 12, 8191);  // "Spam": never counted
  module.log_event(kBob, 1, 12);
  tick();
  EXPECT_EQ(category(12), 0u);
  ::testing::internal::GetCapturedStdout();
  ::testing::internal::CaptureStdout();
}

TEST_F(ReportTick, RingIndicesFromTheSegmentAreKeptInsideTheRing) {
  words[rpt::kRingRead] = 0xFFFF0000u;
  words[rpt::kRingWrite] = 0x12345678u;
  words[rpt::kCurrentSlot] = 99999;
  module.log_event(kAlice, 1, 1);
  tick();
  EXPECT_LT(word(rpt::kRingRead), rpt::kRingRecords);
  EXPECT_LT(word(rpt::kRingWrite), rpt::kRingRecords);
  EXPECT_LT(word(rpt::kCurrentSlot), rpt::kSlots);
  EXPECT_EQ(category(1), 1u);
}

// A module that moves the write index further than it copied must not make old records count again.
TEST_F(ReportTick, OnlyTheRecordsTheModuleCopiedAreCounted) {
  module.log_event(kAlice, 1, 1);
  tick();
  module.log_event(kBob, 1, 1);
  module.write_overrun = 100;
  tick();
  EXPECT_EQ(category(1), 2u);
  EXPECT_EQ(stored(), 2u);
  EXPECT_EQ(source_events(kAlice), 1u);
  EXPECT_EQ(source_count(), 2u);
}

// --- top list --------------------------------------------------------------------------------------

TEST_F(ReportTick, TheTopListKeepsTheSixBusiestInOrderAndEqualsNeverPass) {
  for (uint8_t host = 1; host <= 7; ++host)
    for (int i = 0; i < host; ++i) module.log_event(address(192, 168, 0, host), 1, 1);
  tick();
  for (int place = 0; place < 6; ++place) {
    EXPECT_EQ(top_address(place), address(192, 168, 0, static_cast<uint8_t>(7 - place))) << place;
    EXPECT_EQ(top_count(place), static_cast<uint32_t>(7 - place));
  }
  // Host 2 catches up with host 3 (count 5 each ... ) but never passes an equal count.
  for (int i = 0; i < 3; ++i) module.log_event(address(192, 168, 0, 2), 1, 1);
  tick();
  EXPECT_EQ(top_address(2), address(192, 168, 0, 5));
  EXPECT_EQ(top_address(3), address(192, 168, 0, 2));
  EXPECT_EQ(top_address(4), address(192, 168, 0, 4));
}

// --- WAN traffic -----------------------------------------------------------------------------------

TEST_F(ReportTick, WanTrafficIsTheGrowthOfReceivedPlusSentBytes) {
  write_counters(1000, 500);
  reset_report(report(), RptGetWan());  // the daemon's start takes the counter as it stands
  write_counters(4000, 1500);
  tick();
  EXPECT_EQ(slot_wan(0), 4000u);
  write_counters(4000, 1500);
  tick();
  EXPECT_EQ(slot_wan(1), 0u);
}

TEST_F(ReportTick, ACounterThatDropsRecordsTheNewValue) {
  write_counters(90000, 0);
  tick();
  write_counters(300, 20);
  tick();
  EXPECT_EQ(slot_wan(1), 320u);
}

TEST_F(ReportTick, AnUnreadableCounterMakesAnEmptySlot) {
  write_counters(UINT64_MAX / 2 + 10, 0);
  tick();
  EXPECT_EQ(slot_wan(0), 0u);
  EXPECT_EQ(load_u64(words.data(), rpt::kLastWan), 0u);
}

TEST_F(ReportTick, OnlyTheLineNamingExactlyEth1Counts) {
  std::ofstream(net_dev) << "veth1: 5 0 0 0 0 0 0 0 5\n  eth10: 6 0 0 0 0 0 0 0 6\n";
  EXPECT_EQ(RptGetWan(), 0u);
  std::ofstream(net_dev) << std::string(3000, ' ') << "\neth1:123 0 0 0 0 0 0 0 7 0\n";
  EXPECT_EQ(RptGetWan(), 130u);
  std::ofstream(net_dev) << "eth1: 42 1 2\n";
  EXPECT_EQ(RptGetWan(), 42u);  // fewer than nine numbers: received bytes alone
  std::ofstream(net_dev) << "eth1: 4x2 1 2 3 4 5 6 7 8\n";
  EXPECT_EQ(RptGetWan(), 12u);  // a number ends at its first other character
  std::ofstream(net_dev) << "eth1:\n";
  EXPECT_EQ(RptGetWan(), 0u);
  std::filesystem::remove(net_dev);
  EXPECT_EQ(RptGetWan(), 0u);
}

// --- ticks that could not run ------------------------------------------------------------------

TEST_F(ReportTick, SkippedTicksCloseEmptySlotsBeforeTheCatchUp) {
  write_counters(100, 0);
  tick();
  module.log_event(kAlice, 1, 1);
  write_counters(700, 0);
  EXPECT_TRUE(RptRawEventRetrive(report(), 2));
  EXPECT_EQ(word(rpt::kCurrentSlot), 4u);
  EXPECT_EQ(slot_wan(1), 0u);
  EXPECT_EQ(slot_wan(2), 0u);
  EXPECT_EQ(slot_wan(3), 600u);
  EXPECT_EQ(slot_events(1), 0u);
  EXPECT_EQ(slot_events(3), 1u);
  // Without the device nothing moves, the skipped slots included.
  module.device_present = false;
  EXPECT_FALSE(RptRawEventRetrive(report(), 3));
  EXPECT_EQ(word(rpt::kCurrentSlot), 4u);
}

// --- the 24-hour window ----------------------------------------------------------------------------

TEST_F(ReportTick, ADayOfTicksWrapsTheSlotsAndMovesTheOldest) {
  for (std::size_t i = 0; i + 1 < rpt::kSlots; ++i) tick();
  EXPECT_EQ(word(rpt::kCurrentSlot), rpt::kSlots - 1);
  EXPECT_EQ(word(rpt::kOldestSlot), 0u);
  module.log_event(kAlice, 1, 1);
  tick();  // the last slot of the first day; the current one catches the oldest
  EXPECT_EQ(word(rpt::kCurrentSlot), 0u);
  EXPECT_EQ(word(rpt::kOldestSlot), 1u);
  EXPECT_EQ(slot_events(rpt::kSlots - 1), 1u);
  tick();
  EXPECT_EQ(word(rpt::kCurrentSlot), 1u);
  EXPECT_EQ(word(rpt::kOldestSlot), 2u);
}

}  // namespace
}  // namespace vornagent
