// Server replies are untrusted: decoding any datagram must neither crash nor read out of bounds, and
// a reply signed with the right secret must decode whatever its attributes.
#include "radius_codec.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  using namespace dot1x;
  static const HmacMd5 kKey("fuzzsecret");
  const Digest request_auth{};
  std::span<const std::uint8_t> input(data, size);
  (void)decode_reply(input, request_auth, kKey, "fuzzsecret");

  // Re-sign the input as a server would, so the attribute walk past the authenticity check runs too.
  if (size < kRadiusHeader || size > kRadiusMaxPacket) return 0;
  std::vector<std::uint8_t> p(data, data + size);
  p[2] = static_cast<std::uint8_t>(size >> 8);
  p[3] = static_cast<std::uint8_t>(size);
  std::fill(p.begin() + 4, p.begin() + 20, 0);
  std::vector<std::uint8_t> signed_input = p;
  for (char c : std::string_view("fuzzsecret")) signed_input.push_back(static_cast<std::uint8_t>(c));
  Digest response = md5(signed_input);
  std::copy(response.begin(), response.end(), p.begin() + 4);
  auto reply = decode_reply(p, request_auth, kKey, "fuzzsecret");
  if (reply && reply->state.size() > kRadiusMaxState) std::abort();
  return 0;
}
