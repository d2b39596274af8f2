// Port state transition: the port's forwarding state follows the learn and forward permissions the role
// transitions give, and goes to the chip.
#include "rstp_internal.h"

namespace rstp {

uint8_t Engine::sttrans_next(const Port &p) const {
  const uint8_t s = p.state[kStTrans];
  if (s == kBegin) return kDiscarding;
  if (s == kDiscarding && p.learn) return kLearning;
  if (s == kLearning && p.forward) return kForwarding;
  if (s == kLearning && !p.learn) return kDiscarding;
  if (s == kForwarding && !p.forward) return kDiscarding;
  return kBegin;
}

void Engine::sttrans_enter(Port &p) {
  switch (p.state[kStTrans]) {
    case kDiscarding:
      p.learning = p.forwarding = false;
      set_stp_state(p, kStpBlocking);
      break;
    case kLearning:
      p.learning = true;
      set_stp_state(p, kStpLearning);
      break;
    case kForwarding:
      p.tc = !p.oper_edge;
      p.forwarding = true;
      set_stp_state(p, kStpForwarding);
      break;
  }
}

}  // namespace rstp
