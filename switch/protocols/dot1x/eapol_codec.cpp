#include "eapol_codec.h"

#include <algorithm>

namespace dot1x {

const char *eapol_type_name(std::uint8_t type) {
  switch (type) {
    case EAPOL_EAP_PACKET:
      return "EAP-Packet";
    case EAPOL_START:
      return "EAPOL-Start";
    case EAPOL_LOGOFF:
      return "EAPOL-Logoff";
    case EAPOL_KEY:
      return "EAPOL-Key";
    case EAPOL_ASF_ALERT:
      return "EAPOL-Enc.-ASF-ALERT";
    default:
      return nullptr;
  }
}

EapolParse parse_eapol(std::span<const std::uint8_t> frame) {
  EapolParse result;
  if (frame.size() < EAPOL_HEADER) return result;
  EapolFrame f;
  std::copy(frame.begin() + 6, frame.begin() + 12, f.source.begin());
  f.version = frame[14];
  f.type = frame[15];
  if (f.type != EAPOL_START && f.type != EAPOL_LOGOFF) {
    std::size_t length = std::size_t{frame[16]} << 8 | frame[17];
    // Frames below the minimum size arrive padded, so only a body longer than the frame is wrong.
    if (length > frame.size() - EAPOL_HEADER) {
      result.error = EapolError::body_beyond_frame;
      return result;
    }
    f.body = frame.subspan(EAPOL_HEADER, length);
  }
  result.frame = f;
  return result;
}

std::vector<std::uint8_t> build_eapol_eap(const MacAddress &source, std::span<const std::uint8_t> eap) {
  std::vector<std::uint8_t> frame(EAPOL_HEADER + eap.size());
  std::copy(PAE_GROUP_ADDRESS.begin(), PAE_GROUP_ADDRESS.end(), frame.begin());
  std::copy(source.begin(), source.end(), frame.begin() + 6);
  frame[12] = EAPOL_ETHERTYPE >> 8;
  frame[13] = EAPOL_ETHERTYPE & 0xff;
  frame[14] = EAPOL_VERSION;
  frame[15] = EAPOL_EAP_PACKET;
  frame[16] = static_cast<std::uint8_t>(eap.size() >> 8);
  frame[17] = static_cast<std::uint8_t>(eap.size());
  std::copy(eap.begin(), eap.end(), frame.begin() + EAPOL_HEADER);
  return frame;
}

EapParse parse_eap(std::span<const std::uint8_t> body) {
  EapParse result;
  if (body.size() < EAP_HEADER) return result;
  std::size_t length = std::size_t{body[2]} << 8 | body[3];
  if (length < EAP_HEADER) return result;
  if (length > body.size()) {
    result.error = EapError::beyond_body;
    return result;
  }
  result.eap = EapPacket{body[0], body[1], body.first(length), length < body.size()};
  return result;
}

}  // namespace dot1x
