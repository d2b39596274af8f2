// Port transmit: a BPDU every hello time and whenever the port has new information, at most the hold
// count of them per tick.
#include "rstp_internal.h"

namespace rstp {

uint8_t Engine::transmit_next(const Port &p) const {
  const uint8_t s = p.state[kTransmit];
  if (s == kBegin) return kTxInit;
  if (s != kTxIdle) return kTxIdle;
  if (!p.selected || p.updt_info) return kBegin;
  if (p.hello_when == 0) return kTxPeriodic;
  if (p.new_info && p.tx_count < kTxHoldCount && (p.role == kRoleRoot || p.role == kRoleDesignated)) {
    if (p.send_rstp) return kTxRstp;
    return p.role == kRoleRoot ? kTxTcn : kTxConfig;
  }
  return kBegin;
}

void Engine::transmit_enter(Port &p) {
  switch (p.state[kTransmit]) {
    case kTxInit:
      p.new_info = false;
      p.hello_when = 0;
      p.tx_count = 0;
      break;
    case kTxPeriodic:
      p.new_info = p.new_info || p.role == kRoleDesignated || (p.role == kRoleRoot && p.tc_while != 0);
      p.hello_when = times_of(p).hello_time;
      break;
    case kTxConfig:
      tx_bpdu(p, kBpduConfig);
      p.tc_ack = false;
      break;
    case kTxTcn:
      tx_bpdu(p, kBpduTcn);
      break;
    case kTxRstp:
      tx_bpdu(p, kBpduRst);
      p.tc_ack = false;
      break;
  }
}

void Engine::tx_bpdu(Port &p, uint8_t type) {
  p.tx_count++;
  p.new_info = false;
  if (p.admin_non_stp) return;
  Bpdu b;
  b.type = type;
  b.version = type == kBpduRst ? 2 : 0;
  b.vector = p.port_priority;
  b.times = p.port_times;
  if (p.tc_while != 0) b.flags |= kFlagTc;
  if (type == kBpduConfig && p.tc_ack) b.flags |= kFlagTcAck;
  if (type == kBpduRst) {
    static constexpr uint8_t kWireRole[] = {kBpduRoleUnknown, kBpduRoleAltBackup, kBpduRoleAltBackup,
                                            kBpduRoleRoot, kBpduRoleDesignated};
    if (p.role < kRoleNonStp) b.flags |= uint8_t(kWireRole[p.role] << kFlagRoleShift);
    if (p.synced) b.flags |= kFlagAgreement;
    if (p.proposing) b.flags |= kFlagProposal;
  }
  unsigned front = tx_[p.number];
  if (front == 0) return;
  void *buffer = nullptr;
  uint8_t *frame = services_.frame_alloc(front, kBpduHeaderLength + bpdu_length(type), &buffer);
  if (!frame) {
    RTRACE(trace::kError, "No buffer for BPDU (type 0x%x) on port %u -> %u\n", type, p.number, front);
    return;
  }
  size_t length = encode_bpdu(b, ports_[front].mac, frame);
  RTRACE(trace::kDebug, "Sent BPDU (type 0x%x) on port %u -> %u\n", type, p.number, front);
  if (type == kBpduRst)
    p.counters.rst_sent++;
  else if (type == kBpduConfig)
    p.counters.config_sent++;
  else
    p.counters.tcn_sent++;
  services_.frame_send(front, frame, length, buffer);
}

}  // namespace rstp
