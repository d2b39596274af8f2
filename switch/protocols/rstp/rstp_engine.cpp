#include "rstp_internal.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace rstp {
namespace {

const char *const kMachineNames[kMachines + 1] = {"transmit", "sttrans", "roletrns", "info",   "pcost",
                                                  "edge",     "p2p",     "migrate",  "topoch", "rolesel"};
const char *const kInfoNames[] = {"DISABLED", "ENABLED",  "AGED",   "UPDATE",   "CURRENT",
                                  "RECEIVE",  "SUPERIOR", "REPEAT", "AGREEMENT"};
const char *const kRoleTrnsNames[] = {
    "INIT_PORT",         "BLOCK_PORT",         "BLOCKED_PORT",    "BACKUP_PORT",
    "ROOT_PROPOSED",     "ROOT_AGREED",        "REROOT",          "ROOT_PORT",
    "REROOTED",          "ROOT_LEARN",         "ROOT_FORWARD",    "DESIGNATED_PROPOSE",
    "DESIGNATED_SYNCED", "DESIGNATED_RETIRED", "DESIGNATED_PORT", "DESIGNATED_LISTEN",
    "DESIGNATED_LEARN",  "DESIGNATED_FORWARD"};
const char *const kStTransNames[] = {"DISCARDING", "LEARNING", "FORWARDING"};
const char *const kTopoChNames[] = {"INIT",        "INACTIVE",    "TCACTIVE",     "DETECTED",
                                    "NOTIFIED_TC", "PROPAGATING", "ACKNOWLEDGED", "NOTIFIED_TCN"};
const char *const kMigrateNames[] = {"INIT", "SEND_RSTP", "SENDING_RSTP", "SEND_STP", "SENDING_STP"};
const char *const kTransmitNames[] = {"TRANSMIT_INIT", "TRANSMIT_PERIODIC", "IDLE",
                                      "TRANSMIT_TCN",  "TRANSMIT_CONFIG",   "TRANSMIT_RSTP"};
const char *const kP2pNames[] = {"INIT", "RECOMPUTE", "STABLE"};
const char *const kEdgeNames[] = {"DISABLED", "DETECTED", "DELEAYED", "RESOLVED"};
const char *const kPCostNames[] = {"AUTO", "FORSE", "STABLE"};
const char *const kRoleSelNames[] = {"INIT_BRIDGE", "ROLE_SELECTION"};
const char *const kRoleNames[] = {"Disabled", "Alternate", "Backup", "Root", "Designated", "NonStp"};
const char *const kStpStateNames[] = {"dis", "blk", "lrn", "fwd", "enb"};

template <size_t N>
const char *pick(const char *const (&names)[N], uint8_t state) {
  if (state == kBegin) return "Begin";
  return state < N ? names[state] : "Unknown";
}

}  // namespace

const char *machine_name(unsigned machine) {
  return machine <= kMachines ? kMachineNames[machine] : "?";
}

const char *state_name(unsigned machine, uint8_t s) {
  switch (machine) {
    case kTransmit:
      return pick(kTransmitNames, s);
    case kStTrans:
      return pick(kStTransNames, s);
    case kRoleTrns:
      return pick(kRoleTrnsNames, s);
    case kInfo:
      return pick(kInfoNames, s);
    case kPCost:
      return pick(kPCostNames, s);
    case kEdge:
      return pick(kEdgeNames, s);
    case kP2p:
      return pick(kP2pNames, s);
    case kMigrate:
      return pick(kMigrateNames, s);
    case kTopoCh:
      return pick(kTopoChNames, s);
    default:
      return pick(kRoleSelNames, s);
  }
}

const char *role_name(unsigned role) {
  return role <= kRoleNonStp ? kRoleNames[role] : "Unknown";
}

Engine::Engine(proto::PortServices &services) : services_(services) {}

