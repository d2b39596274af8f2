#include "hl_upgrade.h"

#include <algorithm>
#include <limits>

#include "device_name.h"

namespace upgrade {
namespace {

bool is_send_failure(int dispatched) {
  return dispatched == kEndSendFailed || dispatched == kProgramSendFailed || dispatched == kVerifySendFailed;
}

}  // namespace

int HLupgrade::StartTransfer(const Mac &device, const std::string &image_path) {
  UpgradeTransfer &t = engine_.transfer;
  if (image_path.empty()) return kNoPath;
  t.device = device;
  t.sequence = static_cast<std::uint16_t>(engine_.clock().now_ms() & 0xFFFF);
  t.remainder = 0;
  t.segment = 0;
  t.error = kErrNone;
  t.position = 0;
  t.block_length = 0;
  t.info_target = nullptr;
  engine_.arm_timer(1);
  // A new run starts its progress bar from zero, so its percentages must all be posted again.
  engine_.last_progress = 0;
  t.image = engine_.images().open(image_path);
  if (!t.image) return kImageUnopenable;
  auto size = t.image->size();
  // Positions on the wire and in the record are 32-bit; a larger image cannot be sent.
  if (!size || *size > std::numeric_limits<std::uint32_t>::max()) {
    t.image.reset();
    return kImageUnopenable;
  }
  DeviceInfoBlock header{};
  // An empty image holds no header either; both are refused before anything reaches the router.
  HeaderSearch search = *size == 0 ? HeaderSearch::kNoHeader : find_image_header(*t.image, header);
  if (search != HeaderSearch::kFound) {
    t.image.reset();
    return search == HeaderSearch::kNoHeader ? kImageWithoutHeader : kImageUnopenable;
  }
  t.image_size = static_cast<std::uint32_t>(*size);
  t.state = TransferState::kStartSent;
  return 0;
}

void HLupgrade::close_image() {
  engine_.transfer.image.reset();
}

void HLupgrade::fail(std::uint16_t error) {
  engine_.transfer.error = error;
  engine_.transfer.state = TransferState::kFailed;
}

HLupgrade::BlockRead HLupgrade::read_block() {
  UpgradeTransfer &t = engine_.transfer;
  t.block_length = 0;
  // Only the bytes the image had when the transfer started count; a shorter read is an error.
  if (t.position >= t.image_size) return BlockRead::kEnd;
  std::size_t wanted = std::min<std::size_t>(kBlockSize, t.image_size - t.position);
  if (!t.image) return BlockRead::kError;
  auto got = t.image->read_at(t.position, std::span<std::uint8_t>(t.block.data(), wanted));
  if (!got || *got != wanted) return BlockRead::kError;
  t.block_length = wanted;
  return BlockRead::kData;
}

void HLupgrade::advance_offset() {
  UpgradeTransfer &t = engine_.transfer;
  std::uint16_t sum = static_cast<std::uint16_t>(t.remainder + kBlockSize);
  t.segment = static_cast<std::uint16_t>(t.segment + (sum >> 4));
  t.remainder = static_cast<std::uint16_t>(sum & 0xF);
}

std::intptr_t HLupgrade::percent_done() const {
  const UpgradeTransfer &t = engine_.transfer;
  if (t.image_size == 0) return 0;
  return static_cast<std::intptr_t>(static_cast<std::uint64_t>(t.position) * 100 / t.image_size);
}

void HLupgrade::report_progress(std::intptr_t value) {
  if (value == engine_.last_progress) return;
  engine_.last_progress = value;
  engine_.host().post_progress(value, 0);
}

int HLupgrade::enter_end_sent() {
  engine_.transfer.state = TransferState::kEndSent;
  engine_.arm_timer(1);
  return engine_.SendEndFrame() == kSent ? kHandled : kEndSendFailed;
}

bool HLupgrade::is_ack_for(const ParsedFrame &frame) const {
  const UpgradeTransfer &t = engine_.transfer;
  const FrameFields &f = frame.fields;
  return f.sequence == t.sequence && f.remainder == t.remainder && f.segment == t.segment &&
         f.length == kStatusSize && frame.status().has_value();
}

int HLupgrade::on_info_reply(const ParsedFrame &frame) {
  UpgradeTransfer &t = engine_.transfer;
  if (t.info_target) std::copy_n(frame.payload.begin(), kInfoBlockSize, t.info_target->begin());
  t.state = TransferState::kDone;
  t.error = kErrNone;
  return kHandled;
}

int HLupgrade::on_start_ack(std::uint16_t status) {
  UpgradeTransfer &t = engine_.transfer;
  if (status != 0) {
    fail(status);
    return kHandled;
  }
  switch (read_block()) {
    case BlockRead::kError:
      fail(kErrInternal);
      return kHandled;
    case BlockRead::kEnd:
      return enter_end_sent();
    case BlockRead::kData:
      break;
  }
  t.state = TransferState::kProgramming;
  engine_.arm_timer(2);
  ++t.sequence;
  int sent = engine_.SendProgramFrame(std::span<const std::uint8_t>(t.block.data(), t.block_length));
  engine_.last_progress = 0;
  engine_.host().post_progress(0, 0);
  return sent == kSent ? kHandled : kProgramSendFailed;
}

int HLupgrade::on_program_ack(std::uint16_t status) {
  UpgradeTransfer &t = engine_.transfer;
  if (status != 0) {
    fail(status);
    return kHandled;
  }
  t.position += static_cast<std::uint32_t>(t.block_length);
  switch (read_block()) {
    case BlockRead::kError:
      fail(kErrInternal);
      return kHandled;
    case BlockRead::kEnd: {
      t.remainder = 0;
      t.segment = 0;
      t.position = 0;
      ++t.sequence;
      t.state = TransferState::kVerifying;
      engine_.arm_timer(1);
      if (read_block() != BlockRead::kData) {
        fail(kErrInternal);
        return kHandled;
      }
      int sent = engine_.SendVerifyFrame(std::span<const std::uint8_t>(t.block.data(), t.block_length));
      return sent == kSent ? kHandled : kVerifySendFailed;
    }
    case BlockRead::kData:
      break;
  }
  engine_.arm_timer(2);
  advance_offset();
  ++t.sequence;
  int sent = engine_.SendProgramFrame(std::span<const std::uint8_t>(t.block.data(), t.block_length));
  report_progress(percent_done());
  return sent == kSent ? kHandled : kProgramSendFailed;
}

int HLupgrade::on_verify_ack(std::uint16_t status) {
  UpgradeTransfer &t = engine_.transfer;
  if (status != 0) {
    fail(status);
    return kHandled;
  }
  t.position += static_cast<std::uint32_t>(t.block_length);
  switch (read_block()) {
    case BlockRead::kError:
      fail(kErrInternal);
      return kHandled;
    case BlockRead::kEnd:
      return enter_end_sent();
    case BlockRead::kData:
      break;
  }
  engine_.arm_timer(1);
  advance_offset();
  ++t.sequence;
  int sent = engine_.SendVerifyFrame(std::span<const std::uint8_t>(t.block.data(), t.block_length));
  report_progress(percent_done() + 100);
  return sent == kSent ? kHandled : kVerifySendFailed;
}

int HLupgrade::on_end_ack(std::uint16_t status) {
  if (status != 0) {
    // Whatever the router's code, a refused end is shown as a programming error.
    fail(kErrEndRefused);
    return kHandled;
  }
  engine_.transfer.state = TransferState::kDone;
  engine_.host().start_reboot_wait();
  return kHandled;
}

int HLupgrade::HandleUpgradeReply(const ParsedFrame &frame) {
  UpgradeTransfer &t = engine_.transfer;
  const FrameFields &f = frame.fields;
  if (f.ether_type != ether_type_of_variant(engine_.variant) || f.source != t.device) return kForeignFrame;
  switch (f.opcode) {
    case kOpInfo:
      if (t.state != TransferState::kInfoQuerySent) return kHandled;
      if (f.sequence != 0 || f.remainder != 0 || f.segment != 0 || f.length != kInfoBlockSize ||
          frame.payload.size() < kInfoBlockSize) {
        return kForeignFrame;
      }
      return on_info_reply(frame);
    case kOpStart:
    case kOpStartAlt:
      if (t.state != TransferState::kStartSent) return kHandled;
      if (f.sequence != t.sequence || f.remainder != 0 || f.segment != 0 || f.length != kStatusSize ||
          !frame.status()) {
        return kForeignFrame;
      }
      return on_start_ack(*frame.status());
    case kOpProgram:
      if (t.state != TransferState::kProgramming) return kHandled;
      if (!is_ack_for(frame)) return kForeignFrame;
      return on_program_ack(*frame.status());
    case kOpVerify:
      if (t.state != TransferState::kVerifying) return kHandled;
      if (!is_ack_for(frame)) return kForeignFrame;
      return on_verify_ack(*frame.status());
    case kOpEnd:
      if (t.state != TransferState::kEndSent) return kHandled;
      // The end acknowledgement carries its status word although its length field says 0.
      if (f.sequence != 0 || f.remainder != 0 || f.segment != 0 || f.length != 0 || !frame.status()) {
        return kForeignFrame;
      }
      return on_end_ack(*frame.status());
    default:
      return kHandled;
  }
}

int HLupgrade::ReceiveAndDispatch() {
  auto frame = engine_.receive_frame();
  if (!frame) return kNothingReceived;
  return HandleUpgradeReply(*frame);
}

int HLupgrade::RetransmitByState() {
  UpgradeTransfer &t = engine_.transfer;
  std::span<const std::uint8_t> block(t.block.data(), t.block_length);
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
  if (!engine_.TimeoutElapsed(t.last_send, t.units)) return 0;
  if (--t.retries == 0) {
    if (t.state == TransferState::kVerifying) {
      // A receiver that never answers verification still gets the end request.
      return enter_end_sent() == kHandled ? 0 : kEndSendFailed;
    }
    fail(kErrNoAnswer);
    return 0;
  }
  if (RetransmitByState() != 0) return kRetransmitFailed;
  t.last_send = engine_.clock().now_ms();
  return 0;
}

void HLupgrade::run(const std::string &device_name, const std::string &image_path) {
  EngineHost &host = engine_.host();
  auto device = mac_of_device_name(device_name);
  // A run that cannot even start still reports, so the dialog gives its buttons back.
  int started = device ? StartTransfer(*device, image_path) : kNoPath;
  if (started != 0 || engine_.SendStartFrame() != kSent) {
    close_image();
    std::intptr_t why = started == kImageWithoutHeader ? std::intptr_t{kErrInvalidImage} : kGeneralFailure;
    host.post_progress(kProgressFailed, why);
    return;
  }
  int dispatched = ReceiveAndDispatch();
  // A frame the adapter refused ends the run at once: waiting out the retries would only show a dead
  // adapter as minutes of time-outs.
  while (!is_send_failure(dispatched) && CheckTransferTimeout() == 0) {
    UpgradeTransfer &t = engine_.transfer;
    if (t.state == TransferState::kDone) {
      close_image();
      return;
    }
    if (t.state == TransferState::kFailed) {
      close_image();
      host.post_progress(kProgressFailed, t.error);
      return;
    }
    host.pump_one_message();
    dispatched = ReceiveAndDispatch();
  }
  close_image();
  host.post_progress(kProgressFailed, kGeneralFailure);
}

}  // namespace upgrade
