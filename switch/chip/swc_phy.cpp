#include "swc_phy.h"

#include "swc_cablescan.h"
#include "swc_clock.h"
#include "swc_context.h"
#include "swc_trace.h"

namespace {

// The PHY state of the installed context, or nullptr when it has none.
SwcPhyState *phy_state() {
  const SwcPhyContext *context = swc_installed_context().handed->phy;
  return context ? context->state : nullptr;
}

// The PHY state once swc_phy_init has filled it in, or nullptr.
SwcPhyState *ready_phy_state() {
  return swc_installed_context().phy_ready ? phy_state() : nullptr;
}

constexpr size_t records_offset() {
  return (sizeof(SwcPhyState) + alignof(SwcPhyPort) - 1) / alignof(SwcPhyPort) * alignof(SwcPhyPort);
}

constexpr uint32_t kTest = kSwcPhyPageTest;
constexpr uint32_t kTr = kSwcPhyPageTr;
constexpr uint32_t kExt = kSwcPhyPageExtended;

const char *page_text(uint32_t page) {
  switch (page) {
    case 0:
      return "";
    case kSwcPhyPageExtended:
      return "(E)";
    case kSwcPhyPageGpio:
      return "(GPIO)";
    case kSwcPhyPageTest:
      return "(TEST)";
    case kSwcPhyPageTr:
      return "(TR)";
    default:
      return "(?)";
  }
}

const char *interface_name(uint32_t type) {
  static const char *const kNames[] = {"N/C", "LOOPBACK", "INTERNAL", "MII",    "GMII", "RGMII",
                                       "TBI", "RTBI",     "SGMII",    "SERDES", "XGMII"};
  return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : "????";
}

// ---- family table ----

struct FamilyEntry {
  uint32_t oui;
  uint32_t model;
  uint32_t family;
  uint32_t part;
  uint32_t family_other;  // family and part when the MAC interface is not INTERNAL (0: the same)
  uint32_t part_other;
};

constexpr FamilyEntry kFamilies[] = {
    {0x3F1, 0x01, 1, 8201, 0, 0},    {0x3F1, 0x04, 2, 8204, 0, 0},    {0x3F1, 0x0B, 3, 8211, 0, 0},
    {0x3F1, 0x15, 3, 8221, 0, 0},    {0x3F1, 0x18, 4, 8224, 0, 0},    {0x3F1, 0x22, 4, 8234, 0, 0},
    {0x3F1, 0x2C, 4, 8244, 0, 0},    {0x1C1, 0x02, 6, 8601, 0, 0},    {0x1C1, 0x03, 6, 8641, 0, 0},
    {0x1C1, 0x05, 7, 7385, 0, 0},    {0x1C1, 0x08, 7, 7388, 5, 8538}, {0x1C1, 0x09, 8, 7389, 0, 0},
    {0x1C1, 0x11, 8, 7389, 0, 0},    {0x1C1, 0x10, 8, 7390, 0, 0},    {0x1C1, 0x15, 9, 7395, 0, 0},
    {0x1C1, 0x18, 9, 7398, 5, 8558}, {0x1C1, 0x28, 5, 8538, 0, 0},    {0x1C1, 0x38, 5, 8558, 0, 0},
};

void classify(SwcPhyPort &phy, uint32_t oui, uint32_t model) {
  phy.family = 0;
  phy.part = 0;
  for (const auto &e : kFamilies) {
    if (e.oui != oui || e.model != model) continue;
    const bool other = e.family_other != 0 && phy.reset_setup.mac_interface != kSwcIfInternal;
    phy.family = other ? e.family_other : e.family;
    phy.part = other ? e.part_other : e.part;
    return;
  }
}

// ---- access helpers on one port ----

bool valid_port(uint32_t port_no) {
  const SwcPhyState *state = ready_phy_state();
  return state && port_no < state->count && state->ports[port_no].bus >= 0;
}

SwcPhyPort &record(uint32_t port_no) {
  return phy_state()->ports[port_no];
}

swc_rc raw_read(uint32_t port_no, uint32_t reg, uint16_t *value) {
  const SwcPhyPort &p = record(port_no);
  return swc_phy_io_read(static_cast<uint32_t>(p.bus), static_cast<uint32_t>(p.address), reg, value);
}

swc_rc raw_write(uint32_t port_no, uint32_t reg, uint32_t value) {
  const SwcPhyPort &p = record(port_no);
  return swc_phy_io_write(static_cast<uint32_t>(p.bus), static_cast<uint32_t>(p.address), reg, value);
}

swc_rc raw_writemasked(uint32_t port_no, uint32_t reg, uint32_t value, uint32_t mask) {
  uint16_t old;
  SWC_TRY(raw_read(port_no, reg, &old));
  return raw_write(port_no, reg, (old & ~mask) | (value & mask));
}

swc_rc select_page(uint32_t port_no, uint32_t page) {
  return raw_write(port_no, 31, page);
}

// Writes register 31 = TEST page straight through the PHY I/O.
swc_rc page_test(uint32_t port_no) {
  SWC_TRACE_AS(trace::kApiHl, trace::kNoise, "swc_phy_write", "port_no: %d, reg: 0x%02x%s, value: 0x%04x",
               static_cast<int>(port_no), 31, "", static_cast<unsigned>(kTest));
  return select_page(port_no, kTest);
}

// TEST register 8 bit 9 opens the TR window on families 4, 7, 8 and 9.
swc_rc tr_window(uint32_t port_no, bool open) {
  return swc_phy_writemasked(port_no, swc_phy_paged(kTest, 8), open ? 0x200 : 0, 0x200);
}

// With the TR page selected: command register and data registers.
swc_rc tr_read(uint32_t port_no, uint32_t address) {
  return raw_write(port_no, 16, 0xA000 | (address & 0x1FFF));
}
swc_rc tr_write(uint32_t port_no, uint32_t address) {
  return raw_write(port_no, 16, 0x8000 | (address & 0x1FFF));
}
swc_rc tr_store(uint32_t port_no, uint32_t address, uint32_t value) {
  SWC_TRY(raw_write(port_no, 18, value >> 16));
  SWC_TRY(raw_write(port_no, 17, value & 0xFFFF));
  return tr_write(port_no, address);
}

swc_rc tr_patch(uint32_t port_no) {
  SWC_TRY(select_page(port_no, kTr));
  SWC_TRY(tr_read(port_no, 0xF8A));
  SWC_TRY(raw_writemasked(port_no, 17, 8, 0xC));
  SWC_TRY(tr_write(port_no, 0xF8A));
  SWC_TRY(tr_read(port_no, 0xF86));
  SWC_TRY(raw_writemasked(port_no, 18, 0x8, 0xC));
  SWC_TRY(tr_write(port_no, 0xF86));
  SWC_TRY(tr_read(port_no, 0xF82));
  SWC_TRY(raw_writemasked(port_no, 17, 0x100, 0x180));
  return tr_write(port_no, 0xF82);
}

swc_rc link_up_patch(uint32_t port_no) {
  SWC_TRY(select_page(port_no, kTr));
  SWC_TRY(tr_read(port_no, 0xFF0));
  uint16_t data;
  SWC_TRY(raw_read(port_no, 17, &data));
  const uint32_t x = (data >> 4) & 0x1F;
  if (x < 16 || x > 20) {
    SWC_TRY(select_page(port_no, kTest));
    SWC_TRY(raw_writemasked(port_no, 12, 0, 0x300));
  }
  return select_page(port_no, 0);
}

// ---- reset: checks, pre-set-up and corrections per family ----

uint32_t skew_code(uint32_t ps) {
  return ps == 0 ? 0 : ps < 1600 ? 1 : ps < 2050 ? 2 : 3;
}

struct RegWrite {
  uint16_t reg;
  uint16_t value;
};

constexpr RegWrite kAlderRev6[] = {{27, 0x0114}};
constexpr RegWrite kAlderRev5[] = {{23, 0x1100}, {31, 0x0000}, {31, 0xF01D}, {31, 0x2A30}, {1, 0x8000},
                                   {31, 0x2A30}, {8, 0x0208},  {31, 0x52B5}, {2, 0x0085},  {1, 0x23F0},
                                   {0, 0x8770},  {31, 0x52B5}, {2, 0x0000},  {1, 0x0400},  {0, 0x8F88},
                                   {31, 0x52B5}, {2, 0x0000},  {1, 0x0400},  {0, 0x8F88},  {31, 0x2A30},
                                   {8, 0x0008},  {31, 0x2A30}, {1, 0x0000},  {31, 0x0000}, {0, 0x1840},
                                   {31, 0x0000}, {0, 0x1040},  {31, 0x0000}, {31, 0x2DAF}};
constexpr RegWrite kAlderRev4[] = {
    {31, 0xF01D}, {31, 0x0000}, {0, 0x9040},  {31, 0x0000}, {27, 0x0115}, {31, 0x2A30}, {1, 0x8000},
    {31, 0x0000}, {9, 0x0300},  {31, 0x2A30}, {8, 0x0208},  {31, 0x2A30}, {5, 0x8000},  {31, 0x52B5},
    {2, 0x0085},  {1, 0x21F0},  {0, 0x8770},  {31, 0x52B5}, {2, 0x0085},  {1, 0x23F0},  {0, 0x8770},
    {31, 0x52B5}, {2, 0x0000},  {1, 0x1B00},  {0, 0x8FA0},  {31, 0x52B5}, {2, 0x0000},  {1, 0x7D00},
    {0, 0x8FAC},  {31, 0x52B5}, {2, 0x00E0},  {1, 0xE30D},  {0, 0x870C},  {31, 0x52B5}, {2, 0x0000},
    {1, 0x0010},  {0, 0x8F84},  {31, 0x52B5}, {2, 0x0000},  {1, 0x0012},  {0, 0x8F84},  {31, 0x52B5},
    {2, 0x0000},  {1, 0x0040},  {0, 0x8F86},  {31, 0x2A30}, {8, 0x0008},  {31, 0x0000}, {31, 0x2DAF},
    {31, 0x2A30}, {1, 0x0000},  {31, 0x0000}, {0, 0x1840},  {31, 0x0000}, {0, 0x1040},  {31, 0x0000},
    {9, 0x0300},  {31, 0x2A30}, {5, 0x8000},  {31, 0x2A30}, {8, 0x0208},  {31, 0x52B5}, {2, 0x0000},
    {1, 0x0000},  {0, 0x9782},  {31, 0x52B5}, {2, 0x0000},  {1, 0x0000},  {0, 0x9782},  {31, 0x52B5},
    {2, 0x003C},  {1, 0x3800},  {0, 0x8F8A},  {31, 0x52B5}, {2, 0x003C},  {1, 0x3800},  {0, 0x8F8A},
    {31, 0x2A30}, {8, 0x0008},  {31, 0x0000}};

template <size_t N>
swc_rc write_list(uint32_t port_no, const RegWrite (&list)[N]) {
  for (const auto &w : list) SWC_TRY(raw_write(port_no, w.reg, w.value));
  return kSwcRcOk;
}

constexpr uint8_t kCedarProgram[] = {0x02, 0x40, 0x0C, 0x02, 0x40, 0x21, 0x02, 0x40, 0x22, 0x02, 0x40, 0x23,
                                     0xC2, 0xAD, 0xC2, 0xCA, 0x75, 0xCB, 0x9A, 0x75, 0xCA, 0x46, 0x85, 0xCB,
                                     0xCD, 0x85, 0xCA, 0xCC, 0xD2, 0xCA, 0xD2, 0xAD, 0x22, 0x22, 0x22, 0x22};

swc_rc unsupported_interface(const char *function, uint32_t port_no, const SwcPhyPort &phy,
                             const char *family_name) {
  SWC_TRACE_AS(trace::kApiHl, trace::kError, function, "port_no %d, MAC interface %s not supported for %s",
               static_cast<int>(port_no), interface_name(phy.reset_setup.mac_interface), family_name);
  return kSwcRcIllegal;
}

swc_rc birch_pre_reset(uint32_t port_no, const SwcPhyPort &phy) {
  const SwcPhyResetSetup &r = phy.reset_setup;
  uint32_t value;
  switch (r.mac_interface) {
    case kSwcIfRtbi:
      value = r.further ? 0x4002 : 0x5000;
      break;
    case kSwcIfRgmii:
      value = skew_code(r.tx_skew_ps) << 10 | skew_code(r.rx_skew_ps) << 8 |
              (r.media != 2 && r.media != 3 ? 0x1000 : 0) | (r.media == 0 || r.media == 2 ? 4 : 2);
      break;
    case kSwcIfSgmii:
      value = 0xB000;
      break;
    default:
      return unsupported_interface("swc_phy_reset", port_no, phy, "Birch");
  }
  return raw_write(port_no, 23, value | 0x20);
}

swc_rc cedar_pre_reset(uint32_t port_no, const SwcPhyPort &phy) {
  if (phy.revision == 0) {
    SWC_TRY(select_page(port_no, kSwcPhyPageGpio));
    SWC_TRY(raw_write(port_no, 0, 0x4C19));
    SWC_TRY(raw_writemasked(port_no, 0, 0x8000, 0x8000));
    SWC_TRY(select_page(port_no, 0));
  }
  switch (phy.reset_setup.mac_interface) {
    case kSwcIfSgmii:
      return raw_write(port_no, 23, 0);
    case kSwcIfSerdes:
      return raw_write(port_no, 23, 0x1000);
    default:
      return unsupported_interface("swc_phy_reset", port_no, phy, "Cedar");
  }
}

swc_rc pre_reset(uint32_t port_no, const SwcPhyPort &phy, uint32_t oui, uint32_t model) {
  switch (phy.family) {
    case 2:
      if (phy.revision < 4 || phy.revision > 6) {
        SWC_HL_TRACE(trace::kError, "port_no %d, unsupported Alder revision: %d", static_cast<int>(port_no),
                     static_cast<int>(phy.revision));
        return kSwcRcUnsupported;
      }
      return kSwcRcOk;
    case 4:
      return birch_pre_reset(port_no, phy);
    case 5:
      return cedar_pre_reset(port_no, phy);
    case 7:
    case 8:
    case 9:
      return phy.reset_setup.mac_interface == kSwcIfInternal
                 ? kSwcRcOk
                 : unsupported_interface("swc_phy_reset", port_no, phy, "Corvex");
    case 0:
      if (oui == 0x5043 && model == 2 && phy.revision == 4) {
        if (phy.reset_setup.mac_interface == kSwcIfRgmii) SWC_TRY(raw_write(port_no, 27, 0x848B));
        if (phy.reset_setup.mac_interface == kSwcIfRtbi) SWC_TRY(raw_write(port_no, 27, 0x8489));
        return raw_write(port_no, 20, 0x0CE2);
      }
      return kSwcRcOk;
    default:
      return kSwcRcOk;
  }
}

swc_rc soft_reset(uint32_t port_no) {
  SwcClock &clock = swc_clock_get();
  SWC_TRY(raw_write(port_no, 0, 0x8000));
  clock.busy_wait_us(4);
  const uint64_t deadline = clock.now_us() + kSwcPhyResetTimeoutMs * 1000;
  for (;;) {
    uint16_t control;
    SWC_TRY(raw_read(port_no, 0, &control));
    if ((control & 0x8000) == 0) return kSwcRcOk;
    if (clock.now_us() >= deadline) break;
    clock.sleep_ms(1);
  }
  SWC_HL_TRACE(trace::kError, "port_no %d, reset timeout", static_cast<int>(port_no));
  return kSwcRcPhyResetTimeout;
}

swc_rc alder_corrections(uint32_t port_no, const SwcPhyPort &phy) {
  if (phy.revision == 6) SWC_TRY(write_list(port_no, kAlderRev6));
  if (phy.revision == 5) SWC_TRY(write_list(port_no, kAlderRev5));
  if (phy.revision == 4) SWC_TRY(write_list(port_no, kAlderRev4));
  const SwcPhyResetSetup &r = phy.reset_setup;
  uint32_t code;
  switch (r.mac_interface) {
    case kSwcIfMii:
    case kSwcIfGmii:
      code = 0;
      break;
    case kSwcIfRgmii:
      code = 0x1000;
      break;
    case kSwcIfTbi:
      code = 0x2000;
      break;
    case kSwcIfRtbi:
      code = 0x3000;
      break;
    default:
      return unsupported_interface("swc_phy_reset", port_no, phy, "Alder");
  }
  const uint32_t skew = r.rx_skew_ps != 0 || r.tx_skew_ps != 0 ? 0x100 : 0;
  SWC_TRY(raw_write(port_no, 23, code | skew | 0x14 | (phy.revision == 6 ? 0x200 : 0)));
  return raw_write(port_no, 22, 0x3000);
}

swc_rc birch_corrections(uint32_t port_no, const SwcPhyPort &phy) {
  SWC_TRY(tr_window(port_no, true));
  SWC_TRY(select_page(port_no, kTr));
  SWC_TRY(tr_store(port_no, 0xFAE, 0x00040671));
  SWC_TRY(tr_window(port_no, false));
  SWC_TRY(raw_writemasked(port_no, 18, 0x40, 0x40));
  SWC_TRY(tr_window(port_no, true));
  SWC_TRY(select_page(port_no, kTr));
  SWC_TRY(tr_read(port_no, 0xFA4));
  SWC_TRY(tr_store(port_no, 0xFA4, 0x000F492A));
  SWC_TRY(tr_window(port_no, false));
  SWC_TRY(page_test(port_no));
  SWC_TRY(raw_writemasked(port_no, 12, 0x200, 0x300));
  SWC_TRY(select_page(port_no, 0));
  if (phy.reset_setup.mac_interface == kSwcIfRgmii) {
    SWC_TRY(swc_phy_write(port_no, swc_phy_paged(kTest, 3), 0xF082));
    SWC_TRY(swc_phy_write(port_no, swc_phy_paged(kTest, 3), 0xF082));
  }
  SWC_TRY(swc_phy_write(port_no, swc_phy_paged(kExt, 19), phy.reset_setup.media != 0 ? 1 : 2));
  return swc_phy_writemasked(port_no, swc_phy_paged(kExt, 20), 0, 0x10);
}

swc_rc cedar_revision0_corrections(uint32_t port_no, const SwcPhyPort &phy) {
  SWC_TRY(tr_window(port_no, true));
  SWC_TRY(tr_patch(port_no));
  SWC_TRY(tr_window(port_no, false));
  SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kTest, 27), 0x8000, 0x8000));
  SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kTest, 19), 0x300, 0xF00));
  SWC_TRY(select_page(port_no, 0));
  SWC_TRY(select_page(port_no, kTr));
  SWC_TRY(tr_read(port_no, 0x60C));
  SWC_TRY(tr_read(port_no, 0x60C));
  uint16_t data;
  SWC_TRY(raw_read(port_no, 17, &data));
  if ((data & 0x8) == 0) {
    SWC_TRY(raw_write(port_no, 17, 0x10));
    SWC_TRY(tr_write(port_no, 0x604));
    SWC_TRY(raw_write(port_no, 17, 0xDF));
    SWC_TRY(tr_write(port_no, 0x600));
    SWC_TRY(raw_write(port_no, 17, 0xFF));
    SWC_TRY(tr_write(port_no, 0x600));
    SWC_TRY(raw_write(port_no, 17, 0));
    SWC_TRY(tr_write(port_no, 0x604));
    SWC_TRY(tr_read(port_no, 0x60C));
    SWC_TRY(tr_read(port_no, 0x60C));
  }
  SWC_TRY(select_page(port_no, 0));
  SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kExt, 17), 0, 1));
  SWC_TRY(select_page(port_no, 0));
  if (phy.address % 8 == 0) {
    // The first PHY of its package loads the package's program.
    SWC_TRY(select_page(port_no, kSwcPhyPageGpio));
    SWC_TRY(raw_write(port_no, 0, 0x7009));
    SWC_TRY(raw_write(port_no, 12, 0x5000));
    SWC_TRY(raw_write(port_no, 11, 0xFFFF));
    for (uint8_t b : kCedarProgram) SWC_TRY(raw_write(port_no, 12, 0x5000 | b));
    SWC_TRY(raw_write(port_no, 12, 0));
    SWC_TRY(raw_write(port_no, 0, 0x4099));
    SWC_TRY(raw_write(port_no, 0, 0xC099));
    SWC_TRY(select_page(port_no, 0));
  }
  SWC_TRY(select_page(port_no, kTr));
  SWC_TRY(tr_store(port_no, 0x606, 0x3D));
  SWC_TRY(tr_store(port_no, 0xE06, 0x3D));
  return select_page(port_no, 0);
}

