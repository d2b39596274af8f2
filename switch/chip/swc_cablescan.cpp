#include "swc_cablescan.h"

#include <algorithm>
#include <cstdlib>

#include "swc_clock.h"
#include "swc_phy.h"
#include "swc_trace.h"

namespace {

constexpr uint32_t kPageTest = SWC_PHY_PAGE_TEST;
constexpr uint32_t kPageTr = SWC_PHY_PAGE_TR;
constexpr uint64_t kTrTimeoutUs = 500'000;
constexpr unsigned kPairs = 4;

int16_t g_coefficients[SWC_CABLESCAN_COEFFICIENTS];

// The page the engine last selected on the PHY it works on; the paged PHY calls return to page 0.
uint32_t g_page = 0;

// ---- PHY access ----

swc_rc select_page(uint32_t port_no, uint32_t page) {
  if (g_page == page) return SWC_RC_OK;
  SWC_TRY(swc_phy_write(port_no, 31, page));
  g_page = page;
  return SWC_RC_OK;
}

// A register of the standard page.
swc_rc std_read(uint32_t port_no, uint32_t reg, uint16_t *value) {
  SWC_TRY(select_page(port_no, 0));
  return swc_phy_read(port_no, reg, value);
}

swc_rc std_write(uint32_t port_no, uint32_t reg, uint32_t value) {
  SWC_TRY(select_page(port_no, 0));
  return swc_phy_write(port_no, reg, value);
}

swc_rc std_writemasked(uint32_t port_no, uint32_t reg, uint32_t value, uint32_t mask) {
  SWC_TRY(select_page(port_no, 0));
  return swc_phy_writemasked(port_no, reg, value, mask);
}

// A register of another page through the paged calls, which leave the PHY on page 0.
swc_rc paged_read(uint32_t port_no, uint32_t page, uint32_t reg, uint16_t *value) {
  const swc_rc rc = swc_phy_read(port_no, swc_phy_paged(page, reg), value);
  g_page = 0;
  return rc;
}

swc_rc paged_write(uint32_t port_no, uint32_t page, uint32_t reg, uint32_t value) {
  const swc_rc rc = swc_phy_write(port_no, swc_phy_paged(page, reg), value);
  g_page = 0;
  return rc;
}

swc_rc paged_writemasked(uint32_t port_no, uint32_t page, uint32_t reg, uint32_t value, uint32_t mask) {
  const swc_rc rc = swc_phy_writemasked(port_no, swc_phy_paged(page, reg), value, mask);
  g_page = 0;
  return rc;
}

uint32_t family_of(uint32_t port_no) {
  const swc_phy_port_t *phy = swc_phy_port(port_no);
  return phy ? phy->family : 0;
}

// The TR command register and its two data registers: page registers 0, 1, 2 on family 1, else 16,
// 17, 18.
uint32_t tr_command_reg(uint32_t port_no) {
  return family_of(port_no) == 1 ? 0 : 16;
}

// Waits for bit 15 of a register of the TR page, at most 500 ms; -3 on a timeout.
swc_rc wait_done(uint32_t port_no, uint32_t reg) {
  swc_clock &clock = swc_clock_get();
  const uint64_t start = clock.now_us();
  for (;;) {
    uint16_t value = 0;
    SWC_TRY(swc_phy_read(port_no, reg, &value));
    if (value & 0x8000) return SWC_RC_OK;
    if (clock.now_us() - start > kTrTimeoutUs) {
      SWC_CS_TRACE(TRACE_ERROR, "port_no: %d, reg: %d, timeout", static_cast<int>(port_no),
                   static_cast<int>(reg));
      return SWC_RC_NOT_NOW;
    }
    clock.busy_wait_us(100);
  }
}

// A TR access that timed out gives -3 and the step goes on; every other failure ends it.
bool fatal(swc_rc rc) {
  return rc < 0 && rc != SWC_RC_NOT_NOW;
}

#define CS_ACCESS(expression)                       \
  do {                                              \
    const swc_rc cs_access_rc_ = (expression);      \
    if (fatal(cs_access_rc_)) return cs_access_rc_; \
  } while (0)

swc_rc tr_get(uint32_t port_no, uint32_t address, uint32_t &value) {
  value = 0;
  const swc_rc rc = swc_phy_cablescan_tr_read(port_no, address, &value);
  return fatal(rc) ? rc : SWC_RC_OK;
}

swc_rc tr_set(uint32_t port_no, uint32_t address, uint32_t value) {
  return swc_phy_cablescan_tr_write(port_no, address, value);
}

// Read-modify-write of a TR register: the bits under `mask` become `value`.
swc_rc tr_modify(uint32_t port_no, uint32_t address, uint32_t value, uint32_t mask) {
  uint32_t old = 0;
  SWC_TRY(tr_get(port_no, address, old));
  return tr_set(port_no, address, (old & ~mask) | (value & mask));
}

constexpr uint32_t bits(unsigned low, unsigned high) {
  return ((1u << (high - low + 1)) - 1) << low;
}

// ---- time ----

swc_cablescan_time_t time_of(uint64_t us) {
  return {static_cast<int64_t>(us / 1'000'000), static_cast<int64_t>(us % 1'000'000)};
}

uint64_t us_of(const swc_cablescan_time_t &t) {
  return static_cast<uint64_t>(t.seconds) * 1'000'000 + static_cast<uint64_t>(t.microseconds);
}

void set_deadline(swc_cablescan_task_t &task, uint64_t ms) {
  task.deadline = time_of(us_of(task.now) + ms * 1000);
}

// ---- the family-1 reprogramming for the variant without link ----

// saved_registers: standard register 0 in bits 0-15, register 9 bits 11-12 in bits 16-17, register 28
// bit 2 in bit 18, test register 5 bits 3-4 in bits 19-20. saved_tr_fields: TR 0x1680 bits 10-21 in
// bits 0-11, TR 0x0F86 bits 11-21 in bits 12-22, TR 0x0F82 bits 3-4 in bits 23-24, TR 0x0FA0 bits
// 8-12 in bits 25-29.
swc_rc pulse_power_down(uint32_t port_no) {
  SWC_TRY(std_writemasked(port_no, 0, 0x0800, 0x0800));
  return std_writemasked(port_no, 0, 0, 0x0800);
}

swc_rc family1_reprogram(swc_cablescan_task_t &task) {
  const uint32_t p = task.port;
  uint16_t r0 = 0, r9 = 0, r28 = 0, t5 = 0;
  SWC_TRY(std_read(p, 0, &r0));
  SWC_TRY(std_read(p, 9, &r9));
  SWC_TRY(std_read(p, 28, &r28));
  SWC_TRY(std_write(p, 9, r9 | 0x1800));
  SWC_TRY(std_write(p, 28, r28 | 0x0004));
  SWC_TRY(std_write(p, 0, 0x0140));
  SWC_TRY(paged_read(p, kPageTest, 5, &t5));
  SWC_TRY(paged_writemasked(p, kPageTest, 5, 0x10, 0x10));
  SWC_TRY(paged_writemasked(p, kPageTest, 5, 0x08, 0x08));
  uint32_t f1680 = 0, f0f86 = 0, f0f82 = 0, f0fa0 = 0;
  CS_ACCESS(tr_modify(p, 0x0F8A, 0x42u << 2, bits(2, 8)));
  SWC_TRY(tr_get(p, 0x1680, f1680));
  CS_ACCESS(tr_set(p, 0x1680, f1680 | bits(10, 21)));
  SWC_TRY(tr_get(p, 0x0F86, f0f86));
  CS_ACCESS(tr_set(p, 0x0F86, (f0f86 & ~bits(11, 21)) | 0x742u << 11));
  CS_ACCESS(tr_modify(p, 0x0F88, 0x12u << 8, bits(8, 12)));
  SWC_TRY(tr_get(p, 0x0F82, f0f82));
  CS_ACCESS(tr_set(p, 0x0F82, (f0f82 & ~bits(3, 4)) | 2u << 3));
  SWC_TRY(tr_get(p, 0x0FA0, f0fa0));
  CS_ACCESS(tr_set(p, 0x0FA0, (f0fa0 & ~bits(8, 14)) | 0x68u << 8));
  CS_ACCESS(tr_modify(p, 0x0FA2, 0x30303, 0x30303));
  CS_ACCESS(tr_modify(p, 0x0240, 0xFF, 0xFF));
  CS_ACCESS(tr_modify(p, 0x0770, 2u << 2, bits(2, 3)));
  SWC_TRY(pulse_power_down(p));
  CS_ACCESS(tr_modify(p, 0x1684, 0xF0u << 14, bits(14, 21)));
  CS_ACCESS(tr_modify(p, 0x0770, 3, bits(0, 1)));
  if (!task.held) {
    task.saved_registers = r0 | (r9 >> 11 & 3u) << 16 | (r28 >> 2 & 1u) << 18 | (t5 >> 3 & 3u) << 19;
    task.saved_tr_fields = (f1680 >> 10 & 0xFFF) | (f0f86 >> 11 & 0x7FF) << 12 | (f0f82 >> 3 & 3) << 23 |
                           (f0fa0 >> 8 & 0x1F) << 25;
  }
  return SWC_RC_OK;
}

swc_rc family1_restore(swc_cablescan_task_t &task) {
  const uint32_t p = task.port;
  const uint32_t r = task.saved_registers;
  const uint32_t f = task.saved_tr_fields;
  CS_ACCESS(tr_modify(p, 0x0770, 0, bits(0, 3)));
  CS_ACCESS(tr_modify(p, 0x0F8A, 0, bits(2, 8)));
  CS_ACCESS(tr_modify(p, 0x1680, (f & 0xFFF) << 10, bits(10, 21)));
  CS_ACCESS(tr_modify(p, 0x0F86, (f >> 12 & 0x7FF) << 11, bits(11, 21)));
  CS_ACCESS(tr_modify(p, 0x0F88, 0, bits(8, 12)));
  CS_ACCESS(tr_modify(p, 0x0F82, (f >> 23 & 3) << 3, bits(3, 4)));
  CS_ACCESS(tr_modify(p, 0x0FA0, (f >> 25 & 0x1F) << 8, bits(8, 14)));
  CS_ACCESS(tr_modify(p, 0x0FA2, 0, 0x30303));
  CS_ACCESS(tr_modify(p, 0x0240, 0, 0xFF));
  CS_ACCESS(tr_modify(p, 0x1684, 0, bits(14, 21)));
  SWC_TRY(paged_writemasked(p, kPageTest, 5, (r >> 19 & 2) << 3, 0x10));
  SWC_TRY(paged_writemasked(p, kPageTest, 5, (r >> 19 & 1) << 3, 0x08));
  SWC_TRY(std_writemasked(p, 9, (r >> 16 & 3) << 11, 0x1800));
  SWC_TRY(std_write(p, 0, r & 0xFFFF));
  SWC_TRY(std_writemasked(p, 28, (r >> 18 & 1) << 2, 0x0004));
  return pulse_power_down(p);
}

// ---- steps ----

bool variant(const swc_cablescan_task_t &t) {
  return t.flags & SWC_CABLESCAN_FLAG_VARIANT;
}
uint8_t sub_range_start(const swc_cablescan_task_t &t) {
  return (t.flags & 0x80) ? 0 : 3;
}
uint8_t low(uint8_t status) {
  return status & 0x0F;
}

void clean_up(swc_cablescan_task_t &t) {
  t.state |= SWC_CABLESCAN_CLEANUP;
}

void clear_pair(swc_cablescan_task_t &t, unsigned pair) {
  t.status[pair] = 0;
  t.location[pair] = 0;
  t.amplitude[pair] = 0;
}

// Family 8: a test the PHY itself was asked for, on one of the eight ports of its package.
swc_rc state_0(swc_cablescan_task_t &t, uint32_t family) {
  if (family != 8) return SWC_RC_OK;
  for (unsigned tries = 0; tries < 8; ++tries) {
    t.port = static_cast<uint8_t>((t.port + 1) & 7);
    // Ports of the package the board has no PHY record for are skipped.
    const swc_phy_port_t *phy = swc_phy_port(t.port);
    if (!phy || phy->bus < 0 || phy->family != 8) continue;
    uint16_t request = 0;
    SWC_TRY(paged_read(t.port, 1, 24, &request));
    if (!(request & 0x8000)) continue;
    uint16_t r23 = 0;
    SWC_TRY(std_read(t.port, 23, &r23));
    t.flags = static_cast<uint8_t>((t.flags & 0x3F) | (request & 0xC0));
    if (!t.held) t.saved_mode = static_cast<uint8_t>(r23 & 0xC0);
    SWC_TRY(std_write(t.port, 23, (r23 & ~0xC0u) | 0x80));
    t.held = 1;
    t.state = 1;
    return SWC_RC_RUNNING;
  }
  return SWC_RC_OK;
}

swc_rc state_1(swc_cablescan_task_t &t, uint32_t family) {
  const uint32_t p = t.port;
  t.tap_count = family == 1 ? 12 : 8;
  for (unsigned pair = 0; pair < kPairs; ++pair) clear_pair(t, pair);
  SWC_TRY(paged_writemasked(p, kPageTest, 8, 0x200, 0x200));
  if (family == 4) CS_ACCESS(tr_set(p, 0x0400, 0x1DE800));
  if (family == 1) {
    uint16_t r17 = 0;
    SWC_TRY(std_read(p, 17, &r17));
    t.flags = static_cast<uint8_t>((t.flags & ~SWC_CABLESCAN_FLAG_VARIANT) | (r17 >> 12 & 1));
    if (!variant(t)) SWC_TRY(family1_reprogram(t));
  } else {
    SWC_TRY(paged_write(p, 1, 24, 0x8000));
  }
  if (family == 8) {
    uint16_t r23 = 0;
    SWC_TRY(std_read(p, 23, &r23));
    if (!t.held) t.saved_mode = static_cast<uint8_t>(r23 & 0xC0);
    SWC_TRY(std_write(p, 23, (r23 & ~0xC0u) | 0x80));
  }
  if (family == 7 || family == 9) {
    uint16_t r28 = 0;
    SWC_TRY(std_read(p, 28, &r28));
    if (!t.held) t.saved_mode = static_cast<uint8_t>(r28 & 0x40);
    SWC_TRY(std_write(p, 28, r28 & ~0x40u));
  }
  t.held = 1;
  if (family != 1) set_deadline(t, 750);
  t.state = 2;
  return SWC_RC_RUNNING;
}

swc_rc state_2(swc_cablescan_task_t &t, uint32_t family) {
  const uint32_t p = t.port;
  if (family != 1) {
    uint16_t r17 = 0, e24 = 0;
    SWC_TRY(std_read(p, 17, &r17));
    t.flags = static_cast<uint8_t>((t.flags & ~SWC_CABLESCAN_FLAG_VARIANT) | (r17 >> 12 & 1));
    SWC_TRY(paged_read(p, 1, 24, &e24));
    if (!(e24 & 0x8000)) {
      SWC_CS_TRACE(TRACE_DEBUG, "port_no: %d, test not running in the PHY", static_cast<int>(p));
      clean_up(t);
      return SWC_RC_RUNNING;
    }
  }
  if (variant(t)) {
    CS_ACCESS(family == 1 ? tr_set(p, 0x00B4, 0x40ED) : tr_set(p, 0x0190, 0x387));
    uint32_t f = 0;
    SWC_TRY(tr_get(p, 0x0FF0, f));
    int s = static_cast<int>(f >> 4 & 0xF);
    if (f & 0x100) s -= 16;
    t.echo_offset = static_cast<int16_t>(26 * s + 800);
    t.state = 4;
    return SWC_RC_RUNNING;
  }
  t.threshold1 = 400;
  set_deadline(t, 10);
  t.state = 3;
  return SWC_RC_RUNNING;
}

swc_rc state_3(swc_cablescan_task_t &t, uint32_t family) {
  const uint32_t p = t.port;
  uint16_t r28 = 0;
  SWC_TRY(std_read(p, 28, &r28));
  if ((r28 >> 3 & 3) == 2) {
    SWC_TRY(swc_phy_cablescan_tr_setup(&t, 0));
    CS_ACCESS(family == 1 ? tr_set(p, 0x00B4, 0x400D) : tr_set(p, 0x0190, 0x380));
    CS_ACCESS(tr_modify(p, 0x0F86, bits(20, 21), bits(20, 21)));
    t.echo_offset = 0;
    t.state = 4;
    return SWC_RC_RUNNING;
  }
  if (--t.threshold1 == 0) {
    SWC_CS_TRACE(TRACE_DEBUG, "port_no: %d, PHY not ready for the test", static_cast<int>(p));
    clean_up(t);
  } else {
    set_deadline(t, 5);
  }
  return SWC_RC_RUNNING;
}

// States 4, 5 and 6 run as one step: a new sub-range, its disturbance counts, its programming.
swc_rc state_6(swc_cablescan_task_t &t, uint32_t family) {
  t.threshold2 = t.threshold1;
  if (family == 1) {
    t.saved_tr_value = 0;
    if (t.sub_range == 0) set_deadline(t, 500);
  } else {
    const uint32_t p = t.port;
    t.saved_tr_value = (static_cast<uint32_t>(t.sub_range) * 0x55) << 13;
    CS_ACCESS(tr_set(p, 0x0184, 1));
    CS_ACCESS(tr_set(p, 0x0188, t.saved_tr_value));
    CS_ACCESS(tr_set(p, 0x0184, 0));
    set_deadline(t, 500);
  }
  t.state = 7;
  return SWC_RC_RUNNING;
}

swc_rc state_5(swc_cablescan_task_t &t, uint32_t family) {
  t.threshold1 = 0;
  t.threshold2 = 0;
  return state_6(t, family);
}

swc_rc state_4(swc_cablescan_task_t &t, uint32_t family) {
  t.sub_range = static_cast<int8_t>(sub_range_start(t));
  t.accumulator = 0;
  return state_5(t, family);
}

bool disturbed(uint32_t value) {
  return (value >> 16 & 0xFF) == 0xF0 && (value & 0x80);
}

swc_rc state_7(swc_cablescan_task_t &t, uint32_t family) {
  const uint32_t p = t.port;
  const uint16_t previous = t.threshold2;
  if (family == 1) {
    uint32_t v = 0;
    SWC_TRY(tr_get(p, 0x00BA, v));
    if (disturbed(v)) {
      for (unsigned pair = 0; pair < kPairs; ++pair) clear_pair(t, pair);
      t.threshold1 = static_cast<uint16_t>(previous + 1);
    }
  } else {
    for (unsigned pair = 0; pair < kPairs; ++pair) {
      uint32_t v = 0;
      SWC_TRY(tr_get(p, 0x01C0 + (pair << 11), v));
      if (disturbed(v)) {
        clear_pair(t, pair);
        t.threshold1 = static_cast<uint16_t>(previous + 1);
      }
    }
  }
  const uint16_t count = t.threshold1;
  if (count == 0) {
    if (family == 1 || t.sub_range == 0) set_deadline(t, 200);
    t.pair = 0;
    t.state = 8;
    return SWC_RC_RUNNING;
  }
  SWC_CS_TRACE(TRACE_DEBUG, "port_no: %d, disturbance count %d", static_cast<int>(p), count);
  if (count == previous) {
    if (t.sub_range != sub_range_start(t)) {
      t.sub_range = static_cast<int8_t>(sub_range_start(t));
      t.threshold1 = static_cast<uint16_t>(count + 1);
      set_deadline(t, 500);
      t.state = 6;
    } else {
      t.accumulator = static_cast<uint16_t>(t.accumulator + count - 1);
      set_deadline(t, 200);
      t.pair = 0;
      t.state = 8;
    }
  } else if (t.accumulator + count < 10) {
    t.state = 6;
  } else {
    clean_up(t);
  }
  if (!variant(t)) SWC_TRY(swc_phy_cablescan_tr_setup(&t, 0));
  return SWC_RC_RUNNING;
}

uint8_t first_window(uint32_t family) {
  return family == 1 ? 0xC0 : 0x48;
}

// An echo search at `first_tap`, its finding checked against the noise floor.
swc_rc search_window(swc_cablescan_task_t &t, uint32_t first_tap, uint32_t minimum_tap) {
  swc_phy_cablescan_threshold_set(&t, first_tap + t.tap_count / 2);
  SWC_TRY(swc_phy_cablescan_echo_search(&t, first_tap, minimum_tap));
  const uint8_t s = low(t.status[t.pair]);
  if (s >= 1 && s <= 15) SWC_TRY(swc_phy_cablescan_noise_check(&t, 70));
  return SWC_RC_OK;
}

void next_pair_or_range(swc_cablescan_task_t &t) {
  if (t.pair < 3) {
    ++t.pair;
    t.state = 8;
  } else if (t.sub_range > 0) {
    --t.sub_range;
    t.state = 5;
  } else {
    t.pair = 0;
    t.window_start = 0;  // state 10 counts its quiet reads here
    t.state = 10;
  }
}

swc_rc state_8(swc_cablescan_task_t &t, uint32_t family) {
  const uint32_t p = t.port;
  const unsigned pair = static_cast<unsigned>(t.pair) & 3;
  uint8_t &status = t.status[pair];
  status = static_cast<uint8_t>(low(status) << 4 | low(status));
  if (t.sub_range == 0 && (status & 0x80)) {
    next_pair_or_range(t);
    return SWC_RC_RUNNING;
  }
  t.mask = 0;
  const bool reads = family != 1 || t.sub_range == 0;
  if (reads) {
    uint32_t v = 0;
    SWC_TRY(tr_get(p, family == 1 ? 0x00BA : 0x01C0 + (pair << 11), v));
    if (v & 0x80) {
      const uint32_t t0 = (v >> 16 & 0xFF) + (family == 1 ? 0x40u : t.sub_range == 0 ? 0x48u : 0x10u);
      t.window_start = first_window(family);
      SWC_TRY(search_window(t, t0, 0));
    }
  }
  if (family == 1) {
    t.window_start = static_cast<uint8_t>(t.sub_range == 0 ? 0xB4 : 32 * t.sub_range - 20);
  } else {
    t.window_start = static_cast<uint8_t>(t.sub_range == 0 ? 0x40 : 16 * t.sub_range + 0x48);
  }
  t.state = 9;
  return SWC_RC_RUNNING;
}

uint8_t window_of(const swc_cablescan_task_t &t, uint32_t family) {
  const uint8_t start = t.window_start;
  if (family == 1) return (start & 0x80) ? start - 0x80 : start & 0x1F;
  return start > 0x4F ? start & 0xF : start;
}

swc_rc state_9(swc_cablescan_task_t &t, uint32_t family) {
  const unsigned pair = static_cast<unsigned>(t.pair) & 3;
  const uint8_t w = window_of(t, family);
  SWC_TRY(search_window(t, w, w == 4 ? 6 : 0));
  bool walk_ends = false;
  if (t.sub_range > 0) {
    if (w == 0) {
      uint8_t &s = t.status[pair];
      if (low(s) != 0 && !(s & 0x08)) {
        s = static_cast<uint8_t>((s & 0xF4) | 8 |
                                 (pair != static_cast<unsigned>(t.sub_range) ? t.sub_range : 0));
      }
      walk_ends = true;
    } else {
      t.window_start = static_cast<uint8_t>(t.window_start - t.tap_count);
    }
  } else {
    const uint8_t middle = family == 1 ? 16 : 8;
    if (w > middle) {
      t.window_start = static_cast<uint8_t>(t.window_start - t.tap_count);
    } else if (w == middle) {
      t.window_start = family == 1 ? 0x85 : 4;
      t.tap_count = family == 1 ? 11 : 4;
    } else {
      t.tap_count = family == 1 ? 12 : 8;
      walk_ends = true;
    }
  }
  if (walk_ends) next_pair_or_range(t);
  return SWC_RC_RUNNING;
}

// State 10: the level of each pair without a finding, from the noise floor. A quiet read waits 2 s as
// a deadline, not a sleep, so the daemon goes on meanwhile; the window start counts the reads.
swc_rc state_10_levels(swc_cablescan_task_t &t, uint32_t family) {
  const uint32_t p = t.port;
  const uint16_t quiet = variant(t) ? 0 : 3;
  while (t.pair < 4) {
    const unsigned pair = static_cast<unsigned>(t.pair);
    if (t.status[pair] != 0) {
      ++t.pair;
      t.window_start = 0;
      continue;
    }
    SWC_TRY(swc_phy_cablescan_coeff_read(p, pair, first_window(family), 0xF8));
    const uint16_t peak = static_cast<uint16_t>(g_coefficients[0]);
    if (peak > quiet) {
      t.level[pair] = peak;
    } else if (++t.window_start < 100) {
      set_deadline(t, 2000);
      return SWC_RC_RUNNING;
    }
    ++t.pair;
    t.window_start = 0;
  }
  return SWC_RC_OK;
}

swc_rc state_10(swc_cablescan_task_t &t, uint32_t family) {
  const uint32_t p = t.port;
  if (t.pair == 0 && t.window_start == 0) {
    bool any_quiet_pair = false;
    for (unsigned pair = 0; pair < kPairs; ++pair) {
      t.status[pair] = low(t.status[pair]);
      t.level[pair] = 0;
      any_quiet_pair = any_quiet_pair || t.status[pair] == 0;
    }
    if (!any_quiet_pair || (t.flags & 0xC0)) {
      t.state = 13;
      return SWC_RC_RUNNING;
    }
    if (!variant(t)) {
      SWC_TRY(swc_phy_cablescan_tr_setup(&t, 1));
      CS_ACCESS(family == 1 ? tr_set(p, 0x00B4, 0x96AD) : tr_set(p, 0x0190, 0x4B5));
    }
    if (family == 1) {
      CS_ACCESS(tr_set(p, 0x00B6, 0x2A3));
      CS_ACCESS(tr_set(p, 0x00B6, 0x2A2));
    } else {
      CS_ACCESS(tr_set(p, 0x0188, 0x141));
      CS_ACCESS(tr_set(p, 0x0184, 1));
      CS_ACCESS(tr_set(p, 0x0184, 0));
    }
  }
  const swc_rc rc = state_10_levels(t, family);
  if (rc != SWC_RC_OK) return rc;
  int lowest = -1, highest = -1;
  for (unsigned pair = 0; pair < kPairs; ++pair) {
    if (t.status[pair] != 0) continue;
    uint16_t &level = t.level[pair];
    level = level < 14 ? 20 : static_cast<uint16_t>(level + 6);
    if (level >= 181) {
      t.location[pair] = SWC_CABLESCAN_NO_REFLECTION;
      continue;
    }
    if (lowest < 0 || level < t.level[lowest]) lowest = static_cast<int>(pair);
    if (highest < 0 || level > t.level[highest]) highest = static_cast<int>(pair);
  }
  t.flags = static_cast<uint8_t>(t.flags & ~0x38);
  if (highest >= 0 && highest != lowest && 2u * t.level[highest] >= 3u * t.level[lowest]) {
    t.flags = static_cast<uint8_t>(t.flags | SWC_CABLESCAN_FLAG_REFERENCE | highest << 4);
  }
  t.saved_tr_value = family == 1 ? 0x2A2 : 0x141;
  t.mask = 0;
  t.window_start = first_window(family);
  t.flags = static_cast<uint8_t>(t.flags & ~SWC_CABLESCAN_FLAG_WORKING);
  t.pair = 0;
  t.state = 11;
  return SWC_RC_RUNNING;
}

bool same_sign(int a, int b) {
  return (a < 0) == (b < 0);
}

// One window of state 11 for one pair: the strongest coefficient above the pair's level is its
// reflection.
swc_rc walk_pair(swc_cablescan_task_t &t, unsigned pair, uint8_t w) {
  const uint32_t p = t.port;
  SWC_TRY(swc_phy_cablescan_coeff_read(p, pair, t.window_start, static_cast<uint32_t>(t.tap_count) | 0x30));
  const int16_t coefficients[12] = {g_coefficients[1],  g_coefficients[2],  g_coefficients[3],
                                    g_coefficients[4],  g_coefficients[5],  g_coefficients[6],
                                    g_coefficients[7],  g_coefficients[8],  g_coefficients[9],
                                    g_coefficients[10], g_coefficients[11], g_coefficients[12]};
  const int level = t.level[pair];
  for (int k = std::min<int>(t.tap_count, 12) - 1; k >= 0; --k) {
    if (t.mask & (1 << pair)) break;
    const int c = coefficients[k];
    const int tap = w + k;
    const int location = t.location[pair];
    const int recorded = t.amplitude[pair];
    const bool none = location == 0 || recorded == 0;
    if (std::abs(c) > level) {
      if (none) {
        t.location[pair] = static_cast<uint8_t>(tap);
        t.amplitude[pair] = static_cast<int16_t>(c);
        const int8_t pair_before = t.pair;
        t.pair = static_cast<int8_t>(pair);
        const swc_rc rc = swc_phy_cablescan_noise_check(&t, 180);
        t.pair = pair_before;
        SWC_TRY(rc);
      } else if (std::abs(tap - location) <= 3 && same_sign(c, recorded) &&
                 std::abs(c) >= std::abs(recorded)) {
        t.location[pair] = static_cast<uint8_t>(tap);
        t.amplitude[pair] = static_cast<int16_t>(c);
      } else if (std::abs(tap - location) <= 5 && !same_sign(c, recorded) &&
                 8 * std::abs(c) >= 7 * std::abs(recorded)) {
        t.location[pair] = static_cast<uint8_t>(tap);
        t.amplitude[pair] = static_cast<int16_t>(c);
        t.mask = static_cast<int8_t>(t.mask | 1 << pair);
      }
    } else if (!none && tap == location + 1 && same_sign(c, recorded) && std::abs(c) > std::abs(recorded)) {
      t.location[pair] = static_cast<uint8_t>(tap);
    }
  }
  return SWC_RC_OK;
}

swc_rc state_11(swc_cablescan_task_t &t, uint32_t family) {
  const uint32_t p = t.port;
  SWC_CS_TRACE(TRACE_NOISE, "port_no: %d, window start 0x%02x", static_cast<int>(p), t.window_start);
  if ((t.flags & SWC_CABLESCAN_FLAG_WORKING) || (t.window_start & 0x7F) < t.tap_count) {
    t.state = 12;
    return SWC_RC_RUNNING;
  }
  t.window_start = static_cast<uint8_t>(t.window_start - t.tap_count);
  const uint8_t first = first_window(family);
  if (family == 1 && t.window_start + t.tap_count == first && (t.saved_tr_value >> 2 & 0xFF) == 0) {
    t.window_start = 0xB4;
    for (uint16_t &level : t.level) level = static_cast<uint16_t>(level + level / 4);
    t.saved_tr_value = ((0x34u - t.tap_count) << 2) + 2;
    CS_ACCESS(tr_set(p, 0x00B6, t.saved_tr_value + 1));
    CS_ACCESS(tr_set(p, 0x00B6, t.saved_tr_value));
  } else if (family != 1 && t.window_start + t.tap_count == first && (t.saved_tr_value >> 2 & 0xFF) == 0) {
    t.window_start = 0x40;
    for (uint16_t &level : t.level) level = static_cast<uint16_t>(level + level / 4);
    t.saved_tr_value = ((0x40u - t.tap_count) << 1) + 1;
    CS_ACCESS(tr_set(p, 0x0188, t.saved_tr_value));
    CS_ACCESS(tr_set(p, 0x0184, 1));
    CS_ACCESS(tr_set(p, 0x0184, 0));
  }
  const uint8_t w = window_of(t, family);
  bool all_located = true;
  for (unsigned pair = 0; pair < kPairs; ++pair) all_located = all_located && t.location[pair] != 0;
  if (all_located) t.flags |= SWC_CABLESCAN_FLAG_WORKING;
  for (unsigned pair = 0; pair < kPairs; ++pair) {
    if (t.status[pair] != 0 || t.location[pair] >= w + 12) continue;
    SWC_TRY(walk_pair(t, pair, w));
  }
  if (t.flags & SWC_CABLESCAN_FLAG_WORKING) {
    if (family == 1) {
      CS_ACCESS(tr_set(p, 0x00B6, 1));
      CS_ACCESS(tr_set(p, 0x00B6, 0));
    }
    CS_ACCESS(tr_set(p, 0x0188, 0));
    CS_ACCESS(tr_set(p, 0x0184, 1));
    CS_ACCESS(tr_set(p, 0x0184, 0));
    t.state = 12;
  }
  return SWC_RC_RUNNING;
}

swc_rc state_12(swc_cablescan_task_t &t, uint32_t family) {
  SWC_CS_TRACE(TRACE_DEBUG, "port_no: %d, locations %d %d %d %d, amplitudes %d %d %d %d, levels %d %d %d %d",
               static_cast<int>(t.port), t.location[0], t.location[1], t.location[2], t.location[3],
               t.amplitude[0], t.amplitude[1], t.amplitude[2], t.amplitude[3], t.level[0], t.level[1],
               t.level[2], t.level[3]);
  bool examined[kPairs] = {};
  for (unsigned pair = 0; pair < kPairs; ++pair) {
    if (t.status[pair] != 0 || t.location[pair] == SWC_CABLESCAN_NO_REFLECTION) continue;
    examined[pair] = true;
    swc_phy_cablescan_threshold_set(&t, t.location[pair]);
    const int amplitude = t.amplitude[pair];
    int a = 0;
    if (t.location[pair] >= 9) {
      a = variant(t) ? static_cast<int16_t>(((3 * amplitude + 2) * 16384) >> 16)
                     : static_cast<int16_t>(((3 * amplitude + 16) * 2048) >> 16);
    }
    if (a > t.threshold1) {
      t.status[pair] = 2;
    } else if (a < -static_cast<int>(t.threshold1)) {
      t.status[pair] = 1;
    } else if (std::abs(a) > t.threshold2) {
      t.status[pair] = 4;
    } else if (!(t.mask & (1 << pair))) {
      // A location 0 (nothing found) becomes "no reflection".
      t.location[pair] = static_cast<uint8_t>(t.location[pair] - (family == 1 ? 3 : 1));
    }
  }
  const bool reference = t.flags & SWC_CABLESCAN_FLAG_REFERENCE;
  const unsigned ref = t.flags >> 4 & 3;
  int lowest = -1, highest = -1;
  for (unsigned pair = 0; pair < kPairs; ++pair) {
    if (!examined[pair] || (reference && pair == ref)) continue;
    if (lowest < 0 || t.location[pair] < t.location[lowest]) lowest = static_cast<int>(pair);
    if (highest < 0 || t.location[pair] > t.location[highest]) highest = static_cast<int>(pair);
  }
  if (reference && lowest >= 0) {
    const int r = t.location[ref];
    if (r == t.location[lowest] - 1) {
      lowest = static_cast<int>(ref);
      t.flags &= static_cast<uint8_t>(~SWC_CABLESCAN_FLAG_REFERENCE);
    } else if (r == t.location[highest] + 1) {
      highest = static_cast<int>(ref);
      t.flags &= static_cast<uint8_t>(~SWC_CABLESCAN_FLAG_REFERENCE);
    } else if (r > t.location[lowest] && r < t.location[highest]) {
      t.flags &= static_cast<uint8_t>(~SWC_CABLESCAN_FLAG_REFERENCE);
    }
  }
  uint8_t shared = SWC_CABLESCAN_NO_REFLECTION;
  if (lowest < 0) {
    if (t.flags & SWC_CABLESCAN_FLAG_REFERENCE) shared = t.location[ref];
  } else {
    int second_lowest = -1, second_highest = -1;
    for (unsigned pair = 0; pair < kPairs; ++pair) {
      const bool candidate = (examined[pair] && !(reference && pair == ref)) ||
                             static_cast<int>(pair) == lowest || static_cast<int>(pair) == highest;
      if (!candidate) continue;
      if (static_cast<int>(pair) != lowest &&
          (second_lowest < 0 || t.location[pair] < t.location[second_lowest]))
        second_lowest = static_cast<int>(pair);
      if (static_cast<int>(pair) != highest &&
          (second_highest < 0 || t.location[pair] > t.location[second_highest]))
        second_highest = static_cast<int>(pair);
    }
    if (second_lowest < 0 || second_highest < 0) {
      shared = t.location[highest];  // a single pair
    } else if (second_highest == lowest) {
      shared = t.location[highest];
    } else {
      shared = static_cast<uint8_t>((t.location[second_lowest] + t.location[second_highest]) / 2);
    }
  }
  for (unsigned pair = 0; pair < kPairs; ++pair) {
    if (t.status[pair] == 0) t.location[pair] = shared;
  }
  t.state = 13;
  return SWC_RC_RUNNING;
}

template <typename T>
void swap_pairs(T (&values)[kPairs], unsigned a, unsigned b) {
  std::swap(values[a], values[b]);
}

void swap_results(swc_cablescan_task_t &t, unsigned a, unsigned b) {
  swap_pairs(t.status, a, b);
  swap_pairs(t.location, a, b);
  swap_pairs(t.amplitude, a, b);
}

swc_rc state_13(swc_cablescan_task_t &t, uint32_t family) {
  uint16_t r28 = 0;
  SWC_TRY(std_read(t.port, 28, &r28));
  const unsigned crossover = r28 >> 12 & 3;
  if (crossover == 0 || crossover == 1) {
    swap_results(t, 0, 1);
    for (uint8_t &s : t.status) {
      if ((s & 0x08) && !(s & 0x02)) s ^= 1;
    }
  }
  if (crossover == 0 || crossover == 3) {
    swap_results(t, 2, 3);
    for (uint8_t &s : t.status) {
      if ((s & 0x08) && (s & 0x02)) s ^= 1;
    }
  }
  for (uint8_t &location : t.location) location = swc_cablescan_length(family, variant(t), location);
  SWC_CS_TRACE(TRACE_DEBUG, "port_no: %d, status %d %d %d %d, length %d %d %d %d", static_cast<int>(t.port),
               t.status[0], t.status[1], t.status[2], t.status[3], t.location[0], t.location[1],
               t.location[2], t.location[3]);
  t.state = 0x8E;
  return SWC_RC_RUNNING;
}

// Restores the PHY and ends the test: results written into the PHY (family 8), validity decided.
swc_rc cleanup(swc_cablescan_task_t &t, uint32_t family) {
  const uint32_t p = t.port;
  SWC_TRY(select_page(p, kPageTr));
  if (family == 1) {
    CS_ACCESS(tr_set(p, 0x00B4, 0x1E8ED));
  } else {
    CS_ACCESS(tr_set(p, 0x0190, 0x0F47));
  }
  if (family == 4) CS_ACCESS(tr_set(p, 0x0400, 0x1DEC00));
  if (!variant(t)) {
    if (family == 1) {
      SWC_TRY(family1_restore(t));
    } else {
      CS_ACCESS(tr_modify(p, 0x0F86, 0, bits(20, 21)));
    }
  }
  if (family == 8) {
    const uint32_t s26 =
        low(t.status[0]) << 12 | low(t.status[1]) << 8 | low(t.status[2]) << 4 | low(t.status[3]);
    SWC_TRY(paged_write(p, 1, 26, s26));
    SWC_TRY(
        paged_write(p, 1, 25, (t.location[2] & 0x3Fu) << 8 | (t.location[3] & 0x3Fu) | (t.flags & 1u) << 15));
    SWC_TRY(paged_write(
        p, 1, 24, (t.location[0] & 0x3Fu) << 8 | (t.location[1] & 0x3Fu) | (t.flags & 0xC0u) | 0x8000u));
  }
  if (family == 5 || family == 7 || family == 8 || family == 9) {
    SWC_TRY(paged_writemasked(p, kPageTest, 12, 1, 1));
  }
  if (!variant(t)) {
    t.flags |= SWC_CABLESCAN_FLAG_VALID;
  } else {
    swc_clock_get().sleep_ms(3000);
    uint16_t v = 0;
    if (family == 1) {
      SWC_TRY(std_read(p, 17, &v));
      v = static_cast<uint16_t>(~v << 1);  // bit 13 inverted, into bit 14
    } else {
      SWC_TRY(paged_read(p, 1, family == 5 || family == 7 || family == 9 ? 24 : 25, &v));
    }
    t.flags = static_cast<uint8_t>((t.flags & ~SWC_CABLESCAN_FLAG_VALID) |
                                   ((v & 0x4000) ? SWC_CABLESCAN_FLAG_VALID : 0));
  }
  if (family == 8) SWC_TRY(std_writemasked(p, 23, t.saved_mode, 0xC0));
  if (family == 7 || family == 9) SWC_TRY(std_writemasked(p, 28, t.saved_mode, 0x40));
  SWC_TRY(paged_writemasked(p, kPageTest, 8, 0, 0x200));
  SWC_TRY(select_page(p, 0));
  uint16_t r23 = 0;
  SWC_TRY(std_read(p, 23, &r23));
  SWC_TRY(std_writemasked(p, 23, r23, 0xC0));
  t.held = 0;
  t.state = 0;
  return SWC_RC_OK;
}

swc_rc dispatch(swc_cablescan_task_t &t, uint32_t family) {
  switch (t.state) {
    case 0:
      return state_0(t, family);
    case 1:
      return state_1(t, family);
    case 2:
      return state_2(t, family);
    case 3:
      return state_3(t, family);
    case 4:
      return state_4(t, family);
    case 5:
      return state_5(t, family);
    case 6:
      return state_6(t, family);
    case 7:
      return state_7(t, family);
    case 8:
      return state_8(t, family);
    case 9:
      return state_9(t, family);
    case 10:
      return state_10(t, family);
    case 11:
      return state_11(t, family);
    case 12:
      return state_12(t, family);
    case 13:
      return state_13(t, family);
    default:
      clean_up(t);
      return SWC_RC_RUNNING;
  }
}

// Coefficient read, family 1: the echo canceller is stepped through its taps by commands, and each
// coefficient is taken out of the packed read-back registers.
int32_t family1_value(uint32_t port_no, uint32_t pair, uint32_t window, uint32_t k, swc_rc &rc) {
  const bool wide = window >= 0x80 && window <= 0xBF;
  const uint32_t base = wide ? 0xE000 : 0xE080;
  const uint32_t tap_command = wide ? ((window + k) & 0xF) + 0x20 : (window & 0x1F) + k + 0x20;
  rc = swc_phy_cablescan_ec_command(port_no, base + (tap_command << 1));
  if (fatal(rc)) return 0;
  unsigned offset, width;
  if (wide) {
    const uint32_t tap = (window & 0x3F) + k;
    static constexpr unsigned kStart[4] = {0, 20, 38, 53};
    static constexpr unsigned kWidth[4] = {20, 18, 15, 15};
    const unsigned range = std::min(tap / 16, 3u);
    offset = 68 * pair + kStart[range];
    width = kWidth[range];
  } else {
    const uint32_t q = std::min(window >> 5, 3u);
    offset = 15 * (q < 3 ? 3 * pair + q : 12 + pair);
    width = 15;
  }
  // Only the registers the field lies in are read.
  uint16_t regs[17] = {};
  const unsigned first = offset >> 4;
  const unsigned last = std::min((offset + width - 1) >> 4, 16u);
  for (unsigned i = first; i <= last && i < 17; ++i) {
    rc = swc_phy_read(port_no, 20 - i, &regs[i]);
    if (rc < 0) return 0;
  }
  rc = SWC_RC_OK;
  const int32_t value = swc_cablescan_packed_field(regs, 17, offset, width, wide);
  if (wide || value < 0) return value;
  return value >= 0x4000 ? static_cast<int16_t>(value + 0x8000) : value;
}

unsigned log2_of(unsigned v) {
  unsigned r = 0;
  while (v > 1) v >>= 1, ++r;
  return r;
}

}  // namespace

