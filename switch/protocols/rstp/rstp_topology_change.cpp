// Topology change: a non-edge port that starts forwarding, or a topology change heard from a neighbour,
// flushes the addresses learnt on the bridge's other ports and is passed on to them.
#include "rstp_internal.h"

namespace rstp {

uint8_t Engine::topoch_next(const Port &p) const {
  const uint8_t s = p.state[kTopoCh];
  if (s == kBegin) return kTcInit;
  bool active_role = p.role == kRoleRoot || p.role == kRoleDesignated;
  switch (s) {
    case kTcInit:
      return kTcInactive;
    case kTcInactive:
      if (active_role) return kTcActive;
      return p.rcvd_tc || p.rcvd_tcn || p.rcvd_tc_ack || p.tc || p.tc_prop ? uint8_t(kTcInactive) : kBegin;
    case kTcActive:
      if (!active_role) return kTcInit;
      if (p.tc) return kTcDetected;
      if (p.rcvd_tcn) return kTcNotifiedTcn;
      if (p.rcvd_tc) return kTcNotifiedTc;
      if (p.tc_prop && !p.oper_edge) return kTcPropagating;
      if (p.rcvd_tc_ack) return kTcAcknowledged;
      return kBegin;
    case kTcNotifiedTcn:
      return kTcNotifiedTc;
    default:
      return kTcActive;
  }
}

void Engine::topoch_enter(Port &p) {
  switch (p.state[kTopoCh]) {
    case kTcInit:
      p.tc_while = 0;
      p.tc = p.tc_prop = p.tc_ack = false;
      break;
    case kTcInactive:
      p.rcvd_tc = p.rcvd_tcn = p.rcvd_tc_ack = p.tc = p.tc_prop = false;
      break;
    case kTcDetected:
      p.tc_while = new_tc_while(p);
      propagate_tc(p, 2);
      p.tc = false;
      break;
    case kTcNotifiedTc:
      p.rcvd_tcn = p.rcvd_tc = false;
      if (p.role == kRoleDesignated) p.tc_ack = true;
      propagate_tc(p, 3);
      break;
    case kTcPropagating:
      p.tc_while = new_tc_while(p);
      p.tc_prop = false;
      break;
    case kTcAcknowledged:
      p.tc_while = 0;
      p.rcvd_tc_ack = false;
      break;
    case kTcNotifiedTcn:
      p.tc_while = new_tc_while(p);
      break;
  }
}

uint8_t Engine::new_tc_while(const Port &p) const {
  const Times &t = times_of(p);
  return p.send_rstp && p.oper_p2p ? uint8_t(2 * t.hello_time) : t.max_age;
}

void Engine::propagate_tc(Port &self, unsigned reason) {
  set_on_others(self, &Port::tc_prop, false);
  flush(self.number, bridges_[self.bridge].vid, 0, reason);
}

}  // namespace rstp
