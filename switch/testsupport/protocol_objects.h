// The management records of the switch's LACP and RSTP (objects 4017-4021) as the peer tests read and
// write them over port 28: little-endian, at the offsets the objects define.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace peers {

using mac_address = std::array<uint8_t, 6>;
std::string colon_text(const mac_address &mac);

constexpr uint32_t kObjLacpConfig = 4017;
constexpr uint32_t kObjLacpStatus = 4018;
constexpr uint32_t kObjRstpConfig = 4019;
constexpr uint32_t kObjRstpStatus = 4020;
constexpr uint32_t kObjRstpMcheck = 4021;

struct lacp_port_config {
  uint16_t priority = 32768;
  uint16_t key = 0;
  uint8_t enabled = 0;
  uint8_t fast = 1;
  uint8_t active = 1;
};

// Object 4017, 68 bytes.
struct lacp_config {
  static constexpr size_t size = 68;
  uint16_t system_priority = 32768;
  mac_address system_mac{};
  std::array<lacp_port_config, 6> ports{};  // ports 1..6 at index 0..5
  std::vector<uint8_t> encode() const;
  static lacp_config decode(const std::vector<uint8_t> &bytes);
};

struct lacp_aggregation {
  uint16_t id = 0;
  mac_address partner{};
  uint16_t partner_priority = 0;
  uint16_t partner_key = 0;
  uint32_t seconds = 0;
  std::array<uint8_t, 6> members{};  // ports 1..6
};

struct lacp_port_status {
  uint16_t port = 0;
  uint8_t enabled = 0;
  uint8_t apply = 0;
  uint16_t oper_key = 0;
  uint16_t admin_key = 0;
  uint16_t aggregation = 0;
  uint16_t partner_port_priority = 0;
  uint16_t partner_port = 0;
  // LACPDUs sent, received, reserved, markers received, marker responses sent and received,
  // unrecognised subtype, illegal frames.
  std::array<uint32_t, 8> counters{};
  uint32_t lacpdus_sent() const { return counters[0]; }
  uint32_t lacpdus_received() const { return counters[1]; }
  uint32_t unknown_subtype() const { return counters[6]; }
  uint32_t illegal() const { return counters[7]; }
};

// Object 4018, 424 bytes.
struct lacp_status {
  static constexpr size_t size = 424;
  std::vector<lacp_aggregation> aggregations;
  std::array<lacp_port_status, 6> ports{};
  static lacp_status decode(const std::vector<uint8_t> &bytes);
};

struct rstp_port_config {
  uint32_t cost = 0;
  uint8_t priority = 128;
  uint8_t enabled = 1;
  uint8_t admin_edge = 1;
  uint8_t admin_p2p = 2;
};

// Object 4019, 96 bytes: the bridge, then slot 0 for the aggregation ports and slots 1..6.
struct rstp_config {
  static constexpr size_t size = 96;
  uint16_t priority = 32768;
  uint16_t max_age = 20;
  uint16_t hello = 2;
  uint16_t forward_delay = 15;
  uint8_t force_version = 2;
  std::array<rstp_port_config, 7> ports{};
  std::vector<uint8_t> encode() const;
  static rstp_config decode(const std::vector<uint8_t> &bytes);
};

struct bridge_id {
  uint16_t priority = 0;
  mac_address mac{};
  bool operator==(const bridge_id &) const = default;
};

struct rstp_bridge_status {
  bridge_id bridge;
  bridge_id root;
  uint32_t root_cost = 0;
  uint16_t root_port = 0;
  uint16_t root_port_priority = 0;
  uint16_t max_age = 0, hello = 0, forward_delay = 0;
  uint16_t vlan = 0;
  uint16_t ports = 0;
  uint8_t enabled = 0;
  uint8_t topology_change = 0;
  uint16_t topology_changes = 0;
};

enum class rstp_role : uint8_t {
  disabled = 0,
  alternate = 1,
  backup = 2,
  root = 3,
  designated = 4,
  non_stp = 5
};
enum class rstp_state : uint8_t {
  disabled = 0,
  discarding = 1,
  learning = 2,
  forwarding = 3,
  not_running = 4
};
std::string role_name(rstp_role role);
std::string state_name(rstp_state state);

struct rstp_port_status {
  uint16_t port = 0;
  uint16_t vlan = 0;
  bridge_id root;
  uint32_t root_cost = 0;
  uint16_t designated_port = 0;
  uint32_t path_cost = 0;
  uint16_t aggregation = 0;
  rstp_state state = rstp_state::disabled;
  uint8_t active = 0;
  rstp_role role = rstp_role::disabled;
  uint8_t p2p = 0;
  uint8_t edge = 0;
  uint8_t old_protocol = 0;
  // Configuration BPDUs sent, received; RST BPDUs sent, received; TCNs sent, received; unrecognised
  // type; illegal (short) frames.
  std::array<uint32_t, 8> counters{};
  uint32_t config_sent() const { return counters[0]; }
  uint32_t config_received() const { return counters[1]; }
  uint32_t rst_sent() const { return counters[2]; }
  uint32_t rst_received() const { return counters[3]; }
  uint32_t unknown_type() const { return counters[6]; }
  uint32_t illegal() const { return counters[7]; }
};

// Object 4020, 992 bytes: six bridge records, then logical ports 1..9.
struct rstp_status {
  static constexpr size_t size = 992;
  std::array<rstp_bridge_status, 6> bridges{};
  std::array<rstp_port_status, 10> ports{};  // index = logical port number; 0 unused
  static rstp_status decode(const std::vector<uint8_t> &bytes);
};

}  // namespace peers
