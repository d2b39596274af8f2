#include "rstp_engine.h"

#include "trace.h"

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

// Safety net: a port's machines settle in a handful of rounds; a cycle between states would otherwise
// hang the daemon's main loop.
constexpr unsigned kMaxRounds = 64;

}  // namespace

#define RTRACE(level, ...) trace(level, __func__, __LINE__, __VA_ARGS__)

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

uint32_t path_cost_for_speed(unsigned mbits) {
  if (mbits == 0) return 200000000;
  return std::max<uint32_t>(20000000 / mbits, 2);
}

Engine::Engine(proto::PortServices &services) : services_(services) {}

void Engine::trace(unsigned level, const char *function, int line, const char *format, ...) {
  char text[TRACE_TEXT_SIZE];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  services_.trace(TRACE_MOD_RSTP, level, function, line, text);
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
      RTRACE(TRACE_ERROR, "Bridge id of vlan-%u already in use\n", b.vid);
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
  RTRACE(TRACE_INFO, "Moving port %u from vlan-%u to vlan-%u\n", n, p.bridge < 0 ? 0 : bridges_[p.bridge].vid,
         to < 0 ? 0 : bridges_[to].vid);
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
  RTRACE(TRACE_INFO, "new_port_state: Setting port %u state -> %s admin_non_stp = %u\n", n,
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
    RTRACE(TRACE_WARN, "Port %u ignored for disabled vlan id %u\n", p.number, b.vid);
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
    RTRACE(TRACE_INFO, "Port %u changed state from %u to %s (duplex %s)\n", portno, unsigned(p.link),
           link ? "up" : "down", services_.link_duplex(portno) ? "full" : "half");
  } else {
    link = aggr_link(p.number) || link;
    RTRACE(TRACE_INFO, "Aggr Port %u (phys %u) changed state from %u to %s\n", p.number, portno,
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
  RTRACE(TRACE_INFO, "Port %u: New stp state %s\n", p.number,
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
  RTRACE(TRACE_INFO, "Flushing mac table: type-%u port %u (vlan %u) : reason %u\n", type, port, vid, reason);
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
    RTRACE(TRACE_INFO, "Setting port %u config\n", n);
    p.config = config;
    port_reinit(p);
    p.oper_edge = config.admin_edge;
    p.reselect = true;
    p.selected = false;
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
    RTRACE(TRACE_INFO, "Modifying existing vlan-id %u\n", vid);
  } else {
    RTRACE(TRACE_INFO, "Creating new vlan-id %u\n", vid);
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
  RTRACE(TRACE_INFO, "Deleting vlan-id %u\n", vid);
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
  // Every member must run the protocol before any is mapped: a half-built aggregation would leave the
  // earlier members outside spanning tree in whatever state they had.
  for (unsigned f = 1; f <= kFrontPorts; ++f)
    if (members[f] && !ports_[f].config.enabled) {
      RTRACE(TRACE_WARN, "Running LACP without RSTP on port %u\n", f);
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
  if (first == 0) return;
  RTRACE(TRACE_INFO, "Added aggr %u with port %u\n", aid, first);
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
  RTRACE(TRACE_INFO, "Deleting aggr %u with port %u\n", aid, first);
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
// Frames in

void Engine::receive(unsigned from_port, const uint8_t *frame, size_t length) {
  if (!initialised_ || from_port < 1 || from_port > kFrontPorts || frame == nullptr) return;
  Port &p = ports_[rep_[from_port]];
  if (length < 56) {
    p.counters.illegal++;
    RTRACE(TRACE_INFO, "Ignoring xxPDU frame from port %u -> %u with short length (%u)\n", from_port,
           p.number, unsigned(length));
    return;
  }
  RTRACE(TRACE_DEBUG, "Received 0x%02x on port %u -> %u\n", frame[20], from_port, p.number);
  finish_work();
  Bpdu bpdu;
  switch (decode_bpdu(frame, length, bpdu)) {
    case Decode::Illegal:
      p.counters.illegal++;
      RTRACE(TRACE_INFO, "Ignoring BPDU with bad length on port %u\n", p.number);
      return;
    case Decode::Unrecognised:
      p.counters.unrecognised++;
      RTRACE(TRACE_INFO, "Rx undef BPDU (type 0x%x) on port %u\n", frame[20], p.number);
      return;
    case Decode::Ok:
      break;
  }
  // A port that belongs to no instance (its VLAN and the default were deleted) runs no protocol.
  if (p.bridge < 0) {
    RTRACE(TRACE_INFO, "Ignored BPDU on port %u: no vlan instance\n", p.number);
    return;
  }
  rx_bpdu(p, bpdu);
}

void Engine::rx_bpdu(Port &p, const Bpdu &bpdu) {
  Bridge &b = bridges_[p.bridge];
  if (!b.enabled) return;
  if (p.oper_edge && p.edge_delay == 0 && p.port_enabled) p.tc = true;
  if (!p.port_enabled && p.link) enable_port(p, true);
  p.oper_edge = false;
  p.bpdu_seen = true;
  record_bpdu(p, bpdu);
  bridge_update();
}

void Engine::record_bpdu(Port &p, const Bpdu &bpdu) {
  switch (bpdu.type) {
    case kBpduConfig:
      p.counters.config_received++;
      if (p.admin_non_stp) return;
      break;
    case kBpduRst:
      p.counters.rst_received++;
      if (p.admin_non_stp || force_version() < 2) return;
      break;
    default:
      p.counters.tcn_received++;
      if (!p.admin_non_stp) {
        p.rcvd_msg = true;
        p.msg_version = bpdu.version;
        p.msg_type = bpdu.type;
        p.msg_flags = 0;
      }
      return;
  }
  p.rcvd_msg = true;
  p.msg_version = bpdu.version;
  p.msg_type = bpdu.type;
  p.msg_flags = bpdu.flags;
  p.msg_priority = bpdu.vector;
  p.msg_priority.bridge_port = p.port_id;
  p.msg_times = bpdu.times;
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

void Engine::tick() {
  finish_work();
  ++ticks_;
  for (unsigned n = 1; n <= kLogicalPorts; ++n) {
    Port &p = ports_[n];
    if (p.boring()) continue;
    for (uint8_t *t : {&p.fd_while, &p.hello_when, &p.mdelay_while, &p.rb_while, &p.rcvd_info_while,
                       &p.rr_while, &p.tc_while, &p.tx_count, &p.edge_delay})
      if (*t) --*t;
  }
  bridge_update();
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
  RTRACE(TRACE_ERROR, "Port %u machines did not settle\n", p.number);
}

void Engine::hop(Port &p, unsigned m, uint8_t to) {
  if (p.state[m] != to)
    RTRACE(TRACE_NOISE, "%s(vlan-%u-%u): %s=>%s\n", machine_name(m), bridges_[p.bridge].vid, p.number,
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
  const Times &t = times_of(p);
  const uint8_t s = p.state[m];
  const bool ready = p.selected && !p.updt_info;
  switch (m) {
    case kTransmit:
      if (s == kBegin) return kTxInit;
      if (s != kTxIdle) return kTxIdle;
      if (!ready) return kBegin;
      if (p.hello_when == 0) return kTxPeriodic;
      if (p.new_info && p.tx_count < kTxHoldCount && (p.role == kRoleRoot || p.role == kRoleDesignated)) {
        if (p.send_rstp) return kTxRstp;
        return p.role == kRoleRoot ? kTxTcn : kTxConfig;
      }
      return kBegin;
    case kStTrans:
      if (s == kBegin) return kDiscarding;
      if (s == kDiscarding && p.learn) return kLearning;
      if (s == kLearning && p.forward) return kForwarding;
      if (s == kLearning && !p.learn) return kDiscarding;
      if (s == kForwarding && !p.forward) return kDiscarding;
      return kBegin;
    case kRoleTrns: {
      if (s == kBegin) return kInitPort;
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
          break;
      }
      if (!ready) return kBegin;
      switch (s) {
        case kBlockPort:
          return !p.learning && !p.forwarding ? uint8_t(kBlockedPort) : kBegin;
        case kBlockedPort:
          if (p.fd_while != t.forward_delay || p.sync || p.re_root || !p.synced) return kBlockedPort;
          if (p.rb_while != 2 * t.hello_time && p.role == kRoleBackup) return kBackupPort;
          return kBegin;
        case kRootPort:
          if (!p.forward && !p.re_root) return kReroot;
          if (all_synced(p) && (p.proposed || !p.synced)) return kRootAgreed;
          if (p.proposed && !p.synced) return kRootProposed;
          if (p.fd_while == 0 || (re_rooted(p) && p.rb_while == 0 && force_version() >= 2)) {
            if (p.learn && !p.forward) return kRootForward;
            if (!p.learn) return kRootLearn;
          }
          if (p.re_root && p.forward) return kRerooted;
          if (p.rr_while != t.forward_delay) return kRootPort;
          return kBegin;
        case kDesignatedPort:
          if (!p.forward && !p.agreed && !p.proposing && !p.oper_edge) return kDesignatedPropose;
          if (p.rr_while == 0 && p.re_root) return kDesignatedRetired;
          if ((!p.learning && !p.forwarding && !p.synced) || ((p.agreed || p.oper_edge) && !p.synced) ||
              (p.sync && p.synced))
            return kDesignatedSynced;
          if ((p.fd_while == 0 || p.agreed || p.oper_edge) && !(p.rr_while != 0 && p.re_root) && !p.sync) {
            if (p.learn && !p.forward) return kDesignatedForward;
            if (!p.learn) return kDesignatedLearn;
          }
          if (((p.sync && !p.synced) || (p.re_root && p.rr_while != 0)) && !p.oper_edge &&
              (p.learn || p.forward))
            return kDesignatedListen;
          return kBegin;
        default:
          return kBegin;
      }
    }
    case kInfo:
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
          if (p.selected && p.updt_info) return kInfoUpdate;
          if (p.info_is == kInfoReceived && p.rcvd_info_while == 0 && !p.updt_info && !p.rcvd_msg)
            return kInfoAgedSt;
          if (p.rcvd_msg && !p.updt_info) return kInfoReceive;
          return kBegin;
        case kInfoReceive:
          return classify(p);
        default:
          return kBegin;
      }
    case kPCost:
      if (s == kBegin) return kPcAuto;
      if (s == kPcAuto || s == kPcForced) return kPcStable;
      if (p.config.admin_cost == 0 && p.speed != p.used_speed) return kPcAuto;
      if (p.config.admin_cost != 0 && p.config.admin_cost != p.path_cost) return kPcForced;
      return kBegin;
    case kEdge:
      if (s == kBegin) return kEdgeDisabled;
      switch (s) {
        case kEdgeDisabled:
          return p.link ? uint8_t(kEdgeDetected) : kBegin;
        case kEdgeDetected:
          return kEdgeDelayed;
        case kEdgeDelayed:
          if (!p.link) return kEdgeDisabled;
          if (p.bpdu_seen) {
            RTRACE(TRACE_DEBUG, "port %u 'edge' resolved by BPDU\n", p.number);
            return kEdgeResolved;
          }
          if (p.edge_delay == 0) {
            RTRACE(TRACE_DEBUG, "port %u 'edge' resolved by timer\n", p.number);
            return kEdgeResolved;
          }
          return kBegin;
        case kEdgeResolved:
          return p.link ? kBegin : uint8_t(kEdgeDisabled);
        default:
          return kBegin;
      }
    case kP2p:
      if (s == kBegin) {
        p.p2p_recompute = true;
        return kP2pStable;
      }
      if (s == kP2pStable) return p.p2p_recompute ? uint8_t(kP2pRecompute) : kBegin;
      return kP2pStable;
    case kMigrate: {
      if (s == kBegin || (!p.port_enabled && !p.init_pm)) return s == kPmInit ? kBegin : uint8_t(kPmInit);
      bool rstp = force_version() >= 2;
      switch (s) {
        case kPmInit:
          if (!p.port_enabled) return kBegin;
          return rstp ? kPmSendRstp : kPmSendStp;
        case kPmSendRstp:
        case kPmSendingRstp:
          if (p.mcheck) return kPmSendRstp;
          if (p.mdelay_while != 0 && (p.rcvd_stp || p.rcvd_rstp)) return kPmSendingRstp;
          if (p.mdelay_while == 0 && p.rcvd_stp) return kPmSendStp;
          return kBegin;
        case kPmSendStp:
        case kPmSendingStp:
          if (p.mcheck && rstp) return kPmSendRstp;
          if (p.mdelay_while != 0 && (p.rcvd_stp || p.rcvd_rstp)) return kPmSendingStp;
          if (p.mdelay_while == 0 && p.rcvd_rstp && rstp) return kPmSendRstp;
          return kBegin;
        default:
          return kBegin;
      }
    }
    case kTopoCh: {
      if (s == kBegin) return kTcInit;
      bool active_role = p.role == kRoleRoot || p.role == kRoleDesignated;
      switch (s) {
        case kTcInit:
          return kTcInactive;
        case kTcInactive:
          if (active_role) return kTcActive;
          return p.rcvd_tc || p.rcvd_tcn || p.rcvd_tc_ack || p.tc || p.tc_prop ? uint8_t(kTcInactive)
                                                                               : kBegin;
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
    default:
      return kBegin;
  }
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
    if (o == Order::Better || (same_designated && (o != Order::Equal || !(p.msg_times == p.port_times))))
      return kInfoSuperior;
    if (o == Order::Equal && p.msg_times == p.port_times) return kInfoRepeat;
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

uint8_t Engine::new_tc_while(const Port &p) const {
  const Times &t = times_of(p);
  return p.send_rstp && p.oper_p2p ? uint8_t(2 * t.hello_time) : t.max_age;
}

void Engine::propagate_tc(Port &self, unsigned reason) {
  set_on_others(self, &Port::tc_prop, false);
  flush(self.number, bridges_[self.bridge].vid, 0, reason);
}

void Engine::enter(Port &p, unsigned m) {
  const Times &t = times_of(p);
  switch (m) {
    case kTransmit:
      switch (p.state[m]) {
        case kTxInit:
          p.new_info = false;
          p.hello_when = 0;
          p.tx_count = 0;
          break;
        case kTxPeriodic:
          p.new_info = p.new_info || p.role == kRoleDesignated || (p.role == kRoleRoot && p.tc_while != 0);
          p.hello_when = t.hello_time;
          break;
        case kTxConfig:
          tx_bpdu(p, kBpduConfig);
          p.tc_ack = false;
          break;
        case kTxTcn:
          tx_bpdu(p, kBpduTcn);
          break;
        case kTxRstp:
          tx_bpdu(p, kBpduRst);
          p.tc_ack = false;
          break;
      }
      break;
    case kStTrans:
      switch (p.state[m]) {
        case kDiscarding:
          p.learning = p.forwarding = false;
          set_stp_state(p, kStpBlocking);
          break;
        case kLearning:
          p.learning = true;
          set_stp_state(p, kStpLearning);
          break;
        case kForwarding:
          p.tc = !p.oper_edge;
          p.forwarding = true;
          set_stp_state(p, kStpForwarding);
          break;
      }
      break;
    case kRoleTrns:
      switch (p.state[m]) {
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
      break;
    case kInfo:
      switch (p.state[m]) {
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
          break;
        case kInfoSuperior:
          p.port_priority = p.msg_priority;
          p.port_times = p.msg_times;
          update_rcvd_info_while(p);
          p.agreed = p.synced = p.proposing = false;
          record_proposed(p);
          p.info_is = kInfoReceived;
          p.reselect = true;
          p.selected = false;
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
      break;
    case kPCost: {
      uint32_t before = p.path_cost;
      if (p.state[m] == kPcAuto) {
        p.used_speed = p.speed;
        p.path_cost = path_cost_for_speed(p.used_speed);
        RTRACE(TRACE_DEBUG, "AUTO:operSpeed=%lu usedSpeed=%lu lret=%ld\n", (unsigned long)p.speed,
               (unsigned long)p.used_speed, long(p.path_cost));
      } else if (p.state[m] == kPcForced) {
        p.path_cost = p.config.admin_cost;
      }
      // The root path through this port changed: roles must be chosen again.
      if (p.path_cost != before) {
        p.reselect = true;
        p.selected = false;
      }
      break;
    }
    case kEdge:
      switch (p.state[m]) {
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
      break;
    case kP2p:
      if (p.state[m] == kP2pRecompute) {
        bool duplex = p.number <= kFrontPorts ? services_.link_duplex(p.number) : true;
        for (unsigned f = 1; p.number > kFrontPorts && f <= kFrontPorts; ++f)
          if (rep_[f] == p.number && f != p.number) duplex = duplex && services_.link_duplex(f);
        p.oper_p2p = p.config.admin_p2p == kP2pOn || (p.config.admin_p2p == kP2pAuto && duplex);
        p.p2p_recompute = false;
      }
      break;
    case kMigrate:
      switch (p.state[m]) {
        case kPmInit:
          p.init_pm = true;
          p.mcheck = false;
          break;
        case kPmSendRstp:
          p.mdelay_while = kMigrateTime;
          p.mcheck = p.init_pm = false;
          p.send_rstp = true;
          break;
        case kPmSendStp:
          p.mdelay_while = kMigrateTime;
          p.send_rstp = p.init_pm = false;
          break;
        case kPmSendingRstp:
        case kPmSendingStp:
          p.rcvd_rstp = p.rcvd_stp = false;
          break;
      }
      break;
    case kTopoCh:
      switch (p.state[m]) {
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
      break;
  }
}

void Engine::role_selection(Bridge &b) {
  if (b.rolesel == kBegin) {
    RTRACE(TRACE_NOISE, "%s(vlan-%u): %s=>%s\n", "rolesel", b.vid, "Begin", "INIT_BRIDGE");
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
      RTRACE(TRACE_NOISE, "%s(vlan-%u): %s=>%s\n", "rolesel", b.vid, "INIT_BRIDGE", "ROLE_SELECTION");
    b.rolesel = 1;
    for (unsigned n : b.ports) ports_[n].reselect = false;

    PriorityVector root{b.id, 0, b.id, 0, 0};
    Times root_times = b.root_times;
    bridge_configure(b);
    Times own = b.root_times;
    root_times = own;
    for (unsigned n : b.ports) {
      Port &p = ports_[n];
      if (p.boring() || p.info_is != kInfoReceived || p.port_priority.designated_bridge.mac == b.id.mac)
        continue;
      PriorityVector candidate = p.port_priority;
      candidate.root_path_cost += p.path_cost;
      candidate.bridge_port = p.port_id;
      if (compare(candidate, root) == Order::Better) {
        root = candidate;
        root_times = p.port_times;
        unsigned dm = std::max(1u, (unsigned(root_times.max_age) + 8) / 16);
        root_times.message_age = uint8_t(std::min(255u, root_times.message_age + dm));
        RTRACE(TRACE_DEBUG, "updtRootPrio: dm=%u rootTimes.MessageAge=%u on port %u", dm,
               unsigned(root_times.message_age), n);
      }
    }
    uint16_t old_root_port = b.root_port_id;
    b.root_priority = root;
    b.root_times = root_times;
    b.root_port_id = root.bridge_port;
    if (old_root_port != b.root_port_id) {
      if (b.root_port_id == 0)
        RTRACE(TRACE_INFO, "This brige vlan-%u became root\n", b.vid);
      else
        RTRACE(TRACE_INFO, "For brige vlan-%u new root port: %u\n", b.vid, b.root_port_id & 0xFFFu);
    }
    for (unsigned n : b.ports) {
      Port &p = ports_[n];
      if (p.boring()) {
        if (p.admin_non_stp) {
          p.role = p.selected_role = kRoleNonStp;
          p.forward = p.learn = true;
        }
        continue;
      }
      p.designated_priority = PriorityVector{root.root, root.root_path_cost, b.id, p.port_id, p.port_id};
      p.designated_times = root_times;
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
          } else if (compare(p.designated_priority, p.port_priority) == Order::Better) {
            p.selected_role = kRoleDesignated;
            p.updt_info = true;
          } else {
            p.selected_role =
                p.port_priority.designated_bridge.mac == b.id.mac ? kRoleBackup : kRoleAlternate;
            p.updt_info = false;
          }
          break;
        case kInfoDisabled:
          p.selected_role = kRoleDisabled;
          break;
        default:
          RTRACE(TRACE_ERROR, "undef infoIs=%u", unsigned(p.info_is));
          break;
      }
      RTRACE(TRACE_DEBUG, "%s(vlan-%u-%u) => %s", why, b.vid, n, role_name(p.selected_role));
    }
    unsigned pending = 0;
    for (unsigned n : b.ports)
      if (!ports_[n].boring() && ports_[n].reselect) pending = n;
    if (pending) {
      RTRACE(TRACE_DEBUG, "setSelectedBridge: TRUE=reselect on port %u", pending);
      continue;
    }
    for (unsigned n : b.ports)
      if (!ports_[n].boring()) ports_[n].selected = true;
    return;
  }
}

// ---------------------------------------------------------------------------------------------------
// Frames out

void Engine::tx_bpdu(Port &p, uint8_t type) {
  p.tx_count++;
  p.new_info = false;
  if (p.admin_non_stp) return;
  Bpdu b;
  b.type = type;
  b.version = type == kBpduRst ? 2 : 0;
  b.vector = p.port_priority;
  b.times = p.port_times;
  if (p.tc_while != 0) b.flags |= kFlagTc;
  if (type == kBpduConfig && p.tc_ack) b.flags |= kFlagTcAck;
  if (type == kBpduRst) {
    static constexpr uint8_t kWireRole[] = {kBpduRoleUnknown, kBpduRoleAltBackup, kBpduRoleAltBackup,
                                            kBpduRoleRoot, kBpduRoleDesignated};
    if (p.role < kRoleNonStp) b.flags |= uint8_t(kWireRole[p.role] << kFlagRoleShift);
    if (p.synced) b.flags |= kFlagAgreement;
    if (p.proposing) b.flags |= kFlagProposal;
  }
  unsigned front = tx_[p.number];
  if (front == 0) return;
  void *buffer = nullptr;
  uint8_t *frame = services_.frame_alloc(front, kBpduHeaderLength + bpdu_length(type), &buffer);
  if (!frame) {
    RTRACE(TRACE_ERROR, "No buffer for BPDU (type 0x%x) on port %u -> %u\n", type, p.number, front);
    return;
  }
  size_t length = encode_bpdu(b, ports_[front].mac, frame);
  RTRACE(TRACE_DEBUG, "Sent BPDU (type 0x%x) on port %u -> %u\n", type, p.number, front);
  if (type == kBpduRst)
    p.counters.rst_sent++;
  else if (type == kBpduConfig)
    p.counters.config_sent++;
  else
    p.counters.tcn_sent++;
  services_.frame_send(front, frame, length, buffer);
}

}  // namespace rstp
