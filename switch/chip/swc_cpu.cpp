#include "swc_cpu.h"

#include "ar.h"
#include "swc_api.h"
#include "swc_ll.h"
#include "swc_qos_state.h"
#include "swc_trace.h"

namespace {

constexpr size_t kMacAddressLength = 6;

bool legal_queue(uint32_t queue_no) {
  return queue_no >= 1 && queue_no <= kSwcCpuQueues;
}

swc_rc reject_queue(const char *function, uint32_t queue_no) {
  SWC_TRACE_AS(trace::kApiHl, trace::kError, function, "illegal queue_no: %d", static_cast<int>(queue_no));
  return kSwcRcIllegal;
}

// The VLAN tag a frame in VLAN vid leaves port p with: none when the port is not VLAN aware, untags
// every VLAN (0x1000) or untags exactly this one.
uint32_t egress_tag(const SwcApiState &s, uint32_t p, uint32_t vid) {
  const SwcVlanPortMode &mode = s.vlan_port_mode[p];
  if (!mode.aware || mode.untagged_vid == 0x1000 || mode.untagged_vid == vid) return 0;
  return vid;
}

bool mirror_copy_due(const SwcApiState &s, bool sent_mirrored, bool monitor_sent) {
  const uint32_t monitor = s.mirror_monitor_port;
  return sent_mirrored && !monitor_sent && monitor >= 1 && monitor <= kSwcPorts &&
         swc_stp_forwarding(s.stp_state[monitor]);
}

// Whether a found destination (PGID) includes port p, directly or through p's aggregation.
bool destination_member(const SwcApiState &s, uint32_t pgid, uint32_t p) {
  const uint32_t *member = s.pgid[pgid].member;
  const uint32_t poag = s.port_to_poag[p];
  if (member[p] || (poag < kSwcPoagSlots && member[poag])) return true;
  for (uint32_t q = 1; q <= kSwcPorts; ++q) {
    if (s.port_to_poag[q] == poag && member[q]) return true;
  }
  return false;
}

// Looks the destination address up in the VLAN: true with the PGID when found, false to flood.
swc_rc destination_pgid(uint32_t vid, const uint8_t *frame, bool &found, uint32_t &pgid) {
  SwcMacEntry entry{};
  entry.vid_mac.vid = vid;
  for (size_t i = 0; i < kMacAddressLength; ++i) entry.vid_mac.mac[i] = frame[i];
  const swc_rc rc = swc_ll_mac_table_lookup(&entry, &pgid);
  found = rc == kSwcRcOk && pgid < kSwcPgids;
  return rc == kSwcRcNotFound ? kSwcRcOk : rc;
}

// Why port p does not get the frame, or nullptr when it does.
const char *skip_reason(const SwcApiState &s, uint32_t p, uint32_t poag_no, uint32_t vid, uint32_t vlan_flood,
                        bool pgid_found, uint32_t pgid) {
  if (!vlan_flood && s.port_to_poag[p] != poag_no) return "port_no: %d not member of poag_no: %d";
  if (vlan_flood && pgid_found && !destination_member(s, pgid, p))
    return "port_no: %d not a destination member";
  if (!s.vlan[vid].member[p]) return "port_no: %d not a VLAN member";
  if (!s.aggr_code1_selected[p]) return "port_no: %d fails aggregation/STP/operational state check";
  return nullptr;
}

}  // namespace

swc_rc swc_cpu_rx_registration_get(SwcCpuRxRegistration *registration) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  *registration = swc_state()->cpu_rx_registration;
  return kSwcRcOk;
}

swc_rc swc_cpu_rx_queue_map_set(const uint32_t *map) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  // A rejected entry fails the whole call: reporting success would hide a map the chip never got.
  swc_rc rc = kSwcRcOk;
  for (uint32_t i = 0; i < kSwcPortSlots; ++i) {
    if (legal_queue(map[i])) {
      SWC_HL_TRACE(trace::kDebug, "legal queue: %d, index: %d", static_cast<int>(map[i]),
                   static_cast<int>(i));
    } else {
      SWC_HL_TRACE(trace::kError, "illegal queue: %d, index: %d", static_cast<int>(map[i]),
                   static_cast<int>(i));
      rc = kSwcRcIllegal;
    }
  }
  if (rc < 0) return rc;
  return swc_ll_cpu_rx_queue_map_set(map);
}

swc_rc swc_cpu_rx_frameready_int_enable(uint32_t queue_no, uint32_t enable) {
  SWC_HL_TRACE(trace::kDebug, "queue_no: %d, enable: %d", static_cast<int>(queue_no),
               static_cast<int>(enable));
  if (!legal_queue(queue_no)) return reject_queue(__func__, queue_no);
  return swc_ll_cpu_rx_frameready_int_enable(queue_no, enable);
}

