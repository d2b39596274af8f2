// Bridge detection: a port configured as an edge port becomes an operational edge port when no BPDU
// arrives within the edge delay after its link came up; a BPDU keeps it (or makes it) a bridge port.
#include "rstp_internal.h"

namespace rstp {

uint8_t Engine::edge_next(const Port &p) {
  switch (p.state[kEdge]) {
    case kBegin:
      return kEdgeDisabled;
    case kEdgeDisabled:
      return p.link ? uint8_t(kEdgeDetected) : kBegin;
    case kEdgeDetected:
      return kEdgeDelayed;
    case kEdgeDelayed:
      if (!p.link) return kEdgeDisabled;
      if (p.bpdu_seen) {
        RTRACE(trace::kDebug, "port %u 'edge' resolved by BPDU\n", p.number);
        return kEdgeResolved;
      }
      if (p.edge_delay == 0) {
        RTRACE(trace::kDebug, "port %u 'edge' resolved by timer\n", p.number);
        return kEdgeResolved;
      }
      return kBegin;
    case kEdgeResolved:
      return p.link ? kBegin : uint8_t(kEdgeDisabled);
    default:
      return kBegin;
  }
}

void Engine::edge_enter(Port &p) {
  switch (p.state[kEdge]) {
    case kEdgeDisabled:
      p.oper_edge = p.config.admin_edge;
      p.bpdu_seen = false;
      p.edge_delay = 0;
      p.port_enabled = false;
      break;
    case kEdgeDetected:
      p.port_enabled = true;
      p.edge_delay = kEdgeDelay;
      p.oper_edge = false;
      break;
    case kEdgeResolved:
      if (!p.bpdu_seen) p.oper_edge = p.config.admin_edge;
      break;
  }
}

}  // namespace rstp
