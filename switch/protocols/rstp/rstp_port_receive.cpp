// Port receive: a BPDU from a front port reaches the logical port that stands for it, is counted, and
// becomes the port's received message for the port information machine.
#include "rstp_internal.h"

namespace rstp {

void Engine::receive(unsigned from_port, const uint8_t *frame, size_t length) {
  if (!initialised_ || from_port < 1 || from_port > kFrontPorts || frame == nullptr) return;
  Port &p = ports_[rep_[from_port]];
  if (length < 56) {
    p.counters.illegal++;
    RTRACE(trace::kInfo, "Ignoring xxPDU frame from port %u -> %u with short length (%u)\n", from_port,
           p.number, unsigned(length));
    return;
  }
  RTRACE(trace::kDebug, "Received 0x%02x on port %u -> %u\n", frame[20], from_port, p.number);
  finish_work();
  Bpdu bpdu;
  switch (decode_bpdu(frame, length, bpdu)) {
    case Decode::kIllegal:
      p.counters.illegal++;
      RTRACE(trace::kInfo, "Ignoring BPDU with bad length on port %u\n", p.number);
      return;
    case Decode::kUnrecognised:
      p.counters.unrecognised++;
      RTRACE(trace::kInfo, "Rx undef BPDU (type 0x%x) on port %u\n", frame[20], p.number);
      return;
    case Decode::kOk:
      break;
  }
  // A port that belongs to no instance (its VLAN and the default were deleted) runs no protocol.
  if (p.bridge < 0) {
    RTRACE(trace::kInfo, "Ignored BPDU on port %u: no vlan instance\n", p.number);
    return;
  }
  rx_bpdu(p, bpdu);
}

void Engine::rx_bpdu(Port &p, const Bpdu &bpdu) {
  Bridge &b = bridges_[p.bridge];
  if (!b.enabled) return;
  if (p.oper_edge && p.edge_delay == 0 && p.port_enabled) p.tc = true;
  if (!p.port_enabled && p.link) enable_port(p, true);
  p.oper_edge = false;
  p.bpdu_seen = true;
  record_bpdu(p, bpdu);
  bridge_update();
}

void Engine::record_bpdu(Port &p, const Bpdu &bpdu) {
  switch (bpdu.type) {
    case kBpduConfig:
      p.counters.config_received++;
      if (p.admin_non_stp) return;
      break;
    case kBpduRst:
      p.counters.rst_received++;
      if (p.admin_non_stp || force_version() < 2) return;
      break;
    default:
      p.counters.tcn_received++;
      if (!p.admin_non_stp) {
        p.rcvd_msg = true;
        p.msg_version = bpdu.version;
        p.msg_type = bpdu.type;
        p.msg_flags = 0;
      }
      return;
  }
  p.rcvd_msg = true;
  p.msg_version = bpdu.version;
  p.msg_type = bpdu.type;
  p.msg_flags = bpdu.flags;
  p.msg_priority = bpdu.vector;
  p.msg_priority.bridge_port = p.port_id;
  p.msg_times = bpdu.times;
}

}  // namespace rstp