bool swc_cablescan_family_supported(uint32_t family) {
  return family == 1 || family == 4 || family == 5 || family == 7 || family == 8 || family == 9;
}

swc_rc swc_phy_cablescan_task_start(uint32_t port_no, uint32_t mode) {
  SWC_CS_TRACE(TRACE_DEBUG, "port_no: %d, mode: %d", static_cast<int>(port_no), static_cast<int>(mode));
  swc_phy_port_t *phy = swc_phy_port(port_no);
  if (!phy || !swc_cablescan_family_supported(phy->family)) return SWC_RC_OK;
  swc_cablescan_task_t &t = phy->cablescan;
  t.state = 1;
  t.port = static_cast<uint8_t>(port_no);
  t.flags = static_cast<uint8_t>((mode & 3) << 6);
  t.now = time_of(swc_clock_get().now_us());
  set_deadline(t, 1);
  return SWC_RC_OK;
}

swc_rc swc_phy_cablescan_task_run(swc_cablescan_task_t *task) {
  swc_cablescan_task_t &t = *task;
  t.now = time_of(swc_clock_get().now_us());
  if (t.state != 0 && us_of(t.now) < us_of(t.deadline)) return SWC_RC_RUNNING;
  const uint32_t family = family_of(t.port);
  SWC_CS_TRACE(TRACE_NOISE, "port_no: %d, state: 0x%02x", static_cast<int>(t.port), t.state);
  g_page = 0;  // every step starts and ends on the standard page
  swc_rc rc;
  if (t.state & SWC_CABLESCAN_CLEANUP) {
    if ((t.state & 0x7F) == 0) {
      t.state = 0;  // nothing was started: nothing to restore
      rc = SWC_RC_OK;
    } else {
      rc = cleanup(t, family);
    }
  } else {
    rc = dispatch(t, family);
  }
  if (rc < 0 && rc != SWC_RC_RUNNING) {
    // The PHY does not answer: the test is given up rather than retried for ever.
    SWC_CS_TRACE(TRACE_ERROR, "port_no: %d, state: 0x%02x, PHY access failed", static_cast<int>(t.port),
                 t.state);
    t.state = 0;
    t.held = 0;
    t.flags &= static_cast<uint8_t>(~SWC_CABLESCAN_FLAG_VALID);
    g_page = 0;
    return rc;
  }
  if (g_page != 0) {
    const swc_rc page_rc = swc_phy_write(t.port, 31, 0);
    g_page = 0;
    if (page_rc < 0) return page_rc;
  }
  return t.state == 0 ? SWC_RC_OK : SWC_RC_RUNNING;
}

