#include "ovs_show.h"

#include <sstream>

namespace peers {

namespace {

std::string trim(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool starts_with(const std::string &text, const std::string &prefix) {
  return text.rfind(prefix, 0) == 0;
}

// "key: value" or "key   value" after the given key, trimmed; nothing when the line holds another key.
std::optional<std::string> value_of(const std::string &line, const std::string &key) {
  const std::string t = trim(line);
  if (!starts_with(t, key)) return std::nullopt;
  std::string rest = t.substr(key.size());
  if (!rest.empty() && rest[0] != ':' && rest[0] != ' ' && rest[0] != '\t') return std::nullopt;
  if (!rest.empty() && rest[0] == ':') rest.erase(0, 1);
  return trim(rest);
}

uint32_t number(const std::string &text) {
  try {
    return static_cast<uint32_t>(std::stoul(text, nullptr, 0));
  } catch (const std::exception &) {
    return 0;
  }
}

// "---- name ----" opens a section.
std::optional<std::string> section_name(const std::string &line) {
  const std::string t = trim(line);
  if (t.size() < 10 || !starts_with(t, "---- ") || t.substr(t.size() - 5) != " ----") return std::nullopt;
  return t.substr(5, t.size() - 10);
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::set<std::string> words(const std::string &text) {
  std::set<std::string> set;
  std::istringstream in(text);
  for (std::string w; in >> w;) set.insert(w);
  return set;
}

void actor_field(LacpActor &a, const std::string &field, const std::string &value) {
  if (field == "sys_id")
    a.sys_id = value;
  else if (field == "sys_priority")
    a.sys_priority = number(value);
  else if (field == "port_id")
    a.port_id = number(value);
  else if (field == "port_priority")
    a.port_priority = number(value);
  else if (field == "key")
    a.key = number(value);
  else if (field == "state")
    a.state = words(value);
}

}  // namespace

bool LacpMember::aggregated() const {
  const auto both = [](const std::set<std::string> &s) {
    return s.count("synchronized") && s.count("collecting") && s.count("distributing");
  };
  return status.find("current") != std::string::npos && status.find("attached") != std::string::npos &&
         status.find("detached") == std::string::npos && both(actor.state) && both(partner.state);
}

const LacpMember *LacpBond::member(const std::string &wanted) const {
  for (const LacpMember &m : members)
    if (m.name == wanted) return &m;
  return nullptr;
}

std::vector<LacpBond> parse_lacp_show(const std::string &text) {
  std::vector<LacpBond> bonds;
  for (const std::string &line : lines_of(text)) {
    if (auto name = section_name(line)) {
      bonds.push_back({});
      bonds.back().name = *name;
      continue;
    }
    if (bonds.empty()) continue;
    LacpBond &bond = bonds.back();
    const std::string t = trim(line);
    if (starts_with(t, "member: ") || starts_with(t, "slave: ")) {
      // "member: NAME: STATUS"
      const std::string rest = t.substr(t.find(' ') + 1);
      const size_t colon = rest.find(':');
      LacpMember m;
      m.name = rest.substr(0, colon);
      m.status = colon == std::string::npos ? "" : trim(rest.substr(colon + 1));
      bond.members.push_back(m);
      continue;
    }
    if (bond.members.empty()) {
      if (auto v = value_of(line, "status"))
        bond.status = *v;
      else if (auto v = value_of(line, "sys_id"))
        bond.sys_id = *v;
      else if (auto v = value_of(line, "sys_priority"))
        bond.sys_priority = number(*v);
      else if (auto v = value_of(line, "aggregation key"))
        bond.key = number(*v);
      continue;
    }
    LacpMember &m = bond.members.back();
    for (const char *side : {"actor ", "partner "}) {
      if (!starts_with(t, side)) continue;
      const std::string rest = t.substr(std::string(side).size());
      const size_t colon = rest.find(':');
      if (colon == std::string::npos) continue;
      actor_field(side[0] == 'a' ? m.actor : m.partner, rest.substr(0, colon), trim(rest.substr(colon + 1)));
    }
  }
  return bonds;
}

const BondMember *BondState::member(const std::string &wanted) const {
  for (const BondMember &m : members)
    if (m.name == wanted) return &m;
  return nullptr;
}

std::vector<BondState> parse_bond_show(const std::string &text) {
  std::vector<BondState> bonds;
  for (const std::string &line : lines_of(text)) {
    if (auto name = section_name(line)) {
      bonds.push_back({});
      bonds.back().name = *name;
      continue;
    }
    if (bonds.empty()) continue;
    BondState &bond = bonds.back();
    const std::string t = trim(line);
    if (starts_with(t, "member ") || starts_with(t, "slave ")) {
      // "member NAME: enabled|disabled"
      const std::string rest = t.substr(t.find(' ') + 1);
      const size_t colon = rest.find(':');
      BondMember m;
      m.name = rest.substr(0, colon);
      m.enabled = colon != std::string::npos && trim(rest.substr(colon + 1)) == "enabled";
      bond.members.push_back(m);
    } else if (!bond.members.empty() && (t == "active member" || t == "active slave")) {
      bond.members.back().active = true;
    } else if (auto v = value_of(line, "may_enable"); v && !bond.members.empty()) {
      bond.members.back().may_enable = *v == "true";
    } else if (auto v = value_of(line, "bond_mode")) {
      bond.mode = *v;
    } else if (auto v = value_of(line, "lacp_status")) {
      bond.lacp_status = *v;
    }
  }
  return bonds;
}

const RstpPortState *RstpBridgeState::port(const std::string &wanted) const {
  for (const RstpPortState &p : ports)
    if (p.name == wanted) return &p;
  return nullptr;
}

std::vector<RstpBridgeState> parse_rstp_show(const std::string &text) {
  std::vector<RstpBridgeState> bridges;
  enum class Part { kNone, kRoot, kBridge, kPorts } at = Part::kNone;
  for (const std::string &line : lines_of(text)) {
    if (auto name = section_name(line)) {
      bridges.push_back({});
      bridges.back().name = *name;
      at = Part::kNone;
      continue;
    }
    if (bridges.empty()) continue;
    RstpBridgeState &b = bridges.back();
    const std::string t = trim(line);
    if (t == "Root ID:") {
      at = Part::kRoot;
    } else if (t == "Bridge ID:") {
      at = Part::kBridge;
    } else if (starts_with(t, "Interface")) {
      at = Part::kPorts;
    } else if (at == Part::kPorts) {
      std::istringstream in(t);
      RstpPortState p;
      std::string pri_nbr;
      if (!(in >> p.name >> p.role >> p.state >> p.cost >> pri_nbr) || starts_with(p.name, "---")) continue;
      const size_t dot = pri_nbr.find('.');
      p.priority = number(pri_nbr.substr(0, dot));
      p.number = dot == std::string::npos ? 0 : number(pri_nbr.substr(dot + 1));
      b.ports.push_back(p);
    } else if (at == Part::kRoot) {
      if (auto v = value_of(line, "stp-priority"))
        b.root_priority = number(*v);
      else if (auto v = value_of(line, "stp-system-id"))
        b.root_id = *v;
      else if (auto v = value_of(line, "root-port"))
        b.root_port = *v;
      else if (auto v = value_of(line, "root-path-cost"))
        b.root_path_cost = number(*v);
      else if (t == "This bridge is the root")
        b.is_root = true;
    } else if (at == Part::kBridge) {
      if (auto v = value_of(line, "stp-priority"))
        b.bridge_priority = number(*v);
      else if (auto v = value_of(line, "stp-system-id"))
        b.bridge_id = *v;
    }
  }
  return bridges;
}

}  // namespace peers
