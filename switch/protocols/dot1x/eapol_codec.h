// EAPOL frames between the authenticator and a supplicant, and the EAP packets they carry. Received
// frames are untrusted: a body or EAP length that runs past the bytes received is refused.
#pragma once

#include "radius_codec.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace dot1x {

inline constexpr MacAddress kPaeGroupAddress{0x01, 0x80, 0xc2, 0x00, 0x00, 0x03};
inline constexpr std::uint16_t kEapolEthertype = 0x888e;
inline constexpr std::uint8_t kEapolVersion = 2;
// Destination, source, EtherType, version, type and body length.
inline constexpr std::size_t kEapolHeader = 18;

enum EapolType : std::uint8_t {
  kEapolEapPacket = 0,
  kEapolStart = 1,
  kEapolLogoff = 2,
  kEapolKey = 3,
  kEapolAsfAlert = 4
};
enum EapCode : std::uint8_t { kEapRequest = 1, kEapResponse = 2, kEapSuccess = 3, kEapFailure = 4 };
inline constexpr std::uint8_t kEapTypeIdentity = 1;
inline constexpr std::size_t kEapHeader = 4;

// "EAP-Packet", "EAPOL-Start", ...; nullptr for an unknown type.
const char *eapol_type_name(std::uint8_t type);

struct EapolFrame {
  MacAddress source{};
  std::uint8_t version = 0;
  std::uint8_t type = 0;
  std::span<const std::uint8_t> body;  // empty for Start and Logoff, whose body is not read
};

enum class EapolError { kTooShort, kBodyBeyondFrame };

struct EapolParse {
  std::optional<EapolFrame> frame;
  EapolError error = EapolError::kTooShort;
};

// Reads a received frame; the body length of a frame whose body is read must fit in the frame.
EapolParse parse_eapol(std::span<const std::uint8_t> frame);

// An EAP-Packet frame from `source` to the PAE group address, unpadded.
std::vector<std::uint8_t> build_eapol_eap(const MacAddress &source, std::span<const std::uint8_t> eap);

struct EapPacket {
  std::uint8_t code = 0;
  std::uint8_t identifier = 0;
  std::span<const std::uint8_t> packet;  // the whole packet, header included, as long as its length says
  bool extra_bytes = false;              // the EAPOL body held bytes after it
};

enum class EapError { kShorterThanHeader, kBeyondBody };

struct EapParse {
  std::optional<EapPacket> eap;
  EapError error = EapError::kShorterThanHeader;
};

// Reads the EAP packet in an EAPOL body of at least 4 bytes.
EapParse parse_eap(std::span<const std::uint8_t> body);

}  // namespace dot1x