swc_rc swc_phy_cablescan_tr_read(uint32_t port_no, uint32_t address, uint32_t *value) {
  const uint32_t command = tr_command_reg(port_no);
  SWC_TRY(select_page(port_no, kPageTr));
  SWC_TRY(swc_phy_write(port_no, command, 0xA000 | (address & 0x1FFF)));
  SWC_TRY(wait_done(port_no, command));
  uint16_t low_word = 0, high_word = 0;
  SWC_TRY(swc_phy_read(port_no, command + 1, &low_word));
  SWC_TRY(swc_phy_read(port_no, command + 2, &high_word));
  *value = uint32_t{high_word} << 16 | low_word;
  return SWC_RC_OK;
}

swc_rc swc_phy_cablescan_tr_write(uint32_t port_no, uint32_t address, uint32_t value) {
  const uint32_t command = tr_command_reg(port_no);
  SWC_TRY(select_page(port_no, kPageTr));
  SWC_TRY(swc_phy_write(port_no, command + 2, value >> 16));
  SWC_TRY(swc_phy_write(port_no, command + 1, value & 0xFFFF));
  return swc_phy_write(port_no, command, 0x8000 | (address & 0x1FFF));
}

swc_rc swc_phy_cablescan_ec_command(uint32_t port_no, uint32_t value) {
  SWC_TRY(select_page(port_no, kPageTr));
  SWC_TRY(swc_phy_write(port_no, 0, value));
  return wait_done(port_no, 0);
}

