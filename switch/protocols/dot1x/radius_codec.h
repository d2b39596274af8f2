// RADIUS packets of the 802.1X back end: the Access-Request that carries a supplicant's EAP response
// to the server, and the checked decoding of the server's replies. Replies come from the network and
// are untrusted: every length is checked before use and nothing is believed before its authenticator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dot1x {

inline constexpr std::size_t kRadiusMaxPacket = 1472;
inline constexpr std::size_t kRadiusHeader = 20;
inline constexpr std::size_t kRadiusMaxState = 32;

enum RadiusCode : std::uint8_t {
  kRadiusAccessRequest = 1,
  kRadiusAccessAccept = 2,
  kRadiusAccessReject = 3,
  kRadiusAccessChallenge = 11
};

enum RadiusAttribute : std::uint8_t {
  kRadiusAttrUserName = 1,
  kRadiusAttrNasIpAddress = 4,
  kRadiusAttrNasPort = 5,
  kRadiusAttrFramedMtu = 12,
  kRadiusAttrState = 24,
  kRadiusAttrCalledStationId = 30,
  kRadiusAttrCallingStationId = 31,
  kRadiusAttrNasPortType = 61,
  kRadiusAttrEapMessage = 79,
  kRadiusAttrMessageAuthenticator = 80,
  kRadiusAttrNasPortId = 87
};

using Digest = std::array<std::uint8_t, 16>;
using MacAddress = std::array<std::uint8_t, 6>;

Digest md5(std::span<const std::uint8_t> data);

// Keyed MD5 with the inner and outer states computed once from the key, so each packet costs two
// digest continuations.
class HmacMd5 {
 public:
  explicit HmacMd5(std::string_view key = {});
  Digest operator()(std::span<const std::uint8_t> data) const;

 private:
  std::array<std::uint8_t, 64> inner_pad_{};
  std::array<std::uint8_t, 64> outer_pad_{};
};

// Text names of reply codes as the traces show them.
const char *radius_code_name(std::uint8_t code);
// "%02x:%02x:%02x:%02x:%02x:%02x".
std::string mac_text(const MacAddress &mac);

struct AccessRequestInput {
  std::span<const std::uint8_t> eap;    // the supplicant's EAP response
  std::span<const std::uint8_t> state;  // State of the last challenge, empty when none is kept
  std::string_view user_name;
  std::uint32_t nas_ip = 0;
  unsigned port = 0;
  MacAddress supplicant{};
  MacAddress system{};
};

// The whole Access-Request, Message-Authenticator filled in. The Message-Authenticator is always
// present, because a server must drop an EAP-Message without one; the optional attributes make way
// for it when the packet is full. nullopt for an empty user name: a User-Name holds at least one
// character, and a server may drop a packet with an empty one as malformed.
std::optional<std::vector<std::uint8_t>> encode_access_request(const AccessRequestInput &input,
                                                               std::uint8_t identifier,
                                                               const Digest &request_authenticator,
                                                               const HmacMd5 &key);

// The identifier of a datagram whose length field equals its size and lies within 20..1472 bytes.
std::optional<std::uint8_t> reply_identifier(std::span<const std::uint8_t> datagram);

struct RadiusReply {
  std::uint8_t code = 0;
  std::vector<std::uint8_t> eap;    // EAP-Message values, concatenated
  std::vector<std::uint8_t> state;  // State values, concatenated
};

// Decodes a reply after checking its attribute walk and its authenticity against the request it
// answers: the Message-Authenticator when an EAP-Message is present (which then must have one),
// else the Response Authenticator. nullopt for anything malformed, forged or with a State longer than
// a port keeps.
std::optional<RadiusReply> decode_reply(std::span<const std::uint8_t> datagram,
                                        const Digest &request_authenticator, const HmacMd5 &key,
                                        std::string_view secret);

}  // namespace dot1x
