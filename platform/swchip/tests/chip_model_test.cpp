// The chip model's register behaviour and the driver requests on it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "chip_model.h"
#include "driver.h"
#include "swgenio_abi.h"
#include "wire.h"

namespace swchip {
namespace {

TEST(ChipModel, ChipIdIsPart7385RevisionAAndReadOnly) {
  ChipModel chip;
  EXPECT_EQ(chip.read(7, 0, 0x18), 0x073850E9u);
  chip.write(7, 0, 0x18, 0);
  EXPECT_EQ(chip.read(7, 0, 0x18), 0x073850E9u);
  chip.set_chip_id(3);
  EXPECT_EQ(chip.read(7, 0, 0x18), 3u);
}

TEST(ChipModel, SoftResetClearsRegistersAndKeepsTheResetWord) {
  ChipModel chip;
  chip.write(1, 2, 0x10, 1522);
  chip.write(7, 0, 0x14, 1);
  EXPECT_EQ(chip.read(1, 2, 0x10), 0u);
  EXPECT_EQ(chip.read(7, 0, 0x14), 1u);
  chip.write(7, 0, 0x14, 2);
  EXPECT_EQ(chip.read(7, 0, 0x14), 2u);
}

TEST(ChipModel, SoftResetRestartsTheInternalPhysOnly) {
  ChipModel chip;
  chip.phy(0, 2).write(4, 0x0021);
  chip.phy(1, 3).write(4, 0x0021);
  chip.write(7, 0, 0x14, 1);
  EXPECT_EQ(chip.phy(0, 2).peek(0, 4), 0x0DE1);
  EXPECT_EQ(chip.phy(1, 3).peek(0, 4), 0x0021);
}

TEST(ChipModel, DoneFlagIsStatusOnlyAndFollowsTheIndirectRead) {
  ChipModel chip;
  chip.write(7, 0, 0x30, 0xF1C);  // hold count and GPIO outputs stored, done not
  EXPECT_EQ(chip.read(7, 0, 0x30), 0xF0Cu);
  chip.write(3, 1, 2, 0x1234);
  chip.indirect_done_delay = 2;
  chip.start_indirect_read(3, 1, 2);
  EXPECT_EQ(chip.read(7, 0, 0x30) & 0x10, 0u);
  EXPECT_EQ(chip.read(7, 0, 0x30) & 0x10, 0u);
  EXPECT_EQ(chip.read(7, 0, 0x30) & 0x10, 0x10u);
  EXPECT_EQ(chip.read(7, 0, 0x2c), 0x1234u);
}

class DriverRequests : public ::testing::Test {
 protected:
  ChipModel chip;
  Driver driver{chip};

  int request(uint32_t code, void *record) {
    return driver.handle(code, {static_cast<uint8_t *>(record), swgenio::request_size(code)});
  }
};

TEST_F(DriverRequests, SpiRecordWithWrongLengthIsRefused) {
  swgenio::SpiRecord record{};
  record.length = 5;
  EXPECT_EQ(request(swgenio::kCpldSpiReadWrite, &record), -EINVAL);
}

TEST_F(DriverRequests, UnknownRequestAndWrongRecordSize) {
  uint8_t record[8] = {};
  EXPECT_EQ(driver.handle(0x12345678, record), -ENOTTY);
  EXPECT_EQ(driver.handle(swgenio::k32BitRead, {record, 4}), -EINVAL);
}

TEST_F(DriverRequests, VersionTimingAndCpuGpio) {
  swgenio::VersionRecord version;
  std::memset(&version, 'x', sizeof version);
  ASSERT_EQ(request(swgenio::kDriverVersion, &version), 0);
  EXPECT_STREQ(version.text, Driver::kVersionText);

  swgenio::SpiTimingRecord timing{{511, 1, 400}};
  ASSERT_EQ(request(swgenio::kSpiTiming, &timing), 0);
  EXPECT_EQ(driver.spi_timing(0), 511u);
  EXPECT_EQ(driver.spi_timing(2), 400u);

  swgenio::GpioRecord gpio{1u << 5, 1u << 5};
  ASSERT_EQ(request(swgenio::kCpuGpioDirection, &gpio), 0);
  ASSERT_EQ(request(swgenio::kCpuGpioSet, &gpio), 0);
  driver.set_cpu_gpio_input(1u << 7);
  swgenio::GpioRecord get{(1u << 5) | (1u << 7), 0};
  ASSERT_EQ(request(swgenio::kCpuGpioGet, &get), 0);
  EXPECT_EQ(get.value, (1u << 5) | (1u << 7));
}

TEST_F(DriverRequests, FaultRulesMatchKindBlockAndCount) {
  driver.add_fault({AccessKind::kBusWrite, 2, 2});
  swgenio::BusRecord other{swgenio::bus_offset(1, 0, 0), 1};
  swgenio::BusRecord target{swgenio::bus_offset(2, 0, 0x40), 1};
  EXPECT_EQ(request(swgenio::k32BitWrite, &other), 0);
  EXPECT_EQ(request(swgenio::k32BitWrite, &target), -EIO);
  EXPECT_EQ(request(swgenio::k32BitWrite, &target), -EIO);
  EXPECT_EQ(request(swgenio::k32BitWrite, &target), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x40), 1u);
}

}  // namespace
}  // namespace swchip