swc_rc swc_phy_cablescan_coeff_read(uint32_t port_no, uint32_t pair, uint32_t window, uint32_t descriptor) {
  const uint32_t family = family_of(port_no);
  const unsigned taps = std::min(descriptor & 0xF, SWC_CABLESCAN_COEFFICIENTS - 1);
  const unsigned passes = ((descriptor >> 4) & 7) + 1;
  const bool peak_only = descriptor & 0x80;
  int32_t sums[SWC_CABLESCAN_COEFFICIENTS - 1] = {};
  int32_t peak = 0;
  unsigned s = 0, p = 0;
  const bool wide_window = window >= 0x80 && window <= 0xBF;
  if (family == 1 && wide_window) {
    const uint32_t w = window & 0x3F;
    if (w < 16) s = passes >= 5 ? 3 : passes >= 3 ? 2 : passes == 2 ? 1 : 0;
    if (w >= 16 && w < 32 && passes >= 5) s = 1;
  }
  if (family != 1 && passes > 7 && window < 16) p = 1;
  for (unsigned pass = 0; pass < passes; ++pass) {
    for (unsigned k = 0; k < taps; ++k) {
      int32_t value;
      if (family == 1) {
        swc_rc rc = SWC_RC_OK;
        value = family1_value(port_no, pair & 3, window, k, rc);
        if (fatal(rc)) return rc;
        peak = std::max(peak, std::abs(value >> 4));
        if (!peak_only) sums[k] += (value + (1 << (s + 3))) >> (s + 4);
      } else {
        uint32_t raw = 0;
        SWC_TRY(tr_get(port_no, ((window + k) * 2 + ((pair & 3) << 11)) & 0x1FFF, raw));
        value = static_cast<int32_t>(raw & 0x3FFF);
        if (value & 0x2000) value -= 0x4000;
        peak = std::max(peak, std::abs(value));
        if (!peak_only) sums[k] += value >> p;
      }
    }
  }
  g_coefficients[0] = static_cast<int16_t>(std::min(peak, 0x7FFF));
  if (peak_only) return SWC_RC_OK;
  for (unsigned k = 0; k < taps; ++k) {
    int32_t result;
    if (passes == 3) {
      const int32_t base = family == 1 ? sums[k] * (1 << s) : sums[k];
      int32_t x = base;
      for (int i = 0; i < (family == 1 ? 4 : 3); ++i) x = base + (x >> 2);
      result = (x + 2) >> 2;
    } else if (family == 1) {
      const int shift = static_cast<int>(log2_of(passes)) - static_cast<int>(s);
      result = shift > 0 ? (sums[k] + (1 << (shift - 1))) >> shift : sums[k] * (1 << -shift);
    } else {
      result = sums[k] >> log2_of(passes >> p);
    }
    g_coefficients[k + 1] = static_cast<int16_t>(std::clamp(result, -32768, 32767));
  }
  return SWC_RC_OK;
}

