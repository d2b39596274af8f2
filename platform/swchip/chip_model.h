// Model of the six-port gigabit switch chip as its registers show it.
//
// Every (block, subblock, register) is a stored 32-bit word that reads back as written; the registers
// that the switch software polls or that start an action have behaviour of their own on top of that
// store (see chip_model.cpp). The model has no notion of time: actions complete when their command is
// written, and "busy" only shows when a test makes a bit stuck.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace swchip {

inline constexpr uint32_t kChipIdG5RevA = 0x073850E9;  // chip 0x7385, revision A, maker 0x74

// Registers the software polls; a stuck one never reports completion.
struct StuckBits {
  bool indirect_done = false;  // (7,0,0x30) bit 4 never set after an indirect read start
};

class ChipModel {
 public:
  ChipModel();

  // Power-on: every register to its default.
  void power_on();

  uint32_t read(unsigned block, unsigned subblock, unsigned reg);
  void write(unsigned block, unsigned subblock, unsigned reg, uint32_t value);
  // The stored word without side effects (dumps, tests).
  uint32_t peek(unsigned block, unsigned subblock, unsigned reg) const;

  // Parallel-bus indirect read: latch the register into the data register (7,0,0x2c) and raise the
  // done flag (7,0,0x30 bit 4) once `indirect_done_delay` status reads have passed.
  void start_indirect_read(unsigned block, unsigned subblock, unsigned reg);

  void set_chip_id(uint32_t value) { chip_id_ = value; }
  uint32_t chip_id() const { return chip_id_; }

  StuckBits stuck;
  unsigned indirect_done_delay = 0;

  // Lines "block subblock register value" for every non-zero stored word of a block (all blocks when
  // block is above 7).
  std::string dump_registers(unsigned block) const;

 private:
  static size_t index(unsigned block, unsigned subblock, unsigned reg);
  uint32_t read_system(unsigned reg);
  void write_system(unsigned reg, uint32_t value);

  std::vector<uint32_t> regs_;
  uint32_t chip_id_ = kChipIdG5RevA;
  bool indirect_armed_ = false;
  unsigned indirect_status_reads_ = 0;
};

}  // namespace swchip
