#include "eapol_codec.h"

#include <algorithm>

namespace dot1x {

const char *eapol_type_name(std::uint8_t type) {
  switch (type) {
    case kEapolEapPacket:
      return "EAP-Packet";
    case kEapolStart:
      return "EAPOL-Start";
    case kEapolLogoff:
      return "EAPOL-Logoff";
    case kEapolKey:
      return "EAPOL-Key";
    case kEapolAsfAlert:
      return "EAPOL-Enc.-ASF-ALERT";
    default:
      return nullptr;
  }
}

EapolParse parse_eapol(std::span<const std::uint8_t> frame) {
  EapolParse result;
  if (frame.size() < kEapolHeader) return result;
  EapolFrame f;
  std::copy(frame.begin() + 6, frame.begin() + 12, f.source.begin());
  f.version = frame[14];
  f.type = frame[15];
  if (f.type != kEapolStart && f.type != kEapolLogoff) {
    std::size_t length = std::size_t{frame[16]} << 8 | frame[17];
    // Frames below the minimum size arrive padded, so only a body longer than the frame is wrong.
    if (length > frame.size() - kEapolHeader) {
      result.error = EapolError::kBodyBeyondFrame;
      return result;
    }
    f.body = frame.subspan(kEapolHeader, length);
  }
  result.frame = f;
  return result;
}

std::vector<std::uint8_t> build_eapol_eap(const MacAddress &source, std::span<const std::uint8_t> eap) {
  std::vector<std::uint8_t> frame(kEapolHeader + eap.size());
  std::copy(kPaeGroupAddress.begin(), kPaeGroupAddress.end(), frame.begin());
  std::copy(source.begin(), source.end(), frame.begin() + 6);
  frame[12] = kEapolEthertype >> 8;
  frame[13] = kEapolEthertype & 0xff;
  frame[14] = kEapolVersion;
  frame[15] = kEapolEapPacket;
  frame[16] = static_cast<std::uint8_t>(eap.size() >> 8);
  frame[17] = static_cast<std::uint8_t>(eap.size());
  std::copy(eap.begin(), eap.end(), frame.begin() + kEapolHeader);
  return frame;
}

EapParse parse_eap(std::span<const std::uint8_t> body) {
  EapParse result;
  if (body.size() < kEapHeader) return result;
  std::size_t length = std::size_t{body[2]} << 8 | body[3];
  if (length < kEapHeader) return result;
  if (length > body.size()) {
    result.error = EapError::kBeyondBody;
    return result;
  }
  result.eap = EapPacket{body[0], body[1], body.first(length), length < body.size()};
  return result;
}

}  // namespace dot1x
