#include "upgrade_engine.h"

namespace upgrade {

int UpgradeEngine::SendFrame(FrameFields fields, std::span<const std::uint8_t> data) {
  if (!port_.OwnMac(fields.source)) return kNoOwnMac;
  fields.etherType = EtherTypeOfVariant(variant);
  std::size_t size = EncodeFrame(fields, data, sendBuffer_);
  if (size == 0) return kSendFailed;
  return port_.Send(std::span<const std::uint8_t>(sendBuffer_.data(), size)) == 0 ? kSent : kSendFailed;
}

int UpgradeEngine::SendBare(const Mac &destination, std::uint16_t opcode, std::uint16_t sequence) {
  FrameFields fields;
  fields.destination = destination;
  fields.opcode = opcode;
  fields.sequence = sequence;
  return SendFrame(fields, {});
}

int UpgradeEngine::SendBlock(std::uint16_t opcode, std::span<const std::uint8_t> block) {
  FrameFields fields;
  fields.destination = transfer.device;
  fields.opcode = opcode;
  fields.sequence = transfer.sequence;
  fields.remainder = transfer.remainder;
  fields.segment = transfer.segment;
  fields.length = static_cast<std::uint16_t>(block.size());
  return SendFrame(fields, block);
}

int UpgradeEngine::SendDiscoverFrame() {
  return SendBare(kBroadcastMac, kOpInfo, 0);
}
int UpgradeEngine::SendInfoQueryFrame() {
  return SendBare(transfer.device, kOpInfo, 0);
}
int UpgradeEngine::SendStartFrame() {
  return SendBare(transfer.device, kOpStart, transfer.sequence);
}
int UpgradeEngine::SendEndFrame() {
  return SendBare(transfer.device, kOpEnd, 0);
}
int UpgradeEngine::SendProgramFrame(std::span<const std::uint8_t> block) {
  return SendBlock(kOpProgram, block);
}
int UpgradeEngine::SendVerifyFrame(std::span<const std::uint8_t> block) {
  return SendBlock(kOpVerify, block);
}

bool UpgradeEngine::TimeoutElapsed(std::uint32_t last, std::uint16_t units) {
  // Unsigned subtraction already gives the right distance across a wrap of the tick count.
  std::uint32_t elapsed = clock_.NowMs() - last;
  return elapsed > static_cast<std::uint32_t>(units) * kTimeoutUnitMs;
}

std::optional<ParsedFrame> UpgradeEngine::ReceiveFrame() {
  // Cleared each time so that nothing of an earlier, longer frame can be read as part of this one.
  receiveBuffer_.fill(0);
  std::size_t length = port_.Receive(receiveBuffer_);
  if (length == 0) return std::nullopt;
  if (length > receiveBuffer_.size()) length = receiveBuffer_.size();
  return ParseFrame(std::span<const std::uint8_t>(receiveBuffer_.data(), length));
}

void UpgradeEngine::ArmTimer(std::uint16_t units) {
  transfer.lastSend = clock_.NowMs();
  transfer.units = units;
  transfer.retries = kRetries;
}

}  // namespace upgrade