swc_rc cedar_corrections(uint32_t port_no, const SwcPhyPort &phy) {
  if (phy.revision == 0) SWC_TRY(cedar_revision0_corrections(port_no, phy));
  SWC_TRY(raw_writemasked(port_no, 18, 0x40, 0x40));
  SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kTest, 12), 0x200, 0x300));
  SWC_TRY(select_page(port_no, 0));
  SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kExt, 20), 0x1800, 0x1800));
  return select_page(port_no, 0);
}

swc_rc corvex_corrections(uint32_t port_no, const SwcPhyPort &phy) {
  const bool rev0_family7 = phy.family == 7 && phy.revision == 0;
  SWC_TRY(page_test(port_no));
  if (phy.family != 8 && phy.reset_setup.mac_interface == kSwcIfRgmii) {
    SWC_TRY(swc_phy_write(port_no, swc_phy_paged(kTest, 3), 0xF082));
    SWC_TRY(swc_phy_write(port_no, swc_phy_paged(kTest, 3), 0xF082));
    SWC_TRY(select_page(port_no, 0));
  }
  if (phy.family == 8 || rev0_family7) {
    SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kTest, 2), 0x8000, 0x8000));
    SWC_TRY(select_page(port_no, 0));
  }
  if (rev0_family7) {
    SWC_TRY(tr_window(port_no, true));
    SWC_TRY(select_page(port_no, kTr));
    SWC_TRY(tr_store(port_no, 0xF92, 0x000689));
    SWC_TRY(tr_window(port_no, false));
    SWC_TRY(swc_phy_write(port_no, swc_phy_paged(kTest, 23), 0xFF80));
    SWC_TRY(swc_phy_write(port_no, swc_phy_paged(kTest, 23), 0));
    SWC_TRY(select_page(port_no, 0));
  }
  SWC_TRY(tr_window(port_no, true));
  SWC_TRY(tr_patch(port_no));
  SWC_TRY(tr_window(port_no, false));
  SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kTest, 12), 0x200, 0x300));
  SWC_TRY(select_page(port_no, 0));
  SWC_TRY(tr_window(port_no, true));
  SWC_TRY(select_page(port_no, kTr));
  SWC_TRY(tr_read(port_no, 0x168A));
  SWC_TRY(raw_writemasked(port_no, 18, 3, 0xFF07));
  SWC_TRY(raw_writemasked(port_no, 17, 0xA2, 0x00FF));
  SWC_TRY(tr_write(port_no, 0x168A));
  SWC_TRY(tr_window(port_no, false));
  SWC_TRY(select_page(port_no, 0));
  SWC_TRY(raw_writemasked(port_no, 18, 0x40, 0x40));
  if (phy.family == 8) return raw_writemasked(port_no, 24, 0xA002, 0xE00E);
  if (rev0_family7) {
    SWC_TRY(swc_phy_write(port_no, swc_phy_paged(kTest, 20), 0x6600));
    return select_page(port_no, 0);
  }
  SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kTest, 22), 0x240, 0xFC0));
  SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kTest, 20), 0x4000, 0x6000));
  SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kExt, 20), 0x6000, 0xE000));
  return select_page(port_no, 0);
}

