// The router's firmware receiver, written from the router's side of the upgrade protocol: it answers
// discovery and information queries, start, program, verify and end, keeps the image it receives,
// and can misbehave on purpose (lost, wrong, duplicated or missing answers) to exercise the engine.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace upgrade::peer {

using Mac = std::array<std::uint8_t, 6>;
using Frame = std::vector<std::uint8_t>;

inline constexpr std::size_t kMinWireFrame = 60;  // replies are padded as an Ethernet NIC would

// Router status codes the receiver answers with.
enum Status : std::uint16_t {
  kOk = 0,
  kSequenceError = 6,
  kVerifyError = 9,
  kBadImage = 11,
  kFlashTooSmall = 13,
};

struct PeerFaults {
  std::map<std::uint16_t, int> dropReplies;   // opcode -> how many of its first replies are lost
  std::map<std::uint16_t, int> wrongSegment;  // opcode -> how many replies carry a wrong segment
  std::map<std::uint16_t, int> shortReplies;  // opcode -> how many replies are cut to 24 bytes
  bool silentVerify = false;                  // never answer verification
  int replyCopies = 1;                        // every reply goes out this many times
  bool silent = false;                        // answer nothing at all
  bool startAckOpcode5 = false;               // acknowledge a start with opcode 5
  std::uint16_t startStatus = kOk;
  std::optional<std::pair<std::uint32_t, std::uint16_t>> programStatusAtBlock;  // block index, status
  std::optional<std::uint16_t> endStatus;  // overrides the end's own checks
};

struct PeerCounters {
  std::uint32_t framesIn = 0;
  std::uint32_t discovers = 0;
  std::uint32_t programFrames = 0;
  std::uint32_t programRetransmissions = 0;
  std::uint32_t verifyFrames = 0;
  std::uint32_t verifyMismatches = 0;
  std::uint32_t ends = 0;
  std::uint32_t malformed = 0;
};

class RouterPeer {
 public:
  RouterPeer(const Mac &mac, std::uint16_t firmwareVersion);

  // One received frame in, the replies to send out (already padded).
  std::vector<Frame> HandleFrame(std::span<const std::uint8_t> frame);

  const Mac &mac() const { return mac_; }
  const std::vector<std::uint8_t> &image() const { return image_; }
  bool committed() const { return committed_; }
  const PeerCounters &counters() const { return counters_; }

  PeerFaults faults;
  std::vector<std::uint16_t> acceptedEtherTypes{0x8888};
  std::uint64_t flashCapacity = 64u << 20;

 private:
  enum class Phase { kIdle, kProgram, kVerify };

  struct Request {
    Mac source;
    std::uint16_t etherType, opcode, sequence, remainder, segment, length;
    std::span<const std::uint8_t> data;
  };

  std::optional<Request> Parse(std::span<const std::uint8_t> frame);
  bool Accepts(const Request &r) const;
  Frame Reply(const Request &r, std::uint16_t opcode, std::uint16_t sequence, std::uint16_t remainder,
              std::uint16_t segment, std::uint16_t length, std::span<const std::uint8_t> data) const;
  Frame Ack(const Request &r, std::uint16_t status) const;
  std::optional<Frame> OnInfo(const Request &r);
  std::optional<Frame> OnStart(const Request &r);
  std::optional<Frame> OnProgram(const Request &r);
  std::optional<Frame> OnVerify(const Request &r);
  std::optional<Frame> OnEnd(const Request &r);
  std::uint16_t CheckImage() const;
  static bool OffsetMatches(std::uint64_t offset, const Request &r);
  void ApplyFaults(std::uint16_t opcode, Frame &reply, std::vector<Frame> &out);

  Mac mac_;
  std::array<std::uint8_t, 56> info_{};
  std::vector<std::uint8_t> image_;
  Phase phase_ = Phase::kIdle;
  std::uint16_t lastSequence_ = 0;
  std::uint16_t lastStatus_ = kOk;
  std::uint64_t offset_ = 0;  // where the next new block goes (program) or is compared (verify)
  std::uint32_t blocks_ = 0;
  bool verifyFailed_ = false;
  bool committed_ = false;
  PeerCounters counters_;
};

}  // namespace upgrade::peer
