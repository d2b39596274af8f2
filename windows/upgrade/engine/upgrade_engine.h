// Engine state shared by the device search (HLdownload) and the transfer (HLupgrade), and the request
// builders both use. One instance serves one adapter.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "engine_ports.h"
#include "image_file.h"
#include "upgrade_frame.h"

namespace upgrade {

enum class TransferState : std::uint8_t {
  kIdle = 0,
  kInfoQuerySent = 1,
  kStartSent = 2,
  kProgramming = 3,
  kVerifying = 4,
  kEndSent = 5,
  kDone = 6,
  kFailed = 7,
};

// Transfer and query error codes (a device's own status codes pass through unchanged).
enum EngineError : std::uint16_t {
  kErrNone = 0,
  kErrNoAnswer = 4,    // a state timed out 60 times
  kErrEndRefused = 7,  // the end acknowledgement carried a non-zero status
  // The image is empty or lacks its header when the upgrade starts: the code the router gives for an
  // image it refuses, so the dialog names the fault the same way.
  kErrInvalidImage = 11,
  kErrInternal = 12,  // the image could not be read
};

// Request builder results.
enum SendResult : int { kSent = 0, kSendFailed = 1, kNoOwnMac = 2 };

inline constexpr std::uint32_t kTimeoutUnitMs = 990;
inline constexpr std::uint16_t kRetries = 60;
inline constexpr std::intptr_t kProgressFailed = -1;

struct UpgradeTransfer {
  TransferState state = TransferState::kIdle;
  Mac device{};
  std::uint16_t sequence = 0;
  std::uint16_t remainder = 0;
  std::uint16_t segment = 0;
  std::uint16_t error = 0;
  DeviceInfoBlock *info_target = nullptr;
  std::unique_ptr<ImageReader> image;
  std::uint32_t position = 0;  // byte offset of the current block in the image
  std::uint32_t image_size = 0;
  std::uint32_t last_send = 0;
  std::uint16_t units = 0;
  std::uint16_t retries = 0;
  std::array<std::uint8_t, kBlockSize> block{};
  std::size_t block_length = 0;
};

class UpgradeEngine {
 public:
  UpgradeEngine(FramePort &port, Clock &clock, EngineHost &host, ImageStore &images)
      : port_(port), clock_(clock), host_(host), images_(images) {}

  FramePort &port() { return port_; }
  Clock &clock() { return clock_; }
  EngineHost &host() { return host_; }
  ImageStore &images() { return images_; }

  std::uint16_t variant = 1;
  UpgradeTransfer transfer;
  std::intptr_t last_progress = 0;

  int SendDiscoverFrame();
  int SendInfoQueryFrame();
  int SendStartFrame();
  int SendProgramFrame(std::span<const std::uint8_t> block);
  int SendVerifyFrame(std::span<const std::uint8_t> block);
  int SendEndFrame();

  // True once more than units × 990 ms passed since `last` (wrapping tick arithmetic).
  bool TimeoutElapsed(std::uint32_t last, std::uint16_t units);

  // Receives one frame into a cleared buffer; nullopt when nothing came or it was shorter than the
  // header. The result views the engine's receive buffer and is valid until the next receive.
  std::optional<ParsedFrame> receive_frame();

  // Arms the transfer's timer after a frame was (re)sent: last send now, units, 60 retries.
  void arm_timer(std::uint16_t units);

 private:
  int send_bare(const Mac &destination, std::uint16_t opcode, std::uint16_t sequence);
  int send_block(std::uint16_t opcode, std::span<const std::uint8_t> block);
  int send_frame(FrameFields fields, std::span<const std::uint8_t> data);

  FramePort &port_;
  Clock &clock_;
  EngineHost &host_;
  ImageStore &images_;
  FrameBuffer send_buffer_{};
  FrameBuffer receive_buffer_{};
};

}  // namespace upgrade
