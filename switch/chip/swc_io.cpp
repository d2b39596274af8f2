#include "swc_io.h"

#include <algorithm>
#include <vector>

#include "chip_regs.h"
#include "swc_context.h"
#include "swc_trace.h"
#include "swgenio.h"

namespace {

// The installed context's device.
int device() {
  return swc_installed_context().handed->fd;
}

constexpr uint32_t bus_offset(chipreg::Reg r) {
  return swgenio::bus_offset(r.block, r.subblock, r.reg);
}
constexpr uint32_t kDoneStatus = bus_offset(chipreg::kSysIndirectStatus);
constexpr uint32_t kIndirectData = bus_offset(chipreg::kSysIndirectData);
constexpr uint32_t kDoneBit = chipreg::kSysIndirectDone;

void trace_access(const char *function, uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value) {
  SWC_TRACE_AS(trace::kApiIo, trace::kNoise, function,
               "block: 0x%02x, subblock: 0x%02x, reg: 0x%02x, value: 0x%08lx", block, subblock, reg,
               static_cast<unsigned long>(value));
}

int spi_transfer(uint32_t block, uint32_t subblock, uint32_t reg, bool write, uint32_t *value) {
  swgenio::SpiRecord record{};
  record.length = swgenio::kSpiLength;
  record.buffer[0] =
      static_cast<uint8_t>((block & 7) << 5 | (subblock & 15) | (write ? swgenio::kSpiWriteFlag : 0));
  record.buffer[1] = static_cast<uint8_t>(reg);
  if (write) {
    record.buffer[2] = static_cast<uint8_t>(*value >> 24);
    record.buffer[3] = static_cast<uint8_t>(*value >> 16);
    record.buffer[4] = static_cast<uint8_t>(*value >> 8);
    record.buffer[5] = static_cast<uint8_t>(*value);
  }
  if (swgenio_ioctl(device(), swgenio::kCpldSpiReadWrite, &record) != 0) return -1;
  if (!write) {
    *value = uint32_t{record.buffer[2]} << 24 | uint32_t{record.buffer[3]} << 16 |
             uint32_t{record.buffer[4]} << 8 | record.buffer[5];
  }
  return 0;
}

// One 32-bit bus read; false when the request failed.
bool bus_read(uint32_t offset, uint32_t *value) {
  swgenio::BusRecord record{offset, 0};
  if (swgenio_ioctl(device(), swgenio::k32BitRead, &record) != 0) return false;
  *value = record.value;
  return true;
}

swc_rc pi_rd_fast(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t *value) {
  if (!bus_read(swgenio::bus_offset(block, subblock, reg), value)) {
    SWC_TRACE_AS(trace::kApiIo, trace::kError, "swc_io_pi_rd_fast", "ioctl(fd,SWGENIO_32BIT_READ) failed");
    *value = 0;
    return kSwcRcReadFailed;
  }
  return kSwcRcOk;
}

swc_rc pi_rd_indirect(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t *value) {
  uint32_t ignored;
  *value = 0;
  if (!bus_read(swgenio::bus_offset(block, subblock, reg), &ignored)) {
    SWC_TRACE_AS(trace::kApiIo, trace::kError, "swc_io_pi_rd", "ioctl(fd,SWGENIO_32BIT_READ) failed");
    return kSwcRcReadFailed;
  }
  for (int attempt = 0; attempt <= kSwcIoDoneRetries; ++attempt) {
    uint32_t status;
    if (!bus_read(kDoneStatus, &status)) {
      SWC_TRACE_AS(trace::kApiIo, trace::kError, "swc_io_pi_rd", "ioctl(fd,SWGENIO_32BIT_READ) failed");
      return kSwcRcReadFailed;
    }
    if (status & kDoneBit) {
      if (!bus_read(kIndirectData, value)) {
        SWC_TRACE_AS(trace::kApiIo, trace::kError, "swc_io_pi_rd", "ioctl(fd,SWGENIO_32BIT_READ) failed");
        *value = 0;
        return kSwcRcReadFailed;
      }
      return kSwcRcOk;
    }
  }
  SWC_TRACE_AS(trace::kApiIo, trace::kError, "swc_io_pi_rd",
               "block: 0x%02x, subblock: 0x%02x, reg: 0x%02x, DONE failed after %d retries", block, subblock,
               reg, kSwcIoDoneRetries);
  return kSwcRcReadFailed;
}

}  // namespace

