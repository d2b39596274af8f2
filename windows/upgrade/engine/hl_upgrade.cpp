#include "hl_upgrade.h"

#include <algorithm>
#include <limits>

#include "device_name.h"

namespace upgrade {

int HLupgrade::StartTransfer(const Mac &device, const std::string &imagePath) {
  UpgradeTransfer &t = engine_.transfer;
  if (imagePath.empty()) return kNoPath;
  t.device = device;
  t.sequence = static_cast<std::uint16_t>(engine_.clock().NowMs() & 0xFFFF);
  t.remainder = 0;
  t.segment = 0;
  t.error = kErrNone;
  t.position = 0;
  t.blockLength = 0;
  t.infoTarget = nullptr;
  engine_.ArmTimer(1);
  // A new run starts its progress bar from zero, so its percentages must all be posted again.
  engine_.lastProgress = 0;
  t.image = engine_.images().Open(imagePath);
  if (!t.image) return kImageUnopenable;
  auto size = t.image->Size();
  // Positions on the wire and in the record are 32-bit; a larger image cannot be sent.
  if (!size || *size > std::numeric_limits<std::uint32_t>::max()) {
    t.image.reset();
    return kImageUnopenable;
  }
  t.imageSize = static_cast<std::uint32_t>(*size);
  t.state = TransferState::kStartSent;
  return 0;
}

void HLupgrade::CloseImage() {
  engine_.transfer.image.reset();
}

void HLupgrade::Fail(std::uint16_t error) {
  engine_.transfer.error = error;
  engine_.transfer.state = TransferState::kFailed;
}

HLupgrade::BlockRead HLupgrade::ReadBlock() {
  UpgradeTransfer &t = engine_.transfer;
  t.blockLength = 0;
  // Only the bytes the image had when the transfer started count; a shorter read is an error.
  if (t.position >= t.imageSize) return BlockRead::kEnd;
  std::size_t wanted = std::min<std::size_t>(kBlockSize, t.imageSize - t.position);
  if (!t.image) return BlockRead::kError;
  auto got = t.image->ReadAt(t.position, std::span<std::uint8_t>(t.block.data(), wanted));
  if (!got || *got != wanted) return BlockRead::kError;
  t.blockLength = wanted;
  return BlockRead::kData;
}

void HLupgrade::AdvanceOffset() {
  UpgradeTransfer &t = engine_.transfer;
  std::uint16_t sum = static_cast<std::uint16_t>(t.remainder + kBlockSize);
  t.segment = static_cast<std::uint16_t>(t.segment + (sum >> 4));
  t.remainder = static_cast<std::uint16_t>(sum & 0xF);
}

std::intptr_t HLupgrade::PercentDone() const {
  const UpgradeTransfer &t = engine_.transfer;
  if (t.imageSize == 0) return 0;
  return static_cast<std::intptr_t>(static_cast<std::uint64_t>(t.position) * 100 / t.imageSize);
}

void HLupgrade::ReportProgress(std::intptr_t value) {
  if (value == engine_.lastProgress) return;
  engine_.lastProgress = value;
  engine_.host().PostProgress(value, 0);
}

int HLupgrade::EnterEndSent() {
  engine_.transfer.state = TransferState::kEndSent;
  engine_.ArmTimer(1);
  return engine_.SendEndFrame() == kSent ? kHandled : kEndSendFailed;
}

bool HLupgrade::IsAckFor(const ParsedFrame &frame) const {
  const UpgradeTransfer &t = engine_.transfer;
  const FrameFields &f = frame.fields;
  return f.sequence == t.sequence && f.remainder == t.remainder && f.segment == t.segment &&
         f.length == kStatusSize && frame.status().has_value();
}

int HLupgrade::OnInfoReply(const ParsedFrame &frame) {
  UpgradeTransfer &t = engine_.transfer;
  if (t.infoTarget) std::copy_n(frame.payload.begin(), kInfoBlockSize, t.infoTarget->begin());
  t.state = TransferState::kDone;
  t.error = kErrNone;
  return kHandled;
}

int HLupgrade::OnStartAck(std::uint16_t status) {
  UpgradeTransfer &t = engine_.transfer;
  if (status != 0) {
    Fail(status);
    return kHandled;
  }
  switch (ReadBlock()) {
    case BlockRead::kError:
      Fail(kErrInternal);
      return kHandled;
    case BlockRead::kEnd:
      return EnterEndSent();
    case BlockRead::kData:
      break;
  }
  t.state = TransferState::kProgramming;
  engine_.ArmTimer(2);
  ++t.sequence;
  int sent = engine_.SendProgramFrame(std::span<const std::uint8_t>(t.block.data(), t.blockLength));
  engine_.lastProgress = 0;
  engine_.host().PostProgress(0, 0);
  return sent == kSent ? kHandled : kProgramSendFailed;
}

int HLupgrade::OnProgramAck(std::uint16_t status) {
  UpgradeTransfer &t = engine_.transfer;
  if (status != 0) {
    Fail(status);
    return kHandled;
  }
  t.position += static_cast<std::uint32_t>(t.blockLength);
  switch (ReadBlock()) {
    case BlockRead::kError:
      Fail(kErrInternal);
      return kHandled;
    case BlockRead::kEnd: {
      t.remainder = 0;
      t.segment = 0;
      t.position = 0;
      ++t.sequence;
      t.state = TransferState::kVerifying;
      engine_.ArmTimer(1);
      if (ReadBlock() != BlockRead::kData) {
        Fail(kErrInternal);
        return kHandled;
      }
      int sent = engine_.SendVerifyFrame(std::span<const std::uint8_t>(t.block.data(), t.blockLength));
      return sent == kSent ? kHandled : kVerifySendFailed;
    }
    case BlockRead::kData:
      break;
  }
  engine_.ArmTimer(2);
  AdvanceOffset();
  ++t.sequence;
  int sent = engine_.SendProgramFrame(std::span<const std::uint8_t>(t.block.data(), t.blockLength));
  ReportProgress(PercentDone());
  return sent == kSent ? kHandled : kProgramSendFailed;
}

int HLupgrade::OnVerifyAck(std::uint16_t status) {
  UpgradeTransfer &t = engine_.transfer;
  if (status != 0) {
    Fail(status);
    return kHandled;
  }
  t.position += static_cast<std::uint32_t>(t.blockLength);
  switch (ReadBlock()) {
    case BlockRead::kError:
      Fail(kErrInternal);
      return kHandled;
    case BlockRead::kEnd:
      return EnterEndSent();
    case BlockRead::kData:
      break;
  }
  engine_.ArmTimer(1);
  AdvanceOffset();
  ++t.sequence;
  int sent = engine_.SendVerifyFrame(std::span<const std::uint8_t>(t.block.data(), t.blockLength));
  ReportProgress(PercentDone() + 100);
  return sent == kSent ? kHandled : kVerifySendFailed;
}

int HLupgrade::OnEndAck(std::uint16_t status) {
  if (status != 0) {
    // Whatever the router's code, a refused end is shown as a programming error.
    Fail(kErrEndRefused);
    return kHandled;
  }
  engine_.transfer.state = TransferState::kDone;
  engine_.host().StartRebootWait();
  return kHandled;
}

int HLupgrade::HandleUpgradeReply(const ParsedFrame &frame) {
  UpgradeTransfer &t = engine_.transfer;
  const FrameFields &f = frame.fields;
  if (f.etherType != EtherTypeOfVariant(engine_.variant) || f.source != t.device) return kForeignFrame;
  switch (f.opcode) {
    case kOpInfo:
      if (t.state != TransferState::kInfoQuerySent) return kHandled;
      if (f.sequence != 0 || f.remainder != 0 || f.segment != 0 || f.length != kInfoBlockSize ||
          frame.payload.size() < kInfoBlockSize) {
        return kForeignFrame;
      }
      return OnInfoReply(frame);
    case kOpStart:
    case kOpStartAlt:
      if (t.state != TransferState::kStartSent) return kHandled;
      if (f.sequence != t.sequence || f.remainder != 0 || f.segment != 0 || f.length != kStatusSize ||
          !frame.status()) {
        return kForeignFrame;
      }
      return OnStartAck(*frame.status());
    case kOpProgram:
      if (t.state != TransferState::kProgramming) return kHandled;
      if (!IsAckFor(frame)) return kForeignFrame;
      return OnProgramAck(*frame.status());
    case kOpVerify:
      if (t.state != TransferState::kVerifying) return kHandled;
      if (!IsAckFor(frame)) return kForeignFrame;
      return OnVerifyAck(*frame.status());
    case kOpEnd:
      if (t.state != TransferState::kEndSent) return kHandled;
      // The end acknowledgement carries its status word although its length field says 0.
      if (f.sequence != 0 || f.remainder != 0 || f.segment != 0 || f.length != 0 || !frame.status()) {
        return kForeignFrame;
      }
      return OnEndAck(*frame.status());
    default:
      return kHandled;
  }
}

int HLupgrade::ReceiveAndDispatch() {
  auto frame = engine_.ReceiveFrame();
  if (!frame) return kNothingReceived;
  return HandleUpgradeReply(*frame);
}

int HLupgrade::RetransmitByState() {
  UpgradeTransfer &t = engine_.transfer;
  std::span<const std::uint8_t> block(t.block.data(), t.blockLength);
  switch (t.state) {
    case TransferState::kInfoQuerySent:
      return engine_.SendInfoQueryFrame() == kSent ? 0 : 3;
    case TransferState::kStartSent:
      return engine_.SendStartFrame() == kSent ? 0 : 4;
    case TransferState::kProgramming:
      return engine_.SendProgramFrame(block) == kSent ? 0 : 6;
    case TransferState::kVerifying:
      return engine_.SendVerifyFrame(block) == kSent ? 0 : 7;
    case TransferState::kEndSent:
      return engine_.SendEndFrame() == kSent ? 0 : 5;
    default:
      return 0;
  }
}

int HLupgrade::CheckTransferTimeout() {
  UpgradeTransfer &t = engine_.transfer;
  switch (t.state) {
    case TransferState::kInfoQuerySent:
    case TransferState::kStartSent:
    case TransferState::kProgramming:
    case TransferState::kVerifying:
    case TransferState::kEndSent:
      break;
    default:
      return 0;
  }
  if (!engine_.TimeoutElapsed(t.lastSend, t.units)) return 0;
  if (--t.retries == 0) {
    if (t.state == TransferState::kVerifying) {
      // A receiver that never answers verification still gets the end request.
      return EnterEndSent() == kHandled ? 0 : kEndSendFailed;
    }
    Fail(kErrNoAnswer);
    return 0;
  }
  if (RetransmitByState() != 0) return kRetransmitFailed;
  t.lastSend = engine_.clock().NowMs();
  return 0;
}

void HLupgrade::Run(const std::string &deviceName, const std::string &imagePath) {
  EngineHost &host = engine_.host();
  auto device = MacOfDeviceName(deviceName);
  // A run that cannot even start still reports, so the dialog gives its buttons back.
  if (!device || StartTransfer(*device, imagePath) != 0 || engine_.SendStartFrame() != kSent) {
    CloseImage();
    host.PostProgress(kProgressFailed, kGeneralFailure);
    return;
  }
  ReceiveAndDispatch();
  while (CheckTransferTimeout() == 0) {
    UpgradeTransfer &t = engine_.transfer;
    if (t.state == TransferState::kDone) {
      CloseImage();
      return;
    }
    if (t.state == TransferState::kFailed) {
      CloseImage();
      host.PostProgress(kProgressFailed, t.error);
      return;
    }
    host.PumpOneMessage();
    ReceiveAndDispatch();
  }
  CloseImage();
  host.PostProgress(kProgressFailed, kGeneralFailure);
}

}  // namespace upgrade
