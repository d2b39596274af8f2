#include "swc_cablescan.h"

#include <algorithm>
#include <cstdlib>

#include "swc_cablescan_internal.h"
#include "swc_clock.h"
#include "swc_phy.h"
#include "swc_trace.h"

using namespace swc_cablescan;

namespace {

// ---- the family-1 reprogramming for the variant without link ----

// saved_registers: standard register 0 in bits 0-15, register 9 bits 11-12 in bits 16-17, register 28
// bit 2 in bit 18, test register 5 bits 3-4 in bits 19-20. saved_tr_fields: TR 0x1680 bits 10-21 in
// bits 0-11, TR 0x0F86 bits 11-21 in bits 12-22, TR 0x0F82 bits 3-4 in bits 23-24, TR 0x0FA0 bits
// 8-12 in bits 25-29.
swc_rc pulse_power_down(uint32_t port_no) {
  SWC_TRY(std_writemasked(port_no, 0, 0x0800, 0x0800));
  return std_writemasked(port_no, 0, 0, 0x0800);
}

swc_rc family1_reprogram(SwcCablescanTask &task) {
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
  return kSwcRcOk;
}

swc_rc family1_restore(SwcCablescanTask &task) {
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

uint8_t sub_range_start(const SwcCablescanTask &t) {
  return (t.flags & 0x80) ? 0 : 3;
}

void clean_up(SwcCablescanTask &t) {
  t.state |= kSwcCablescanCleanup;
}

// Family 8: a test the PHY itself was asked for, on one of the eight ports of its package.
swc_rc state_0(SwcCablescanTask &t, uint32_t family) {
  if (family != 8) return kSwcRcOk;
  for (unsigned tries = 0; tries < 8; ++tries) {
    t.port = static_cast<uint8_t>((t.port + 1) & 7);
    // Ports of the package the board has no PHY record for are skipped.
    const SwcPhyPort *phy = swc_phy_port(t.port);
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
    return kSwcRcRunning;
  }
  return kSwcRcOk;
}

swc_rc state_1(SwcCablescanTask &t, uint32_t family) {
  const uint32_t p = t.port;
  t.tap_count = family == 1 ? 12 : 8;
  for (unsigned pair = 0; pair < kPairs; ++pair) clear_pair(t, pair);
  SWC_TRY(paged_writemasked(p, kPageTest, 8, 0x200, 0x200));
  if (family == 4) CS_ACCESS(tr_set(p, 0x0400, 0x1DE800));
  if (family == 1) {
    uint16_t r17 = 0;
    SWC_TRY(std_read(p, 17, &r17));
    t.flags = static_cast<uint8_t>((t.flags & ~kSwcCablescanFlagVariant) | (r17 >> 12 & 1));
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
  return kSwcRcRunning;
}

swc_rc state_2(SwcCablescanTask &t, uint32_t family) {
  const uint32_t p = t.port;
  if (family != 1) {
    uint16_t r17 = 0, e24 = 0;
    SWC_TRY(std_read(p, 17, &r17));
    t.flags = static_cast<uint8_t>((t.flags & ~kSwcCablescanFlagVariant) | (r17 >> 12 & 1));
    SWC_TRY(paged_read(p, 1, 24, &e24));
    if (!(e24 & 0x8000)) {
      SWC_CS_TRACE(trace::kDebug, "port_no: %d, test not running in the PHY", static_cast<int>(p));
      clean_up(t);
      return kSwcRcRunning;
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
    return kSwcRcRunning;
  }
  t.threshold1 = 400;
  set_deadline(t, 10);
  t.state = 3;
  return kSwcRcRunning;
}

swc_rc state_3(SwcCablescanTask &t, uint32_t family) {
  const uint32_t p = t.port;
  uint16_t r28 = 0;
  SWC_TRY(std_read(p, 28, &r28));
  if ((r28 >> 3 & 3) == 2) {
    SWC_TRY(swc_phy_cablescan_tr_setup(&t, 0));
    CS_ACCESS(family == 1 ? tr_set(p, 0x00B4, 0x400D) : tr_set(p, 0x0190, 0x380));
    CS_ACCESS(tr_modify(p, 0x0F86, bits(20, 21), bits(20, 21)));
    t.echo_offset = 0;
    t.state = 4;
    return kSwcRcRunning;
  }
  if (--t.threshold1 == 0) {
    SWC_CS_TRACE(trace::kDebug, "port_no: %d, PHY not ready for the test", static_cast<int>(p));
    clean_up(t);
  } else {
    set_deadline(t, 5);
  }
  return kSwcRcRunning;
}

// States 4, 5 and 6 run as one step: a new sub-range, its disturbance counts, its programming.
swc_rc state_6(SwcCablescanTask &t, uint32_t family) {
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
  return kSwcRcRunning;
}

swc_rc state_5(SwcCablescanTask &t, uint32_t family) {
  t.threshold1 = 0;
  t.threshold2 = 0;
  return state_6(t, family);
}

swc_rc state_4(SwcCablescanTask &t, uint32_t family) {
  t.sub_range = static_cast<int8_t>(sub_range_start(t));
  t.accumulator = 0;
  return state_5(t, family);
}

bool disturbed(uint32_t value) {
  return (value >> 16 & 0xFF) == 0xF0 && (value & 0x80);
}

swc_rc state_7(SwcCablescanTask &t, uint32_t family) {
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
    return kSwcRcRunning;
  }
  SWC_CS_TRACE(trace::kDebug, "port_no: %d, disturbance count %d", static_cast<int>(p), count);
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
  return kSwcRcRunning;
}

// An echo search at `first_tap`, its finding checked against the noise floor.
swc_rc search_window(SwcCablescanTask &t, uint32_t first_tap, uint32_t minimum_tap) {
  swc_phy_cablescan_threshold_set(&t, first_tap + t.tap_count / 2);
  SWC_TRY(swc_phy_cablescan_echo_search(&t, first_tap, minimum_tap));
  const uint8_t s = low(t.status[t.pair]);
  if (s >= 1 && s <= 15) SWC_TRY(swc_phy_cablescan_noise_check(&t, 70));
  return kSwcRcOk;
}

void next_pair_or_range(SwcCablescanTask &t) {
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

swc_rc state_8(SwcCablescanTask &t, uint32_t family) {
  const uint32_t p = t.port;
  const unsigned pair = static_cast<unsigned>(t.pair) & 3;
  uint8_t &status = t.status[pair];
  status = static_cast<uint8_t>(low(status) << 4 | low(status));
  if (t.sub_range == 0 && (status & 0x80)) {
    next_pair_or_range(t);
    return kSwcRcRunning;
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
  return kSwcRcRunning;
}

uint8_t window_of(const SwcCablescanTask &t, uint32_t family) {
  const uint8_t start = t.window_start;
  if (family == 1) return (start & 0x80) ? start - 0x80 : start & 0x1F;
  return start > 0x4F ? start & 0xF : start;
}

swc_rc state_9(SwcCablescanTask &t, uint32_t family) {
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
  return kSwcRcRunning;
}

// State 10: the level of each pair without a finding, from the noise floor. A quiet read waits 2 s as
// a deadline, not a sleep, so the daemon goes on meanwhile; the window start counts the reads.
swc_rc state_10_levels(SwcCablescanTask &t, uint32_t family) {
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
    const uint16_t peak = static_cast<uint16_t>(coefficients()[0]);
    if (peak > quiet) {
      t.level[pair] = peak;
    } else if (++t.window_start < 100) {
      set_deadline(t, 2000);
      return kSwcRcRunning;
    }
    ++t.pair;
    t.window_start = 0;
  }
  return kSwcRcOk;
}

swc_rc state_10(SwcCablescanTask &t, uint32_t family) {
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
      return kSwcRcRunning;
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
  if (rc != kSwcRcOk) return rc;
  int lowest = -1, highest = -1;
  for (unsigned pair = 0; pair < kPairs; ++pair) {
    if (t.status[pair] != 0) continue;
    uint16_t &level = t.level[pair];
    level = level < 14 ? 20 : static_cast<uint16_t>(level + 6);
    if (level >= 181) {
      t.location[pair] = kSwcCablescanNoReflection;
      continue;
    }
    if (lowest < 0 || level < t.level[lowest]) lowest = static_cast<int>(pair);
    if (highest < 0 || level > t.level[highest]) highest = static_cast<int>(pair);
  }
  t.flags = static_cast<uint8_t>(t.flags & ~0x38);
  if (highest >= 0 && highest != lowest && 2u * t.level[highest] >= 3u * t.level[lowest]) {
    t.flags = static_cast<uint8_t>(t.flags | kSwcCablescanFlagReference | highest << 4);
  }
  t.saved_tr_value = family == 1 ? 0x2A2 : 0x141;
  t.mask = 0;
  t.window_start = first_window(family);
  t.flags = static_cast<uint8_t>(t.flags & ~kSwcCablescanFlagWorking);
  t.pair = 0;
  t.state = 11;
  return kSwcRcRunning;
}

bool same_sign(int a, int b) {
  return (a < 0) == (b < 0);
}

// One window of state 11 for one pair: the strongest coefficient above the pair's level is its
// reflection.
swc_rc walk_pair(SwcCablescanTask &t, unsigned pair, uint8_t w) {
  const uint32_t p = t.port;
  SWC_TRY(swc_phy_cablescan_coeff_read(p, pair, t.window_start, static_cast<uint32_t>(t.tap_count) | 0x30));
  const int16_t *read = swc_cablescan::coefficients();
  const int16_t coefficients[12] = {read[1], read[2], read[3], read[4],  read[5],  read[6],
                                    read[7], read[8], read[9], read[10], read[11], read[12]};
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
  return kSwcRcOk;
}

swc_rc state_11(SwcCablescanTask &t, uint32_t family) {
  const uint32_t p = t.port;
  SWC_CS_TRACE(trace::kNoise, "port_no: %d, window start 0x%02x", static_cast<int>(p), t.window_start);
  if ((t.flags & kSwcCablescanFlagWorking) || (t.window_start & 0x7F) < t.tap_count) {
    t.state = 12;
    return kSwcRcRunning;
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
  if (all_located) t.flags |= kSwcCablescanFlagWorking;
  for (unsigned pair = 0; pair < kPairs; ++pair) {
    if (t.status[pair] != 0 || t.location[pair] >= w + 12) continue;
    SWC_TRY(walk_pair(t, pair, w));
  }
  if (t.flags & kSwcCablescanFlagWorking) {
    if (family == 1) {
      CS_ACCESS(tr_set(p, 0x00B6, 1));
      CS_ACCESS(tr_set(p, 0x00B6, 0));
    }
    CS_ACCESS(tr_set(p, 0x0188, 0));
    CS_ACCESS(tr_set(p, 0x0184, 1));
    CS_ACCESS(tr_set(p, 0x0184, 0));
    t.state = 12;
  }
  return kSwcRcRunning;
}

// A quiet pair's location moves back by the canceller's lead (3 taps on family 1, else 1). Location 0
// means the search found nothing: it becomes "no reflection" on every family, never a wrapped tap
// that would read as a long cable; a location within the lead stays at the port.
uint8_t moved_back(uint8_t location, uint32_t family) {
  if (location == 0) return kSwcCablescanNoReflection;
  const uint8_t lead = family == 1 ? 3 : 1;
  return location > lead ? static_cast<uint8_t>(location - lead) : 0;
}

swc_rc state_12(SwcCablescanTask &t, uint32_t family) {
  SWC_CS_TRACE(
      trace::kDebug, "port_no: %d, locations %d %d %d %d, amplitudes %d %d %d %d, levels %d %d %d %d",
      static_cast<int>(t.port), t.location[0], t.location[1], t.location[2], t.location[3], t.amplitude[0],
      t.amplitude[1], t.amplitude[2], t.amplitude[3], t.level[0], t.level[1], t.level[2], t.level[3]);
  bool examined[kPairs] = {};
  for (unsigned pair = 0; pair < kPairs; ++pair) {
    if (t.status[pair] != 0 || t.location[pair] == kSwcCablescanNoReflection) continue;
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
      t.location[pair] = moved_back(t.location[pair], family);
    }
  }
  const bool reference = t.flags & kSwcCablescanFlagReference;
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
      t.flags &= static_cast<uint8_t>(~kSwcCablescanFlagReference);
    } else if (r == t.location[highest] + 1) {
      highest = static_cast<int>(ref);
      t.flags &= static_cast<uint8_t>(~kSwcCablescanFlagReference);
    } else if (r > t.location[lowest] && r < t.location[highest]) {
      t.flags &= static_cast<uint8_t>(~kSwcCablescanFlagReference);
    }
  }
  uint8_t shared = kSwcCablescanNoReflection;
  if (lowest < 0) {
    if (t.flags & kSwcCablescanFlagReference) shared = t.location[ref];
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
  return kSwcRcRunning;
}

template <typename T>
void swap_pairs(T (&values)[kPairs], unsigned a, unsigned b) {
  std::swap(values[a], values[b]);
}

void swap_results(SwcCablescanTask &t, unsigned a, unsigned b) {
  swap_pairs(t.status, a, b);
  swap_pairs(t.location, a, b);
  swap_pairs(t.amplitude, a, b);
}

swc_rc state_13(SwcCablescanTask &t, uint32_t family) {
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
  SWC_CS_TRACE(trace::kDebug, "port_no: %d, status %d %d %d %d, length %d %d %d %d", static_cast<int>(t.port),
               t.status[0], t.status[1], t.status[2], t.status[3], t.location[0], t.location[1],
               t.location[2], t.location[3]);
  t.state = 0x8E;
  return kSwcRcRunning;
}

// Restores the PHY and ends the test: results written into the PHY (family 8), validity decided.
swc_rc cleanup(SwcCablescanTask &t, uint32_t family) {
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
    t.flags |= kSwcCablescanFlagValid;
  } else {
    swc_clock_get().sleep_ms(3000);
    uint16_t v = 0;
    if (family == 1) {
      SWC_TRY(std_read(p, 17, &v));
      v = static_cast<uint16_t>(~v << 1);  // bit 13 inverted, into bit 14
    } else {
      SWC_TRY(paged_read(p, 1, family == 5 || family == 7 || family == 9 ? 24 : 25, &v));
    }
    t.flags = static_cast<uint8_t>((t.flags & ~kSwcCablescanFlagValid) |
                                   ((v & 0x4000) ? kSwcCablescanFlagValid : 0));
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
  return kSwcRcOk;
}

swc_rc dispatch(SwcCablescanTask &t, uint32_t family) {
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
      return kSwcRcRunning;
  }
}

}  // namespace

bool swc_cablescan_family_supported(uint32_t family) {
  return family == 1 || family == 4 || family == 5 || family == 7 || family == 8 || family == 9;
}

swc_rc swc_phy_cablescan_task_start(uint32_t port_no, uint32_t mode) {
  SWC_CS_TRACE(trace::kDebug, "port_no: %d, mode: %d", static_cast<int>(port_no), static_cast<int>(mode));
  SwcPhyPort *phy = swc_phy_port(port_no);
  if (!phy || !swc_cablescan_family_supported(phy->family)) return kSwcRcOk;
  SwcCablescanTask &t = phy->cablescan;
  t.state = 1;
  t.port = static_cast<uint8_t>(port_no);
  t.flags = static_cast<uint8_t>((mode & 3) << 6);
  t.now = time_of(swc_clock_get().now_us());
  set_deadline(t, 1);
  return kSwcRcOk;
}

swc_rc swc_phy_cablescan_task_run(SwcCablescanTask *task) {
  SwcCablescanTask &t = *task;
  t.now = time_of(swc_clock_get().now_us());
  if (t.state != 0 && us_of(t.now) < us_of(t.deadline)) return kSwcRcRunning;
  const uint32_t family = family_of(t.port);
  SWC_CS_TRACE(trace::kNoise, "port_no: %d, state: 0x%02x", static_cast<int>(t.port), t.state);
  page_known_standard();  // every step starts and ends on the standard page
  swc_rc rc;
  if (t.state & kSwcCablescanCleanup) {
    if ((t.state & 0x7F) == 0) {
      t.state = 0;  // nothing was started: nothing to restore
      rc = kSwcRcOk;
    } else {
      rc = cleanup(t, family);
    }
  } else {
    rc = dispatch(t, family);
  }
  if (rc < 0 && rc != kSwcRcRunning) {
    // The PHY does not answer: the test is given up rather than retried for ever.
    SWC_CS_TRACE(trace::kError, "port_no: %d, state: 0x%02x, PHY access failed", static_cast<int>(t.port),
                 t.state);
    t.state = 0;
    t.held = 0;
    t.flags &= static_cast<uint8_t>(~kSwcCablescanFlagValid);
    page_known_standard();
    return rc;
  }
  SWC_TRY(page_restore_standard(t.port));
  return t.state == 0 ? kSwcRcOk : kSwcRcRunning;
}
