// Shared by the CableScan units (the steps, the echo canceller measurements and the PHY access): PHY
// and TR register access that keeps track of the page the test selected, the coefficient buffer, task
// time and the small helpers of the task record. Not part of the switch API.
#pragma once

#include <cstdint>

#include "swc_cablescan.h"
#include "swc_phy.h"

namespace swc_cablescan {

inline constexpr uint32_t kPageTest = kSwcPhyPageTest;
inline constexpr uint32_t kPageTr = kSwcPhyPageTr;
inline constexpr uint64_t kTrTimeoutUs = 500'000;
inline constexpr unsigned kPairs = 4;

// ---- PHY access ----

// Selects a page unless the test selected it last.
swc_rc select_page(uint32_t port_no, uint32_t page);
// The PHY is known to be on the standard page (a step starts there; a failed step is given up).
void page_known_standard();
// Returns a PHY that the step left on another page to the standard page.
swc_rc page_restore_standard(uint32_t port_no);

// A register of the standard page.
swc_rc std_read(uint32_t port_no, uint32_t reg, uint16_t *value);
swc_rc std_write(uint32_t port_no, uint32_t reg, uint32_t value);
swc_rc std_writemasked(uint32_t port_no, uint32_t reg, uint32_t value, uint32_t mask);
// A register of another page through the paged calls, which leave the PHY on page 0.
swc_rc paged_read(uint32_t port_no, uint32_t page, uint32_t reg, uint16_t *value);
swc_rc paged_write(uint32_t port_no, uint32_t page, uint32_t reg, uint32_t value);
swc_rc paged_writemasked(uint32_t port_no, uint32_t page, uint32_t reg, uint32_t value, uint32_t mask);

uint32_t family_of(uint32_t port_no);

// A TR access that timed out gives -3 and the step goes on; every other failure ends it.
inline bool fatal(swc_rc rc) {
  return rc < 0 && rc != kSwcRcNotNow;
}

// TR registers: a read that timed out leaves 0 and succeeds; a failed access returns its code.
swc_rc tr_get(uint32_t port_no, uint32_t address, uint32_t &value);
swc_rc tr_set(uint32_t port_no, uint32_t address, uint32_t value);
// Read-modify-write of a TR register: the bits under `mask` become `value`.
swc_rc tr_modify(uint32_t port_no, uint32_t address, uint32_t value, uint32_t mask);

constexpr uint32_t bits(unsigned low, unsigned high) {
  return ((1u << (high - low + 1)) - 1) << low;
}

// The coefficient buffer swc_phy_cablescan_coeff_read fills.
const int16_t *coefficients();

// ---- time ----

inline SwcCablescanTime time_of(uint64_t us) {
  return {static_cast<int64_t>(us / 1'000'000), static_cast<int64_t>(us % 1'000'000)};
}

inline uint64_t us_of(const SwcCablescanTime &t) {
  return static_cast<uint64_t>(t.seconds) * 1'000'000 + static_cast<uint64_t>(t.microseconds);
}

inline void set_deadline(SwcCablescanTask &task, uint64_t ms) {
  task.deadline = time_of(us_of(task.now) + ms * 1000);
}

// ---- the task record ----

inline bool variant(const SwcCablescanTask &t) {
  return t.flags & kSwcCablescanFlagVariant;
}
inline uint8_t low(uint8_t status) {
  return status & 0x0F;
}
inline void clear_pair(SwcCablescanTask &t, unsigned pair) {
  t.status[pair] = 0;
  t.location[pair] = 0;
  t.amplitude[pair] = 0;
}
inline uint8_t first_window(uint32_t family) {
  return family == 1 ? 0xC0 : 0x48;
}

}  // namespace swc_cablescan

// Returns the code of an access that failed for good; a TR timeout (-3) lets the step go on.
#define CS_ACCESS(expression)                                      \
  do {                                                             \
    const swc_rc cs_access_rc_ = (expression);                     \
    if (swc_cablescan::fatal(cs_access_rc_)) return cs_access_rc_; \
  } while (0)