swc_rc corrections(uint32_t port_no, const SwcPhyPort &phy) {
  switch (phy.family) {
    case 2:
      return alder_corrections(port_no, phy);
    case 4:
      return birch_corrections(port_no, phy);
    case 5:
      return cedar_corrections(port_no, phy);
    case 7:
    case 8:
    case 9:
      return corvex_corrections(port_no, phy);
    default:
      return kSwcRcOk;  // soft reset only
  }
}

// ---- status events ----

swc_rc link_down_corrections(uint32_t port_no, const SwcPhyPort &phy) {
  const uint32_t f = phy.family;
  if (f == 3 || f == 4) {
    uint16_t control;
    SWC_TRY(raw_read(port_no, 0, &control));
    if ((control & 0x800) == 0) {
      SWC_TRY(raw_write(port_no, 0, control | 0x800));
      swc_clock_get().sleep_ms(100);
      SWC_TRY(raw_write(port_no, 0, control));
    }
  }
  if (f == 3 || f == 4 || f == 5 || f == 7 || f == 8 || f == 9) {
    SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kTest, 12), 0x200, 0x300));
    SWC_TRY(select_page(port_no, 0));
  }
  if (f == 3 || f == 5 || f == 7 || f == 8 || f == 9) {
    const uint32_t field = f == 7 || f == 9 ? 0x15 : 0x14;
    SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kTest, 20), field << 8, 0x1F00));
    SWC_TRY(select_page(port_no, 0));
  }
  return kSwcRcOk;
}