swc_rc swc_io_init() {
  SWC_IO_TRACE(trace::kDebug, "enter");
  return kSwcRcOk;
}

swc_rc swc_io_si_rd(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t *value) {
  swc_rc rc = kSwcRcOk;
  if (spi_transfer(block, subblock, reg, false, value) != 0) {
    SWC_IO_TRACE(trace::kError, "ioctl(fd,SWGENIO_CPLD_SPI_READWRITE) failed");
    *value = 0;
    rc = kSwcRcReadFailed;
  }
  trace_access(__func__, block, subblock, reg, *value);
  return rc;
}

swc_rc swc_io_si_wr(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value) {
  swc_rc rc = kSwcRcOk;
  if (spi_transfer(block, subblock, reg, true, &value) != 0) {
    SWC_IO_TRACE(trace::kError, "ioctl(fd,SWGENIO_CPLD_SPI_READWRITE) failed");
    rc = kSwcRcWriteFailed;
  }
  trace_access(__func__, block, subblock, reg, value);
  return rc;
}

swc_rc swc_io_pi_rd(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t *value) {
  const swc_rc rc = (block == chipreg::kBlockCpuQueue || block == chipreg::kBlockSystem)
                        ? pi_rd_fast(block, subblock, reg, value)
                        : pi_rd_indirect(block, subblock, reg, value);
  trace_access(__func__, block, subblock, reg, *value);
  return rc;
}

swc_rc swc_io_pi_wr(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value) {
  swgenio::BusRecord record{swgenio::bus_offset(block, subblock, reg), value};
  swc_rc rc = kSwcRcOk;
  if (swgenio_ioctl(device(), swgenio::k32BitWrite, &record) != 0) {
    SWC_IO_TRACE(trace::kError, "ioctl(fd,SWGENIO_32BIT_WRITE) failed");
    rc = kSwcRcWriteFailed;
  }
  trace_access(__func__, block, subblock, reg, value);
  return rc;
}

namespace {

using RdFn = swc_rc (*)(uint32_t, uint32_t, uint32_t, uint32_t *);
using WrFn = swc_rc (*)(uint32_t, uint32_t, uint32_t, uint32_t);

// Group state of a running script.
struct ScriptCursor {
  SwcIoOp *ops;
  size_t count;
  size_t at = 0;
  bool skipping = false;

