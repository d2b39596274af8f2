#include "protocol_objects.h"

#include "le.h"

#include <cstdio>
#include <stdexcept>

namespace peers {

namespace {

void need(const std::vector<uint8_t> &bytes, size_t size, const char *what) {
  if (bytes.size() != size)
    throw std::runtime_error(std::string(what) + ": " + std::to_string(bytes.size()) + " bytes, not " +
                             std::to_string(size));
}

MacAddress mac_at(const uint8_t *p) {
  MacAddress mac{};
  std::copy(p, p + 6, mac.begin());
  return mac;
}

// Priority field, two zero bytes, MAC, two zero bytes.
BridgeId id_at(const uint8_t *p) {
  return {le_load16(p), mac_at(p + 4)};
}

}  // namespace

std::string colon_text(const MacAddress &mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                mac[5]);
  return text;
}

std::vector<uint8_t> LacpConfig::encode() const {
  std::vector<uint8_t> b(kSize, 0);
  le_store16(&b[0], system_priority);
  std::copy(system_mac.begin(), system_mac.end(), b.begin() + 4);
  for (size_t i = 0; i < ports.size(); ++i) {
    uint8_t *p = &b[20 + 8 * i];
    le_store16(p, ports[i].priority);
    le_store16(p + 2, ports[i].key);
    p[4] = ports[i].enabled;
    p[5] = ports[i].fast;
    p[6] = ports[i].active;
  }
  return b;
}

LacpConfig LacpConfig::decode(const std::vector<uint8_t> &b) {
  need(b, kSize, "LACP configuration");
  LacpConfig c;
  c.system_priority = le_load16(&b[0]);
  c.system_mac = mac_at(&b[4]);
  for (size_t i = 0; i < c.ports.size(); ++i) {
    const uint8_t *p = &b[20 + 8 * i];
    c.ports[i] = {le_load16(p), le_load16(p + 2), p[4], p[5], p[6]};
  }
  return c;
}

LacpStatus LacpStatus::decode(const std::vector<uint8_t> &b) {
  need(b, kSize, "LACP status");
  LacpStatus s;
  const uint32_t n = le_load32(&b[0]);
  if (n > 4) throw std::runtime_error("LACP status with " + std::to_string(n) + " aggregations");
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t *a = &b[4 + 28 * i];
    LacpAggregation g;
    g.id = le_load16(a);
    g.partner = mac_at(a + 4);
    g.partner_priority = le_load16(a + 12);
    g.partner_key = le_load16(a + 14);
    g.seconds = le_load32(a + 16);
    std::copy(a + 20, a + 26, g.members.begin());
    s.aggregations.push_back(g);
  }
  for (size_t i = 0; i < s.ports.size(); ++i) {
    const uint8_t *p = &b[136 + 48 * i];
    LacpPortStatus &r = s.ports[i];
    r.port = le_load16(p);
    r.enabled = p[2];
    r.apply = p[3];
    r.oper_key = le_load16(p + 4);
    r.admin_key = le_load16(p + 6);
    r.aggregation = le_load16(p + 8);
    r.partner_port_priority = le_load16(p + 10);
    r.partner_port = le_load16(p + 12);
    for (size_t c = 0; c < r.counters.size(); ++c) r.counters[c] = le_load32(p + 16 + 4 * c);
  }
  return s;
}

std::vector<uint8_t> RstpConfig::encode() const {
  std::vector<uint8_t> b(kSize, 0);
  le_store16(&b[0], priority);
  le_store16(&b[2], max_age);
  le_store16(&b[4], hello);
  le_store16(&b[6], forward_delay);
  b[8] = force_version;
  for (size_t i = 0; i < ports.size(); ++i) {
    uint8_t *p = &b[12 + 12 * i];
    le_store32(p, ports[i].cost);
    p[4] = ports[i].priority;
    p[6] = ports[i].enabled;
    p[7] = ports[i].admin_edge;
    p[8] = ports[i].admin_p2p;
  }
  return b;
}

RstpConfig RstpConfig::decode(const std::vector<uint8_t> &b) {
  need(b, kSize, "RSTP configuration");
  RstpConfig c;
  c.priority = le_load16(&b[0]);
  c.max_age = le_load16(&b[2]);
  c.hello = le_load16(&b[4]);
  c.forward_delay = le_load16(&b[6]);
  c.force_version = b[8];
  for (size_t i = 0; i < c.ports.size(); ++i) {
    const uint8_t *p = &b[12 + 12 * i];
    c.ports[i] = {le_load32(p), p[4], p[6], p[7], p[8]};
  }
  return c;
}

RstpStatus RstpStatus::decode(const std::vector<uint8_t> &b) {
  need(b, kSize, "RSTP status");
  RstpStatus s;
  for (size_t i = 0; i < s.bridges.size(); ++i) {
    const uint8_t *r = &b[52 * i];
    RstpBridgeStatus &x = s.bridges[i];
    x.bridge = id_at(r);
    x.root = id_at(r + 12);
    x.root_cost = le_load32(r + 24);
    x.root_port = le_load16(r + 28);
    x.root_port_priority = le_load16(r + 30);
    x.max_age = le_load16(r + 32);
    x.hello = le_load16(r + 34);
    x.forward_delay = le_load16(r + 36);
    x.vlan = le_load16(r + 38);
    x.ports = le_load16(r + 40);
    x.enabled = r[42];
    x.topology_change = r[43];
    x.topology_changes = le_load16(r + 44);
  }
  for (size_t p = 1; p < s.ports.size(); ++p) {
    const uint8_t *r = &b[312 + 68 * p];
    RstpPortStatus &x = s.ports[p];
    x.port = le_load16(r);
    x.vlan = le_load16(r + 2);
    x.root = id_at(r + 4);
    x.root_cost = le_load32(r + 16);
    x.designated_port = le_load16(r + 20);
    x.path_cost = le_load32(r + 24);
    x.aggregation = le_load16(r + 28);
    x.state = static_cast<RstpState>(r[30]);
    x.active = r[31];
    x.role = static_cast<RstpRole>(r[32]);
    x.p2p = r[33];
    x.edge = r[34];
    x.old_protocol = r[35];
    for (size_t c = 0; c < x.counters.size(); ++c) x.counters[c] = le_load32(r + 36 + 4 * c);
  }
  return s;
}

std::string role_name(RstpRole role) {
  static const char *const kNames[] = {"Disabled", "Alternate", "Backup", "Root", "Designated", "NonStp"};
  const auto i = static_cast<size_t>(role);
  return i < 6 ? kNames[i] : "Unknown";
}

std::string state_name(RstpState state) {
  static const char *const kNames[] = {"Disabled", "Discarding", "Learning", "Forwarding", "NotRunning"};
  const auto i = static_cast<size_t>(state);
  return i < 5 ? kNames[i] : "Unknown";
}

}  // namespace peers
