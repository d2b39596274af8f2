// Port protocol migration: which BPDUs the port sends (RST or the old protocol's), following what its
// neighbour speaks once the migrate delay has passed; a migration check starts over with RST BPDUs.
#include "rstp_internal.h"

namespace rstp {

uint8_t Engine::migrate_next(const Port &p) const {
  const uint8_t s = p.state[kMigrate];
  if (s == kBegin || (!p.port_enabled && !p.init_pm)) return s == kPmInit ? kBegin : uint8_t(kPmInit);
  bool rstp = force_version() >= 2;
  switch (s) {
    case kPmInit:
      if (!p.port_enabled) return kBegin;
      return rstp ? kPmSendRstp : kPmSendStp;
    case kPmSendRstp:
    case kPmSendingRstp:
      if (p.mcheck) return kPmSendRstp;
      if (p.mdelay_while != 0 && (p.rcvd_stp || p.rcvd_rstp)) return kPmSendingRstp;
      if (p.mdelay_while == 0 && p.rcvd_stp) return kPmSendStp;
      return kBegin;
    case kPmSendStp:
    case kPmSendingStp:
      if (p.mcheck && rstp) return kPmSendRstp;
      if (p.mdelay_while != 0 && (p.rcvd_stp || p.rcvd_rstp)) return kPmSendingStp;
      if (p.mdelay_while == 0 && p.rcvd_rstp && rstp) return kPmSendRstp;
      return kBegin;
    default:
      return kBegin;
  }
}

void Engine::migrate_enter(Port &p) {
  switch (p.state[kMigrate]) {
    case kPmInit:
      p.init_pm = true;
      p.mcheck = false;
      break;
    case kPmSendRstp:
      p.mdelay_while = kMigrateTime;
      p.mcheck = p.init_pm = false;
      p.send_rstp = true;
      break;
    case kPmSendStp:
      p.mdelay_while = kMigrateTime;
      p.send_rstp = p.init_pm = false;
      break;
    case kPmSendingRstp:
    case kPmSendingStp:
      p.rcvd_rstp = p.rcvd_stp = false;
      break;
  }
}

}  // namespace rstp