swc_rc swc_cpu_rx_frameready(uint32_t queue_no) {
  const swc_rc rc = swc_ll_cpu_rx_frameready(queue_no);
  SWC_HL_TRACE(trace::kNoise, "queue_no: %d rc: %d", static_cast<int>(queue_no), static_cast<int>(rc));
  return rc;
}

swc_rc swc_cpu_rx_frame(uint32_t queue_no, SwcCpuRxHeader *header, uint8_t *buffer, size_t length) {
  SWC_HL_TRACE(trace::kNoise, "queue_no: %d", static_cast<int>(queue_no));
  return swc_ll_cpu_rx_frame(queue_no, header, buffer, length);
}

swc_rc swc_cpu_rx_discard_frame(uint32_t queue_no) {
  SWC_HL_TRACE(trace::kNoise, "queue_no: %d", static_cast<int>(queue_no));
  return swc_ll_cpu_rx_discard_frame(queue_no);
}

swc_rc swc_cpu_tx_raw_frame(uint32_t poag_no, const uint8_t *frame, size_t length) {
  SWC_HL_TRACE(trace::kNoise, "length: %d", static_cast<int>(length));
  const SwcApiState &s = *swc_state();
  uint32_t port = 0;
  if (poag_no >= 1 && poag_no <= kSwcPorts) {
    if (s.stp_state[poag_no] == SWC_STP_STATE_DISABLED) {
      SWC_HL_TRACE(trace::kError, "port_no STP disabled: %d", static_cast<int>(poag_no));
      return kSwcRcNotNow;
    }
    port = poag_no;
  } else {
    for (uint32_t p = 1; p <= kSwcPorts && port == 0; ++p) {
      if (s.port_to_poag[p] == poag_no && swc_stp_forwarding(s.stp_state[p])) port = p;
    }
    if (port == 0) {
      SWC_HL_TRACE(trace::kError, "no ports up for poag_no: %d", static_cast<int>(poag_no));
      return kSwcRcNotNow;
    }
  }
  const uint32_t monitor = s.mirror_monitor_port;
  if (s.mirror_egress[port] && monitor != port && mirror_copy_due(s, true, false)) {
    const swc_rc rc = ar_cpu_tx_frame(monitor, frame, length, 0);
    if (rc < 0) return rc;
  }
  return ar_cpu_tx_frame(port, frame, length, 0);
}

swc_rc swc_cpu_tx_frame(uint32_t poag_no, uint32_t vid, const uint8_t *frame, size_t length,
                        uint32_t vlan_flood) {
  SWC_HL_TRACE(trace::kNoise, "poag_no: %d, vid: %d, length: %d, vlan_flood: %d", static_cast<int>(poag_no),
               static_cast<int>(vid), static_cast<int>(length), static_cast<int>(vlan_flood));
  // The VID indexes the VLAN table, and a flood looks the destination address up in the frame.
  if (vid >= kSwcVlans || !frame || length < kMacAddressLength) {
    SWC_HL_TRACE(trace::kError, "illegal vid: %d or length: %d", static_cast<int>(vid),
                 static_cast<int>(length));
    return kSwcRcIllegal;
  }
  const SwcApiState &s = *swc_state();
  bool pgid_found = false;
  uint32_t pgid = 0;
  if (vlan_flood) {
    const swc_rc rc = destination_pgid(vid, frame, pgid_found, pgid);
    if (rc < 0) return rc;
  }
  bool sent_mirrored = false;
  bool monitor_sent = false;
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (const char *reason = skip_reason(s, p, poag_no, vid, vlan_flood, pgid_found, pgid)) {
      SWC_HL_TRACE(trace::kNoise, reason, static_cast<int>(p), static_cast<int>(poag_no));
      continue;
    }
    SWC_HL_TRACE(trace::kNoise, "Tx on port_no: %d", static_cast<int>(p));
    const swc_rc rc = ar_cpu_tx_frame(p, frame, length, egress_tag(s, p, vid));
    if (rc < 0) return rc;
    sent_mirrored = sent_mirrored || s.mirror_egress[p];
    monitor_sent = monitor_sent || p == s.mirror_monitor_port;
  }
  if (!mirror_copy_due(s, sent_mirrored, monitor_sent)) return kSwcRcOk;
  const uint32_t monitor = s.mirror_monitor_port;
  return ar_cpu_tx_frame(monitor, frame, length, egress_tag(s, monitor, vid));
}

swc_rc swc_cpu_tx_port_frame(uint32_t poag_no, uint32_t vid, const uint8_t *frame, size_t length) {
  return swc_cpu_tx_frame(poag_no, vid, frame, length, 0);
}

swc_rc swc_cpu_tx_vlan_frame(uint32_t vid, const uint8_t *frame, size_t length) {
  return swc_cpu_tx_frame(0, vid, frame, length, 1);
}
