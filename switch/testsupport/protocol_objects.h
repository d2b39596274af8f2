// The management records of the switch's LACP and RSTP (objects 4017-4021) as the peer tests read and
// write them over port 28: little-endian, at the offsets the objects define.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace peers {

using MacAddress = std::array<uint8_t, 6>;
std::string colon_text(const MacAddress &mac);

constexpr uint32_t kObjLacpConfig = 4017;
constexpr uint32_t kObjLacpStatus = 4018;
constexpr uint32_t kObjRstpConfig = 4019;
constexpr uint32_t kObjRstpStatus = 4020;
constexpr uint32_t kObjRstpMcheck = 4021;

struct LacpPortConfig {
  uint16_t priority = 32768;
  uint16_t key = 0;
  uint8_t enabled = 0;
  uint8_t fast = 1;
  uint8_t active = 1;
};

// Object 4017, 68 bytes.
struct LacpConfig {
  static constexpr size_t kSize = 68;
  uint16_t system_priority = 32768;
  MacAddress system_mac{};
  std::array<LacpPortConfig, 6> ports{};  // ports 1..6 at index 0..5
  std::vector<uint8_t> encode() const;
  static LacpConfig decode(const std::vector<uint8_t> &bytes);
};

struct LacpAggregation {
  uint16_t id = 0;
  MacAddress partner{};
  uint16_t partner_priority = 0;
  uint16_t partner_key = 0;
  uint32_t seconds = 0;
  std::array<uint8_t, 6> members{};  // ports 1..6
};

struct LacpPortStatus {
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
struct LacpStatus {
  static constexpr size_t kSize = 424;
  std::vector<LacpAggregation> aggregations;
  std::array<LacpPortStatus, 6> ports{};
  static LacpStatus decode(const std::vector<uint8_t> &bytes);
};

struct RstpPortConfig {
  uint32_t cost = 0;
  uint8_t priority = 128;
  uint8_t enabled = 1;
  uint8_t admin_edge = 1;
  uint8_t admin_p2p = 2;
};

// Object 4019, 96 bytes: the bridge, then slot 0 for the aggregation ports and slots 1..6.
struct RstpConfig {
  static constexpr size_t kSize = 96;
  uint16_t priority = 32768;
  uint16_t max_age = 20;
  uint16_t hello = 2;
  uint16_t forward_delay = 15;
  uint8_t force_version = 2;
  std::array<RstpPortConfig, 7> ports{};
  std::vector<uint8_t> encode() const;
  static RstpConfig decode(const std::vector<uint8_t> &bytes);
};

struct BridgeId {
  uint16_t priority = 0;
  MacAddress mac{};
  bool operator==(const BridgeId &) const = default;
};

struct RstpBridgeStatus {
  BridgeId bridge;
  BridgeId root;
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

enum class RstpRole : uint8_t {
  kDisabled = 0,
  kAlternate = 1,
  kBackup = 2,
  kRoot = 3,
  kDesignated = 4,
  kNonStp = 5
};
enum class RstpState : uint8_t {
  kDisabled = 0,
  kDiscarding = 1,
  kLearning = 2,
  kForwarding = 3,
  kNotRunning = 4
};
std::string role_name(RstpRole role);
std::string state_name(RstpState state);

struct RstpPortStatus {
  uint16_t port = 0;
  uint16_t vlan = 0;
  BridgeId root;
  uint32_t root_cost = 0;
  uint16_t designated_port = 0;
  uint32_t path_cost = 0;
  uint16_t aggregation = 0;
  RstpState state = RstpState::kDisabled;
  uint8_t active = 0;
  RstpRole role = RstpRole::kDisabled;
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
struct RstpStatus {
  static constexpr size_t kSize = 992;
  std::array<RstpBridgeStatus, 6> bridges{};
  std::array<RstpPortStatus, 10> ports{};  // index = logical port number; 0 unused
  static RstpStatus decode(const std::vector<uint8_t> &bytes);
};

}  // namespace peers
