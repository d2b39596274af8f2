// Register I/O: every chip register access as requests on the switch I/O device, over the board's
// SPI path or the parallel CPU bus.
#pragma once

#include <cstdint>

#include "swc_state.h"
#include "swc_types.h"

// Keeps the context whose descriptor the accesses use. Before a context is selected every access
// fails (-96 / -97).
void swc_io_select_context(const swc_context* context);
swc_rc swc_io_init();

// SPI path: 0, or -96 (read) / -97 (write).
swc_rc swc_io_si_rd(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t* value);
swc_rc swc_io_si_wr(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value);

// Parallel path: blocks 4 and 7 are read directly, the others through the indirect read handshake.
swc_rc swc_io_pi_rd(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t* value);
swc_rc swc_io_pi_wr(uint32_t block, uint32_t subblock, uint32_t reg, uint32_t value);

// Status reads of the indirect read before it gives up: the first and 25 retries.
inline constexpr int SWC_IO_DONE_RETRIES = 25;
