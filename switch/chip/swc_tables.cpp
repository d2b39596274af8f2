// API calls that keep the VLAN, PGID and CPU capture inputs in the state and pass them to the chip.
#include "swc_api.h"
#include "swc_ll.h"
#include "swc_trace.h"

swc_rc swc_vlan_port_mode_set(uint32_t port_no, const SwcVlanPortMode *mode) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d", static_cast<int>(port_no));
  if (port_no < 1 || port_no > kSwcPorts) {
    SWC_HL_TRACE(trace::kError, "illegal port_no: %d", static_cast<int>(port_no));
    return kSwcRcIllegal;
  }
  swc_state()->vlan_port_mode[port_no] = *mode;
  return swc_ll_vlan_port_mode_set(port_no, mode);
}

swc_rc swc_vlan_port_members_set(uint32_t vid, const uint32_t *members) {
  SWC_HL_TRACE(trace::kDebug, "vid: %d", static_cast<int>(vid));
  if (vid >= kSwcVlans) {
    SWC_HL_TRACE(trace::kError, "illegal vid: %d", static_cast<int>(vid));
    return kSwcRcIllegal;
  }
  const swc_rc rc = swc_ll_vlan_port_members_set(vid, members);
  if (rc < 0) return rc;
  SwcVlanEntry &entry = swc_state()->vlan[vid];
  for (uint32_t p = 0; p < kSwcPortSlots; ++p) entry.member[p] = members[p];
  entry.in_use = 1;
  return kSwcRcOk;
}

swc_rc swc_pgid_table_write(uint32_t pgid_no) {
  SWC_HL_TRACE(trace::kDebug, "pgid_no: %d", static_cast<int>(pgid_no));
  if (pgid_no >= kSwcPgids) {
    SWC_HL_TRACE(trace::kError, "illegal pgid_no: %d", static_cast<int>(pgid_no));
    return kSwcRcIllegal;
  }
  const SwcApiState &s = *swc_state();
  if (pgid_no >= 1 && pgid_no <= kSwcPorts && s.unmapped[pgid_no]) {
    SWC_HL_TRACE(trace::kDebug, "Skipping unmapped pgid_no: %d", static_cast<int>(pgid_no));
    return kSwcRcOk;
  }
  const uint32_t *member = s.pgid[pgid_no].member;
  uint32_t dest[kSwcPortSlots] = {};
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (s.unmapped[p]) continue;
    const uint32_t poag = s.port_to_poag[p] < kSwcPoagSlots ? s.port_to_poag[p] : p;
    dest[p] = member[p] || member[poag] ? 1 : 0;
    if (poag != p) {
      for (uint32_t q = 1; q <= kSwcPorts; ++q) {
        if (s.port_to_poag[q] == poag && member[q]) dest[p] = 1;
      }
    }
  }
  return swc_ll_pgid_table_write(pgid_no, dest);
}

swc_rc swc_cpu_rx_registration_set(const SwcCpuRxRegistration *registration) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  swc_state()->cpu_rx_registration = *registration;
  return swc_ll_cpu_rx_registration_set(registration);
}