swc_rc link_up_corrections(uint32_t port_no, const SwcPhyPort &phy, uint32_t speed) {
  const uint32_t f = phy.family;
  if (f != 4 && f != 5 && f != 7 && f != 8 && f != 9) return kSwcRcOk;
  if (speed == kSwcSpeed1G) return link_up_patch(port_no);
  if (speed == kSwcSpeed10M && f != 4 && (f != 5 || phy.revision == 0)) {
    const uint32_t first = f == 5 || f == 8 ? 0x14 : 0x13;
    const uint32_t second = f == 5 ? 0x16 : 0x13;
    SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kTest, 20), first << 8, 0x1F00));
    SWC_TRY(swc_phy_writemasked(port_no, swc_phy_paged(kTest, 20), second << 8, 0x1F00));
    return select_page(port_no, 0);
  }
  return kSwcRcOk;
}

// Speed and duplex from the standard registers (family 0).
swc_rc standard_speed(uint32_t port_no, const SwcPhySetup &setup, uint16_t partner, SwcPortStatus *status) {
  uint16_t gigabit;
  SWC_TRY(raw_read(port_no, 10, &gigabit));
  status->full_duplex = 1;
  if (setup.adv_1000_full && (gigabit & 0x800) && !(gigabit & 0x8000)) {
    status->speed = kSwcSpeed1G;
  } else if (setup.adv_100_full && (partner & 0x100)) {
    status->speed = kSwcSpeed100M;
  } else if (setup.adv_100_half && (partner & 0x80)) {
    status->speed = kSwcSpeed100M;
    status->full_duplex = 0;
  } else if (setup.adv_10_full && (partner & 0x40)) {
    status->speed = kSwcSpeed10M;
  } else if (setup.adv_10_half && (partner & 0x20)) {
    status->speed = kSwcSpeed10M;
    status->full_duplex = 0;
  } else {
    status->speed = 0;
    status->full_duplex = 0;
  }
  return kSwcRcOk;
}

