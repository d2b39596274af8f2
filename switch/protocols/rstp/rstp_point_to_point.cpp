// Point-to-point: recomputed whenever the link (or an aggregation's membership) changes; automatic means
// full duplex, on every member of an aggregation.
#include "rstp_internal.h"

namespace rstp {

uint8_t Engine::p2p_next(Port &p) const {
  const uint8_t s = p.state[kP2p];
  if (s == kBegin) {
    p.p2p_recompute = true;
    return kP2pStable;
  }
  if (s == kP2pStable) return p.p2p_recompute ? uint8_t(kP2pRecompute) : kBegin;
  return kP2pStable;
}

void Engine::p2p_enter(Port &p) {
  if (p.state[kP2p] != kP2pRecompute) return;
  bool duplex = p.number <= kFrontPorts ? services_.link_duplex(p.number) : true;
  for (unsigned f = 1; p.number > kFrontPorts && f <= kFrontPorts; ++f)
    if (rep_[f] == p.number && f != p.number) duplex = duplex && services_.link_duplex(f);
  p.oper_p2p = p.config.admin_p2p == kP2pOn || (p.config.admin_p2p == kP2pAuto && duplex);
  p.p2p_recompute = false;
}

}  // namespace rstp
