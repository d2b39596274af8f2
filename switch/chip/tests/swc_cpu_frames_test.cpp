// CPU frame receive and transmit through the chip's queues and transmit registers.
#include <gtest/gtest.h>

#include <numeric>

#include "ar.h"
#include "chip_fixture.h"
#include "swc_ll.h"

namespace {

std::vector<uint8_t> test_frame(size_t length, uint8_t seed) {
  std::vector<uint8_t> f(length);
  std::iota(f.begin(), f.end(), seed);
  return f;
}

class CpuFrames : public ChipFixture {};

class CpuReceiveSizes : public CpuFrames, public ::testing::WithParamInterface<size_t> {};

TEST_P(CpuReceiveSizes, InjectedFrameComesOutByteForByte) {
  const auto frame = test_frame(GetParam(), 7);
  ASSERT_TRUE(chip.inject_cpu_frame(2, 6, frame, 0x6064));  // priority 3, VID 100
  EXPECT_EQ(swc_ll_cpu_rx_frameready(1), 0);
  EXPECT_EQ(swc_ll_cpu_rx_frameready(2), 1);
  SwcCpuRxHeader header{};
  std::vector<uint8_t> buffer(kArRxMaxFrame + 16, 0xEE);
  ASSERT_EQ(swc_ll_cpu_rx_frame(2, &header, buffer.data(), buffer.size()), 0);
  EXPECT_EQ(header.length, frame.size());
  EXPECT_EQ(header.port_no, 6u);
  EXPECT_EQ(header.vid, 100u);
  EXPECT_EQ(header.user_priority, 3u);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<long>(frame.size())), frame);
  EXPECT_EQ(buffer[frame.size()], 0xEE);
  EXPECT_EQ(swc_ll_cpu_rx_frameready(2), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, CpuReceiveSizes,
                         ::testing::Values(60, 61, 62, 63, 64, 1514, 1518, 2035, 2036));

TEST_F(CpuFrames, FrameBeyondTheWindowIsNeverQueued) {
  EXPECT_FALSE(chip.inject_cpu_frame(1, 0, test_frame(2037, 0), 0));
  EXPECT_EQ(chip.cpu_drops(), 1u);
}

TEST_F(CpuFrames, SmallOrMissingBufferLeavesTheFrameQueued) {
  ASSERT_TRUE(chip.inject_cpu_frame(1, 0, test_frame(100, 1), 1));
  SwcCpuRxHeader header{};
  uint8_t small[64];
  EXPECT_EQ(swc_ll_cpu_rx_frame(1, &header, nullptr, 0), kSwcRcRxBuffer);
  EXPECT_EQ(header.length, 100u);
  EXPECT_EQ(swc_ll_cpu_rx_frame(1, &header, small, sizeof small), kSwcRcRxBuffer);
  EXPECT_EQ(small[63], 64);
  EXPECT_EQ(chip.cpu_queue_length(1), 1u);
  ASSERT_EQ(swc_ll_cpu_rx_discard_frame(1), 0);
  EXPECT_EQ(chip.cpu_queue_length(1), 0u);
  EXPECT_EQ(swc_ll_cpu_rx_frameready(3), kSwcRcIllegal);
  EXPECT_EQ(swc_ll_cpu_rx_discard_frame(0), kSwcRcIllegal);
}

TEST_F(CpuFrames, BadHeadersDropTheFrame) {
  const auto frame = test_frame(80, 0);
  struct Case {
    uint32_t first, second;
  } cases[] = {
      {(84u << 16) | 0, 0x51u << 4},    // wrong cookie
      {(84u << 16) | 7, 0x52u << 4},    // chip port 7 does not exist
      {(84u << 16) | 5, 0x52u << 4},    // chip port 5 has no port
      {(3u << 16) | 0, 0x52u << 4},     // shorter than its FCS
      {(3000u << 16) | 0, 0x52u << 4},  // longer than the receive window
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(chip.inject_cpu_frame(1, 0, frame, 0));
    override_read(4, 0, 0, [&](unsigned, unsigned, unsigned) { return c.first; });
    override_read(4, 0, 1, [&](unsigned, unsigned, unsigned) { return c.second; });
    SwcCpuRxHeader header{};
    std::vector<uint8_t> buffer(4096);
    EXPECT_EQ(swc_ll_cpu_rx_frame(1, &header, buffer.data(), buffer.size()), kSwcRcBadChip);
    EXPECT_EQ(chip.cpu_queue_length(1), 0u);
    read_overrides.clear();
  }
}

