#include "swc_port.h"

#include "swc_api.h"
#include "swc_ll.h"
#include "swc_phy.h"
#include "swc_trace.h"

namespace {

const char *interface_name(uint32_t type) {
  static const char *const kNames[] = {"NO_CONNECTION", "LOOPBACK", "INTERNAL", "MII",    "GMII", "RGMII",
                                       "TBI",           "RTBI",     "SGMII",    "SERDES", "XGMII"};
  return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : "????";
}

const char *speed_name(uint32_t speed) {
  static const char *const kNames[] = {"UNDEFINED", "10M", "100M", "1G", "10G"};
  return speed < sizeof kNames / sizeof kNames[0] ? kNames[speed] : "???";
}

// The counter words the chip fills, and how wide each one is before it wraps.
constexpr uint32_t kKeptWords[] = {0, 1, 2, 3, 6, 7, 8, 11};
constexpr unsigned width_of(uint32_t word) {
  return word <= 1 ? 32 : 24;
}

bool valid_port(const char *function, uint32_t port_no) {
  if (port_no >= 1 && port_no <= kSwcPorts) return true;
  SWC_TRACE_AS(trace::kApiHl, trace::kError, function, "illegal port_no: %d", static_cast<int>(port_no));
  return false;
}

bool valid_poag(const char *function, uint32_t poag_no) {
  if (poag_no >= 1 && poag_no < kSwcPoagSlots) return true;
  SWC_TRACE_AS(trace::kApiHl, trace::kError, function, "illegal poag_no: %d", static_cast<int>(poag_no));
  return false;
}

bool jumbo_in_use(const SwcApiState &s) {
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (!s.unmapped[p] && s.max_length[p] > kSwcMaxStandardFrame) return true;
  }
  return false;
}

// Updates every port of a poag (the port itself, or an aggregation's members); the number of ports
// through `members`.
swc_rc update_poag_members(uint32_t poag_no, uint32_t *members) {
  const SwcApiState &s = *swc_state();
  *members = 0;
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (p != poag_no && s.port_to_poag[p] != poag_no) continue;
    const swc_rc rc = swc_port_counters_update(p);
    if (rc < 0) return rc;
    ++*members;
  }
  return kSwcRcOk;
}

}  // namespace

swc_rc swc_port_setup(uint32_t port_no, const SwcPortSetup *setup) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d, %stype: %s%s, speed: %s, fdx: %d", static_cast<int>(port_no),
               setup->power_down ? "POWERDOWN, " : "", interface_name(setup->interface_type), "",
               speed_name(setup->speed), static_cast<int>(setup->full_duplex));
  SWC_HL_TRACE(trace::kDebug, "pause_obey: %d, pause_generate: %d, max_frame: %d",
               static_cast<int>(setup->flow_obey), static_cast<int>(setup->flow_generate),
               static_cast<int>(setup->max_length));
  if (!valid_port(__func__, port_no)) return kSwcRcIllegal;
  if (setup->max_length > kSwcMaxFrameLength) {
    SWC_HL_TRACE(trace::kError, "illegal max_frame: %u", static_cast<unsigned>(setup->max_length));
    return kSwcRcIllegal;
  }
  SwcApiState &s = *swc_state();
  s.max_length[port_no] = setup->max_length;
  const uint32_t jumbo_before = s.jumbo;
  s.jumbo = jumbo_in_use(s) ? 1 : 0;
  s.port_setup[port_no] = *setup;
  s.pause_obey[port_no] = setup->flow_obey != 0;
  s.pause_generate[port_no] = setup->flow_generate != 0;

  swc_rc rc = swc_port_counters_update(port_no);
  if (rc < 0) return rc;
  rc = swc_ll_port_speed_mode_tbi_gmii(port_no, setup);
  if (rc < 0) return rc;
  // A reconfiguration may reset the chip's counters; start again from what they show now.
  SwcRawCounters raw{};
  rc = swc_ll_port_counters_read(port_no, &raw);
  if (rc < 0) return rc;
  if (raw.word[6] != s.last_counters[port_no].word[6]) s.last_counters[port_no] = raw;

  if (s.jumbo != jumbo_before) {
    for (uint32_t p = 1; p <= kSwcPorts; ++p) {
      if (p == port_no || s.unmapped[p]) continue;
      rc = swc_ll_port_flowcontrol_set(p);
      if (rc < 0) return rc;
    }
  }
  return kSwcRcOk;
}

swc_rc swc_port_status_get(uint32_t port_no, SwcPortStatus *status) {
  status->link_down_event = status->link = status->speed = status->full_duplex = 0;
  SWC_HL_TRACE(trace::kNoise, "port_no: %d", static_cast<int>(port_no));
  return swc_phy_status_get(port_no, status);
}

swc_rc swc_port_counters_update(uint32_t port_no) {
  SWC_HL_TRACE(trace::kNoise, "port_no: %d", static_cast<int>(port_no));
  if (!valid_port(__func__, port_no)) return kSwcRcIllegal;
  SwcRawCounters raw{};
  const swc_rc rc = swc_ll_port_counters_read(port_no, &raw);
  if (rc < 0) return rc;
  SwcApiState &s = *swc_state();
  const uint32_t poag = s.port_to_poag[port_no];
  for (uint32_t word : kKeptWords) {
    const uint64_t now = raw.word[word];
    const uint64_t before = s.last_counters[port_no].word[word];
    const uint64_t delta = now >= before ? now - before : now + (uint64_t{1} << width_of(word)) - before;
    s.last_counters[port_no].word[word] = raw.word[word];
    s.counters[port_no][word] += delta;
    if (poag > kSwcPorts && poag < kSwcPoagSlots) s.counters[poag][word] += delta;
  }
  return kSwcRcOk;
}

