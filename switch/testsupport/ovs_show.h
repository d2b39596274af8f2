// What Open vSwitch reports about its bonds and spanning tree (`ovs-appctl lacp/show`, `bond/show`,
// `rstp/show`), read into plain records the peer tests compare with the switch's own view.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace peers {

struct LacpActor {
  std::string sys_id;
  uint32_t sys_priority = 0;
  uint32_t port_id = 0;
  uint32_t port_priority = 0;
  uint32_t key = 0;
  std::set<std::string> state;  // "activity", "timeout", "aggregation", "synchronized", "collecting", ...
};

struct LacpMember {
  std::string name;
  std::string status;  // "current attached", "defaulted detached", ...
  LacpActor actor;
  LacpActor partner;
  // Current, attached, in sync, collecting and distributing, as both ends see it.
  bool aggregated() const;
};

struct LacpBond {
  std::string name;
  std::string status;  // "active negotiated", ...
  std::string sys_id;
  uint32_t sys_priority = 0;
  uint32_t key = 0;
  std::vector<LacpMember> members;
  const LacpMember *member(const std::string &name) const;
};

std::vector<LacpBond> parse_lacp_show(const std::string &text);

struct BondMember {
  std::string name;
  bool enabled = false;
  bool active = false;
  bool may_enable = false;
};

struct BondState {
  std::string name;
  std::string mode;
  std::string lacp_status;  // "negotiated", "configured", "off"
  std::vector<BondMember> members;
  const BondMember *member(const std::string &name) const;
};

std::vector<BondState> parse_bond_show(const std::string &text);

struct RstpPortState {
  std::string name;
  std::string role;   // "Root", "Designated", "Alternate", "Backup", "Disabled"
  std::string state;  // "Forwarding", "Discarding", "Learning", "Disabled"
  uint32_t cost = 0;
  uint32_t priority = 0;
  uint32_t number = 0;
};

struct RstpBridgeState {
  std::string name;
  uint32_t root_priority = 0;
  std::string root_id;
  bool is_root = false;
  std::string root_port;
  uint32_t root_path_cost = 0;
  uint32_t bridge_priority = 0;
  std::string bridge_id;
  std::vector<RstpPortState> ports;
  const RstpPortState *port(const std::string &name) const;
};

std::vector<RstpBridgeState> parse_rstp_show(const std::string &text);

}  // namespace peers