void swc_phy_cablescan_threshold_set(swc_cablescan_task_t *task, uint32_t tap) {
  swc_cablescan_task_t &t = *task;
  uint32_t v = static_cast<uint32_t>(t.echo_offset - 8 * static_cast<int32_t>(tap) + 542) & 0xFFFF;
  if (t.sub_range != 0) v = (v - 500) & 0xFFFF;
  const int e = static_cast<int8_t>(v >> 8);
  const uint32_t m = (v & 0xFF) + 256;
  uint32_t t1;
  if (e >= 0) {
    // Beyond 16 bits the later caps bound the thresholds anyway.
    t1 = e >= 8 ? 0xFFFF : std::min<uint32_t>(m << e, 0xFFFF);
  } else {
    t1 = std::max<uint32_t>(23, -e >= 31 ? 0 : m >> -e);
  }
  uint32_t t2;
  if (variant(t)) {
    t2 = (t1 & ~1u) >> 1;
  } else {
    t2 = 0;
    for (int i = 0; i < 5; ++i) t2 = (t2 + t1 + 2) >> 2;
  }
  t2 = std::max<uint32_t>(t2, 15);
  if (t2 > 1012 && (t.sub_range > 0 || tap > 31)) {
    t2 = 1012;
  } else if (t2 > 4084 && tap >= 16) {
    t2 = 4084;
  } else if (t2 > 8180) {
    t2 = 8180;
  }
  t.threshold1 = static_cast<uint16_t>(t1);
  t.threshold2 = static_cast<uint16_t>(t2);
}

