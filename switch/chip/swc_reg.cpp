#include "swc_reg.h"

#include "swc_io.h"
#include "swc_trace.h"

swc_rc swc_reg_rd(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t *value) {
  return swc_state()->serial ? swc_io_si_rd(block, subblock, reg, value)
                             : swc_io_pi_rd(block, subblock, reg, value);
}

swc_rc swc_reg_wr(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value) {
  return swc_state()->serial ? swc_io_si_wr(block, subblock, reg, value)
                             : swc_io_pi_wr(block, subblock, reg, value);
}

swc_rc swc_reg_wrm(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value, uint32_t mask) {
  uint32_t old;
  SWC_TRY(swc_reg_rd(block, subblock, reg, &old));
  return swc_reg_wr(block, subblock, reg, (old & ~mask) | (value & mask));
}

void swc_reg_run(SwcIoOp *ops, size_t count) {
  swc_io_run(ops, count, swc_state()->serial != 0);
}

swc_rc swc_reg_run_group(SwcIoOp *ops, size_t count) {
  if (count == 0) return kSwcRcOk;
  ops[count - 1].group_end = true;
  swc_reg_run(ops, count);
  for (size_t i = 0; i < count; ++i) {
    if (ops[i].rc < 0) return ops[i].rc;
  }
  return kSwcRcOk;
}

swc_rc swc_reg_bit(uint32_t block, uint32_t subblock, uint32_t reg, unsigned bit, bool on) {
  return swc_reg_wrm(block, subblock, reg, on ? 1u << bit : 0, 1u << bit);
}

namespace {
uint32_t port_block(uint32_t chip_port) {
  return chip_port < 16 ? chipreg::kBlockPort : chipreg::kBlockPortHigh;
}
uint32_t port_subblock(uint32_t chip_port) {
  return chip_port < 16 ? chip_port : chip_port - 16;
}
}  // namespace

chipreg::Reg swc_port_reg(uint32_t chip_port, uint32_t reg) {
  return {port_block(chip_port), port_subblock(chip_port), reg};
}

swc_rc swc_port_rd(uint32_t chip_port, uint32_t reg, uint32_t *value) {
  return swc_reg_rd(port_block(chip_port), port_subblock(chip_port), reg, value);
}

swc_rc swc_port_wr(uint32_t chip_port, uint32_t reg, uint32_t value) {
  return swc_reg_wr(port_block(chip_port), port_subblock(chip_port), reg, value);
}

swc_rc swc_port_wrm(uint32_t chip_port, uint32_t reg, uint32_t value, uint32_t mask) {
  return swc_reg_wrm(port_block(chip_port), port_subblock(chip_port), reg, value, mask);
}

swc_rc swc_port_bit(uint32_t chip_port, uint32_t reg, unsigned bit, bool on) {
  return swc_port_wrm(chip_port, reg, on ? 1u << bit : 0, 1u << bit);
}

swc_rc swc_chip_port_of(const char *function, uint32_t port_no, uint32_t *chip_port) {
  if (port_no < 1 || port_no > kSwcPorts) {
    SWC_TRACE_AS(trace::kApiLl, trace::kError, function, "illegal port_no: %d", static_cast<int>(port_no));
    return kSwcRcIllegal;
  }
  *chip_port = static_cast<uint32_t>(swc_state()->port_to_chip_port[port_no]) & 0x1F;
  return kSwcRcOk;
}