void Engine::trace(unsigned level, const char *function, int line, const char *format, ...) {
  char text[trace::kTextSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  services_.trace(trace::kRstp, level, function, line, text);
}

// ---------------------------------------------------------------------------------------------------
// Instances and ports

void Engine::start() {
  if (!initialised_) {
    for (unsigned p = 1; p <= kLogicalPorts; ++p) {
      Port &port = ports_[p];
      port = Port{};
      port.number = p;
      port.active = p <= kFrontPorts;
      port.admin_non_stp = !port.active;
      port.state.fill(kBegin);
      port.role = port.selected_role = port.admin_non_stp ? kRoleNonStp : kRoleDisabled;
    }
    for (unsigned p = 1; p <= kFrontPorts; ++p) rep_[p] = tx_[p] = p;
    initialised_ = true;
  }
  for (unsigned p = 1; p <= kFrontPorts; ++p) {
    Port &port = ports_[p];
    port.mac = services_.port_mac(p);
    bool link = services_.link_state(p);
    services_.set_fwdstate(p, 1);
    set_stp_state(port, !port.config.enabled ? kStpEnabled : link ? kStpBlocking : kStpDisabled);
    port.link = false;
    new_port_state(p, link);
  }
  if (default_ < 0) {
    default_ = bridge_create(kDefaultVid);
    for (unsigned p = 1; p <= kLogicalPorts; ++p) move_port(p, default_);
    bridge_configure(bridges_[default_]);
    bridge_start(default_);
  }
}

int Engine::bridge_of_vid(unsigned vid) const {
  for (unsigned slot : active_)
    if (bridges_[slot].vid == vid) return int(slot);
  return -1;
}

int Engine::bridge_create(unsigned vid) {
  for (unsigned slot = 0; slot < kInstances; ++slot) {
    if (bridges_[slot].in_use) continue;
    bridges_[slot] = Bridge{};
    bridges_[slot].in_use = true;
    bridges_[slot].vid = vid;
    active_.insert(active_.begin(), slot);
    return int(slot);
  }
  return -1;
}

Port *Engine::first_port(const Bridge &b) {
  return b.ports.empty() ? nullptr : &ports_[b.ports.front()];
}

void Engine::bridge_configure(Bridge &b) {
  b.id.priority = uint16_t((config_.priority & 0xF000) | (b.vid & 0xFFF));
  if (Port *p = first_port(b)) b.id.mac = p->mac;
  b.root_times = clamp_times(Times{0, uint8_t(std::min<unsigned>(config_.max_age, 255)),
                                   uint8_t(std::min<unsigned>(config_.forward_delay, 255)),
                                   uint8_t(std::min<unsigned>(config_.hello_time, 255))});
}

int Engine::bridge_start(unsigned slot) {
  Bridge &b = bridges_[slot];
  if (b.ports.empty()) return 24;
  bridge_configure(b);
  for (unsigned other : active_)
    if (other != slot && bridges_[other].enabled && bridges_[other].id == b.id) {
      RTRACE(trace::kError, "Bridge id of vlan-%u already in use\n", b.vid);
      return 24;
    }
  b.root_priority = PriorityVector{b.id, 0, b.id, 0, 0};
  b.root_port_id = 0;
  for (unsigned n : b.ports) {
    Port &p = ports_[n];
    refresh_link(p);
    port_init_in_bridge(p, b);
  }
  flush(0, b.vid, 1, 1);
  b.rolesel = kBegin;
  for (unsigned n : b.ports) ports_[n].state.fill(kBegin);
  b.enabled = true;
  bridge_update();
  return 0;
}

void Engine::bridge_stop(unsigned slot) {
  bridges_[slot].enabled = false;
  if (current_bridge_ == int(slot)) {
    current_bridge_ = -1;
    current_port_ = 0;
  }
}

void Engine::port_init_in_bridge(Port &p, const Bridge &b) {
  p.port_id = uint16_t(p.config.priority << 8 | p.number);
  p.designated_priority = PriorityVector{b.id, 0, b.id, p.port_id, p.port_id};
  p.designated_times = b.root_times;
  p.port_priority = p.designated_priority;
  p.port_times = p.designated_times;
  port_reinit(p);
}

void Engine::refresh_link(Port &p) {
  if (p.number <= kFrontPorts) p.link = services_.link_state(p.number) && p.active;
}

void Engine::port_reinit(Port &p) {
  p.port_id = uint16_t(p.config.priority << 8 | p.number);
  p.admin_non_stp = !(p.active && p.config.enabled);
  uint8_t edge_delay = p.edge_delay;
  p.fd_while = p.hello_when = p.mdelay_while = p.rb_while = p.rcvd_info_while = p.rr_while = p.tc_while =
      p.tx_count = 0;
  p.edge_delay = edge_delay;
  p.msg_flags = 0;
  p.selected_role = p.admin_non_stp ? kRoleNonStp : kRoleDisabled;
  if (p.admin_non_stp) p.role = kRoleNonStp;
  p.send_rstp = true;
  if (p.active) p.speed = port_speed(p);
  p.p2p_recompute = true;
}

unsigned Engine::port_speed(const Port &p) {
  if (p.number <= kFrontPorts) return services_.link_speed(p.number);
  unsigned sum = 0;
  for (unsigned f = 1; f <= kFrontPorts; ++f)
    if (rep_[f] == p.number && services_.link_state(f)) sum += services_.link_speed(f);
  return sum;
}

bool Engine::aggr_link(unsigned aid) {
  for (unsigned f = 1; f <= kFrontPorts; ++f)
    if (rep_[f] == aid && services_.link_state(f)) return true;
  return false;
}

void Engine::move_port(unsigned n, int to) {
  Port &p = ports_[n];
  if (p.bridge == to) return;
  RTRACE(trace::kInfo, "Moving port %u from vlan-%u to vlan-%u\n", n,
         p.bridge < 0 ? 0 : bridges_[p.bridge].vid, to < 0 ? 0 : bridges_[to].vid);
  if (p.bridge >= 0) {
    auto &list = bridges_[p.bridge].ports;
    list.erase(std::remove(list.begin(), list.end(), n), list.end());
  }
  p.bridge = to;
  if (to >= 0) {
    auto &list = bridges_[to].ports;
    list.insert(std::upper_bound(list.begin(), list.end(), n), n);
    p.state.fill(kBegin);
    port_reinit(p);
    p.reselect = true;
    p.selected = false;
  }
}

void Engine::new_port_state(unsigned n, bool link) {
  Port &p = ports_[n];
  RTRACE(trace::kInfo, "new_port_state: Setting port %u state -> %s admin_non_stp = %u\n", n,
         link ? "up" : "down", unsigned(p.admin_non_stp));
  if (link) {
    p.p2p_recompute = true;
    p.speed = port_speed(p);
  }
  enable_port(p, link);
}

void Engine::enable_port(Port &p, bool link) {
  if (!link) flush(p.number, p.bridge >= 0 ? bridges_[p.bridge].vid : 0, 1, 1);
  if (p.bridge < 0) {
    p.link = link;
    return;
  }
  Bridge &b = bridges_[p.bridge];
  if (!b.enabled) {
    p.link = link;
    RTRACE(trace::kWarn, "Port %u ignored for disabled vlan id %u\n", p.number, b.vid);
    return;
  }
  p.link = link;
  port_reinit(p);
  p.reselect = true;
  p.selected = false;
}

void Engine::linkstate_changed(unsigned portno, bool link) {
  if (!initialised_ || portno < 1 || portno > kFrontPorts) return;
  finish_work();
  Port &p = ports_[rep_[portno]];
  if (p.number == portno) {
    RTRACE(trace::kInfo, "Port %u changed state from %u to %s (duplex %s)\n", portno, unsigned(p.link),
           link ? "up" : "down", services_.link_duplex(portno) ? "full" : "half");
  } else {
    link = aggr_link(p.number) || link;
    RTRACE(trace::kInfo, "Aggr Port %u (phys %u) changed state from %u to %s\n", p.number, portno,
           unsigned(p.link), link ? "up" : "down");
    if (link == p.link && link) {
      // A member came or went while the aggregation stays up: its speed and cost change.
      p.speed = port_speed(p);
      p.p2p_recompute = true;
      bridge_update();
      return;
    }
  }
  if (link == p.link) return;
  new_port_state(p.number, link);
  bridge_update();
}

void Engine::set_stp_state(Port &p, StpState state) {
  if (p.stp_state == state) return;
  RTRACE(trace::kInfo, "Port %u: New stp state %s\n", p.number,
         state <= kStpEnabled ? kStpStateNames[state] : "?");
  p.stp_state = state;
  if (p.number <= kFrontPorts) {
    services_.set_stpstate(p.number, state);
    return;
  }
  for (unsigned f = 1; f <= kFrontPorts; ++f)
    if (rep_[f] == p.number && ports_[f].stp_state != state) {
      ports_[f].stp_state = state;
      services_.set_stpstate(f, state);
    }
}

void Engine::flush(unsigned port, unsigned vid, unsigned type, unsigned reason) {
  RTRACE(trace::kInfo, "Flushing mac table: type-%u port %u (vlan %u) : reason %u\n", type, port, vid,
         reason);
  // The default instance spans every VLAN: its VID does not fit the chip's 12-bit field, so it flushes
  // by port alone.
  if (vid == kDefaultVid) vid = 0;
  int by_vlan = vid != 0;
  if (port == 0) {
    if (by_vlan) services_.flush_fdb(0, 0, 1, vid);
    return;
  }
  for (unsigned f = 1; f <= kFrontPorts; ++f) {
    bool mine = f == port || rep_[f] == port;
    if (type == 1 ? mine : !mine) services_.flush_fdb(1, f, by_vlan, vid);
  }
}

// ---------------------------------------------------------------------------------------------------
// Configuration

void Engine::set_config(const BridgeConfig &config) {
  finish_work();
  if (config == config_) return;
  bool version_changed = config.force_version != config_.force_version;
  config_ = config;
  for (unsigned slot : active_) {
    Bridge &b = bridges_[slot];
    bridge_configure(b);
    for (unsigned n : b.ports) {
      Port &p = ports_[n];
      if (!p.active) continue;
      p.mcheck = config_.force_version >= 2;
      // The migration machine picks the protocol version only when it starts.
      if (version_changed) p.state[kMigrate] = kBegin;
      p.reselect = true;
      p.selected = false;
    }
  }
  bridge_update();
}

PortConfig Engine::port_config(unsigned portno) {
  finish_work();
  return ports_[portno == 0 ? kFrontPorts + 1 : portno].config;
}

void Engine::set_port_config(unsigned portno, const PortConfig &config) {
  if (portno > kFrontPorts) return;
  finish_work();
  unsigned first = portno == 0 ? kFrontPorts + 1 : portno, last = portno == 0 ? kLogicalPorts : portno;
  for (unsigned n = first; n <= last; ++n) {
    Port &p = ports_[n];
    if (p.config == config) continue;
    RTRACE(trace::kInfo, "Setting port %u config\n", n);
    p.config = config;
    port_reinit(p);
    p.oper_edge = config.admin_edge;
    p.reselect = true;
    p.selected = false;
    // A member of an aggregation is out of the protocol only because its aggregation's port stands for
    // it: its state stays the one that port gives it.
    if (aggregated(n)) continue;
    if (p.admin_non_stp)
      set_stp_state(p, kStpEnabled);
    else if (p.stp_state == kStpEnabled)
      p.state.fill(kBegin);  // back into the protocol: starts discarding
  }
  bridge_update();
}

void Engine::set_mcheck(unsigned poag) {
  if (poag < 1 || poag > kLogicalPorts) return;
  finish_work();
  ports_[poag].mcheck = true;
  ports_[poag].reselect = true;
  bridge_update();
}

void Engine::vlan_add(unsigned vid, const uint8_t *members) {
  if (!initialised_) return;
  finish_work();
  int slot = bridge_of_vid(vid);
  if (slot >= 0) {
    RTRACE(trace::kInfo, "Modifying existing vlan-id %u\n", vid);
  } else {
    RTRACE(trace::kInfo, "Creating new vlan-id %u\n", vid);
    slot = bridge_create(vid);
    if (slot < 0) return;
    if (vid == kDefaultVid) default_ = slot;
  }
  bool moved = false;
  for (unsigned f = 1; f <= kFrontPorts; ++f) {
    unsigned targets[2] = {f, rep_[f]};
    for (unsigned n : targets) {
      int to = members[f] ? slot : (ports_[n].bridge == slot ? default_ : ports_[n].bridge);
      if (ports_[n].bridge != to) {
        move_port(n, to);
        moved = true;
      }
    }
  }
  if (moved) bridge_start(unsigned(slot));
  bridge_update();
}

void Engine::vlan_del(unsigned vid) {
  finish_work();
  int slot = bridge_of_vid(vid);
  if (slot < 0) return;
  RTRACE(trace::kInfo, "Deleting vlan-id %u\n", vid);
  if (slot == default_) default_ = -1;
  std::vector<unsigned> members = bridges_[slot].ports;
  for (unsigned n : members) move_port(n, default_);
  bridge_stop(unsigned(slot));
  bridges_[slot].in_use = false;
  active_.erase(std::remove(active_.begin(), active_.end(), unsigned(slot)), active_.end());
  bridge_update();
}

void Engine::aggr_add(unsigned aid, const uint32_t *members) {
  if (!initialised_ || members == nullptr || aid <= kFrontPorts || aid > kLogicalPorts) return;
  finish_work();
  // An aggregation left without members no longer stands for any port: its port ends as with a delete,
  // or it would go on sending with its own port id on its old first member.
  if (std::none_of(members + 1, members + kFrontPorts + 1, [](uint32_t member) { return member != 0; })) {
    aggr_del(aid);
    return;
  }
  // Every member must run the protocol before any is mapped: a half-built aggregation would leave the
  // earlier members outside spanning tree in whatever state they had.
  for (unsigned f = 1; f <= kFrontPorts; ++f)
    if (members[f] && !ports_[f].config.enabled) {
      RTRACE(trace::kWarn, "Running LACP without RSTP on port %u\n", f);
      return;
    }
  Port &a = ports_[aid];
  unsigned first = 0;
  bool all_edge = true;
  for (unsigned f = 1; f <= kFrontPorts; ++f) {
    Port &p = ports_[f];
    if (members[f]) {
      first = first ? first : f;
      all_edge = all_edge && p.oper_edge;
      if (rep_[f] == aid) continue;
      if (p.link) enable_port(p, false);
      rep_[f] = aid;
      p.active = false;
      port_reinit(p);
      if (a.active && a.stp_state != kStpUnknown && p.stp_state != a.stp_state) {
        p.stp_state = a.stp_state;
        services_.set_stpstate(f, a.stp_state);
      }
    } else if (rep_[f] == aid) {
      give_back(f, a);
    }
  }
  RTRACE(trace::kInfo, "Added aggr %u with port %u\n", aid, first);
  tx_[aid] = first;
  move_port(aid, ports_[first].bridge);
  a.mac = ports_[first].mac;
  a.active = true;
  a.config.admin_edge = all_edge;
  port_reinit(a);
  a.link = false;
  new_port_state(aid, aggr_link(aid));
  bridge_update();
}

void Engine::aggr_del(unsigned aid) {
  if (!initialised_ || aid < 1 || aid > kLogicalPorts) return;
  finish_work();
  unsigned first = aid > kFrontPorts ? tx_[aid] : 0;
  RTRACE(trace::kInfo, "Deleting aggr %u with port %u\n", aid, first);
  if (first == 0 || aid <= kFrontPorts) return;
  Port &a = ports_[aid];
  tx_[aid] = 0;
  new_port_state(aid, false);
  move_port(aid, default_);
  a.active = false;
  port_reinit(a);
  for (unsigned f = 1; f <= kFrontPorts; ++f)
    if (rep_[f] == aid) give_back(f, a);
  bridge_update();
}

void Engine::give_back(unsigned f, const Port &aggr) {
  Port &p = ports_[f];
  set_stp_state(p, kStpBlocking);
  rep_[f] = f;
  p.active = true;
  port_reinit(p);
  p.state.fill(kBegin);
  p.oper_edge = aggr.oper_edge;
  p.link = false;
  new_port_state(f, services_.link_state(f));
}

// ---------------------------------------------------------------------------------------------------
// Work loop

void Engine::bridge_update() {
  if (current_bridge_ >= 0) return;  // a sweep is already running and will visit every port
  for (unsigned slot : active_) {
    const Bridge &b = bridges_[slot];
    if (!b.ports.empty()) {
      current_bridge_ = int(slot);
      current_port_ = 0;
      more_work();
      return;
    }
  }
}

void Engine::finish_work() {
  while (current_bridge_ >= 0) more_work();
}

void Engine::more_work() {
  if (current_bridge_ < 0) return;
  Bridge &b = bridges_[current_bridge_];
  if (current_port_ < b.ports.size()) {
    Port &p = ports_[b.ports[current_port_]];
    if (b.enabled && !p.boring()) step_port(p);
    ++current_port_;
  }
  while (current_port_ < b.ports.size() && ports_[b.ports[current_port_]].boring()) ++current_port_;
  if (current_port_ < b.ports.size()) return;
  // End of the bridge: roles, then topology change bookkeeping.
  if (b.enabled) {
    role_selection(b);
    b.tc = std::any_of(b.ports.begin(), b.ports.end(), [&](unsigned n) { return ports_[n].tc_while != 0; });
    if (b.tc) {
      b.tc_count++;
      b.sweeps_since_tc = 0;
    } else {
      b.tc_count = 0;
      b.sweeps_since_tc++;
    }
  }
  auto it = std::find(active_.begin(), active_.end(), unsigned(current_bridge_));
  current_bridge_ = -1;
  current_port_ = 0;
  for (++it; it != active_.end(); ++it)
    if (!bridges_[*it].ports.empty()) {
      current_bridge_ = int(*it);
      break;
    }
}

void Engine::step_port(Port &p) {
  for (unsigned round = 0; round < kMaxRounds; ++round) {
    std::array<bool, kMachines> moved{};
    bool any = false;
    for (unsigned m = 0; m < kMachines; ++m) {
      uint8_t to = next_state(p, m);
      if (to != kBegin) {
        hop(p, m, to);
        moved[m] = any = true;
      }
    }
    if (!any) return;
    for (unsigned m = 0; m < kMachines; ++m)
      if (moved[m]) enter(p, m);
  }
  RTRACE(trace::kError, "Port %u machines did not settle\n", p.number);
}

void Engine::hop(Port &p, unsigned m, uint8_t to) {
  if (p.state[m] != to)
    RTRACE(trace::kNoise, "%s(vlan-%u-%u): %s=>%s\n", machine_name(m), bridges_[p.bridge].vid, p.number,
           state_name(m, p.state[m]), state_name(m, to));
  p.state[m] = to;
}

const Times &Engine::times_of(const Port &p) const {
  return bridges_[p.bridge].root_times;
}

bool Engine::all_synced(const Port &self) const {
  for (unsigned n : bridges_[self.bridge].ports) {
    const Port &p = ports_[n];
    if (&p != &self && !p.boring() && !p.synced) return false;
  }
  return true;
}

bool Engine::re_rooted(const Port &self) const {
  for (unsigned n : bridges_[self.bridge].ports) {
    const Port &p = ports_[n];
    if (&p != &self && !p.boring() && p.rr_while != 0) return false;
  }
  return true;
}

void Engine::set_on_others(Port &self, bool Port::*flag, bool all) {
  for (unsigned n : bridges_[self.bridge].ports) {
    Port &p = ports_[n];
    if ((all || &p != &self) && !p.boring()) p.*flag = true;
  }
}

uint8_t Engine::next_state(Port &p, unsigned m) {
  switch (m) {
    case kTransmit:
      return transmit_next(p);
    case kStTrans:
      return sttrans_next(p);
    case kRoleTrns:
      return roletrns_next(p);
    case kInfo:
      return info_next(p);
    case kPCost:
      return pcost_next(p);
    case kEdge:
      return edge_next(p);
    case kP2p:
      return p2p_next(p);
    case kMigrate:
      return migrate_next(p);
    case kTopoCh:
      return topoch_next(p);
    default:
      return kBegin;
  }
}

void Engine::enter(Port &p, unsigned m) {
  switch (m) {
    case kTransmit:
      return transmit_enter(p);
    case kStTrans:
      return sttrans_enter(p);
    case kRoleTrns:
      return roletrns_enter(p);
    case kInfo:
      return info_enter(p);
    case kPCost:
      return pcost_enter(p);
    case kEdge:
      return edge_enter(p);
    case kP2p:
      return p2p_enter(p);
    case kMigrate:
      return migrate_enter(p);
    case kTopoCh:
      return topoch_enter(p);
  }
}

}  // namespace rstp