swc_rc swc_phy_cablescan_echo_search(swc_cablescan_task_t *task, uint32_t first_tap, uint32_t minimum_tap) {
  swc_cablescan_task_t &t = *task;
  const unsigned pair = static_cast<unsigned>(t.pair) & 3;
  const unsigned taps = std::min<unsigned>(t.tap_count, SWC_CABLESCAN_COEFFICIENTS - 1);
  // Family 1 reads through the view its window start selects; the others read from the first tap.
  const uint32_t window = family_of(t.port) == 1 ? t.window_start : first_tap;
  SWC_TRY(swc_phy_cablescan_coeff_read(t.port, pair, window, taps | 0x30));
  const int th1 = t.threshold1;
  const int th2 = t.threshold2;
  for (int index = static_cast<int>(taps) - 1; index >= 0; --index) {
    const int c = g_coefficients[index + 1];
    const int tap = static_cast<int>(first_tap) + index;
    uint8_t &status = t.status[pair];
    const int recorded = t.amplitude[pair];
    if (std::abs(c) > th2) {
      const int a = c * 32 / th2;
      if (std::abs(a) > std::abs(recorded) && tap >= static_cast<int>(minimum_tap)) {
        uint8_t code = 4;
        if (c < -th1) {
          code = 1;
          if (t.location[pair] <= tap + 3 && recorded > 0) t.mask = 2;
        } else if (c > th1) {
          code = 2;
          if (t.location[pair] <= tap + 3 && recorded < 0) t.mask = 2;
        }
        status = static_cast<uint8_t>((status & 0xF0) | code);
        t.location[pair] = static_cast<uint8_t>(std::min(tap, 0xFE));
        t.amplitude[pair] = static_cast<int16_t>(std::clamp(a, -32768, 32767));
      }
    } else if (t.mask < 0 && low(status) < 4 && t.location[pair] <= tap + 3) {
      // The opposite lobe of a recorded reflection just before it decides its sign; a pair with
      // nothing recorded has no lobe to look for.
      uint8_t code = 0;
      if (c > 0 && recorded < 0) code = 2;
      if (c < 0 && recorded > 0) code = 1;
      if (code != 0) {
        status = static_cast<uint8_t>((status & 0xF0) | code);
        t.mask = 2;
        if (tap < static_cast<int>(minimum_tap)) t.location[pair] = static_cast<uint8_t>(tap);
      }
    }
    t.mask = static_cast<int8_t>(t.mask - 1);
  }
  return SWC_RC_OK;
}

