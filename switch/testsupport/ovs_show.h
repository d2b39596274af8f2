// What Open vSwitch reports about its bonds and spanning tree (`ovs-appctl lacp/show`, `bond/show`,
// `rstp/show`), read into plain records the peer tests compare with the switch's own view.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace peers {

struct lacp_actor {
  std::string sys_id;
  uint32_t sys_priority = 0;
  uint32_t port_id = 0;
  uint32_t port_priority = 0;
  uint32_t key = 0;
  std::set<std::string> state;  // "activity", "timeout", "aggregation", "synchronized", "collecting", ...
};

struct lacp_member {
  std::string name;
  std::string status;  // "current attached", "defaulted detached", ...
  lacp_actor actor;
  lacp_actor partner;
  // Current, attached, in sync, collecting and distributing, as both ends see it.
  bool aggregated() const;
};

struct lacp_bond {
  std::string name;
  std::string status;  // "active negotiated", ...
  std::string sys_id;
  uint32_t sys_priority = 0;
  uint32_t key = 0;
  std::vector<lacp_member> members;
  const lacp_member *member(const std::string &name) const;
};

std::vector<lacp_bond> parse_lacp_show(const std::string &text);

struct bond_member {
  std::string name;
  bool enabled = false;
  bool active = false;
  bool may_enable = false;
};

struct bond_state {
  std::string name;
  std::string mode;
  std::string lacp_status;  // "negotiated", "configured", "off"
  std::vector<bond_member> members;
  const bond_member *member(const std::string &name) const;
};

std::vector<bond_state> parse_bond_show(const std::string &text);

struct rstp_port_state {
  std::string name;
  std::string role;   // "Root", "Designated", "Alternate", "Backup", "Disabled"
  std::string state;  // "Forwarding", "Discarding", "Learning", "Disabled"
  uint32_t cost = 0;
  uint32_t priority = 0;
  uint32_t number = 0;
};

struct rstp_bridge_state {
  std::string name;
  uint32_t root_priority = 0;
  std::string root_id;
  bool is_root = false;
  std::string root_port;
  uint32_t root_path_cost = 0;
  uint32_t bridge_priority = 0;
  std::string bridge_id;
  std::vector<rstp_port_state> ports;
  const rstp_port_state *port(const std::string &name) const;
};

std::vector<rstp_bridge_state> parse_rstp_show(const std::string &text);

}  // namespace peers
