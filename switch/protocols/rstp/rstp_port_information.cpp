// Port information: which priority vector and times a port holds (its own, received, aged out or none),
// and what a received message means to it.
#include "rstp_internal.h"

#include <algorithm>

namespace rstp {

uint8_t Engine::info_next(const Port &p) const {
  const uint8_t s = p.state[kInfo];
  if (s == kBegin || (!p.port_enabled && p.info_is != kInfoDisabled && s != kInfoDisabledSt))
    return kInfoDisabledSt;
  switch (s) {
    case kInfoDisabledSt:
      if (p.updt_info) return kInfoDisabledSt;
      if (p.port_enabled && p.selected) return kInfoEnabled;
      return p.rcvd_msg ? uint8_t(kInfoDisabledSt) : kBegin;
    case kInfoEnabled:
      return kInfoAgedSt;
    case kInfoAgedSt:
      return p.selected && p.updt_info ? uint8_t(kInfoUpdate) : kBegin;
    case kInfoUpdate:
    case kInfoSuperior:
    case kInfoRepeat:
    case kInfoAgreement:
      return kInfoCurrent;
    case kInfoCurrent:
      return info_current_next(p);
    case kInfoReceive:
      return classify(p);
    default:
      return kBegin;
  }
}

uint8_t Engine::info_current_next(const Port &p) const {
  if (p.selected && p.updt_info) return kInfoUpdate;
  if (p.info_is == kInfoReceived && p.rcvd_info_while == 0 && !p.updt_info && !p.rcvd_msg) return kInfoAgedSt;
  if (p.rcvd_msg && !p.updt_info) return kInfoReceive;
  return kBegin;
}

void Engine::info_enter(Port &p) {
  switch (p.state[kInfo]) {
    case kInfoDisabledSt:
      p.rcvd_msg = p.rcvd_rstp = p.rcvd_stp = p.updt_info = p.proposing = p.agreed = p.proposed = false;
      p.rcvd_info_while = 0;
      p.info_is = kInfoDisabled;
      p.reselect = true;
      p.selected = false;
      break;
    case kInfoEnabled:
      p.port_priority = p.designated_priority;
      p.port_times = p.designated_times;
      break;
    case kInfoAgedSt:
      p.info_is = kInfoAged;
      p.reselect = true;
      p.selected = false;
      break;
    case kInfoUpdate:
      p.port_priority = p.designated_priority;
      p.port_times = p.designated_times;
      p.updt_info = p.agreed = p.synced = p.proposed = p.proposing = false;
      p.info_is = kInfoMine;
      p.new_info = true;
      break;
    case kInfoReceive:
      info_receive(p);
      break;
    case kInfoSuperior:
      info_superior(p);
      break;
    case kInfoRepeat:
      record_proposed(p);
      update_rcvd_info_while(p);
      break;
    case kInfoAgreement:
      p.agreed = true;
      p.proposing = false;
      break;
  }
}

void Engine::info_receive(Port &p) {
  if (p.msg_type == kBpduTcn || p.msg_version < 2)
    p.rcvd_stp = true;
  else
    p.rcvd_rstp = true;
  if (p.msg_type != kBpduTcn) {
    p.rcvd_tc = p.rcvd_tc || (p.msg_flags & kFlagTc);
    p.rcvd_tc_ack = p.rcvd_tc_ack || (p.msg_type == kBpduConfig && (p.msg_flags & kFlagTcAck));
  } else {
    p.rcvd_tcn = true;
  }
  p.rcvd_msg = false;
}

void Engine::info_superior(Port &p) {
  p.port_priority = p.msg_priority;
  p.port_times = p.msg_times;
  update_rcvd_info_while(p);
  p.agreed = p.synced = p.proposing = false;
  record_proposed(p);
  p.info_is = kInfoReceived;
  p.reselect = true;
  p.selected = false;
}

uint8_t Engine::classify(const Port &p) const {
  if (p.msg_type == kBpduTcn) return kInfoCurrent;
  uint8_t role = p.msg_type == kBpduRst ? (p.msg_flags >> kFlagRoleShift) & 3 : kBpduRoleUnknown;
  if (p.msg_type == kBpduConfig || role == kBpduRoleDesignated) {
    Order o = compare(p.msg_priority, p.port_priority);
    // Information from the port's own designated bridge and port replaces what it sent before, even
    // when worse: that is how a neighbour withdraws a root that has gone.
    bool same_designated = p.msg_priority.designated_bridge == p.port_priority.designated_bridge &&
                           p.msg_priority.designated_port == p.port_priority.designated_port;
    if (o == Order::kBetter || (same_designated && (o != Order::kEqual || !(p.msg_times == p.port_times))))
      return kInfoSuperior;
    if (o == Order::kEqual && p.msg_times == p.port_times) return kInfoRepeat;
  }
  if (p.msg_type == kBpduRst && role != kBpduRoleDesignated && p.oper_p2p && (p.msg_flags & kFlagAgreement) &&
      p.msg_priority.designated_bridge == p.port_priority.designated_bridge)
    return kInfoAgreement;
  return kInfoCurrent;
}

void Engine::record_proposed(Port &p) {
  uint8_t role = p.msg_type == kBpduRst ? (p.msg_flags >> kFlagRoleShift) & 3 : kBpduRoleUnknown;
  p.proposed =
      p.msg_type == kBpduRst && role == kBpduRoleDesignated && (p.msg_flags & kFlagProposal) && p.oper_p2p;
}

void Engine::update_rcvd_info_while(Port &p) {
  const Times &t = p.port_times;
  unsigned increment = std::max(1u, unsigned(t.max_age) / 16);
  if (t.message_age + increment <= t.max_age)
    p.rcvd_info_while = uint8_t(std::min<unsigned>(3u * t.hello_time, t.max_age - t.message_age - increment));
  else
    p.rcvd_info_while = 0;
}

}  // namespace rstp