swc_rc swc_phy_cablescan_noise_check(swc_cablescan_task_t *task, uint32_t limit) {
  swc_cablescan_task_t &t = *task;
  if (variant(t)) return 1;
  const uint32_t p = t.port;
  const uint32_t family = family_of(p);
  const unsigned pair = static_cast<unsigned>(t.pair) & 3;
  if (family == 1) {
    CS_ACCESS(tr_set(p, 0x00B6, 0x2FF));
    CS_ACCESS(tr_set(p, 0x00B6, 0x2FE));
  } else if (family == 4 || family == 5) {
    CS_ACCESS(tr_set(p, 0x0188, ((t.saved_tr_value >> 9) & 0x7FFF) + 0x141));
    CS_ACCESS(tr_set(p, 0x0184, 2u << pair));
    CS_ACCESS(tr_set(p, 0x0184, 0));
  }
  swc_clock &clock = swc_clock_get();
  clock.sleep_ms(1);
  if (family != 1) CS_ACCESS(tr_set(p, 0x0188, t.saved_tr_value));
  const bool has_status = low(t.status[pair]) != 0;
  const int32_t quiet = has_status ? 0 : 3;
  const uint64_t start = clock.now_us();
  int32_t peak = 0;
  for (;;) {
    SWC_TRY(swc_phy_cablescan_coeff_read(p, pair, first_window(family), 0xF8));
    peak = g_coefficients[0];
    if (peak > quiet || clock.now_us() - start >= 200'000) break;
    clock.sleep_ms(1);
  }
  if (family == 1) {
    CS_ACCESS(tr_set(p, 0x00B6, t.saved_tr_value + 1));
    CS_ACCESS(tr_set(p, 0x00B6, t.saved_tr_value));
  } else {
    CS_ACCESS(tr_set(p, 0x0184, 2u << pair));
    CS_ACCESS(tr_set(p, 0x0184, 0));
  }
  if (peak <= quiet) {
    if (has_status) clear_pair(t, pair);
    return 0;
  }
  if (peak <= static_cast<int32_t>(limit)) {
    if (!has_status && std::abs(t.amplitude[pair]) <= peak + 2) {
      t.amplitude[pair] = 0;
      t.location[pair] = 0;
      t.threshold1 = static_cast<uint16_t>(peak + 2);
    }
    return 1;
  }
  if (has_status) {
    clear_pair(t, pair);
  } else {
    t.location[pair] = SWC_CABLESCAN_NO_REFLECTION;
    t.amplitude[pair] = static_cast<int16_t>(peak);
  }
  return 0;
}

swc_rc swc_phy_cablescan_tr_setup(swc_cablescan_task_t *task, uint32_t mode) {
  static constexpr int32_t kTestTable[2][4] = {{1, 3, -3, -1}, {10, 30, -30, -10}};
  const uint32_t p = task->port;
  const bool family1 = family_of(p) == 1;
  const uint32_t fill = family1 ? 0x1FF : 0x100;
  const unsigned n = family1 ? 28 : 16;
  CS_ACCESS(tr_set(p, 0x0240, fill));
  for (unsigned i = 0; i < n; ++i) {
    if (i >= 4 && i < 8) continue;
    CS_ACCESS(tr_set(p, 0x0200 + 2 * i, 0));
  }
  for (unsigned i = 0; i < 4; ++i) {
    const uint32_t entry = static_cast<uint32_t>(kTestTable[mode & 1][i]);
    const uint32_t value =
        family1 ? (entry & 0xFFFF) << 16 : ((entry << 9) & 0xFFFF) | ((entry >> 7) & 0xFFFF) << 16;
    CS_ACCESS(tr_set(p, 0x0208 + 2 * i, value));
  }
  return tr_set(p, 0x0240, fill);
}

uint8_t swc_cablescan_length(uint32_t family, bool variant_set, uint8_t location) {
  if (location == SWC_CABLESCAN_NO_REFLECTION) return location;
  if (location < 8) return 0;
  const int subtract = family == 1 ? (variant_set ? 13 : 7) : (variant_set ? 7 : 6);
  // Locations 8..12 of the family-1 variant would give a negative distance: the reflection is at the
  // port.
  const int v = std::max(0, location - subtract);
  return static_cast<uint8_t>(v - ((((v + (v >> 4)) >> 2) + 1) >> 1));
}

int32_t swc_cablescan_packed_field(const uint16_t *registers, unsigned register_count, unsigned offset,
                                   unsigned width, bool is_signed) {
  if (width == 0 || width > 31) return -1;
  const unsigned first = offset >> 4;
  const unsigned last = (offset + width - 1) >> 4;
  if (last - first > 1 || last >= register_count) return -1;
  // The two registers as one 32-bit string, register 20 - first in the upper half.
  const uint32_t string = uint32_t{registers[first]} << 16 | (last > first ? registers[last] : 0u);
  const unsigned shift = 32 - (offset & 15) - width;
  uint32_t value = (string >> shift) & ((1u << width) - 1);
  if (is_signed && (value >> (width - 1) & 1)) return static_cast<int32_t>(value) - (1 << width);
  return static_cast<int32_t>(value);
}
