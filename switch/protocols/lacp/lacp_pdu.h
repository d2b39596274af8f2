// LACPDU and marker PDU wire format: 124-byte frames (Ethernet header + 110 bytes), big-endian fields.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "port_services.h"

namespace lacp {

using proto::Mac;

inline constexpr size_t kPduLength = 124;
inline constexpr Mac kSlowProtocolsMac{0x01, 0x80, 0xC2, 0x00, 0x00, 0x02};
inline constexpr uint16_t kSlowProtocolsType = 0x8809;
inline constexpr uint8_t kSubtypeLacp = 1;
inline constexpr uint8_t kSubtypeMarker = 2;
inline constexpr uint8_t kMarkerInformation = 1;
inline constexpr uint8_t kMarkerResponse = 2;

// Offsets inside the frame.
inline constexpr size_t kOffSubtype = 14;
inline constexpr size_t kOffMarkerTlv = 16;
inline constexpr size_t kOffActorTlv = 16;
inline constexpr size_t kOffPartnerTlv = 36;
inline constexpr size_t kOffCollectorTlv = 56;
inline constexpr size_t kOffTerminatorTlv = 72;

// Actor and partner state bits.
enum StateBit : uint8_t {
  kStateActivity = 0x01,
  kStateTimeout = 0x02,
  kStateAggregation = 0x04,
  kStateSync = 0x08,
  kStateCollecting = 0x10,
  kStateDistributing = 0x20,
  kStateDefaulted = 0x40,
  kStateExpired = 0x80,
};

// One system's view of a link end, as the actor and partner information TLVs carry it.
struct PortInfo {
  uint16_t system_priority = 0;
  Mac system{};
  uint16_t key = 0;
  uint16_t port_priority = 0;
  uint16_t port = 0;
  uint8_t state = 0;
  bool operator==(const PortInfo &) const = default;
};

struct Lacpdu {
  Mac source{};
  PortInfo actor;
  PortInfo partner;
  uint16_t collector_max_delay = 0;
};

// Writes a whole 124-byte LACPDU (collector max delay sent as 0).
void encode_lacpdu(const Mac &source, const PortInfo &actor, const PortInfo &partner, uint8_t *out);

// Why a frame of at least kPduLength bytes with subtype 1 is not a usable LACPDU, or nullptr when it is:
// the information TLVs must stand at their places with their lengths, so that no field is read from a
// frame that merely looks like one.
const char *lacpdu_defect(const uint8_t *frame);
// The decoded LACPDU, or nothing when the frame is short, has another subtype or a defect.
std::optional<Lacpdu> decode_lacpdu(const uint8_t *frame, size_t length);

// The answer to a marker information PDU: exactly kPduLength bytes of the request with the slow-protocols
// destination, the given source and the response TLV type.
void make_marker_response(const uint8_t *request, const Mac &source, uint8_t *out);

// "01-80-C2-00-00-02" (the daemon's MAC text in traces).
std::array<char, 18> mac_text(const Mac &mac);
// Names of the set bits in bit order, each followed by a space ("activity timeout ").
using FlagText = std::array<char, 128>;
FlagText flag_text(unsigned bits, const char *const *names, unsigned name_count);
FlagText state_text(uint8_t state);

inline bool is_zero(const Mac &mac) {
  return mac == Mac{};
}

}  // namespace lacp
