// Register I/O over the SPI path and the parallel bus, checked against the exact driver requests.
#include <gtest/gtest.h>

#include <algorithm>

#include "chip_fixture.h"

namespace {

class RegisterIo : public ChipFixture {};

TEST_F(RegisterIo, SpiWriteSendsBlockSubblockRegisterAndValueMostSignificantFirst) {
  std::vector<uint8_t> seen;
  swgenio_attach_in_process([&](uint32_t code, std::span<uint8_t> record) {
    EXPECT_EQ(code, swgenio::kCpldSpiReadWrite);
    seen.assign(record.begin(), record.end());
    return 0;
  });
  ASSERT_EQ(swc_io_si_wr(1, 3, 0x77, 0x1234), 0);
  ASSERT_EQ(seen.size(), 20u);
  const std::vector<uint8_t> expected{6, 0, 0, 0, 0x33, 0x77, 0x00, 0x00, 0x12, 0x34,
                                      0, 0, 0, 0, 0,    0,    0,    0,    0,    0};
  EXPECT_EQ(seen, expected);
}

TEST_F(RegisterIo, SpiReadReturnsTheRegister) {
  chip.write(2, 0, 0x40, 0xA1B2C3D4);
  uint32_t value = 0;
  ASSERT_EQ(swc_io_si_rd(2, 0, 0x40, &value), 0);
  EXPECT_EQ(value, 0xA1B2C3D4u);
  ASSERT_EQ(accesses().size(), 1u);
  EXPECT_EQ(accesses()[0], spi_rd(2, 0, 0x40, 0xA1B2C3D4));
}

TEST_F(RegisterIo, SpiFailuresGiveReadAndWriteCodes) {
  driver.add_fault({swchip::AccessKind::kAny, -1, -1});
  uint32_t value = 77;
  EXPECT_EQ(swc_io_si_rd(1, 0, 0, &value), kSwcRcReadFailed);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(swc_io_si_wr(1, 0, 0, 5), kSwcRcWriteFailed);
}

TEST_F(RegisterIo, DirectBlocksNeverTouchTheIndirectRegisters) {
  chip.write(4, 7, 9, 0x11);
  chip.write(7, 0, 0x34, 0x22);
  uint32_t a = 0, b = 0;
  ASSERT_EQ(swc_io_pi_rd(4, 7, 9, &a), 0);
  ASSERT_EQ(swc_io_pi_rd(7, 0, 0x34, &b), 0);
  EXPECT_EQ(a, 0x11u);
  EXPECT_EQ(b, 0x22u);
  ASSERT_EQ(accesses().size(), 2u);
  EXPECT_EQ(accesses()[0].kind, K::kBusRead);
  EXPECT_EQ(accesses()[0].block, 4u);
  EXPECT_EQ(accesses()[1].reg, 0x34u);
}

TEST_F(RegisterIo, IndirectReadStartsPollsDoneAndFetchesData) {
  chip.write(2, 0, 0x41, 0xCAFEF00D);
  uint32_t value = 0;
  ASSERT_EQ(swc_io_pi_rd(2, 0, 0x41, &value), 0);
  EXPECT_EQ(value, 0xCAFEF00Du);
  const auto &a = accesses();
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(std::tie(a[0].block, a[0].subblock, a[0].reg), std::make_tuple(2u, 0u, 0x41u));
  EXPECT_EQ(std::tie(a[1].block, a[1].reg), std::make_tuple(7u, 0x30u));
  EXPECT_EQ(std::tie(a[2].block, a[2].reg), std::make_tuple(7u, 0x2cu));
}

TEST_F(RegisterIo, DoneOnTheTwentySixthStatusReadStillSucceeds) {
  chip.write(1, 2, 3, 42);
  chip.indirect_done_delay = 25;
  uint32_t value = 0;
  ASSERT_EQ(swc_io_pi_rd(1, 2, 3, &value), 0);
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(accesses().size(), 1u + 26u + 1u);
}

TEST_F(RegisterIo, DoneNeverSeenFailsAfterExactlyTwentySixStatusReads) {
  chip.stuck.indirect_done = true;
  uint32_t value = 9;
  EXPECT_EQ(swc_io_pi_rd(1, 2, 3, &value), kSwcRcReadFailed);
  const auto &a = accesses();
  const auto status_reads =
      std::count_if(a.begin(), a.end(), [](const SwgenioAccess &x) { return x.block == 7 && x.reg == 0x30; });
  EXPECT_EQ(status_reads, 26);
  EXPECT_EQ(a.size(), 27u);  // no data fetch
}

TEST_F(RegisterIo, FailureInsideTheDonePollEndsTheRead) {
  driver.add_fault({swchip::AccessKind::kBusRead, 7, -1});
  uint32_t value = 9;
  EXPECT_EQ(swc_io_pi_rd(1, 2, 3, &value), kSwcRcReadFailed);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(accesses().size(), 2u);  // the start and one failing status read
}

TEST_F(RegisterIo, ParallelWriteIsOneRequestWithOffsetAndValue) {
  ASSERT_EQ(swc_io_pi_wr(5, 0, 14, 0x5F), 0);
  ASSERT_EQ(accesses().size(), 1u);
  EXPECT_EQ(accesses()[0], (SwgenioAccess{K::kBusWrite, 5, 0, 14, 0x5F, swgenio::k32BitWrite, 0}));
  EXPECT_EQ(chip.peek(5, 0, 14), 0x5Fu);
  driver.add_fault({swchip::AccessKind::kBusWrite, -1, 1});
  EXPECT_EQ(swc_io_pi_wr(5, 0, 14, 0), kSwcRcWriteFailed);
  EXPECT_EQ(swc_io_pi_wr(5, 0, 14, 0), 0);
}

TEST_F(RegisterIo, WithoutAContextEveryAccessFails) {
  swc_select_context(nullptr);
  uint32_t value = 1;
  EXPECT_EQ(swc_io_si_rd(7, 0, 0x18, &value), kSwcRcReadFailed);
  EXPECT_EQ(swc_io_pi_wr(7, 0, 0x14, 1), kSwcRcWriteFailed);
  EXPECT_TRUE(accesses().empty());
}

}  // namespace
