// Register I/O: every chip register access as requests on the switch I/O device, over the board's
// SPI path or the parallel CPU bus.
#pragma once

#include <cstddef>
#include <cstdint>

#include "swc_state.h"
#include "swc_types.h"

// The accesses use the device of the installed context (SwcContext.h); before the daemon installs
// one, every access fails (-96 / -97).
swc_rc swc_io_init();

// SPI path: 0, or -96 (read) / -97 (write).
swc_rc swc_io_si_rd(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t *value);
swc_rc swc_io_si_wr(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value);

// Parallel path: blocks 4 and 7 are read directly, the others through the indirect read handshake.
swc_rc swc_io_pi_rd(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t *value);
swc_rc swc_io_pi_wr(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value);

// Status reads of the indirect read before it gives up: the first and 25 retries.
inline constexpr int kSwcIoDoneRetries = 25;

// A script of register accesses, run in order and in groups, so that a walk over a chip table can reach
// the chip simulator in a few exchanges instead of one per access. Every back end carries out exactly
// the accesses that running the ops one by one with swc_io_*_rd/wr would:
//  - write, read: one access;
//  - poll: reads until none of the `value` bits is set, at most `polls` reads;
//  - test: one read; when none of the `value` bits is set, the rest of the group is skipped.
// A failed access, or a poll whose bits never cleared, ends its group: its further ops are skipped.
struct SwcIoOp {
  enum class Kind : uint8_t { kWrite, kRead, kPoll, kTest };
  Kind kind = Kind::kRead;
  bool group_end = false;
  uint32_t block = 0;
  uint32_t subblock = 0;
  uint32_t reg = 0;
  uint32_t value = 0;  // write: the value; poll and test: the bits looked at
  uint32_t polls = 1;  // poll: the most reads

  // Results.
  bool ran = false;        // false: skipped
  swc_rc rc = kSwcRcOk;    // the failed access's code; -96 for a poll that never cleared
  bool timed_out = false;  // a poll that never cleared
  uint32_t result = 0;     // the value read (a poll's last read)
};

// Runs the script over the SPI path (serial nonzero) or the parallel path. On the SPI path to the chip
// simulator the ops travel in batches; elsewhere one by one.
void swc_io_run(SwcIoOp *ops, size_t count, bool serial);
