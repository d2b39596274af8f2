// Setters of the forwarding inputs that the chip's masks are computed from: private VLANs, the
// port-to-aggregation map and mirroring. Each stores its input and has the masks recomputed.
#include "swc_api.h"
#include "swc_groups.h"
#include "swc_ll.h"
#include "swc_masks.h"
#include "swc_trace.h"

namespace {

bool legal_port(uint32_t port_no) {
  if (port_no >= 1 && port_no <= kSwcPorts) return true;
  SWC_HL_TRACE(trace::kError, "illegal port_no: %d", static_cast<int>(port_no));
  return false;
}

bool legal_poag(uint32_t poag_no) {
  if (poag_no >= 1 && poag_no < kSwcPoagSlots) return true;
  SWC_HL_TRACE(trace::kError, "illegal poag_no: %d", static_cast<int>(poag_no));
  return false;
}

// The VLAN entries carry the monitor port for egress-mirrored members, so each in-use one is written
// again after a mirror change.
swc_rc rewrite_vlans(const SwcApiState &s) {
  for (uint32_t vid = 1; vid < kSwcVlans; ++vid) {
    if (!s.vlan[vid].in_use) continue;
    const swc_rc rc = swc_ll_vlan_port_members_set(vid, s.vlan[vid].member);
    if (rc < 0) return rc;
  }
  return kSwcRcOk;
}

}  // namespace

swc_rc swc_pvlan_port_members_set(uint32_t pvlan_no, const uint32_t *members) {
  SWC_HL_TRACE(trace::kDebug, "pvlan_no: %d", static_cast<int>(pvlan_no));
  if (pvlan_no < 1 || pvlan_no > kSwcPorts) {
    SWC_HL_TRACE(trace::kError, "illegal pvlan_no: %d", static_cast<int>(pvlan_no));
    return kSwcRcIllegal;
  }
  SwcApiState &s = *swc_state();
  for (uint32_t p = 0; p < kSwcPortSlots; ++p) s.pvlan_member[pvlan_no][p] = p == 0 ? 0 : members[p] != 0;
  return swc_update_masks(1, 0, 0);
}

swc_rc swc_aggr_port_members_set(uint32_t poag_no, const uint32_t *members) {
  SWC_HL_TRACE(trace::kDebug, "poag_no: %d", static_cast<int>(poag_no));
  if (!legal_poag(poag_no)) return kSwcRcIllegal;
  if (poag_no <= kSwcPorts) {
    // A port is an aggregation of itself alone.
    if (!members[poag_no]) {
      SWC_HL_TRACE(trace::kError, "poag_no: %d is port, but not enabled in member set",
                   static_cast<int>(poag_no));
      return kSwcRcAggrInconsistent;
    }
    for (uint32_t p = 1; p <= kSwcPorts; ++p) {
      if (p != poag_no && members[p]) {
        SWC_HL_TRACE(trace::kError, "poag_no: %d is port, but port_no: %d is enabled in member set",
                     static_cast<int>(poag_no), static_cast<int>(p));
        return kSwcRcAggrInconsistent;
      }
    }
  }
  SwcApiState &s = *swc_state();
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (members[p]) {
      s.port_to_poag[p] = poag_no;
    } else if (s.port_to_poag[p] == poag_no) {
      s.port_to_poag[p] = p;
    }
  }
  return swc_update_masks(1, 1, 1);
}

swc_rc swc_aggr_port_member_set(uint32_t port_no, uint32_t poag_no) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d, poag_no: %d", static_cast<int>(port_no),
               static_cast<int>(poag_no));
  if (!legal_port(port_no) || !legal_poag(poag_no)) return kSwcRcIllegal;
  if (poag_no <= kSwcPorts && poag_no != port_no) {
    SWC_HL_TRACE(trace::kError, "port_no: %d is port and poag_no: %d is different", static_cast<int>(port_no),
                 static_cast<int>(poag_no));
    return kSwcRcIllegal;
  }
  SwcApiState &s = *swc_state();
  if (s.port_to_poag[port_no] == poag_no) return kSwcRcOk;
  s.port_to_poag[port_no] = poag_no;
  return swc_update_masks(1, 1, 1);
}

swc_rc swc_mirror_monitor_port_set(uint32_t port_no) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d", static_cast<int>(port_no));
  if (!legal_port(port_no)) return kSwcRcIllegal;
  SwcApiState &s = *swc_state();
  s.mirror_monitor_port = port_no;
  swc_rc rc = rewrite_vlans(s);
  if (rc < 0) return rc;
  rc = swc_update_masks(1, 1, 0);
  if (rc < 0) return rc;
  return swc_ll_mirror_monitor_port_set(port_no);
}

swc_rc swc_mirror_ingress_ports_set(const uint32_t *ports) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  SwcApiState &s = *swc_state();
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    const uint32_t enable = ports[p] != 0;
    const swc_rc rc = swc_ll_mirror_ingress_port_set(p, enable);
    if (rc < 0) return rc;
    s.mirror_ingress[p] = enable;
  }
  const swc_rc rc = rewrite_vlans(s);
  if (rc < 0) return rc;
  return swc_update_masks(1, 1, 0);
}

swc_rc swc_mirror_egress_ports_set(const uint32_t *ports) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  SwcApiState &s = *swc_state();
  // The chip copies egress frames of one port only; a port mirrored both ways is copied on ingress.
  uint32_t egress_only = 0;
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (ports[p] && !s.mirror_ingress[p]) ++egress_only;
  }
  if (egress_only > 1) {
    SWC_HL_TRACE(trace::kError, "egress mirroring enabled on %d ports, maximum 1 allowed",
                 static_cast<int>(egress_only));
    return kSwcRcIllegal;
  }
  for (uint32_t p = 1; p <= kSwcPorts; ++p) s.mirror_egress[p] = ports[p] != 0;
  const swc_rc rc = rewrite_vlans(s);
  if (rc < 0) return rc;
  return swc_update_masks(1, 1, 0);
}
