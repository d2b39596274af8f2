#include "router_peer.h"

#include <algorithm>
#include <cstring>

namespace upgrade::peer {
namespace {

constexpr std::size_t kHeader = 24;
constexpr std::size_t kMaxData = 512;
constexpr char kMark[] = "vAnTrOs";

std::uint16_t le16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
void put_le16(std::uint8_t *p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

bool consume(std::map<std::uint16_t, int> &counts, std::uint16_t opcode) {
  auto it = counts.find(opcode);
  if (it == counts.end() || it->second <= 0) return false;
  --it->second;
  return true;
}

}  // namespace

RouterPeer::RouterPeer(const Mac &mac, std::uint16_t firmware_version) : mac_(mac) {
  for (std::size_t i = 0; i < 50; ++i) info_[i] = static_cast<std::uint8_t>('A' + i % 26);
  info_[50] = static_cast<std::uint8_t>(firmware_version >> 8);
  info_[51] = static_cast<std::uint8_t>(firmware_version);
}

std::optional<RouterPeer::Request> RouterPeer::parse(std::span<const std::uint8_t> frame) {
  if (frame.size() < kHeader) return std::nullopt;
  Request r;
  Mac destination;
  std::copy_n(frame.begin(), 6, destination.begin());
  std::copy_n(frame.begin() + 6, 6, r.source.begin());
  r.ether_type = static_cast<std::uint16_t>((frame[12] << 8) | frame[13]);
  r.opcode = le16(&frame[14]);
  r.sequence = le16(&frame[16]);
  r.remainder = le16(&frame[18]);
  r.segment = le16(&frame[20]);
  r.length = le16(&frame[22]);
  bool broadcast = std::all_of(destination.begin(), destination.end(), [](auto b) { return b == 0xFF; });
  if (destination != mac_ && !(broadcast && r.opcode == 0)) return std::nullopt;
  r.data = frame.subspan(kHeader);
  return r;
}

bool RouterPeer::accepts(const Request &r) const {
  return std::find(accepted_ether_types.begin(), accepted_ether_types.end(), r.ether_type) !=
         accepted_ether_types.end();
}

Frame RouterPeer::reply(const Request &r, std::uint16_t opcode, std::uint16_t sequence,
                        std::uint16_t remainder, std::uint16_t segment, std::uint16_t length,
                        std::span<const std::uint8_t> data) const {
  Frame f(std::max(kMinWireFrame, kHeader + data.size()), 0);
  std::copy(r.source.begin(), r.source.end(), f.begin());
  std::copy(mac_.begin(), mac_.end(), f.begin() + 6);
  f[12] = static_cast<std::uint8_t>(r.ether_type >> 8);
  f[13] = static_cast<std::uint8_t>(r.ether_type);
  put_le16(&f[14], opcode);
  put_le16(&f[16], sequence);
  put_le16(&f[18], remainder);
  put_le16(&f[20], segment);
  put_le16(&f[22], length);
  std::copy(data.begin(), data.end(), f.begin() + kHeader);
  return f;
}

Frame RouterPeer::ack(const Request &r, std::uint16_t status) const {
  std::uint8_t word[2];
  put_le16(word, status);
  return reply(r, r.opcode, r.sequence, r.remainder, r.segment, 2, word);
}

bool RouterPeer::offset_matches(std::uint64_t offset, const Request &r) {
  return r.remainder == (offset & 0xF) && r.segment == ((offset >> 4) & 0xFFFF);
}

std::optional<Frame> RouterPeer::on_info(const Request &r) {
  ++counters_.discovers;
  return reply(r, 0, 0, 0, 0, static_cast<std::uint16_t>(info_.size()), info_);
}

std::optional<Frame> RouterPeer::on_start(const Request &r) {
  image_.clear();
  phase_ = Phase::kProgram;
  offset_ = 0;
  blocks_ = 0;
  last_sequence_ = r.sequence;
  last_status_ = kOk;
  verify_failed_ = false;
  committed_ = false;
  std::uint8_t word[2];
  put_le16(word, faults.start_status);
  return reply(r, faults.start_ack_opcode5 ? 5 : 1, r.sequence, 0, 0, 2, word);
}

std::optional<Frame> RouterPeer::on_program(const Request &r) {
  ++counters_.program_frames;
  if (phase_ != Phase::kProgram) return ack(r, kSequenceError);
  if (r.sequence == last_sequence_ && blocks_ > 0) {
    // A retransmission of the block already written: acknowledge it again, write nothing.
    ++counters_.program_retransmissions;
    return ack(r, last_status_);
  }
  if (r.sequence != static_cast<std::uint16_t>(last_sequence_ + 1) || !offset_matches(offset_, r) ||
      r.length == 0 || r.length > kMaxData || r.data.size() < r.length) {
    return ack(r, kSequenceError);
  }
  std::uint16_t status = kOk;
  if (faults.program_status_at_block && faults.program_status_at_block->first == blocks_) {
    status = faults.program_status_at_block->second;
  } else {
    image_.insert(image_.end(), r.data.begin(), r.data.begin() + r.length);
    offset_ += r.length;
  }
  ++blocks_;
  last_sequence_ = r.sequence;
  last_status_ = status;
  return ack(r, status);
}

std::optional<Frame> RouterPeer::on_verify(const Request &r) {
  ++counters_.verify_frames;
  if (faults.silent_verify) return std::nullopt;
  if (phase_ == Phase::kProgram) {
    phase_ = Phase::kVerify;
    offset_ = 0;
  } else if (phase_ != Phase::kVerify) {
    return ack(r, kSequenceError);
  } else if (r.sequence == last_sequence_) {
    return ack(r, last_status_);
  }
  if (r.sequence != static_cast<std::uint16_t>(last_sequence_ + 1) || !offset_matches(offset_, r) ||
      r.length == 0 || r.length > kMaxData || r.data.size() < r.length) {
    return ack(r, kSequenceError);
  }
  bool same = offset_ + r.length <= image_.size() &&
              std::equal(r.data.begin(), r.data.begin() + r.length, image_.begin() + offset_);
  std::uint16_t status = same ? kOk : kVerifyError;
  if (!same) {
    ++counters_.verify_mismatches;
    verify_failed_ = true;
  }
  offset_ += r.length;
  last_sequence_ = r.sequence;
  last_status_ = status;
  return ack(r, status);
}

std::uint16_t RouterPeer::check_image() const {
  if (verify_failed_) return kVerifyError;
  if (image_.size() > flash_capacity) return kFlashTooSmall;
  constexpr std::size_t kHeaderSpan = 70;
  for (std::size_t i = 0; i + kHeaderSpan <= image_.size(); ++i) {
    if (std::memcmp(&image_[i], kMark, 7) == 0 && std::memcmp(&image_[i + 63], kMark, 7) == 0) return kOk;
  }
  return kBadImage;
}

std::optional<Frame> RouterPeer::on_end(const Request &r) {
  ++counters_.ends;
  std::uint16_t status = faults.end_status ? *faults.end_status : check_image();
  committed_ = status == kOk;
  phase_ = Phase::kIdle;
  std::uint8_t word[2];
  put_le16(word, status);
  // The status word rides at byte 24 although the length field says 0.
  return reply(r, 3, 0, 0, 0, 0, word);
}

void RouterPeer::apply_faults(std::uint16_t opcode, Frame &reply, std::vector<Frame> &out) {
  if (consume(faults.drop_replies, opcode)) return;
  if (consume(faults.wrong_segment, opcode))
    put_le16(&reply[20], static_cast<std::uint16_t>(le16(&reply[20]) + 1));
  if (consume(faults.short_replies, opcode)) reply.resize(kHeader);
  for (int i = 0; i < std::max(1, faults.reply_copies); ++i) out.push_back(reply);
}

std::vector<Frame> RouterPeer::handle_frame(std::span<const std::uint8_t> frame) {
  std::vector<Frame> out;
  ++counters_.frames_in;
  auto request = parse(frame);
  if (!request) {
    if (frame.size() < kHeader) ++counters_.malformed;
    return out;
  }
  if (!accepts(*request) || faults.silent) return out;
  std::optional<Frame> reply;
  switch (request->opcode) {
    case 0:
      reply = on_info(*request);
      break;
    case 1:
      reply = on_start(*request);
      break;
    case 2:
      reply = on_program(*request);
      break;
    case 3:
      reply = on_end(*request);
      break;
    case 4:
      reply = on_verify(*request);
      break;
    default:
      ++counters_.malformed;
      break;
  }
  if (reply) apply_faults(request->opcode, *reply, out);
  return out;
}

}  // namespace upgrade::peer
