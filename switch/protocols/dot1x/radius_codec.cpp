#include "radius_codec.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

namespace dot1x {
namespace {

struct CtxFree {
  void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};

Digest md5_of(std::initializer_list<std::span<const std::uint8_t>> pieces) {
  std::unique_ptr<EVP_MD_CTX, CtxFree> ctx(EVP_MD_CTX_new());
  Digest out{};
  unsigned size = 0;
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return out;
  for (auto piece : pieces) EVP_DigestUpdate(ctx.get(), piece.data(), piece.size());
  EVP_DigestFinal_ex(ctx.get(), out.data(), &size);
  return out;
}

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t *>(text.data()), text.size()};
}

class Writer {
 public:
  explicit Writer(std::vector<std::uint8_t> &out) : out_(out) {}
  // Adds the value as attributes of at most 253 bytes each; false (nothing added) past `limit`.
  bool add(std::uint8_t type, std::span<const std::uint8_t> value, std::size_t limit) {
    std::size_t pieces = value.empty() ? 1 : (value.size() + 252) / 253;
    if (out_.size() + value.size() + 2 * pieces > limit) return false;
    std::size_t at = 0;
    do {
      std::size_t n = std::min<std::size_t>(253, value.size() - at);
      out_.push_back(type);
      out_.push_back(static_cast<std::uint8_t>(n + 2));
      out_.insert(out_.end(), value.begin() + at, value.begin() + at + n);
      at += n;
    } while (at < value.size());
    return true;
  }
  std::size_t size() const { return out_.size(); }

 private:
  std::vector<std::uint8_t> &out_;
};

std::array<std::uint8_t, 4> be32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

constexpr std::size_t kMessageAuthenticatorSize = 18;

}  // namespace

Digest md5(std::span<const std::uint8_t> data) {
  return md5_of({data});
}

HmacMd5::HmacMd5(std::string_view key) {
  std::array<std::uint8_t, 64> block{};
  if (key.size() > block.size()) {
    Digest d = md5(bytes_of(key));
    std::copy(d.begin(), d.end(), block.begin());
  } else {
    std::copy(key.begin(), key.end(), block.begin());
  }
  for (std::size_t i = 0; i < block.size(); ++i) {
    inner_pad_[i] = block[i] ^ 0x36;
    outer_pad_[i] = block[i] ^ 0x5c;
  }
}

Digest HmacMd5::operator()(std::span<const std::uint8_t> data) const {
  Digest inner = md5_of({inner_pad_, data});
  return md5_of({outer_pad_, inner});
}

const char *radius_code_name(std::uint8_t code) {
  switch (code) {
    case kRadiusAccessRequest:
      return "Access Request";
    case kRadiusAccessAccept:
      return "Access Accept";
    case kRadiusAccessReject:
      return "Access Reject";
    case kRadiusAccessChallenge:
      return "Access Challenge";
    default:
      return "!!!UNKNOWN RADIUS CODE!!!";
  }
}

std::string mac_text(const MacAddress &mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                mac[5]);
  return text;
}