swc_rc aneg_status(uint32_t port_no, const SwcPhyPort &phy, uint16_t control_status, SwcPortStatus *status) {
  if ((control_status & 0x20) == 0) {
    status->link = 0;
    return kSwcRcOk;
  }
  const SwcPhySetup &s = phy.setup;
  uint16_t partner;
  SWC_TRY(raw_read(port_no, 5, &partner));
  const bool pause = partner & 0x400;
  const bool asym = partner & 0x800;
  status->pause_obey = s.adv_symmetric_pause && (pause || (s.adv_asymmetric_pause && asym)) ? 1 : 0;
  status->pause_generate = pause && (s.adv_symmetric_pause || (s.adv_asymmetric_pause && asym)) ? 1 : 0;
  if (phy.family == 0) return standard_speed(port_no, s, partner, status);
  uint16_t aux;
  SWC_TRY(raw_read(port_no, 28, &aux));
  static constexpr uint32_t kSpeed[4] = {kSwcSpeed10M, kSwcSpeed100M, kSwcSpeed1G, 0};
  status->speed = kSpeed[(aux >> 3) & 3];
  status->full_duplex = (aux >> 5) & 1;
  return kSwcRcOk;
}

swc_rc illegal_port(const char *function, uint32_t port_no) {
  SWC_TRACE_AS(trace::kApiHl, trace::kError, function, "illegal port_no: %d", static_cast<int>(port_no));
  return kSwcRcIllegal;
}

}  // namespace

