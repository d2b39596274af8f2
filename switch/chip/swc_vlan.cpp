// Reads of the VLAN, private VLAN and aggregation inputs kept in the API state.
#include <cstring>

#include "swc_api.h"
#include "swc_groups.h"
#include "swc_ll.h"
#include "swc_trace.h"

swc_rc swc_vlan_port_mode_get(uint32_t port_no, SwcVlanPortMode *mode) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d", static_cast<int>(port_no));
  if (port_no > kSwcPorts) {
    SWC_HL_TRACE(trace::kError, "illegal port_no: %d", static_cast<int>(port_no));
    return kSwcRcIllegal;
  }
  *mode = swc_state()->vlan_port_mode[port_no];
  return kSwcRcOk;
}

swc_rc swc_vlan_port_members_get(uint32_t vid, uint32_t *members) {
  SWC_HL_TRACE(trace::kDebug, "vid: %d", static_cast<int>(vid));
  if (vid >= kSwcVlans) {
    SWC_HL_TRACE(trace::kError, "illegal vid: %d", static_cast<int>(vid));
    return kSwcRcIllegal;
  }
  std::memcpy(members, swc_state()->vlan[vid].member, sizeof swc_state()->vlan[vid].member);
  return kSwcRcOk;
}

swc_rc swc_pvlan_port_members_get(uint32_t pvlan_no, uint32_t *members) {
  SWC_HL_TRACE(trace::kDebug, "pvlan_no: %d", static_cast<int>(pvlan_no));
  if (pvlan_no < 1 || pvlan_no > kSwcPorts) {
    SWC_HL_TRACE(trace::kError, "illegal pvlan_no: %d", static_cast<int>(pvlan_no));
    return kSwcRcIllegal;
  }
  std::memcpy(members, swc_state()->pvlan_member[pvlan_no], sizeof swc_state()->pvlan_member[pvlan_no]);
  return kSwcRcOk;
}

swc_rc swc_aggr_port_members_get(uint32_t poag_no, uint32_t *members) {
  SWC_HL_TRACE(trace::kDebug, "poag_no: %d", static_cast<int>(poag_no));
  if (poag_no < 1 || poag_no >= kSwcPoagSlots) {
    SWC_HL_TRACE(trace::kError, "illegal poag_no: %d", static_cast<int>(poag_no));
    return kSwcRcIllegal;
  }
  members[0] = 0;
  for (uint32_t p = 1; p <= kSwcPorts; ++p) members[p] = swc_state()->port_to_poag[p] == poag_no ? 1 : 0;
  return kSwcRcOk;
}

swc_rc swc_aggr_port_member_get(uint32_t port_no) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d", static_cast<int>(port_no));
  if (port_no < 1 || port_no > kSwcPorts) {
    SWC_HL_TRACE(trace::kError, "illegal port_no: %d", static_cast<int>(port_no));
    return kSwcRcIllegal;
  }
  return static_cast<swc_rc>(swc_state()->port_to_poag[port_no]);
}

swc_rc swc_aggr_mode_set(const uint32_t *mode) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  return swc_ll_aggr_mode_set(mode);
}
