// The chip's forwarding masks, recomputed from the inputs kept in the API state whenever one changes.
#include "swc_api.h"
#include "swc_ll.h"
#include "swc_masks.h"
#include "swc_qos_state.h"
#include "swc_trace.h"

namespace {

constexpr uint32_t kAggregationCodes = 16;

// Where frames from port p may go: the members of p's private VLANs, when p forwards and is
// authorised both ways; never p's own poag or an unmapped port.
void source_mask(const SwcApiState &s, uint32_t p, uint32_t *mask) {
  for (uint32_t q = 0; q < kSwcPortSlots; ++q) mask[q] = 0;
  if (!swc_stp_forwarding(s.stp_state[p]) || s.auth_state[p] != SWC_AUTH_STATE_BOTH) return;
  for (uint32_t pvlan = 1; pvlan <= kSwcPorts; ++pvlan) {
    if (!s.pvlan_member[pvlan][p]) continue;
    for (uint32_t q = 1; q <= kSwcPorts; ++q) mask[q] |= s.pvlan_member[pvlan][q];
  }
  for (uint32_t q = 1; q <= kSwcPorts; ++q) {
    if (s.unmapped[q] || s.port_to_poag[q] == s.port_to_poag[p]) mask[q] = 0;
  }
}

swc_rc write_source_masks(const SwcApiState &s) {
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (s.unmapped[p]) continue;
    uint32_t mask[kSwcPortSlots];
    source_mask(s, p, mask);
    const swc_rc rc = swc_ll_src_table_write(p, mask);
    if (rc < 0) return rc;
  }
  return kSwcRcOk;
}

swc_rc write_destination_masks(const SwcApiState &s) {
  for (uint32_t pgid = 1; pgid < kSwcPgids; ++pgid) {
    if (s.pgid[pgid].references == 0) continue;
    const swc_rc rc = swc_pgid_table_write(pgid);
    if (rc < 0) return rc;
  }
  return kSwcRcOk;
}

// Each aggregation's active members take the sixteen codes in turn by rank; a lone port takes all.
swc_rc write_aggregation_masks(SwcApiState &s) {
  uint32_t count[kSwcPortSlots] = {};
  uint32_t rank[kSwcPortSlots] = {};
  auto active = [&s](uint32_t p) {
    return swc_stp_forwarding(s.stp_state[p]) && s.auth_state[p] != SWC_AUTH_STATE_NONE;
  };
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (!active(p)) continue;
    for (uint32_t q = 1; q <= kSwcPorts; ++q) {
      if (!active(q) || s.port_to_poag[q] != s.port_to_poag[p]) continue;
      ++count[p];
      if (q < p) ++rank[p];
    }
  }
  SwcPortFlags masks[kAggregationCodes] = {};
  for (uint32_t code = 1; code <= kAggregationCodes; ++code) {
    uint32_t *mask = masks[code - 1];
    for (uint32_t p = 1; p <= kSwcPorts; ++p) {
      mask[p] = count[p] > 0 && (rank[p] + code - 1) % count[p] == 0 ? 1 : 0;
      if (code == 1) s.aggr_code1_selected[p] = mask[p];
    }
  }
  return swc_ll_aggr_tables_write(masks);
}

}  // namespace

swc_rc swc_update_masks(uint32_t src_update, uint32_t dest_update, uint32_t aggr_update) {
  SWC_HL_TRACE(trace::kDebug, "src_update: %d, dest_update: %d, aggr_update: %d",
               static_cast<int>(src_update), static_cast<int>(dest_update), static_cast<int>(aggr_update));
  SwcApiState &s = *swc_state();
  if (src_update) {
    const swc_rc rc = write_source_masks(s);
    if (rc < 0) return rc;
  }
  if (dest_update) {
    const swc_rc rc = write_destination_masks(s);
    if (rc < 0) return rc;
  }
  if (aggr_update) return write_aggregation_masks(s);
  return kSwcRcOk;
}
