// Batches of register accesses on the driver, and hardware learning on demand.
#include <gtest/gtest.h>

#include <cerrno>

#include "control.h"
#include "driver.h"

namespace swchip {
namespace {

using swgenio::wire::BatchKind;
using swgenio::wire::BatchOp;
using swgenio::wire::BatchOpResult;
using swgenio::wire::kBatchBusy;
using swgenio::wire::kBatchDone;
using swgenio::wire::kBatchSkipped;

class DriverBatch : public ::testing::Test {
 protected:
  ChipModel chip;
  Driver driver{chip};
  Control control{chip, driver};
};

TEST_F(DriverBatch, AccessesRunInOrderAsSingleRequestsWould) {
  const std::vector<BatchOp> ops{{BatchKind::kWrite, false, 2, 0, 0x41, 0x5F},
                                 {BatchKind::kRead, false, 2, 0, 0x41, 0},
                                 {BatchKind::kRead, true, 7, 0, 0x18, 0}};
  const auto results = driver.run_batch(ops);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0], (BatchOpResult{kBatchDone, 0}));
  EXPECT_EQ(results[1], (BatchOpResult{kBatchDone, 0x5F}));
  EXPECT_EQ(results[2], (BatchOpResult{kBatchDone, kChipIdG5RevA}));
  EXPECT_EQ(chip.peek(2, 0, 0x41), 0x5Fu);
}

TEST_F(DriverBatch, FailureOrClearTestEndsOnlyItsGroup) {
  driver.add_fault({AccessKind::kSpiWrite, 2, 1});
  const std::vector<BatchOp> ops{{BatchKind::kWrite, false, 2, 0, 0x41, 1},  // fails
                                 {BatchKind::kWrite, true, 2, 0, 0x42, 2},   // skipped
                                 {BatchKind::kTest, false, 2, 0, 0x43, 1},   // reads 0: ends the group
                                 {BatchKind::kWrite, true, 2, 0, 0x44, 4},   // skipped
                                 {BatchKind::kWrite, true, 2, 0, 0x45, 5}};
  const auto results = driver.run_batch(ops);
  ASSERT_EQ(results.size(), 5u);
  EXPECT_EQ(results[0].result, -EIO);
  EXPECT_EQ(results[1].result, kBatchSkipped);
  EXPECT_EQ(results[2].result, kBatchDone);
  EXPECT_EQ(results[3].result, kBatchSkipped);
  EXPECT_EQ(results[4].result, kBatchDone);
  EXPECT_EQ(chip.peek(2, 0, 0x42), 0u);
  EXPECT_EQ(chip.peek(2, 0, 0x44), 0u);
  EXPECT_EQ(chip.peek(2, 0, 0x45), 5u);
}

TEST_F(DriverBatch, BusyPollStopsTheBatchSoTheClientCanKeepPolling) {
  chip.stuck.mac_busy = true;
  const std::vector<BatchOp> ops{{BatchKind::kWrite, false, 2, 0, 0xB0, 6},
                                 {BatchKind::kPoll, false, 2, 0, 0xB0, 7},
                                 {BatchKind::kWrite, true, 2, 0, 0x45, 5}};
  const auto results = driver.run_batch(ops);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[1].result, kBatchBusy);
  EXPECT_NE(results[1].value & 7, 0u);
  EXPECT_EQ(chip.peek(2, 0, 0x45), 0u) << "nothing after the busy poll ran";
}

TEST_F(DriverBatch, LearningFillsTheTableAndReportsWhatItTook) {
  EXPECT_EQ(control.execute("learn 2 5 02:00:00:00:00:00 100"), "ok 100");
  unsigned valid = 0;
  for (unsigned i = 0; i < kMacEntries; ++i) valid += chip.mac_entry(i).valid;
  EXPECT_EQ(valid, 100u);
  // The same addresses again are already known; the next ones are new.
  EXPECT_EQ(control.execute("learn 2 5 02:00:00:00:00:00 10"), "ok 10");
  EXPECT_EQ(control.execute("learn 0 1 02:00:00:00:10:00 8192"), "ok " + std::to_string(kMacEntries - 110));
  EXPECT_EQ(control.execute("learn 0 1 02:00:00:10:00:00 1"), "ok 0") << "a full table takes nothing";
  for (const char *bad :
       {"learn 7 1 02:00:00:00:00:00 1", "learn 0 4096 02:00:00:00:00:00 1", "learn 0 1 02:00:00:00:00 1",
        "learn 0 1 02-00-00-00-00-00 1", "learn 0 1 02:00:00:00:00:zz 1", "learn 0 1 02:00:00:00:00:00 8193",
        "learn 0 1 02:00:00:00:00:00"}) {
    EXPECT_EQ(control.execute(bad).rfind("error: ", 0), 0u) << bad;
  }
}

}  // namespace
}  // namespace swchip
