#include "driver.h"

#include <cerrno>
#include <cstring>

#include "chip_regs.h"
#include "swgenio_abi.h"
#include "wire.h"

namespace swchip {

using swgenio::wire::get_u32;
using swgenio::wire::put_u32;

bool Driver::should_fail(AccessKind kind, unsigned block) {
  for (auto &rule : faults_) {
    if (rule.remaining == 0) continue;
    if (rule.kind != AccessKind::kAny && rule.kind != kind) continue;
    if (rule.block >= 0 && static_cast<unsigned>(rule.block) != block) continue;
    if (rule.remaining > 0) --rule.remaining;
    return true;
  }
  return false;
}

int Driver::handle(uint32_t code, std::span<uint8_t> record) {
  ++exchanges_;
  if (!swgenio::wire::known_request(code)) return -ENOTTY;
  if (record.size() != swgenio::request_size(code)) return -EINVAL;
  switch (code) {
    case swgenio::kCpldSpiReadWrite:
      return spi_transfer(record);
    case swgenio::k32BitRead:
      return bus_read(record);
    case swgenio::k32BitWrite:
      return bus_write(record);
    case swgenio::kSpiTiming:
      for (size_t i = 0; i < 3; ++i) spi_timing_[i] = get_u32(record.data() + 4 * i);
      return 0;
    case swgenio::kDriverVersion:
      std::memset(record.data(), 0, record.size());
      std::memcpy(record.data(), kVersionText, std::strlen(kVersionText));
      return 0;
    default:
      return gpio_request(code, record);
  }
}

int Driver::spi_transfer(std::span<uint8_t> record) {
  if (get_u32(record.data()) != swgenio::kSpiLength) return -EINVAL;
  uint8_t *buf = record.data() + 4;
  const unsigned block = buf[0] >> 5;
  const unsigned subblock = buf[0] & 0x0F;
  const unsigned reg = buf[1];
  const bool is_write = (buf[0] & swgenio::kSpiWriteFlag) != 0;
  if (should_fail(is_write ? AccessKind::kSpiWrite : AccessKind::kSpiRead, block)) return -EIO;
  if (is_write) {
    const uint32_t value = uint32_t{buf[2]} << 24 | uint32_t{buf[3]} << 16 | uint32_t{buf[4]} << 8 | buf[5];
    chip_.write(block, subblock, reg, value);
    return 0;
  }
  const uint32_t value = chip_.read(block, subblock, reg);
  buf[2] = static_cast<uint8_t>(value >> 24);
  buf[3] = static_cast<uint8_t>(value >> 16);
  buf[4] = static_cast<uint8_t>(value >> 8);
  buf[5] = static_cast<uint8_t>(value);
  return 0;
}

int Driver::spi_access(const swgenio::wire::BatchOp &op, uint32_t &value) {
  const bool is_write = op.kind == swgenio::wire::BatchKind::kWrite;
  swgenio::SpiRecord record{};
  record.length = swgenio::kSpiLength;
  record.buffer[0] =
      static_cast<uint8_t>(op.block << 5 | op.subblock | (is_write ? swgenio::kSpiWriteFlag : 0));
  record.buffer[1] = op.reg;
  if (is_write) {
    record.buffer[2] = static_cast<uint8_t>(op.value >> 24);
    record.buffer[3] = static_cast<uint8_t>(op.value >> 16);
    record.buffer[4] = static_cast<uint8_t>(op.value >> 8);
    record.buffer[5] = static_cast<uint8_t>(op.value);
  }
  const int rc = spi_transfer({reinterpret_cast<uint8_t *>(&record), sizeof record});
  value = is_write || rc != 0 ? 0
                              : uint32_t{record.buffer[2]} << 24 | uint32_t{record.buffer[3]} << 16 |
                                    uint32_t{record.buffer[4]} << 8 | record.buffer[5];
  return rc;
}

std::vector<swgenio::wire::BatchOpResult> Driver::run_batch(std::span<const swgenio::wire::BatchOp> ops) {
  ++exchanges_;
  using swgenio::wire::BatchKind;
  std::vector<swgenio::wire::BatchOpResult> results;
  results.reserve(ops.size());
  bool skipping = false;
  for (const auto &op : ops) {
    swgenio::wire::BatchOpResult result{swgenio::wire::kBatchSkipped, 0};
    if (!skipping) {
      result.result = spi_access(op, result.value);
      if (result.result != 0) {
        skipping = true;
      } else if (op.kind == BatchKind::kTest && (result.value & op.value) == 0) {
        skipping = true;
      } else if (op.kind == BatchKind::kPoll && (result.value & op.value) != 0) {
        result.result = swgenio::wire::kBatchBusy;
        results.push_back(result);
        return results;
      }
    }
    results.push_back(result);
    if (op.group_end) skipping = false;
  }
  return results;
}

int Driver::bus_read(std::span<uint8_t> record) {
  const uint32_t offset = get_u32(record.data());
  const unsigned block = (offset >> 12) & 7;
  const unsigned subblock = (offset >> 8) & 15;
  const unsigned reg = offset & 0xFF;
  if (should_fail(AccessKind::kBusRead, block)) return -EIO;
  if (block == chipreg::kBlockCpuQueue || block == chipreg::kBlockSystem) {
    put_u32(record.data() + 4, chip_.read(block, subblock, reg));
  } else {
    // Other blocks answer through the indirect data register; the start read returns nothing useful.
    chip_.start_indirect_read(block, subblock, reg);
    put_u32(record.data() + 4, 0);
  }
  return 0;
}

int Driver::bus_write(std::span<uint8_t> record) {
  const uint32_t offset = get_u32(record.data());
  const unsigned block = (offset >> 12) & 7;
  if (should_fail(AccessKind::kBusWrite, block)) return -EIO;
  chip_.write(block, (offset >> 8) & 15, offset & 0xFF, get_u32(record.data() + 4));
  return 0;
}

int Driver::gpio_request(uint32_t code, std::span<uint8_t> record) {
  const uint32_t mask = get_u32(record.data());
  const uint32_t value = get_u32(record.data() + 4);
  switch (code) {
    case swgenio::kCpuGpioDirection:
      gpio_direction_ = (gpio_direction_ & ~mask) | (value & mask);
      return 0;
    case swgenio::kCpuGpioSet:
      gpio_output_ = (gpio_output_ & ~mask) | (value & mask);
      return 0;
    case swgenio::kCpuGpioGet: {
      const uint32_t levels = (gpio_output_ & gpio_direction_) | (gpio_input_ & ~gpio_direction_);
      put_u32(record.data() + 4, levels & mask);
      return 0;
    }
    default:
      return -ENOTTY;
  }
}

}  // namespace swchip
