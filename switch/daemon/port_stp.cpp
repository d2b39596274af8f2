#include "port_stp.h"

#include "port.h"
#include "swc_types.h"
#include "trace.h"

#include <array>
#include <cstdlib>

namespace {

struct ProtocolPort {
  uint32_t state = kStpDis;
  int apply = 0;
};

std::array<ProtocolPort, kPortCount + 1> protocol_ports{};

// Engine states dis, blk, lrn, fwd, enb as the chip's states (LISTENING is never used).
constexpr uint32_t kChipState[kStpEnb + 1] = {SWC_STP_STATE_DISABLED, SWC_STP_STATE_BLOCKING,
                                              SWC_STP_STATE_LEARNING, SWC_STP_STATE_FORWARDING,
                                              SWC_STP_STATE_ENABLED};

// A protocol engine passing a port or state out of range is broken; the daemon stops rather than
// write past its tables.
void require(bool condition, const char *expression, const char *function) {
  if (condition) return;
  trace_printf(trace::kL2, function, nullptr, __LINE__, 0, 0, trace::kEmerg, "Assertion failed: %s",
               expression);
  std::abort();
}
#define PORT_STP_ASSERT(cond) require((cond), #cond, __func__)

bool valid_port(unsigned port) {
  return port >= 1 && port <= kPortCount;
}

}  // namespace

void swc_os_set_stpstate(unsigned port, uint32_t state) {
  PORT_STP_ASSERT(state <= kStpEnb);
  PORT_STP_ASSERT(valid_port(port));
  protocol_ports[port].state = state;
  if (protocol_ports[port].apply == 1) port_set_stp_state(port, kChipState[state]);
}

uint32_t swc_os_get_stpstate(unsigned port) {
  PORT_STP_ASSERT(valid_port(port));
  return protocol_ports[port].state;
}

int swc_os_get_fwdstate(unsigned port) {
  PORT_STP_ASSERT(valid_port(port));
  return protocol_ports[port].apply;
}

void swc_os_set_fwdstate(unsigned port, int flag) {
  PORT_STP_ASSERT(valid_port(port));
  ProtocolPort &p = protocol_ports[port];
  if (p.apply == 0 && flag == 1) {
    p.apply = 1;
    swc_os_set_stpstate(port, p.state);
  } else if (p.apply == 1 && flag == 0) {
    p.apply = 0;
    port_set_stp_state(port, SWC_STP_STATE_BLOCKING);
  }
}

void port_stp_reset() {
  protocol_ports.fill(ProtocolPort{});
}
