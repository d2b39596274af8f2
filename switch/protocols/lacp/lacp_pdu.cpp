#include "lacp_pdu.h"

#include "le.h"

#include <cstdio>
#include <cstring>

namespace lacp {
namespace {

constexpr uint8_t kTlvActor = 1, kTlvPartner = 2, kTlvCollector = 3;
constexpr uint8_t kInfoTlvLength = 20, kCollectorTlvLength = 16;

// Layout of one information TLV: type, length, priority, system, key, port priority, port, state.
void encode_info(uint8_t type, const PortInfo &info, uint8_t *tlv) {
  tlv[0] = type;
  tlv[1] = kInfoTlvLength;
  be_store16(tlv + 2, info.system_priority);
  std::memcpy(tlv + 4, info.system.data(), 6);
  be_store16(tlv + 10, info.key);
  be_store16(tlv + 12, info.port_priority);
  be_store16(tlv + 14, info.port);
  tlv[16] = info.state;
}

PortInfo decode_info(const uint8_t *tlv) {
  PortInfo info;
  info.system_priority = be_load16(tlv + 2);
  std::memcpy(info.system.data(), tlv + 4, 6);
  info.key = be_load16(tlv + 10);
  info.port_priority = be_load16(tlv + 12);
  info.port = be_load16(tlv + 14);
  info.state = tlv[16];
  return info;
}

void write_header(const Mac &source, uint8_t subtype, uint8_t *out) {
  std::memcpy(out, kSlowProtocolsMac.data(), 6);
  std::memcpy(out + 6, source.data(), 6);
  be_store16(out + 12, kSlowProtocolsType);
  out[kOffSubtype] = subtype;
}

}  // namespace

void encode_lacpdu(const Mac &source, const PortInfo &actor, const PortInfo &partner, uint8_t *out) {
  std::memset(out, 0, kPduLength);
  write_header(source, kSubtypeLacp, out);
  out[15] = 1;  // version
  encode_info(kTlvActor, actor, out + kOffActorTlv);
  encode_info(kTlvPartner, partner, out + kOffPartnerTlv);
  out[kOffCollectorTlv] = kTlvCollector;
  out[kOffCollectorTlv + 1] = kCollectorTlvLength;
  // Terminator TLV (type 0, length 0) and the reserved tail stay zero.
}

const char *lacpdu_defect(const uint8_t *frame) {
  if (frame[kOffActorTlv] != kTlvActor || frame[kOffActorTlv + 1] != kInfoTlvLength)
    return "bad actor information";
  if (frame[kOffPartnerTlv] != kTlvPartner || frame[kOffPartnerTlv + 1] != kInfoTlvLength)
    return "bad partner information";
  return nullptr;
}

std::optional<Lacpdu> decode_lacpdu(const uint8_t *frame, size_t length) {
  if (length < kPduLength || frame[kOffSubtype] != kSubtypeLacp || lacpdu_defect(frame)) return std::nullopt;
  Lacpdu pdu;
  std::memcpy(pdu.source.data(), frame + 6, 6);
  pdu.actor = decode_info(frame + kOffActorTlv);
  pdu.partner = decode_info(frame + kOffPartnerTlv);
  // An older peer may leave the collector TLV out; its delay then counts as unknown (0).
  if (frame[kOffCollectorTlv] == kTlvCollector && frame[kOffCollectorTlv + 1] == kCollectorTlvLength)
    pdu.collector_max_delay = be_load16(frame + kOffCollectorTlv + 2);
  return pdu;
}

void make_marker_response(const uint8_t *request, const Mac &source, uint8_t *out) {
  // Frames may arrive longer (padding, checksum): only the PDU's own bytes are echoed.
  std::memcpy(out, request, kPduLength);
  write_header(source, kSubtypeMarker, out);
  out[kOffMarkerTlv] = kMarkerResponse;
}

std::array<char, 18> mac_text(const Mac &mac) {
  std::array<char, 18> text{};
  std::snprintf(text.data(), text.size(), "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

FlagText flag_text(unsigned bits, const char *const *names, unsigned name_count) {
  FlagText text{};
  size_t used = 0;
  for (unsigned bit = 0; bit < name_count; ++bit) {
    if (!(bits & (1u << bit))) continue;
    size_t n = std::strlen(names[bit]);
    if (used + n >= text.size()) break;
    std::memcpy(text.data() + used, names[bit], n);
    used += n;
  }
  return text;
}

FlagText state_text(uint8_t state) {
  static constexpr const char *kNames[8] = {"activity ",        "timeout ",    "aggregation ",
                                            "synchronization ", "collecting ", "distributing ",
                                            "defaulted ",       "expired "};
  return flag_text(state, kNames, 8);
}

}  // namespace lacp
