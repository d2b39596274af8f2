// Register access for the low-level and chip family layers: the SPI or the parallel path as the API
// state's serial-interface flag says, read-modify-writes, and per-port registers by chip port.
#pragma once

#include <cstdint>

#include "chip_regs.h"
#include "swc_context.h"
#include "swc_io.h"
#include "swc_types.h"

swc_rc swc_reg_rd(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t *value);
swc_rc swc_reg_wr(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value);
// Changes only the bits under `mask` to those of `value`.
swc_rc swc_reg_wrm(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value, uint32_t mask);
// A script of accesses (swc_io.h) over the path the API state's serial-interface flag says.
void swc_reg_run(SwcIoOp *ops, size_t count);
// The same as one group, where a failed access skips the rest: 0, or the first failed access's code.
swc_rc swc_reg_run_group(SwcIoOp *ops, size_t count);
// One bit set or cleared.
swc_rc swc_reg_bit(uint32_t block, uint32_t subblock, uint32_t reg, unsigned bit, bool on);

// The same by a register of the map.
inline swc_rc swc_reg_rd(chipreg::Reg r, uint32_t *value) {
  return swc_reg_rd(r.block, r.subblock, r.reg, value);
}
inline swc_rc swc_reg_wr(chipreg::Reg r, uint32_t value) {
  return swc_reg_wr(r.block, r.subblock, r.reg, value);
}
inline swc_rc swc_reg_wrm(chipreg::Reg r, uint32_t value, uint32_t mask) {
  return swc_reg_wrm(r.block, r.subblock, r.reg, value, mask);
}
inline swc_rc swc_reg_bit(chipreg::Reg r, unsigned bit, bool on) {
  return swc_reg_bit(r.block, r.subblock, r.reg, bit, on);
}

// Port register R of chip port c: (1, c, R) below chip port 16, (6, c - 16, R) from there on.
swc_rc swc_port_rd(uint32_t chip_port, uint32_t reg, uint32_t *value);
swc_rc swc_port_wr(uint32_t chip_port, uint32_t reg, uint32_t value);
swc_rc swc_port_wrm(uint32_t chip_port, uint32_t reg, uint32_t value, uint32_t mask);
swc_rc swc_port_bit(uint32_t chip_port, uint32_t reg, unsigned bit, bool on);
// The address of port register R of chip port c, for scripts.
chipreg::Reg swc_port_reg(uint32_t chip_port, uint32_t reg);

// Chip port of a port 1..6; -5 (traced under the caller's name) for another number.
swc_rc swc_chip_port_of(const char *function, uint32_t port_no, uint32_t *chip_port);

// Polls of a status bit that the chip clears when an action completes. The chip normally answers at
// once; the bound turns a stuck bit into an error instead of a hung daemon.
inline constexpr uint32_t kSwcIdlePolls = 100000;