// ---- PHY I/O ----

swc_rc swc_phy_io_init() {
  SWC_IO_TRACE(trace::kDebug, "enter");
  return kSwcRcOk;
}

swc_rc swc_phy_io_read(uint32_t bus, uint32_t addr, uint32_t reg, uint16_t *value) {
  const swc_rc rc = swc_miim_phy_read(bus & 15, addr, reg, value);
  if (rc < 0) {
    SWC_IO_TRACE(trace::kNoise, "bus: 0x%04x, addr: 0x%02x, reg: 0x%02x, value: ERROR", bus, addr, reg);
  } else {
    SWC_IO_TRACE(trace::kNoise, "bus: 0x%04x, addr: 0x%02x, reg: 0x%02x, value: 0x%04x", bus, addr, reg,
                 static_cast<unsigned>(*value));
  }
  return rc;
}

swc_rc swc_phy_io_write(uint32_t bus, uint32_t addr, uint32_t reg, uint32_t value) {
  const swc_rc rc = swc_miim_phy_write(bus & 15, addr, reg, value);
  SWC_IO_TRACE(trace::kNoise, "bus: 0x%04x, addr: 0x%02x, reg: 0x%02x, value: 0x%04x%s", bus, addr, reg,
               static_cast<unsigned>(value & 0xFFFF), rc < 0 ? " FAILED" : "");
  return rc;
}

// ---- state ----

size_t swc_phy_sizeof_al(uint32_t ports) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  return records_offset() + (size_t{ports} + 1) * sizeof(SwcPhyPort);
}

swc_rc swc_phy_init(uint32_t ports) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  SwcPhyState *state = phy_state();
  if (!state) return kSwcRcIllegal;
  state->count = ports + 1;
  state->ports = reinterpret_cast<SwcPhyPort *>(reinterpret_cast<unsigned char *>(state) + records_offset());
  for (uint32_t i = 0; i < state->count; ++i) {
    SwcPhyPort &r = state->ports[i];
    r = SwcPhyPort{};
    r.bus = -1;
    r.address = -1;
    r.link = 0;
  }
  swc_installed_context().phy_ready = true;
  return kSwcRcOk;
}

SwcPhyPort *swc_phy_port(uint32_t port_no) {
  SwcPhyState *state = ready_phy_state();
  if (!state || port_no >= state->count) return nullptr;
  return &state->ports[port_no];
}

swc_rc swc_phy_map_port(uint32_t port_no, int32_t bus, int32_t address) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d, bus: 0x%04x, addr: 0x%02x", static_cast<int>(port_no),
               static_cast<unsigned>(bus), static_cast<unsigned>(address));
  SwcPhyPort *r = swc_phy_port(port_no);
  if (!r) return illegal_port(__func__, port_no);
  r->bus = bus;
  r->address = address;
  return kSwcRcOk;
}

swc_rc swc_phy_port_map_set(const SwcPhyPortMap *map) {
  SWC_HL_TRACE(trace::kDebug, "enter : swc_phy_port_map_set");
  SwcPhyState *state = ready_phy_state();
  if (!map || !state || map->count > state->count || map->count > kSwcPortSlots) {
    SWC_HL_TRACE(trace::kError, "illegal port map count: %d", map ? static_cast<int>(map->count) : -1);
    return kSwcRcIllegal;
  }
  for (uint32_t i = 0; i < map->count; ++i) {
    state->ports[i].bus = map->pair[i].bus;
    state->ports[i].address = map->pair[i].address;
  }
  return kSwcRcOk;
}

