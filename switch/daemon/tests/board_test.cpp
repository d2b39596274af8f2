// The board module against the in-process driver back end; runs in the interop program's network
// namespace, whose "eth0" has a known address.
#include "board.h"
#include "swc_api.h"
#include "swgenio.h"
#include "trace.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct RequestLog {
  std::vector<uint32_t> codes;
  std::vector<std::vector<uint8_t>> records;
};

class Board : public ::testing::Test {
 protected:
  void SetUp() override {
    swgenio_attach_in_process([this](uint32_t request, std::span<uint8_t> record) {
      log.codes.push_back(request);
      log.records.emplace_back(record.begin(), record.end());
      if (request == swgenio::kDriverVersion)
        std::memset(record.data(), 'v', record.size());  // fills all 256 bytes, no terminator
      if (request == swgenio::kCpuGpioGet) std::memcpy(record.data() + 4, &gpio_levels, 4);
      return 0;
    });
    trace_option_apply("board", "debug");
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(board_init(), 0);
    output = ::testing::internal::GetCapturedStdout();
    log = RequestLog{};
  }
  void TearDown() override {
    board_close();
    swgenio_detach_in_process();
    trace_reset_levels();
  }
  RequestLog log;
  uint32_t gpio_levels = 0x10;
  std::string output;
};

TEST_F(Board, VersionTextWithoutTerminatorIsCutToTheRecord) {
  // The text stops at the record's end; the trace line then cuts it to its own buffer.
  size_t start = output.find("/debug: SwGenIO driver version: vvvv");
  ASSERT_NE(start, std::string::npos) << output;
  std::string text = output.substr(start + 8, output.find('\n', start) - start - 8);
  EXPECT_EQ(text.size(), trace::kTextSize - 1);
  EXPECT_EQ(text.find_first_not_of('v', 24), std::string::npos);
}

TEST_F(Board, BaseMacComesFromEth0) {
  uint8_t mac[6];
  board_mac_addr(0, mac);
  EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6), (std::vector<uint8_t>{0x02, 0x11, 0x22, 0x44, 0x55, 0x00}));
}

TEST_F(Board, IoSetupSendsTheSpiTiming) {
  board_io_setup();
  ASSERT_EQ(log.codes, (std::vector<uint32_t>{swgenio::kSpiTiming}));
  uint32_t words[3];
  std::memcpy(words, log.records[0].data(), 12);
  EXPECT_EQ(words[0], 511u);
  EXPECT_EQ(words[1], 1u);
  EXPECT_EQ(words[2], 400u);
}

TEST_F(Board, GpioRequestsCarryMaskAndValue) {
  board_cpu_gpio_direction_set(3, 1);
  board_cpu_gpio_set(3, 0);
  EXPECT_EQ(board_cpu_gpio_get(4), 1);
  EXPECT_EQ(board_cpu_gpio_get(5), 0);
  ASSERT_EQ(log.codes, (std::vector<uint32_t>{swgenio::kCpuGpioDirection, swgenio::kCpuGpioSet,
                                              swgenio::kCpuGpioGet, swgenio::kCpuGpioGet}));
  uint32_t direction[2], set[2];
  std::memcpy(direction, log.records[0].data(), 8);
  std::memcpy(set, log.records[1].data(), 8);
  EXPECT_EQ(direction[0], 8u);
  EXPECT_EQ(direction[1], 8u);
  EXPECT_EQ(set[0], 8u);
  EXPECT_EQ(set[1], 0u);
}

TEST_F(Board, GpioBeyond31IsRefusedWithoutARequest) {
  EXPECT_EQ(board_cpu_gpio_get(32), 0);
  board_cpu_gpio_set(40, 1);
  board_cpu_gpio_direction_set(32, 1);
  EXPECT_TRUE(log.codes.empty());
}

}  // namespace