TEST_F(CpuFrames, G5QueueWorkaroundRewritesTheHeaderWhenTheQueueWraps) {
  ASSERT_TRUE(chip.inject_cpu_frame(1, 0, test_frame(100, 0), 0));
  override_read(4, 4, 0, [](unsigned, unsigned, unsigned) { return 1010u; });
  SwcCpuRxHeader header{};
  uint8_t buffer[128];
  ASSERT_EQ(swc_ll_cpu_rx_frame(1, &header, buffer, sizeof buffer), 0);
  const auto w = writes_of(accesses());
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], std::make_tuple(4u, 0u, 0u, (100u + 0x2004u) << 16));
  EXPECT_EQ(w[1], std::make_tuple(4u, 4u, 0u, 0u));
}

std::vector<uint32_t> tx_words(const std::vector<SwgenioAccess> &a, unsigned chip_port) {
  std::vector<uint32_t> out;
  for (const auto &x : a) {
    if (x.kind == K::kSpiWrite && x.block == 1 && x.subblock == chip_port && x.reg == 0xC0)
      out.push_back(x.value);
  }
  return out;
}

TEST_F(CpuFrames, SixtyByteFrameIsSixteenWordsAfterTheHeader) {
  const auto frame = test_frame(60, 0);
  ASSERT_EQ(ar_cpu_tx_frame(2, frame.data(), frame.size(), 0), 0);
  const auto words = tx_words(accesses(), 1);
  ASSERT_EQ(words.size(), 2u + 16u);
  EXPECT_EQ(words[0], 64u << 16);
  EXPECT_EQ(words[1], 0x520u);
  EXPECT_EQ(words[2], 0x00010203u);
  EXPECT_EQ(words[16], 0x38393A3Bu);
  EXPECT_EQ(words[17], 0u);
  EXPECT_EQ(chip.take_transmitted(1), std::vector<std::vector<uint8_t>>{frame});
}

TEST_F(CpuFrames, TaggedFrameGetsItsTagAfterTheAddressesAndAnEvenCount) {
  const auto frame = test_frame(60, 0);
  ASSERT_EQ(ar_cpu_tx_frame(1, frame.data(), frame.size(), 5), 0);
  const auto words = tx_words(accesses(), 0);
  ASSERT_EQ(words.size(), 2u + 18u);
  EXPECT_EQ(words[0], 68u << 16);
  EXPECT_EQ(words[4], 0x08090A0Bu);
  EXPECT_EQ(words[5], 0x81000005u);
  EXPECT_EQ(words[6], 0x0C0D0E0Fu);
  const auto sent = chip.take_transmitted(0);
  ASSERT_EQ(sent.size(), 1u);
  std::vector<uint8_t> expected(frame.begin(), frame.begin() + 12);
  expected.insert(expected.end(), {0x81, 0x00, 0x00, 0x05});
  expected.insert(expected.end(), frame.begin() + 12, frame.end());
  EXPECT_EQ(sent[0], expected);
}

TEST_F(CpuFrames, TransmittedFramesReachThePortUnchanged) {
  for (size_t length : {60u, 61u, 63u, 64u, 255u, 1514u, 1518u, 9000u}) {
    const auto frame = test_frame(length, static_cast<uint8_t>(length));
    ASSERT_EQ(ar_cpu_tx_frame(6, frame.data(), frame.size(), 0), 0) << length;
    const auto sent = chip.take_transmitted(6);
    ASSERT_EQ(sent.size(), 1u) << length;
    EXPECT_EQ(sent[0], frame) << length;
  }
}

TEST_F(CpuFrames, TransmitRefusesLengthsTheHeaderCannotCarry) {
  const auto frame = test_frame(70000, 0);
  EXPECT_EQ(ar_cpu_tx_frame(1, frame.data(), 0, 0), kSwcRcIllegal);
  EXPECT_EQ(ar_cpu_tx_frame(1, frame.data(), 65532, 0), kSwcRcIllegal);
  EXPECT_EQ(ar_cpu_tx_frame(1, nullptr, 60, 0), kSwcRcIllegal);
  EXPECT_EQ(ar_cpu_tx_frame(7, frame.data(), 60, 0), kSwcRcIllegal);
  EXPECT_TRUE(accesses().empty());
}

TEST_F(CpuFrames, StalledTransmitIsAbortedAfterItsPolls) {
  swgenio_set_recording(false);
  chip.stuck.tx_busy = true;
  const auto frame = test_frame(60, 0);
  EXPECT_EQ(ar_cpu_tx_frame(3, frame.data(), frame.size(), 0), kSwcRcTxStalled);
  EXPECT_EQ(chip.peek(1, 2, 0xC4) & 2u, 2u);
  chip.stuck.tx_busy = false;
  ASSERT_EQ(ar_cpu_tx_frame(3, frame.data(), frame.size(), 0), 0);
  EXPECT_EQ(chip.take_transmitted(2), std::vector<std::vector<uint8_t>>{frame});
}

}  // namespace