swc_rc swc_poag_counters_clear(uint32_t poag_no) {
  SWC_HL_TRACE(trace::kDebug, "poag_no: %d", static_cast<int>(poag_no));
  if (!valid_poag(__func__, poag_no)) return kSwcRcIllegal;
  uint32_t members;
  const swc_rc rc = update_poag_members(poag_no, &members);
  if (rc < 0) return rc;
  // An aggregation without member ports keeps its totals.
  if (members > 0) {
    for (auto &total : swc_state()->counters[poag_no]) total = 0;
  }
  return kSwcRcOk;
}

swc_rc swc_poag_counters_get(uint32_t poag_no, SwcPoagCounters *counters) {
  SWC_HL_TRACE(trace::kNoise, "poag_no: %d", static_cast<int>(poag_no));
  if (!valid_poag(__func__, poag_no)) return kSwcRcIllegal;
  uint32_t members;
  const swc_rc rc = update_poag_members(poag_no, &members);
  if (rc < 0) return rc;
  const uint64_t *w = swc_state()->counters[poag_no];
  uint64_t *f = counters->field;
  f[0] = w[2];
  f[1] = w[0];
  f[2] = w[3];
  f[3] = w[7];
  f[4] = w[1];
  f[5] = w[8];
  f[7] = w[0];
  f[8] = w[2];
  f[9] = w[6] > w[2] ? w[6] - w[2] : 0;
  f[10] = w[1];
  f[11] = w[7];
  f[12] = w[11];
  return kSwcRcOk;
}

namespace {
// Controller, address and register checks of the MIIM calls; `write_value` >= 0 selects the texts of
// the write, which name the whole request.
bool valid_miim(const char *function, uint32_t controller, uint32_t addr, uint32_t reg, int64_t write_value) {
  const char *what = controller > 1 ? "MII controller" : addr > 31 ? "addr" : reg > 31 ? "reg" : nullptr;
  if (!what) return true;
  if (write_value >= 0) {
    SWC_TRACE_AS(trace::kApiHl, trace::kError, function, "%s not valid (miim=%d addr=%d reg=%d value=0x%x)",
                 what, static_cast<int>(controller), static_cast<int>(addr), static_cast<int>(reg),
                 static_cast<unsigned>(write_value));
  } else {
    const uint32_t number = controller > 1 ? controller : addr > 31 ? addr : reg;
    SWC_TRACE_AS(trace::kApiHl, trace::kError, function, "%s %d not valid", what, static_cast<int>(number));
  }
  return false;
}
}  // namespace

swc_rc swc_miim_phy_read(uint32_t miim_controller, uint32_t phy_addr, uint32_t phy_reg, uint16_t *value) {
  if (!valid_miim(__func__, miim_controller, phy_addr, phy_reg, -1)) return kSwcRcIllegal;
  const int32_t result = swc_ll_miim_read(miim_controller, phy_addr, phy_reg);
  if (result < 0) return result;
  *value = static_cast<uint16_t>(result);
  return kSwcRcOk;
}

swc_rc swc_miim_phy_write(uint32_t miim_controller, uint32_t phy_addr, uint32_t phy_reg, uint32_t value) {
  if (!valid_miim(__func__, miim_controller, phy_addr, phy_reg, value)) return kSwcRcIllegal;
  return swc_ll_miim_write(miim_controller, phy_addr, phy_reg, value & 0xFFFF);
}

swc_rc swc_miim_phy_writemasked(uint32_t miim_controller, uint32_t phy_addr, uint32_t phy_reg, uint32_t value,
                                uint32_t mask) {
  if (!valid_miim(__func__, miim_controller, phy_addr, phy_reg, -1)) return kSwcRcIllegal;
  const int32_t old = swc_ll_miim_read(miim_controller, phy_addr, phy_reg);
  if (old < 0) return old;
  const uint32_t updated = (value & mask) | (static_cast<uint32_t>(old) & ~mask);
  return swc_ll_miim_write(miim_controller, phy_addr, phy_reg, updated & 0xFFFF);
}

swc_rc swc_phy_addr_read(uint32_t miim_controller, uint32_t phy_addr, uint32_t reg, uint16_t *value) {
  const swc_rc rc =
      swc_phy_map_port(0, static_cast<int32_t>(miim_controller & 15), static_cast<int32_t>(phy_addr));
  if (rc < 0) return rc;
  return swc_phy_read(0, reg, value);
}

swc_rc swc_phy_addr_writemasked(uint32_t miim_controller, uint32_t phy_addr, uint32_t reg, uint32_t value,
                                uint32_t mask) {
  const swc_rc rc =
      swc_phy_map_port(0, static_cast<int32_t>(miim_controller & 15), static_cast<int32_t>(phy_addr));
  if (rc < 0) return rc;
  return swc_phy_writemasked(0, reg, value, mask);
}