// ---- paged access ----

swc_rc swc_phy_read(uint32_t port_no, uint32_t reg, uint16_t *value) {
  if (!valid_port(port_no)) return illegal_port(__func__, port_no);
  const uint32_t page = reg >> 5;
  if (page != 0) SWC_TRY(select_page(port_no, page));
  SWC_TRY(raw_read(port_no, reg & 31, value));
  if (page != 0) SWC_TRY(select_page(port_no, 0));
  return kSwcRcOk;
}

swc_rc swc_phy_write(uint32_t port_no, uint32_t reg, uint32_t value) {
  const uint32_t page = reg >> 5;
  SWC_HL_TRACE(trace::kNoise, "port_no: %d, reg: 0x%02x%s, value: 0x%04x", static_cast<int>(port_no),
               reg & 31, page_text(page), static_cast<unsigned>(value & 0xFFFF));
  if (!valid_port(port_no)) return illegal_port(__func__, port_no);
  if (page != 0) SWC_TRY(select_page(port_no, page));
  SWC_TRY(raw_write(port_no, reg & 31, value));
  if (page != 0) SWC_TRY(select_page(port_no, 0));
  return kSwcRcOk;
}

swc_rc swc_phy_writemasked(uint32_t port_no, uint32_t reg, uint32_t value, uint32_t mask) {
  const uint32_t page = reg >> 5;
  SWC_HL_TRACE(trace::kNoise, "port_no: %d, reg: 0x%02x%s, value: 0x%04x, mask: 0x%04x",
               static_cast<int>(port_no), reg & 31, page_text(page), static_cast<unsigned>(value & 0xFFFF),
               static_cast<unsigned>(mask & 0xFFFF));
  if (!valid_port(port_no)) return illegal_port(__func__, port_no);
  if (page != 0) SWC_TRY(select_page(port_no, page));
  SWC_TRY(raw_writemasked(port_no, reg & 31, value, mask));
  if (page != 0) SWC_TRY(select_page(port_no, 0));
  return kSwcRcOk;
}

// ---- reset, set-up, status ----

swc_rc swc_phy_reset(uint32_t port_no, const SwcPhyResetSetup *reset_setup) {
  SWC_HL_TRACE(trace::kNoise, "port_no: %d", static_cast<int>(port_no));
  if (!valid_port(port_no)) return illegal_port(__func__, port_no);
  SwcPhyPort &phy = record(port_no);
  phy.reset_setup = *reset_setup;
  phy.family = phy.part = phy.revision = 0;
  // The reset brings the PHY's own defaults back: a test in progress has nothing left to restore.
  phy.cablescan = SwcCablescanTask{};
  // A PHY may have been left on another page (a process ended in the middle of a paged access): every
  // register number below means page 0. Register 31 reads the same on every page.
  uint16_t page;
  SWC_TRY(raw_read(port_no, 31, &page));
  if (page != 0) {
    SWC_HL_TRACE(trace::kWarn, "port_no %d, PHY found on page 0x%04x", static_cast<int>(port_no), page);
    SWC_TRY(select_page(port_no, 0));
  }
  uint16_t id2, id3;
  SWC_TRY(raw_read(port_no, 2, &id2));
  SWC_TRY(raw_read(port_no, 3, &id3));
  const uint32_t oui = uint32_t{id2} << 6 | id3 >> 10;
  const uint32_t model = (id3 >> 4) & 0x3F;
  phy.revision = id3 & 0xF;
  classify(phy, oui, model);
  SWC_HL_TRACE(trace::kDebug, "port_no %d, detected %s PHY: %d_%d (model 0x%02x)", static_cast<int>(port_no),
               oui == 0x3F1 || oui == 0x1C1 ? "Norvane" : "Unknown", static_cast<int>(phy.part),
               static_cast<int>(phy.revision), static_cast<unsigned>(model));
  SWC_TRY(pre_reset(port_no, phy, oui, model));
  SWC_TRY(soft_reset(port_no));
  return corrections(port_no, phy);
}

