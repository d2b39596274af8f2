// The firmware transfer: start, one program frame per 512-byte block, one verify frame per block, end;
// each answered by the router, with per-state timeouts and retransmission.
#pragma once

#include <string>

#include "upgrade_engine.h"

namespace upgrade {

enum UpgradeResult : int {
  kHandled = 0,
  kNoPath = 1,
  kImageUnopenable = 2,
  kImageWithoutHeader = 3,
  kEndSendFailed = 5,
  kProgramSendFailed = 6,
  kVerifySendFailed = 7,
  kRetransmitFailed = 8,
  kForeignFrame = 9,
  kNothingReceived = 11,
};

// Posted with wParam kProgressFailed when the run ends without a device error to show.
inline constexpr std::intptr_t kGeneralFailure = 0;

class HLupgrade {
 public:
  explicit HLupgrade(UpgradeEngine &engine) : engine_(engine) {}

  // The whole transfer for the upgrade worker; reports through the host as it goes.
  void run(const std::string &device_name, const std::string &image_path);

  // Opens the image again and checks its size and header right before the start request: the file may
  // have been emptied, cut short or replaced since the device search read it, and a start may already
  // erase the router's flash, so only an image that still holds its header may follow one.
  int StartTransfer(const Mac &device, const std::string &image_path);
  int ReceiveAndDispatch();
  int HandleUpgradeReply(const ParsedFrame &frame);
  int CheckTransferTimeout();
  int RetransmitByState();

 private:
  enum class BlockRead { kData, kEnd, kError };

  BlockRead read_block();
  bool is_ack_for(const ParsedFrame &frame) const;
  void fail(std::uint16_t error);
  void advance_offset();
  int enter_end_sent();
  int on_info_reply(const ParsedFrame &frame);
  int on_start_ack(std::uint16_t status);
  int on_program_ack(std::uint16_t status);
  int on_verify_ack(std::uint16_t status);
  int on_end_ack(std::uint16_t status);
  void report_progress(std::intptr_t percent);
  std::intptr_t percent_done() const;
  void close_image();

  UpgradeEngine &engine_;
};

}  // namespace upgrade
