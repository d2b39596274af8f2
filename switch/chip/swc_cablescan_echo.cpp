#include <algorithm>
#include <cstdlib>

#include "swc_cablescan_internal.h"
#include "swc_clock.h"

using namespace swc_cablescan;

void swc_phy_cablescan_threshold_set(SwcCablescanTask *task, uint32_t tap) {
  SwcCablescanTask &t = *task;
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

swc_rc swc_phy_cablescan_echo_search(SwcCablescanTask *task, uint32_t first_tap, uint32_t minimum_tap) {
  SwcCablescanTask &t = *task;
  const unsigned pair = static_cast<unsigned>(t.pair) & 3;
  const unsigned taps = std::min<unsigned>(t.tap_count, kSwcCablescanCoefficients - 1);
  // Family 1 reads through the view its window start selects; the others read from the first tap.
  const uint32_t window = family_of(t.port) == 1 ? t.window_start : first_tap;
  SWC_TRY(swc_phy_cablescan_coeff_read(t.port, pair, window, taps | 0x30));
  const int th1 = t.threshold1;
  const int th2 = t.threshold2;
  for (int index = static_cast<int>(taps) - 1; index >= 0; --index) {
    const int c = coefficients()[index + 1];
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
  return kSwcRcOk;
}

swc_rc swc_phy_cablescan_noise_check(SwcCablescanTask *task, uint32_t limit) {
  SwcCablescanTask &t = *task;
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
  SwcClock &clock = swc_clock_get();
  clock.sleep_ms(1);
  if (family != 1) CS_ACCESS(tr_set(p, 0x0188, t.saved_tr_value));
  const bool has_status = low(t.status[pair]) != 0;
  const int32_t quiet = has_status ? 0 : 3;
  const uint64_t start = clock.now_us();
  int32_t peak = 0;
  for (;;) {
    SWC_TRY(swc_phy_cablescan_coeff_read(p, pair, first_window(family), 0xF8));
    peak = coefficients()[0];
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
    t.location[pair] = kSwcCablescanNoReflection;
    t.amplitude[pair] = static_cast<int16_t>(peak);
  }
  return 0;
}

swc_rc swc_phy_cablescan_tr_setup(SwcCablescanTask *task, uint32_t mode) {
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
  if (location == kSwcCablescanNoReflection) return location;
  if (location < 8) return 0;
  const int subtract = family == 1 ? (variant_set ? 13 : 7) : (variant_set ? 7 : 6);
  // Locations 8..12 of the family-1 variant would give a negative distance: the reflection is at the
  // port.
  const int v = std::max(0, location - subtract);
  return static_cast<uint8_t>(v - ((((v + (v >> 4)) >> 2) + 1) >> 1));
}
