// Path cost: taken from the link speed while the administrative cost is 0, else the administrative cost.
#include "rstp_internal.h"

#include <algorithm>

namespace rstp {

uint32_t path_cost_for_speed(unsigned mbits) {
  if (mbits == 0) return 200000000;
  return std::max<uint32_t>(20000000 / mbits, 2);
}

uint8_t Engine::pcost_next(const Port &p) const {
  const uint8_t s = p.state[kPCost];
  if (s == kBegin) return kPcAuto;
  if (s == kPcAuto || s == kPcForced) return kPcStable;
  if (p.config.admin_cost == 0 && p.speed != p.used_speed) return kPcAuto;
  if (p.config.admin_cost != 0 && p.config.admin_cost != p.path_cost) return kPcForced;
  return kBegin;
}

void Engine::pcost_enter(Port &p) {
  uint32_t before = p.path_cost;
  if (p.state[kPCost] == kPcAuto) {
    p.used_speed = p.speed;
    p.path_cost = path_cost_for_speed(p.used_speed);
    RTRACE(trace::kDebug, "AUTO:operSpeed=%lu usedSpeed=%lu lret=%ld\n", (unsigned long)p.speed,
           (unsigned long)p.used_speed, long(p.path_cost));
  } else if (p.state[kPCost] == kPcForced) {
    p.path_cost = p.config.admin_cost;
  }
  // The root path through this port changed: roles must be chosen again.
  if (p.path_cost != before) {
    p.reselect = true;
    p.selected = false;
  }
}

}  // namespace rstp
