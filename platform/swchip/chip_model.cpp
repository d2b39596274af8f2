#include "chip_model.h"

#include <cstdio>

namespace swchip {

namespace {
constexpr unsigned kSystemBlock = 7;
constexpr unsigned kRegSoftReset = 0x14;
constexpr unsigned kRegChipId = 0x18;
constexpr unsigned kRegIndirectData = 0x2c;
constexpr unsigned kRegIndirectStatus = 0x30;
constexpr uint32_t kIndirectDone = 0x10;
}  // namespace

ChipModel::ChipModel() : regs_(8 * 16 * 256, 0) { power_on(); }

size_t ChipModel::index(unsigned block, unsigned subblock, unsigned reg) {
  return (block & 7) << 12 | (subblock & 15) << 8 | (reg & 0xFF);
}

void ChipModel::power_on() {
  std::fill(regs_.begin(), regs_.end(), 0);
  indirect_armed_ = false;
  indirect_status_reads_ = 0;
}

uint32_t ChipModel::peek(unsigned block, unsigned subblock, unsigned reg) const {
  if ((block & 7) == kSystemBlock && (subblock & 15) == 0 && (reg & 0xFF) == kRegChipId) return chip_id_;
  return regs_[index(block, subblock, reg)];
}

uint32_t ChipModel::read(unsigned block, unsigned subblock, unsigned reg) {
  if ((block & 7) == kSystemBlock && (subblock & 15) == 0) return read_system(reg & 0xFF);
  return regs_[index(block, subblock, reg)];
}

void ChipModel::write(unsigned block, unsigned subblock, unsigned reg, uint32_t value) {
  if ((block & 7) == kSystemBlock && (subblock & 15) == 0) {
    write_system(reg & 0xFF, value);
    return;
  }
  regs_[index(block, subblock, reg)] = value;
}

uint32_t ChipModel::read_system(unsigned reg) {
  const uint32_t stored = regs_[index(kSystemBlock, 0, reg)];
  switch (reg) {
    case kRegChipId:
      return chip_id_;
    case kRegIndirectStatus: {
      bool done = false;
      if (indirect_armed_ && !stuck.indirect_done) {
        done = indirect_status_reads_ >= indirect_done_delay;
        ++indirect_status_reads_;
      }
      return (stored & ~kIndirectDone) | (done ? kIndirectDone : 0);
    }
    default:
      return stored;
  }
}

void ChipModel::write_system(unsigned reg, uint32_t value) {
  switch (reg) {
    case kRegChipId:
      return;  // read-only
    case kRegIndirectStatus:
      // The done flag is status only; the other bits (hold count, GPIO 4/5 outputs) are stored.
      regs_[index(kSystemBlock, 0, reg)] = value & ~kIndirectDone;
      return;
    case kRegSoftReset:
      if (value & 1) {
        power_on();
      }
      regs_[index(kSystemBlock, 0, reg)] = value;
      return;
    default:
      regs_[index(kSystemBlock, 0, reg)] = value;
  }
}

void ChipModel::start_indirect_read(unsigned block, unsigned subblock, unsigned reg) {
  const uint32_t value = read(block, subblock, reg);
  regs_[index(kSystemBlock, 0, kRegIndirectData)] = value;
  indirect_armed_ = true;
  indirect_status_reads_ = 0;
}

std::string ChipModel::dump_registers(unsigned block) const {
  std::string out;
  char line[64];
  for (unsigned b = 0; b < 8; ++b) {
    if (block <= 7 && b != block) continue;
    for (unsigned s = 0; s < 16; ++s) {
      for (unsigned r = 0; r < 256; ++r) {
        const uint32_t v = peek(b, s, r);
        if (v == 0) continue;
        std::snprintf(line, sizeof line, "%u %u 0x%02x 0x%08x\n", b, s, r, static_cast<unsigned>(v));
        out += line;
      }
    }
  }
  return out;
}

}  // namespace swchip
