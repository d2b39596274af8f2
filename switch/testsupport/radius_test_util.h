// Server side of the RADIUS tests: builds replies as a server would sign them.
#pragma once

#include "radius_codec.h"

#include <initializer_list>
#include <utility>

namespace dot1x::test {

inline std::vector<std::uint8_t> bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// A reply with the given attributes; signs it with a Message-Authenticator when `with_ma` and always
// with the Response Authenticator.
inline std::vector<std::uint8_t> server_reply(
    std::uint8_t code, std::uint8_t id, const Digest &request_auth, std::string_view secret,
    std::initializer_list<std::pair<std::uint8_t, std::vector<std::uint8_t>>> attributes, bool with_ma) {
  std::vector<std::uint8_t> p(kRadiusHeader);
  p[0] = code;
  p[1] = id;
  std::copy(request_auth.begin(), request_auth.end(), p.begin() + 4);
  for (const auto &[type, value] : attributes) {
    p.push_back(type);
    p.push_back(static_cast<std::uint8_t>(value.size() + 2));
    p.insert(p.end(), value.begin(), value.end());
  }
  std::size_t ma = 0;
  if (with_ma) {
    p.push_back(kRadiusAttrMessageAuthenticator);
    p.push_back(18);
    ma = p.size();
    p.resize(p.size() + 16, 0);
  }
  p[2] = static_cast<std::uint8_t>(p.size() >> 8);
  p[3] = static_cast<std::uint8_t>(p.size());
  if (with_ma) {
    Digest d = HmacMd5(secret)(p);
    std::copy(d.begin(), d.end(), p.begin() + static_cast<std::ptrdiff_t>(ma));
  }
  std::vector<std::uint8_t> signed_input = p;
  signed_input.insert(signed_input.end(), secret.begin(), secret.end());
  Digest response = md5(signed_input);
  std::copy(response.begin(), response.end(), p.begin() + 4);
  return p;
}

}  // namespace dot1x::test
