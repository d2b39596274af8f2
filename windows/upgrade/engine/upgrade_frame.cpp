#include "upgrade_frame.h"

#include <algorithm>

namespace upgrade {

void put_le16(std::uint8_t *at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFF);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint16_t get_le16(const std::uint8_t *at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint16_t ether_type_of_variant(std::uint16_t variant) {
  return variant == 0 ? kEtherTypeVariant0 : kEtherTypeVariant1;
}

std::optional<std::uint16_t> ParsedFrame::status() const {
  if (payload.size() < kStatusSize) return std::nullopt;
  return get_le16(payload.data());
}

std::size_t encode_frame(const FrameFields &fields, std::span<const std::uint8_t> data, FrameBuffer &out) {
  if (data.size() > kBlockSize) return 0;
  out.fill(0);
  std::copy(fields.destination.begin(), fields.destination.end(), out.begin());
  std::copy(fields.source.begin(), fields.source.end(), out.begin() + 6);
  // EtherTypes go out in network order, like any Ethernet type field.
  out[12] = static_cast<std::uint8_t>(fields.ether_type >> 8);
  out[13] = static_cast<std::uint8_t>(fields.ether_type & 0xFF);
  put_le16(&out[14], fields.opcode);
  put_le16(&out[16], fields.sequence);
  put_le16(&out[18], fields.remainder);
  put_le16(&out[20], fields.segment);
  put_le16(&out[22], fields.length);
  std::copy(data.begin(), data.end(), out.begin() + kFrameHeaderSize);
  return data.empty() ? kBareRequestSize : kFrameHeaderSize + data.size();
}

std::optional<ParsedFrame> parse_frame(std::span<const std::uint8_t> frame) {
  if (frame.size() < kFrameHeaderSize) return std::nullopt;
  ParsedFrame parsed;
  FrameFields &f = parsed.fields;
  std::copy_n(frame.begin(), 6, f.destination.begin());
  std::copy_n(frame.begin() + 6, 6, f.source.begin());
  f.ether_type = static_cast<std::uint16_t>((frame[12] << 8) | frame[13]);
  f.opcode = get_le16(&frame[14]);
  f.sequence = get_le16(&frame[16]);
  f.remainder = get_le16(&frame[18]);
  f.segment = get_le16(&frame[20]);
  f.length = get_le16(&frame[22]);
  parsed.payload = frame.subspan(kFrameHeaderSize);
  return parsed;
}

}  // namespace upgrade
