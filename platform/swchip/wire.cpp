#include "wire.h"

#include <cerrno>

#include "swgenio_abi.h"

namespace swgenio::wire {

void put_u32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t get_u32(const uint8_t* in) {
  return uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24;
}

bool known_request(uint32_t code) {
  switch (code) {
    case kSpiTiming:
    case kCpldSpiReadWrite:
    case kDriverVersion:
    case kCpuGpioDirection:
    case kCpuGpioSet:
    case kCpuGpioGet:
    case k32BitRead:
    case k32BitWrite:
      return true;
    default:
      return false;
  }
}

std::vector<uint8_t> encode_request(uint32_t code, std::span<const uint8_t> record) {
  std::vector<uint8_t> out(kRequestHeader + record.size());
  put_u32(out.data(), kMagic);
  put_u32(out.data() + 4, code);
  put_u32(out.data() + 8, static_cast<uint32_t>(record.size()));
  std::copy(record.begin(), record.end(), out.begin() + kRequestHeader);
  return out;
}

std::vector<uint8_t> encode_reply(int32_t result, std::span<const uint8_t> record) {
  std::vector<uint8_t> out(kReplyHeader + record.size());
  put_u32(out.data(), static_cast<uint32_t>(result));
  put_u32(out.data() + 4, static_cast<uint32_t>(record.size()));
  std::copy(record.begin(), record.end(), out.begin() + kReplyHeader);
  return out;
}

DecodedRequest decode_request(std::span<const uint8_t> datagram) {
  DecodedRequest out;
  if (datagram.size() < kRequestHeader || get_u32(datagram.data()) != kMagic) {
    out.error = -EINVAL;
    return out;
  }
  out.request.code = get_u32(datagram.data() + 4);
  const uint32_t length = get_u32(datagram.data() + 8);
  if (!known_request(out.request.code)) {
    out.error = -ENOTTY;
    return out;
  }
  if (length != request_size(out.request.code) || datagram.size() - kRequestHeader != length) {
    out.error = -EINVAL;
    return out;
  }
  out.request.record.assign(datagram.begin() + kRequestHeader, datagram.end());
  return out;
}

std::optional<Reply> decode_reply(std::span<const uint8_t> datagram) {
  if (datagram.size() < kReplyHeader) return std::nullopt;
  const uint32_t length = get_u32(datagram.data() + 4);
  if (datagram.size() - kReplyHeader != length || length > kMaxRecord) return std::nullopt;
  Reply reply;
  reply.result = static_cast<int32_t>(get_u32(datagram.data()));
  reply.record.assign(datagram.begin() + kReplyHeader, datagram.end());
  return reply;
}

}  // namespace swgenio::wire
