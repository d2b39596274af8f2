// Port timers: one tick a second lowers every running timer of the ports that run the protocol, then the
// machines take a sweep to act on the timers that ran out.
#include "rstp_internal.h"

namespace rstp {

void Engine::tick() {
  finish_work();
  ++ticks_;
  for (unsigned n = 1; n <= kLogicalPorts; ++n) {
    Port &p = ports_[n];
    if (!p.boring()) count_down_timers(p);
  }
  bridge_update();
}

void Engine::count_down_timers(Port &p) {
  for (uint8_t *t : {&p.fd_while, &p.hello_when, &p.mdelay_while, &p.rb_while, &p.rcvd_info_while,
                     &p.rr_while, &p.tc_while, &p.tx_count, &p.edge_delay})
    if (*t) --*t;
}

}  // namespace rstp
