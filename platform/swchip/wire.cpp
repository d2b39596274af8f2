#include "wire.h"

#include <cerrno>

#include "swgenio_abi.h"

namespace swgenio::wire {

void put_u32(uint8_t *out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t get_u32(const uint8_t *in) {
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

bool is_batch(std::span<const uint8_t> datagram) {
  return datagram.size() >= 4 && get_u32(datagram.data()) == kBatchMagic;
}

std::vector<uint8_t> encode_batch_request(std::span<const BatchOp> ops) {
  std::vector<uint8_t> out(kBatchHeader + ops.size() * kBatchOpSize);
  put_u32(out.data(), kBatchMagic);
  put_u32(out.data() + 4, static_cast<uint32_t>(ops.size()));
  uint8_t *at = out.data() + kBatchHeader;
  for (const BatchOp &op : ops) {
    at[0] = static_cast<uint8_t>(static_cast<uint8_t>(op.kind) | (op.group_end ? kBatchGroupEnd : 0));
    at[1] = op.block;
    at[2] = op.subblock;
    at[3] = op.reg;
    put_u32(at + 4, op.value);
    at += kBatchOpSize;
  }
  return out;
}

DecodedBatch decode_batch_request(std::span<const uint8_t> datagram) {
  DecodedBatch out;
  const auto malformed = [&out] {
    out.error = -EINVAL;
    out.ops.clear();
    return out;
  };
  if (datagram.size() < kBatchHeader || !is_batch(datagram)) return malformed();
  const uint32_t count = get_u32(datagram.data() + 4);
  if (count == 0 || count > kMaxBatchOps || datagram.size() - kBatchHeader != count * kBatchOpSize) {
    return malformed();
  }
  out.ops.reserve(count);
  for (const uint8_t *at = datagram.data() + kBatchHeader; at < datagram.data() + datagram.size();
       at += kBatchOpSize) {
    const uint8_t kind = at[0] & static_cast<uint8_t>(~kBatchGroupEnd);
    if (kind > static_cast<uint8_t>(BatchKind::kTest) || at[1] > 7 || at[2] > 15) return malformed();
    out.ops.push_back(
        {static_cast<BatchKind>(kind), (at[0] & kBatchGroupEnd) != 0, at[1], at[2], at[3], get_u32(at + 4)});
  }
  return out;
}

std::vector<uint8_t> encode_batch_reply(int32_t result, std::span<const BatchOpResult> ops) {
  std::vector<uint8_t> out(kBatchHeader + ops.size() * kBatchOpSize);
  put_u32(out.data(), static_cast<uint32_t>(result));
  put_u32(out.data() + 4, static_cast<uint32_t>(ops.size()));
  uint8_t *at = out.data() + kBatchHeader;
  for (const BatchOpResult &op : ops) {
    put_u32(at, static_cast<uint32_t>(op.result));
    put_u32(at + 4, op.value);
    at += kBatchOpSize;
  }
  return out;
}

std::optional<BatchReply> decode_batch_reply(std::span<const uint8_t> datagram, size_t sent) {
  if (datagram.size() < kBatchHeader) return std::nullopt;
  const uint32_t count = get_u32(datagram.data() + 4);
  if (count > sent || datagram.size() - kBatchHeader != size_t{count} * kBatchOpSize) return std::nullopt;
  BatchReply reply;
  reply.result = static_cast<int32_t>(get_u32(datagram.data()));
  if (reply.result != 0 && count != 0) return std::nullopt;
  reply.ops.reserve(count);
  for (const uint8_t *at = datagram.data() + kBatchHeader; at < datagram.data() + datagram.size();
       at += kBatchOpSize) {
    const int32_t result = static_cast<int32_t>(get_u32(at));
    if (result > kBatchBusy) return std::nullopt;
    reply.ops.push_back({result, get_u32(at + 4)});
  }
  // The simulator stops early only after a busy poll, and a busy poll always ends the reply.
  for (size_t i = 0; i + 1 < reply.ops.size(); ++i) {
    if (reply.ops[i].result == kBatchBusy) return std::nullopt;
  }
  const bool stopped = !reply.ops.empty() && reply.ops.back().result == kBatchBusy;
  if (reply.result == 0 && (count < sent) != stopped) return std::nullopt;
  return reply;
}

}  // namespace swgenio::wire
