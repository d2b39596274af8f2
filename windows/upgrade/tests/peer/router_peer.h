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
  std::map<std::uint16_t, int> drop_replies;   // opcode -> how many of its first replies are lost
  std::map<std::uint16_t, int> wrong_segment;  // opcode -> how many replies carry a wrong segment
  std::map<std::uint16_t, int> short_replies;  // opcode -> how many replies are cut to 24 bytes
  bool silent_verify = false;                  // never answer verification
  int reply_copies = 1;                        // every reply goes out this many times
  bool silent = false;                         // answer nothing at all
  bool start_ack_opcode5 = false;              // acknowledge a start with opcode 5
  std::uint16_t start_status = kOk;
  std::optional<std::pair<std::uint32_t, std::uint16_t>> program_status_at_block;  // block index, status
  std::optional<std::uint16_t> end_status;  // overrides the end's own checks
};

struct PeerCounters {
  std::uint32_t frames_in = 0;
  std::uint32_t discovers = 0;
  std::uint32_t program_frames = 0;
  std::uint32_t program_retransmissions = 0;
  std::uint32_t verify_frames = 0;
  std::uint32_t verify_mismatches = 0;
  std::uint32_t ends = 0;
  std::uint32_t malformed = 0;
};

class RouterPeer {
 public:
  RouterPeer(const Mac &mac, std::uint16_t firmware_version);

  // One received frame in, the replies to send out (already padded).
  std::vector<Frame> handle_frame(std::span<const std::uint8_t> frame);

  const Mac &mac() const { return mac_; }
  const std::vector<std::uint8_t> &image() const { return image_; }
  bool committed() const { return committed_; }
  const PeerCounters &counters() const { return counters_; }

  PeerFaults faults;
  std::vector<std::uint16_t> accepted_ether_types{0x8888};
  std::uint64_t flash_capacity = 64u << 20;

 private:
  enum class Phase { kIdle, kProgram, kVerify };

  struct Request {
    Mac source;
    std::uint16_t ether_type, opcode, sequence, remainder, segment, length;
    std::span<const std::uint8_t> data;
  };

  std::optional<Request> parse(std::span<const std::uint8_t> frame);
  bool accepts(const Request &r) const;
  Frame reply(const Request &r, std::uint16_t opcode, std::uint16_t sequence, std::uint16_t remainder,
              std::uint16_t segment, std::uint16_t length, std::span<const std::uint8_t> data) const;
  Frame ack(const Request &r, std::uint16_t status) const;
  std::optional<Frame> on_info(const Request &r);
  std::optional<Frame> on_start(const Request &r);
  std::optional<Frame> on_program(const Request &r);
  std::optional<Frame> on_verify(const Request &r);
  std::optional<Frame> on_end(const Request &r);
  std::uint16_t check_image() const;
  static bool offset_matches(std::uint64_t offset, const Request &r);
  void apply_faults(std::uint16_t opcode, Frame &reply, std::vector<Frame> &out);

  Mac mac_;
  std::array<std::uint8_t, 56> info_{};
  std::vector<std::uint8_t> image_;
  Phase phase_ = Phase::kIdle;
  std::uint16_t last_sequence_ = 0;
  std::uint16_t last_status_ = kOk;
  std::uint64_t offset_ = 0;  // where the next new block goes (program) or is compared (verify)
  std::uint32_t blocks_ = 0;
  bool verify_failed_ = false;
  bool committed_ = false;
  PeerCounters counters_;
};

}  // namespace upgrade::peer
