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
  void Run(const std::string &deviceName, const std::string &imagePath);

  int StartTransfer(const Mac &device, const std::string &imagePath);
  int ReceiveAndDispatch();
  int HandleUpgradeReply(const ParsedFrame &frame);
  int CheckTransferTimeout();
  int RetransmitByState();

 private:
  enum class BlockRead { kData, kEnd, kError };

  BlockRead ReadBlock();
  bool IsAckFor(const ParsedFrame &frame) const;
  void Fail(std::uint16_t error);
  void AdvanceOffset();
  int EnterEndSent();
  int OnInfoReply(const ParsedFrame &frame);
  int OnStartAck(std::uint16_t status);
  int OnProgramAck(std::uint16_t status);
  int OnVerifyAck(std::uint16_t status);
  int OnEndAck(std::uint16_t status);
  void ReportProgress(std::intptr_t percent);
  std::intptr_t PercentDone() const;
  void CloseImage();

  UpgradeEngine &engine_;
};

}  // namespace upgrade