  // Marks the current op done with its outcome and moves on; a failure or a clear test ends the group.
  void finish(bool ends_group) {
    skipping = skipping || ends_group;
    if (ops[at].group_end) skipping = false;
    ++at;
  }
  void skip() {
    ops[at].ran = false;
    finish(false);
  }
};

// Reads until the bits clear, `done` reads having been made already; true when they cleared.
bool continue_poll(SwcIoOp &op, uint32_t done, RdFn rd) {
  for (; done < op.polls; ++done) {
    op.rc = rd(op.block, op.subblock, op.reg, &op.result);
    if (op.rc < 0) return false;
    if ((op.result & op.value) == 0) return true;
  }
  op.timed_out = true;
  op.rc = kSwcRcReadFailed;
  return false;
}

// One op through the single-access functions; true when it ends its group.
bool run_one(SwcIoOp &op, RdFn rd, WrFn wr) {
  op.ran = true;
  op.timed_out = false;
  switch (op.kind) {
    case SwcIoOp::Kind::kWrite:
      op.rc = wr(op.block, op.subblock, op.reg, op.value);
      return op.rc < 0;
    case SwcIoOp::Kind::kRead:
      op.rc = rd(op.block, op.subblock, op.reg, &op.result);
      return op.rc < 0;
    case SwcIoOp::Kind::kPoll:
      return !continue_poll(op, 0, rd);
    case SwcIoOp::Kind::kTest:
      op.rc = rd(op.block, op.subblock, op.reg, &op.result);
      return op.rc < 0 || (op.result & op.value) == 0;
  }
  return true;
}

void run_one_by_one(ScriptCursor &c, RdFn rd, WrFn wr) {
  while (c.at < c.count) {
    if (c.skipping) {
      c.skip();
    } else {
      c.finish(run_one(c.ops[c.at], rd, wr));
    }
  }
}

swgenio::wire::BatchOp to_wire(const SwcIoOp &op) {
  using swgenio::wire::BatchKind;
  const BatchKind kind = op.kind == SwcIoOp::Kind::kWrite  ? BatchKind::kWrite
                         : op.kind == SwcIoOp::Kind::kPoll ? BatchKind::kPoll
                         : op.kind == SwcIoOp::Kind::kTest ? BatchKind::kTest
                                                           : BatchKind::kRead;
  return {kind,
          op.group_end,
          static_cast<uint8_t>(op.block & 7),
          static_cast<uint8_t>(op.subblock & 15),
          static_cast<uint8_t>(op.reg),
          op.value};
}

// Takes one op's result from a batch reply, traced as its single access would be; true when it ends
// its group.
bool take_result(SwcIoOp &op, const swgenio::wire::BatchOpResult &r) {
  const bool write = op.kind == SwcIoOp::Kind::kWrite;
  const char *function = write ? "swc_io_si_wr" : "swc_io_si_rd";
  op.ran = true;
  op.timed_out = false;
  op.result = write ? 0 : r.value;
  op.rc = kSwcRcOk;
  if (r.result < 0) {
    SWC_TRACE_AS(trace::kApiIo, trace::kError, function, "ioctl(fd,SWGENIO_CPLD_SPI_READWRITE) failed");
    op.rc = write ? kSwcRcWriteFailed : kSwcRcReadFailed;
  }
  trace_access(function, op.block, op.subblock, op.reg, write ? op.value : op.result);
  if (op.rc < 0) return true;
  if (op.kind == SwcIoOp::Kind::kPoll && r.result == swgenio::wire::kBatchBusy) {
    return !continue_poll(op, 1, swc_io_si_rd);
  }
  return op.kind == SwcIoOp::Kind::kTest && (op.result & op.value) == 0;
}

void run_batched(ScriptCursor &c) {
  std::vector<swgenio::wire::BatchOp> batch;
  batch.reserve(std::min(c.count, swgenio::wire::kMaxBatchOps));
  while (c.at < c.count) {
    while (c.skipping && c.at < c.count) c.skip();
    if (c.at == c.count) return;
    batch.clear();
    for (size_t i = c.at; i < c.count && batch.size() < swgenio::wire::kMaxBatchOps; ++i) {
      batch.push_back(to_wire(c.ops[i]));
    }
    const auto results = swgenio_batch(device(), batch);
    if (!results) {
      // The simulator refused the batch (one that predates batches answers -EINVAL) or the connection
      // failed: the single accesses carry on, each reporting its op as the driver answers it.
      run_one_by_one(c, swc_io_si_rd, swc_io_si_wr);
      return;
    }
    for (const auto &r : *results) {
      if (r.result == swgenio::wire::kBatchSkipped) {
        c.skip();
      } else {
        c.finish(take_result(c.ops[c.at], r));
      }
    }
  }
}

}  // namespace

void swc_io_run(SwcIoOp *ops, size_t count, bool serial) {
  ScriptCursor cursor{ops, count};
  if (!serial) {
    run_one_by_one(cursor, swc_io_pi_rd, swc_io_pi_wr);
  } else if (swgenio_takes_batches(device())) {
    run_batched(cursor);
  } else {
    run_one_by_one(cursor, swc_io_si_rd, swc_io_si_wr);
  }
}
