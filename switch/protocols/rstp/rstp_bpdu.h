// Spanning tree BPDUs on the wire (802.3 length + LLC 42-42-03, big-endian fields) and the priority
// vectors and times they carry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "port_services.h"

namespace rstp {

using proto::Mac;

inline constexpr Mac kBpduMac{0x01, 0x80, 0xC2, 0x00, 0x00, 0x00};

enum BpduType : uint8_t { kBpduConfig = 0x00, kBpduRst = 0x02, kBpduTcn = 0x80 };
inline constexpr size_t kConfigBpduLength = 35;
inline constexpr size_t kRstBpduLength = 36;
inline constexpr size_t kTcnBpduLength = 4;
inline constexpr size_t kBpduHeaderLength = 17;  // addresses, length field, LLC
inline constexpr size_t kMaxBpduFrame = kRstBpduLength + kBpduHeaderLength;

enum BpduFlag : uint8_t {
  kFlagTc = 0x01,
  kFlagProposal = 0x02,
  kFlagRoleShift = 2,  // two bits
  kFlagLearning = 0x10,
  kFlagForwarding = 0x20,
  kFlagAgreement = 0x40,
  kFlagTcAck = 0x80,
};

// Role as carried in bits 2-3 of an RST BPDU's flags.
enum BpduRole : uint8_t {
  kBpduRoleUnknown = 0,
  kBpduRoleAltBackup = 1,
  kBpduRoleRoot = 2,
  kBpduRoleDesignated = 3
};

enum class Order { kBetter, kEqual, kWorse };

struct BridgeId {
  uint16_t priority = 0;
  Mac mac{};
  bool operator==(const BridgeId &) const = default;
};
Order compare(const BridgeId &a, const BridgeId &b);

struct PriorityVector {
  BridgeId root;
  uint32_t root_path_cost = 0;
  BridgeId designated_bridge;
  uint16_t designated_port = 0;
  uint16_t bridge_port = 0;
  bool operator==(const PriorityVector &) const = default;
};
Order compare(const PriorityVector &a, const PriorityVector &b);

// Whole seconds.
struct Times {
  uint8_t message_age = 0;
  uint8_t max_age = 0;
  uint8_t forward_delay = 0;
  uint8_t hello_time = 0;
  bool operator==(const Times &) const = default;
};

// Ranges a bridge accepts for times learned from a peer: a hello time of 0 would make the transmit
// machine spin, a forward delay or max age of 0 would make ports forward or age at once.
inline constexpr uint8_t kMinHello = 1, kMaxHello = 10;
inline constexpr uint8_t kMinForwardDelay = 4, kMaxForwardDelay = 30;
inline constexpr uint8_t kMinMaxAge = 6, kMaxMaxAge = 40;
Times clamp_times(Times times);

struct Bpdu {
  uint8_t version = 0;
  uint8_t type = kBpduConfig;
  uint8_t flags = 0;
  PriorityVector vector;  // bridge_port is not on the wire
  Times times;
  uint8_t role() const { return type == kBpduRst ? (flags >> kFlagRoleShift) & 3 : kBpduRoleUnknown; }
};

inline size_t bpdu_length(uint8_t type) {
  return type == kBpduRst ? kRstBpduLength : type == kBpduTcn ? kTcnBpduLength : kConfigBpduLength;
}

// Writes the whole frame (kBpduHeaderLength + bpdu_length(type) bytes) into out.
size_t encode_bpdu(const Bpdu &bpdu, const Mac &source, uint8_t *out);

enum class Decode { kOk, kIllegal, kUnrecognised };
// Checks a received frame before any field is used: the 802.3 length must cover the BPDU of its type
// and lie inside the frame, the LLC header and protocol identifier must be those of spanning tree.
// Received times are clamped to the accepted ranges.
Decode decode_bpdu(const uint8_t *frame, size_t length, Bpdu &out);

}  // namespace rstp
