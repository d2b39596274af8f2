// Port role selection: once per sweep, and again while some port asks for it, the bridge picks its root
// priority vector from its own and the received ones, and gives every port its role.
#include "rstp_internal.h"

#include <algorithm>

namespace rstp {

void Engine::role_selection(Bridge &b) {
  if (b.rolesel == kBegin) {
    RTRACE(trace::kNoise, "%s(vlan-%u): %s=>%s\n", "rolesel", b.vid, "Begin", "INIT_BRIDGE");
    for (unsigned n : b.ports)
      if (!ports_[n].admin_non_stp) ports_[n].selected_role = kRoleDisabled;
    b.rolesel = 0;
  }
  for (unsigned round = 0; round < kMaxRounds; ++round) {
    bool again = b.rolesel == 0 || std::any_of(b.ports.begin(), b.ports.end(), [&](unsigned n) {
                   return !ports_[n].boring() && ports_[n].reselect;
                 });
    if (!again) return;
    if (b.rolesel == 0)
      RTRACE(trace::kNoise, "%s(vlan-%u): %s=>%s\n", "rolesel", b.vid, "INIT_BRIDGE", "ROLE_SELECTION");
    b.rolesel = 1;
    if (update_roles(b)) return;
  }
}

// One pass of ROLE_SELECTION; false when some port asked for another one meanwhile.
bool Engine::update_roles(Bridge &b) {
  for (unsigned n : b.ports) ports_[n].reselect = false;
  update_root(b);
  for (unsigned n : b.ports) select_role(b, ports_[n]);
  unsigned pending = 0;
  for (unsigned n : b.ports)
    if (!ports_[n].boring() && ports_[n].reselect) pending = n;
  if (pending) {
    RTRACE(trace::kDebug, "setSelectedBridge: TRUE=reselect on port %u", pending);
    return false;
  }
  for (unsigned n : b.ports)
    if (!ports_[n].boring()) ports_[n].selected = true;
  return true;
}

// The best of the bridge's own vector and those received on its ports, each one costing the path to it.
void Engine::update_root(Bridge &b) {
  PriorityVector root{b.id, 0, b.id, 0, 0};
  bridge_configure(b);
  Times root_times = b.root_times;
  for (unsigned n : b.ports) {
    Port &p = ports_[n];
    if (p.boring() || p.info_is != kInfoReceived || p.port_priority.designated_bridge.mac == b.id.mac)
      continue;
    PriorityVector candidate = p.port_priority;
    candidate.root_path_cost += p.path_cost;
    candidate.bridge_port = p.port_id;
    if (compare(candidate, root) == Order::kBetter) {
      root = candidate;
      root_times = p.port_times;
      unsigned dm = std::max(1u, (unsigned(root_times.max_age) + 8) / 16);
      root_times.message_age = uint8_t(std::min(255u, root_times.message_age + dm));
      RTRACE(trace::kDebug, "updtRootPrio: dm=%u rootTimes.MessageAge=%u on port %u", dm,
             unsigned(root_times.message_age), n);
    }
  }
  uint16_t old_root_port = b.root_port_id;
  b.root_priority = root;
  b.root_times = root_times;
  b.root_port_id = root.bridge_port;
  if (old_root_port == b.root_port_id) return;
  if (b.root_port_id == 0)
    RTRACE(trace::kInfo, "This brige vlan-%u became root\n", b.vid);
  else
    RTRACE(trace::kInfo, "For brige vlan-%u new root port: %u\n", b.vid, b.root_port_id & 0xFFFu);
}

void Engine::select_role(Bridge &b, Port &p) {
  if (p.boring()) {
    if (p.admin_non_stp) {
      p.role = p.selected_role = kRoleNonStp;
      p.forward = p.learn = true;
    }
    return;
  }
  const PriorityVector &root = b.root_priority;
  p.designated_priority = PriorityVector{root.root, root.root_path_cost, b.id, p.port_id, p.port_id};
  p.designated_times = b.root_times;
  const char *why = "Dis";
  switch (p.info_is) {
    case kInfoMine:
      why = "Mine";
      p.selected_role = kRoleDesignated;
      if (!(p.port_priority == p.designated_priority) || !(p.port_times == p.designated_times))
        p.updt_info = true;
      break;
    case kInfoAged:
      why = "Age";
      p.selected_role = kRoleDesignated;
      p.updt_info = true;
      break;
    case kInfoReceived:
      why = "Rec";
      if (p.port_id == b.root_port_id && b.root_port_id != 0) {
        p.selected_role = kRoleRoot;
        p.updt_info = false;
      } else if (compare(p.designated_priority, p.port_priority) == Order::kBetter) {
        p.selected_role = kRoleDesignated;
        p.updt_info = true;
      } else {
        p.selected_role = p.port_priority.designated_bridge.mac == b.id.mac ? kRoleBackup : kRoleAlternate;
        p.updt_info = false;
      }
      break;
    case kInfoDisabled:
      p.selected_role = kRoleDisabled;
      break;
    default:
      RTRACE(trace::kError, "undef infoIs=%u", unsigned(p.info_is));
      break;
  }
  RTRACE(trace::kDebug, "%s(vlan-%u-%u) => %s", why, b.vid, p.number, role_name(p.selected_role));
}

}  // namespace rstp
