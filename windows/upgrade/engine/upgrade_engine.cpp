#include "upgrade_engine.h"

namespace upgrade {

int UpgradeEngine::send_frame(FrameFields fields, std::span<const std::uint8_t> data) {
  if (!port_.own_mac(fields.source)) return kNoOwnMac;
  fields.ether_type = ether_type_of_variant(variant);
  std::size_t size = encode_frame(fields, data, send_buffer_);
  if (size == 0) return kSendFailed;
  return port_.send(std::span<const std::uint8_t>(send_buffer_.data(), size)) == 0 ? kSent : kSendFailed;
}

int UpgradeEngine::send_bare(const Mac &destination, std::uint16_t opcode, std::uint16_t sequence) {
  FrameFields fields;
  fields.destination = destination;
  fields.opcode = opcode;
  fields.sequence = sequence;
  return send_frame(fields, {});
}

int UpgradeEngine::send_block(std::uint16_t opcode, std::span<const std::uint8_t> block) {
  FrameFields fields;
  fields.destination = transfer.device;
  fields.opcode = opcode;
  fields.sequence = transfer.sequence;
  fields.remainder = transfer.remainder;
  fields.segment = transfer.segment;
  fields.length = static_cast<std::uint16_t>(block.size());
  return send_frame(fields, block);
}

int UpgradeEngine::SendDiscoverFrame() {
  return send_bare(kBroadcastMac, kOpInfo, 0);
}
int UpgradeEngine::SendInfoQueryFrame() {
  return send_bare(transfer.device, kOpInfo, 0);
}
int UpgradeEngine::SendStartFrame() {
  return send_bare(transfer.device, kOpStart, transfer.sequence);
}
int UpgradeEngine::SendEndFrame() {
  return send_bare(transfer.device, kOpEnd, 0);
}
int UpgradeEngine::SendProgramFrame(std::span<const std::uint8_t> block) {
  return send_block(kOpProgram, block);
}
int UpgradeEngine::SendVerifyFrame(std::span<const std::uint8_t> block) {
  return send_block(kOpVerify, block);
}

bool UpgradeEngine::TimeoutElapsed(std::uint32_t last, std::uint16_t units) {
  // Unsigned subtraction already gives the right distance across a wrap of the tick count.
  std::uint32_t elapsed = clock_.now_ms() - last;
  return elapsed > static_cast<std::uint32_t>(units) * kTimeoutUnitMs;
}

std::optional<ParsedFrame> UpgradeEngine::receive_frame() {
  // Cleared each time so that nothing of an earlier, longer frame can be read as part of this one.
  receive_buffer_.fill(0);
  std::size_t length = port_.receive(receive_buffer_);
  if (length == 0) return std::nullopt;
  if (length > receive_buffer_.size()) length = receive_buffer_.size();
  return parse_frame(std::span<const std::uint8_t>(receive_buffer_.data(), length));
}

void UpgradeEngine::arm_timer(std::uint16_t units) {
  transfer.last_send = clock_.now_ms();
  transfer.units = units;
  transfer.retries = kRetries;
}

}  // namespace upgrade