std::optional<std::vector<std::uint8_t>> encode_access_request(const AccessRequestInput &input,
                                                               std::uint8_t identifier,
                                                               const Digest &request_authenticator,
                                                               const HmacMd5 &key) {
  if (input.user_name.empty()) return std::nullopt;
  std::vector<std::uint8_t> packet(kRadiusHeader);
  packet.reserve(kRadiusMaxPacket);
  packet[0] = kRadiusAccessRequest;
  packet[1] = identifier;
  std::copy(request_authenticator.begin(), request_authenticator.end(), packet.begin() + 4);
  Writer w(packet);
  const std::size_t hard_limit = kRadiusMaxPacket - kMessageAuthenticatorSize;
  w.add(kRadiusAttrEapMessage, input.eap, hard_limit);
  std::span<const std::uint8_t> state = input.state.first(std::min(input.state.size(), kRadiusMaxState));
  if (!state.empty()) w.add(kRadiusAttrState, state, hard_limit);

  // The informational attributes stop once the packet nears its size limit.
  const std::size_t soft_limit = 1450 - state.size();
  auto number = [&](std::uint8_t type, std::uint32_t value) {
    if (w.size() + 4 < soft_limit) w.add(type, be32(value), hard_limit);
  };
  auto text = [&](std::uint8_t type, std::string_view value) {
    if (w.size() + value.size() < soft_limit) w.add(type, bytes_of(value), hard_limit);
  };
  char port_id[16];
  std::snprintf(port_id, sizeof port_id, "Port %u", input.port);
  number(kRadiusAttrNasPortType, 15);
  text(kRadiusAttrUserName, input.user_name);
  number(kRadiusAttrNasIpAddress, input.nas_ip);
  number(kRadiusAttrNasPort, input.port);
  number(kRadiusAttrFramedMtu, 1000);
  text(kRadiusAttrNasPortId, port_id);
  text(kRadiusAttrCallingStationId, mac_text(input.supplicant));
  text(kRadiusAttrCalledStationId, mac_text(input.system));

  const std::size_t ma_at = packet.size() + 2;
  packet.push_back(kRadiusAttrMessageAuthenticator);
  packet.push_back(kMessageAuthenticatorSize);
  packet.resize(packet.size() + 16, 0);
  packet[2] = static_cast<std::uint8_t>(packet.size() >> 8);
  packet[3] = static_cast<std::uint8_t>(packet.size());
  Digest mac = key(packet);
  std::copy(mac.begin(), mac.end(), packet.begin() + static_cast<std::ptrdiff_t>(ma_at));
  return packet;
}

std::optional<std::uint8_t> reply_identifier(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < kRadiusHeader || datagram.size() > kRadiusMaxPacket) return std::nullopt;
  if ((std::size_t{datagram[2]} << 8 | datagram[3]) != datagram.size()) return std::nullopt;
  return datagram[1];
}

std::optional<RadiusReply> decode_reply(std::span<const std::uint8_t> datagram,
                                        const Digest &request_authenticator, const HmacMd5 &key,
                                        std::string_view secret) {
  if (!reply_identifier(datagram)) return std::nullopt;
  RadiusReply reply;
  reply.code = datagram[0];
  std::optional<std::size_t> message_authenticator;  // offset of its value
  bool has_eap = false;
  for (std::size_t at = kRadiusHeader; at < datagram.size();) {
    if (datagram.size() - at < 2) return std::nullopt;
    std::size_t length = datagram[at + 1];
    if (length < 2 || length > datagram.size() - at) return std::nullopt;
    auto value = datagram.subspan(at + 2, length - 2);
    switch (datagram[at]) {
      case kRadiusAttrEapMessage:
        has_eap = true;
        reply.eap.insert(reply.eap.end(), value.begin(), value.end());
        break;
      case kRadiusAttrState:
        reply.state.insert(reply.state.end(), value.begin(), value.end());
        break;
      case kRadiusAttrMessageAuthenticator:
        if (value.size() != 16 || message_authenticator) return std::nullopt;
        message_authenticator = at + 2;
        break;
      default:
        break;
    }
    at += length;
  }
  if (reply.state.size() > kRadiusMaxState) return std::nullopt;

  std::vector<std::uint8_t> copy(datagram.begin(), datagram.end());
  std::copy(request_authenticator.begin(), request_authenticator.end(), copy.begin() + 4);
  if (message_authenticator) {
    // Checked whenever present, so a forged one never passes on the strength of the other check.
    auto at = static_cast<std::ptrdiff_t>(*message_authenticator);
    std::fill(copy.begin() + at, copy.begin() + at + 16, 0);
    Digest expected = key(copy);
    if (!std::equal(expected.begin(), expected.end(), datagram.begin() + at)) return std::nullopt;
  } else if (has_eap) {
    return std::nullopt;
  }
  std::copy(request_authenticator.begin(), request_authenticator.end(), copy.begin() + 4);
  if (message_authenticator) {
    auto at = static_cast<std::ptrdiff_t>(*message_authenticator);
    std::copy(datagram.begin() + at, datagram.begin() + at + 16, copy.begin() + at);
  }
  Digest response = md5_of({copy, bytes_of(secret)});
  if (!std::equal(response.begin(), response.end(), datagram.begin() + 4)) return std::nullopt;
  return reply;
}

}  // namespace dot1x
