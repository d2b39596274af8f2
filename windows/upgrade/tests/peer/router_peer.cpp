#include "router_peer.h"

#include <algorithm>
#include <cstring>

namespace upgrade::peer {
namespace {

constexpr std::size_t kHeader = 24;
constexpr std::size_t kMaxData = 512;
constexpr char kMark[] = "vAnTrOs";

std::uint16_t Le16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
void PutLe16(std::uint8_t *p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

bool Consume(std::map<std::uint16_t, int> &counts, std::uint16_t opcode) {
  auto it = counts.find(opcode);
  if (it == counts.end() || it->second <= 0) return false;
  --it->second;
  return true;
}

}  // namespace

RouterPeer::RouterPeer(const Mac &mac, std::uint16_t firmwareVersion) : mac_(mac) {
  for (std::size_t i = 0; i < 50; ++i) info_[i] = static_cast<std::uint8_t>('A' + i % 26);
  info_[50] = static_cast<std::uint8_t>(firmwareVersion >> 8);
  info_[51] = static_cast<std::uint8_t>(firmwareVersion);
}

std::optional<RouterPeer::Request> RouterPeer::Parse(std::span<const std::uint8_t> frame) {
  if (frame.size() < kHeader) return std::nullopt;
  Request r;
  Mac destination;
  std::copy_n(frame.begin(), 6, destination.begin());
  std::copy_n(frame.begin() + 6, 6, r.source.begin());
  r.etherType = static_cast<std::uint16_t>((frame[12] << 8) | frame[13]);
  r.opcode = Le16(&frame[14]);
  r.sequence = Le16(&frame[16]);
  r.remainder = Le16(&frame[18]);
  r.segment = Le16(&frame[20]);
  r.length = Le16(&frame[22]);
  bool broadcast = std::all_of(destination.begin(), destination.end(), [](auto b) { return b == 0xFF; });
  if (destination != mac_ && !(broadcast && r.opcode == 0)) return std::nullopt;
  r.data = frame.subspan(kHeader);
  return r;
}

bool RouterPeer::Accepts(const Request &r) const {
  return std::find(acceptedEtherTypes.begin(), acceptedEtherTypes.end(), r.etherType) !=
         acceptedEtherTypes.end();
}

Frame RouterPeer::Reply(const Request &r, std::uint16_t opcode, std::uint16_t sequence,
                        std::uint16_t remainder, std::uint16_t segment, std::uint16_t length,
                        std::span<const std::uint8_t> data) const {
  Frame f(std::max(kMinWireFrame, kHeader + data.size()), 0);
  std::copy(r.source.begin(), r.source.end(), f.begin());
  std::copy(mac_.begin(), mac_.end(), f.begin() + 6);
  f[12] = static_cast<std::uint8_t>(r.etherType >> 8);
  f[13] = static_cast<std::uint8_t>(r.etherType);
  PutLe16(&f[14], opcode);
  PutLe16(&f[16], sequence);
  PutLe16(&f[18], remainder);
  PutLe16(&f[20], segment);
  PutLe16(&f[22], length);
  std::copy(data.begin(), data.end(), f.begin() + kHeader);
  return f;
}

Frame RouterPeer::Ack(const Request &r, std::uint16_t status) const {
  std::uint8_t word[2];
  PutLe16(word, status);
  return Reply(r, r.opcode, r.sequence, r.remainder, r.segment, 2, word);
}

bool RouterPeer::OffsetMatches(std::uint64_t offset, const Request &r) {
  return r.remainder == (offset & 0xF) && r.segment == ((offset >> 4) & 0xFFFF);
}

std::optional<Frame> RouterPeer::OnInfo(const Request &r) {
  ++counters_.discovers;
  return Reply(r, 0, 0, 0, 0, static_cast<std::uint16_t>(info_.size()), info_);
}

std::optional<Frame> RouterPeer::OnStart(const Request &r) {
  image_.clear();
  phase_ = Phase::kProgram;
  offset_ = 0;
  blocks_ = 0;
  lastSequence_ = r.sequence;
  lastStatus_ = kOk;
  verifyFailed_ = false;
  committed_ = false;
  std::uint8_t word[2];
  PutLe16(word, faults.startStatus);
  return Reply(r, faults.startAckOpcode5 ? 5 : 1, r.sequence, 0, 0, 2, word);
}

std::optional<Frame> RouterPeer::OnProgram(const Request &r) {
  ++counters_.programFrames;
  if (phase_ != Phase::kProgram) return Ack(r, kSequenceError);
  if (r.sequence == lastSequence_ && blocks_ > 0) {
    // A retransmission of the block already written: acknowledge it again, write nothing.
    ++counters_.programRetransmissions;
    return Ack(r, lastStatus_);
  }
  if (r.sequence != static_cast<std::uint16_t>(lastSequence_ + 1) || !OffsetMatches(offset_, r) ||
      r.length == 0 || r.length > kMaxData || r.data.size() < r.length) {
    return Ack(r, kSequenceError);
  }
  std::uint16_t status = kOk;
  if (faults.programStatusAtBlock && faults.programStatusAtBlock->first == blocks_) {
    status = faults.programStatusAtBlock->second;
  } else {
    image_.insert(image_.end(), r.data.begin(), r.data.begin() + r.length);
    offset_ += r.length;
  }
  ++blocks_;
  lastSequence_ = r.sequence;
  lastStatus_ = status;
  return Ack(r, status);
}

std::optional<Frame> RouterPeer::OnVerify(const Request &r) {
  ++counters_.verifyFrames;
  if (faults.silentVerify) return std::nullopt;
  if (phase_ == Phase::kProgram) {
    phase_ = Phase::kVerify;
    offset_ = 0;
  } else if (phase_ != Phase::kVerify) {
    return Ack(r, kSequenceError);
  } else if (r.sequence == lastSequence_) {
    return Ack(r, lastStatus_);
  }
  if (r.sequence != static_cast<std::uint16_t>(lastSequence_ + 1) || !OffsetMatches(offset_, r) ||
      r.length == 0 || r.length > kMaxData || r.data.size() < r.length) {
    return Ack(r, kSequenceError);
  }
  bool same = offset_ + r.length <= image_.size() &&
              std::equal(r.data.begin(), r.data.begin() + r.length, image_.begin() + offset_);
  std::uint16_t status = same ? kOk : kVerifyError;
  if (!same) {
    ++counters_.verifyMismatches;
    verifyFailed_ = true;
  }
  offset_ += r.length;
  lastSequence_ = r.sequence;
  lastStatus_ = status;
  return Ack(r, status);
}

std::uint16_t RouterPeer::CheckImage() const {
  if (verifyFailed_) return kVerifyError;
  if (image_.size() > flashCapacity) return kFlashTooSmall;
  const std::size_t kHeaderSpan = 70;
  for (std::size_t i = 0; i + kHeaderSpan <= image_.size(); ++i) {
    if (std::memcmp(&image_[i], kMark, 7) == 0 && std::memcmp(&image_[i + 63], kMark, 7) == 0) return kOk;
  }
  return kBadImage;
}

std::optional<Frame> RouterPeer::OnEnd(const Request &r) {
  ++counters_.ends;
  std::uint16_t status = faults.endStatus ? *faults.endStatus : CheckImage();
  committed_ = status == kOk;
  phase_ = Phase::kIdle;
  std::uint8_t word[2];
  PutLe16(word, status);
  // The status word rides at byte 24 although the length field says 0.
  return Reply(r, 3, 0, 0, 0, 0, word);
}

void RouterPeer::ApplyFaults(std::uint16_t opcode, Frame &reply, std::vector<Frame> &out) {
  if (Consume(faults.dropReplies, opcode)) return;
  if (Consume(faults.wrongSegment, opcode))
    PutLe16(&reply[20], static_cast<std::uint16_t>(Le16(&reply[20]) + 1));
  if (Consume(faults.shortReplies, opcode)) reply.resize(kHeader);
  for (int i = 0; i < std::max(1, faults.replyCopies); ++i) out.push_back(reply);
}

std::vector<Frame> RouterPeer::HandleFrame(std::span<const std::uint8_t> frame) {
  std::vector<Frame> out;
  ++counters_.framesIn;
  auto request = Parse(frame);
  if (!request) {
    if (frame.size() < kHeader) ++counters_.malformed;
    return out;
  }
  if (!Accepts(*request) || faults.silent) return out;
  std::optional<Frame> reply;
  switch (request->opcode) {
    case 0:
      reply = OnInfo(*request);
      break;
    case 1:
      reply = OnStart(*request);
      break;
    case 2:
      reply = OnProgram(*request);
      break;
    case 3:
      reply = OnEnd(*request);
      break;
    case 4:
      reply = OnVerify(*request);
      break;
    default:
      ++counters_.malformed;
      break;
  }
  if (reply) ApplyFaults(request->opcode, *reply, out);
  return out;
}

}  // namespace upgrade::peer
