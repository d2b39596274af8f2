// Port role transitions: a port takes the role role selection chose for it, blocking, learning and
// forwarding as the handshake with its neighbour (proposal, agreement, sync, re-root) allows.
#include "rstp_internal.h"

namespace rstp {

uint8_t Engine::roletrns_next(const Port &p) const {
  const uint8_t s = p.state[kRoleTrns];
  if (s == kBegin) return kInitPort;
  const bool ready = p.selected && !p.updt_info;
  if (p.role != p.selected_role && ready) {
    switch (p.selected_role) {
      case kRoleDisabled:
      case kRoleAlternate:
      case kRoleBackup:
        return kBlockPort;
      case kRoleRoot:
        return kRootPort;
      case kRoleDesignated:
        return kDesignatedPort;
      default:
        break;
    }
  }
  switch (s) {
    case kInitPort:
      return kBlockPort;
    case kBackupPort:
      return kBlockedPort;
    case kRootProposed:
    case kRootAgreed:
    case kReroot:
    case kRerooted:
    case kRootLearn:
    case kRootForward:
      return kRootPort;
    case kDesignatedPropose:
    case kDesignatedSynced:
    case kDesignatedRetired:
    case kDesignatedListen:
    case kDesignatedLearn:
    case kDesignatedForward:
      return kDesignatedPort;
    default:
      return ready ? roletrns_settled_next(p) : kBegin;
  }
}

// The states a port rests in; they move on only while its role is selected and its information current.
uint8_t Engine::roletrns_settled_next(const Port &p) const {
  switch (p.state[kRoleTrns]) {
    case kBlockPort:
      return !p.learning && !p.forwarding ? uint8_t(kBlockedPort) : kBegin;
    case kBlockedPort:
      return blocked_port_next(p);
    case kRootPort:
      return root_port_next(p);
    case kDesignatedPort:
      return designated_port_next(p);
    default:
      return kBegin;
  }
}

uint8_t Engine::blocked_port_next(const Port &p) const {
  const Times &t = times_of(p);
  if (p.fd_while != t.forward_delay || p.sync || p.re_root || !p.synced) return kBlockedPort;
  if (p.rb_while != 2 * t.hello_time && p.role == kRoleBackup) return kBackupPort;
  return kBegin;
}

uint8_t Engine::root_port_next(const Port &p) const {
  if (!p.forward && !p.re_root) return kReroot;
  if (all_synced(p) && (p.proposed || !p.synced)) return kRootAgreed;
  if (p.proposed && !p.synced) return kRootProposed;
  if (p.fd_while == 0 || (re_rooted(p) && p.rb_while == 0 && force_version() >= 2)) {
    if (p.learn && !p.forward) return kRootForward;
    if (!p.learn) return kRootLearn;
  }
  if (p.re_root && p.forward) return kRerooted;
  if (p.rr_while != times_of(p).forward_delay) return kRootPort;
  return kBegin;
}

uint8_t Engine::designated_port_next(const Port &p) const {
  if (!p.forward && !p.agreed && !p.proposing && !p.oper_edge) return kDesignatedPropose;
  if (p.rr_while == 0 && p.re_root) return kDesignatedRetired;
  if ((!p.learning && !p.forwarding && !p.synced) || ((p.agreed || p.oper_edge) && !p.synced) ||
      (p.sync && p.synced))
    return kDesignatedSynced;
  if ((p.fd_while == 0 || p.agreed || p.oper_edge) && !(p.rr_while != 0 && p.re_root) && !p.sync) {
    if (p.learn && !p.forward) return kDesignatedForward;
    if (!p.learn) return kDesignatedLearn;
  }
  if (((p.sync && !p.synced) || (p.re_root && p.rr_while != 0)) && !p.oper_edge && (p.learn || p.forward))
    return kDesignatedListen;
  return kBegin;
}

// The states come in three groups, blocking, root and designated, in that order.
static_assert(kInitPort < kBlockPort && kBlockPort < kBlockedPort && kBlockedPort < kBackupPort);
static_assert(kBackupPort < kRootProposed && kRootForward < kDesignatedPropose);

void Engine::roletrns_enter(Port &p) {
  const uint8_t s = p.state[kRoleTrns];
  if (s <= kBackupPort)
    enter_blocking_state(p);
  else if (s <= kRootForward)
    enter_root_state(p);
  else
    enter_designated_state(p);
}

void Engine::enter_blocking_state(Port &p) {
  const Times &t = times_of(p);
  switch (p.state[kRoleTrns]) {
    case kInitPort:
      p.role = p.selected_role = kRoleDisabled;
      p.reselect = true;
      p.synced = false;
      p.sync = p.re_root = true;
      p.rr_while = p.fd_while = t.forward_delay;
      p.rb_while = 0;
      break;
    case kBlockPort:
      p.role = p.selected_role;
      p.learn = p.forward = false;
      break;
    case kBlockedPort:
      p.fd_while = t.forward_delay;
      p.synced = true;
      p.rr_while = 0;
      p.sync = p.re_root = false;
      break;
    case kBackupPort:
      p.rb_while = uint8_t(2 * t.hello_time);
      break;
  }
}

void Engine::enter_root_state(Port &p) {
  const Times &t = times_of(p);
  switch (p.state[kRoleTrns]) {
    case kRootProposed:
      set_on_others(p, &Port::sync, true);
      p.proposed = false;
      break;
    case kRootAgreed:
      p.proposed = p.sync = false;
      p.synced = p.new_info = true;
      break;
    case kReroot:
      set_on_others(p, &Port::re_root, true);
      break;
    case kRootPort:
      p.role = kRoleRoot;
      p.rr_while = t.forward_delay;
      break;
    case kRerooted:
      p.re_root = false;
      break;
    case kRootLearn:
      p.fd_while = t.forward_delay;
      p.learn = true;
      break;
    case kRootForward:
      p.fd_while = 0;
      p.forward = true;
      break;
  }
}

void Engine::enter_designated_state(Port &p) {
  const Times &t = times_of(p);
  switch (p.state[kRoleTrns]) {
    case kDesignatedPropose:
      p.proposing = p.new_info = true;
      break;
    case kDesignatedSynced:
      p.rr_while = 0;
      p.synced = true;
      p.sync = false;
      break;
    case kDesignatedRetired:
      p.re_root = false;
      break;
    case kDesignatedPort:
      p.role = kRoleDesignated;
      break;
    case kDesignatedListen:
      p.learn = p.forward = false;
      p.fd_while = t.forward_delay;
      break;
    case kDesignatedLearn:
      p.learn = true;
      p.fd_while = t.forward_delay;
      break;
    case kDesignatedForward:
      p.forward = true;
      p.fd_while = 0;
      break;
  }
}

}  // namespace rstp