swc_rc swc_phy_setup(uint32_t port_no, const SwcPhySetup *setup) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d, mode: %d", static_cast<int>(port_no),
               static_cast<int>(setup->mode));
  if (!valid_port(port_no)) return illegal_port(__func__, port_no);
  SwcPhyPort &phy = record(port_no);
  phy.setup = *setup;
  const SwcPhySetup &s = phy.setup;
  switch (s.mode) {
    case kSwcPhyModeAneg: {
      const uint32_t advertise = 0x01 | (s.adv_10_half ? 0x20 : 0) | (s.adv_10_full ? 0x40 : 0) |
                                 (s.adv_100_half ? 0x80 : 0) | (s.adv_100_full ? 0x100 : 0) |
                                 (s.adv_symmetric_pause ? 0x400 : 0) | (s.adv_asymmetric_pause ? 0x800 : 0);
      SWC_TRY(raw_write(port_no, 4, advertise));
      uint16_t gigabit;
      SWC_TRY(raw_read(port_no, 9, &gigabit));
      SWC_TRY(raw_write(port_no, 9, (s.adv_1000_full ? 0x200u : 0) | (gigabit & 0x400u)));
      return raw_write(port_no, 0, 0x1200);
    }
    case kSwcPhyModeForced: {
      const bool gigabit = s.forced_speed == kSwcSpeed1G;
      SWC_TRY(raw_write(port_no, 0,
                        (s.forced_speed == kSwcSpeed100M ? 0x2000u : 0) | (gigabit ? 0x40u : 0) |
                            (s.forced_full_duplex ? 0x100u : 0)));
      if (gigabit) return kSwcRcOk;
      if (phy.family == 4 || phy.family == 7 || phy.family == 8) {
        SWC_TRY(tr_window(port_no, true));
        SWC_TRY(select_page(port_no, kTr));
        SWC_TRY(tr_store(port_no, 0x7FA, 0x00122803));
        SWC_TRY(tr_window(port_no, false));
        return select_page(port_no, 0);
      }
      if (phy.family == 5) {
        SWC_TRY(select_page(port_no, kTr));
        SWC_TRY(tr_store(port_no, 0x7FA, 0x00123803));
        SWC_TRY(select_page(port_no, 0));
        return raw_writemasked(port_no, 18, 0, 0x80);
      }
      return kSwcRcOk;
    }
    case kSwcPhyModePowerDown:
      SWC_TRY(raw_write(port_no, 0, 0x0800));
      if (phy.family == 4) {
        SWC_TRY(raw_write(port_no, 0, 0));
        SWC_TRY(raw_write(port_no, 0, 0x0800));
      }
      return kSwcRcOk;
    default:
      SWC_HL_TRACE(trace::kError, "port_no %d, unknown mode %d", static_cast<int>(port_no),
                   static_cast<int>(s.mode));
      return kSwcRcIllegal;
  }
}

swc_rc swc_phy_status_get(uint32_t port_no, SwcPortStatus *status) {
  if (!valid_port(port_no)) return illegal_port(__func__, port_no);
  SwcPhyPort &phy = record(port_no);
  uint16_t control_status;
  SWC_TRY(raw_read(port_no, 1, &control_status));
  status->link_down_event = (control_status & 0x4) == 0 ? 1 : 0;
  status->link = 1;
  if (status->link_down_event) {
    SWC_TRY(raw_read(port_no, 1, &control_status));
    status->link = (control_status >> 2) & 1;
  }
  if (status->link) {
    switch (phy.setup.mode) {
      case kSwcPhyModeForced:
        status->speed = phy.setup.forced_speed;
        status->full_duplex = phy.setup.forced_full_duplex ? 1 : 0;
        break;
      case kSwcPhyModeAneg:
        SWC_TRY(aneg_status(port_no, phy, control_status, status));
        break;
      case kSwcPhyModePowerDown:
        break;
      default:
        SWC_HL_TRACE(trace::kError, "port_no %d, unknown mode %d", static_cast<int>(port_no),
                     static_cast<int>(phy.setup.mode));
        return kSwcRcIllegal;
    }
  }
  // A port that stays down runs its down corrections once, not on every poll.
  if (phy.link && (!status->link || status->link_down_event)) {
    SWC_HL_TRACE(trace::kDebug, "link down event on port_no %d", static_cast<int>(port_no));
    SWC_TRY(link_down_corrections(port_no, phy));
  }
  if (status->link && (!phy.link || status->link_down_event)) {
    SWC_HL_TRACE(trace::kDebug, "link up event on port_no %d", static_cast<int>(port_no));
    SWC_TRY(link_up_corrections(port_no, phy, status->speed));
  }
  phy.link = status->link;
  return kSwcRcOk;
}

swc_rc swc_phy_reset_and_setup(uint32_t port_no) {
  if (!valid_port(port_no)) return illegal_port(__func__, port_no);
  SwcPhyPort &phy = record(port_no);
  if (phy.family != 2 || phy.revision != 6 || phy.setup.mode != kSwcPhyModeForced ||
      phy.setup.forced_speed != kSwcSpeed100M || phy.link != 0) {
    return kSwcRcOk;
  }
  const SwcPhyResetSetup reset_setup = phy.reset_setup;
  const SwcPhySetup setup = phy.setup;
  SWC_TRY(swc_phy_reset(port_no, &reset_setup));
  return swc_phy_setup(port_no, &setup);
}

// ---- CableScan ----

swc_rc swc_phy_cablescan_start(uint32_t port_no) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d", static_cast<int>(port_no));
  if (!valid_port(port_no) || port_no == 0) return illegal_port(__func__, port_no);
  return swc_phy_cablescan_task_start(port_no, 0);
}

swc_rc swc_phy_cablescan_get(uint32_t port_no, SwcPhyCablescanResult *result) {
  SWC_HL_TRACE(trace::kNoise, "port_no: %d", static_cast<int>(port_no));
  *result = SwcPhyCablescanResult{0, {1, 1, 1, 1}, {0, 0, 0, 0}};
  if (!valid_port(port_no) || port_no == 0) return illegal_port(__func__, port_no);
  SwcCablescanTask &task = record(port_no).cablescan;
  const swc_rc rc = swc_phy_cablescan_task_run(&task);
  if (rc < 0) return rc;
  const bool valid = task.flags & kSwcCablescanFlagValid;
  result->valid = valid ? 1 : 0;
  for (unsigned pair = 0; pair < 4; ++pair) {
    result->status[pair] = task.status[pair] & 0x0F;
    result->length[pair] = task.location[pair];
  }
  return valid ? kSwcRcOk : kSwcRcNotNow;
}
