#include "swc_cablescan_internal.h"

#include <algorithm>
#include <cstdlib>

#include "swc_clock.h"
#include "swc_trace.h"

namespace swc_cablescan {

namespace {

int16_t g_coefficients[kSwcCablescanCoefficients];

// The page the test last selected on the PHY it works on; the paged PHY calls return to page 0.
uint32_t g_page = 0;

// The TR command register and its two data registers: page registers 0, 1, 2 on family 1, else 16,
// 17, 18.
uint32_t tr_command_reg(uint32_t port_no) {
  return family_of(port_no) == 1 ? 0 : 16;
}

// Waits for bit 15 of a register of the TR page, at most 500 ms; -3 on a timeout.
swc_rc wait_done(uint32_t port_no, uint32_t reg) {
  SwcClock &clock = swc_clock_get();
  const uint64_t start = clock.now_us();
  for (;;) {
    uint16_t value = 0;
    SWC_TRY(swc_phy_read(port_no, reg, &value));
    if (value & 0x8000) return kSwcRcOk;
    if (clock.now_us() - start > kTrTimeoutUs) {
      SWC_CS_TRACE(trace::kError, "port_no: %d, reg: %d, timeout", static_cast<int>(port_no),
                   static_cast<int>(reg));
      return kSwcRcNotNow;
    }
    clock.busy_wait_us(100);
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
  rc = kSwcRcOk;
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

swc_rc select_page(uint32_t port_no, uint32_t page) {
  if (g_page == page) return kSwcRcOk;
  SWC_TRY(swc_phy_write(port_no, 31, page));
  g_page = page;
  return kSwcRcOk;
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
  const SwcPhyPort *phy = swc_phy_port(port_no);
  return phy ? phy->family : 0;
}

swc_rc tr_get(uint32_t port_no, uint32_t address, uint32_t &value) {
  value = 0;
  const swc_rc rc = swc_phy_cablescan_tr_read(port_no, address, &value);
  return fatal(rc) ? rc : kSwcRcOk;
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

void page_known_standard() {
  g_page = 0;
}

swc_rc page_restore_standard(uint32_t port_no) {
  if (g_page == 0) return kSwcRcOk;
  const swc_rc rc = swc_phy_write(port_no, 31, 0);
  g_page = 0;
  return rc;
}

const int16_t *coefficients() {
  return g_coefficients;
}

}  // namespace swc_cablescan

using namespace swc_cablescan;

swc_rc swc_phy_cablescan_tr_read(uint32_t port_no, uint32_t address, uint32_t *value) {
  const uint32_t command = tr_command_reg(port_no);
  SWC_TRY(select_page(port_no, kPageTr));
  SWC_TRY(swc_phy_write(port_no, command, 0xA000 | (address & 0x1FFF)));
  SWC_TRY(wait_done(port_no, command));
  uint16_t low_word = 0, high_word = 0;
  SWC_TRY(swc_phy_read(port_no, command + 1, &low_word));
  SWC_TRY(swc_phy_read(port_no, command + 2, &high_word));
  *value = uint32_t{high_word} << 16 | low_word;
  return kSwcRcOk;
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
  const unsigned taps = std::min(descriptor & 0xF, kSwcCablescanCoefficients - 1);
  const unsigned passes = ((descriptor >> 4) & 7) + 1;
  const bool peak_only = descriptor & 0x80;
  int32_t sums[kSwcCablescanCoefficients - 1] = {};
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
        swc_rc rc = kSwcRcOk;
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
  if (peak_only) return kSwcRcOk;
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
  return kSwcRcOk;
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
