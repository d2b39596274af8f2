#include "swc_qos_state.h"

#include "swc_api.h"
#include "swc_ll.h"
#include "swc_masks.h"
#include "swc_trace.h"

namespace {

bool legal_port(uint32_t port_no) {
  return port_no >= 1 && port_no <= kSwcPorts;
}

swc_rc reject_port(const char *function, uint32_t port_no) {
  SWC_TRACE_AS(trace::kApiHl, trace::kError, function, "illegal port_no: %d", static_cast<int>(port_no));
  return kSwcRcIllegal;
}

const char *auth_state_name(uint32_t auth_state) {
  static const char *const kNames[] = {"NONE", "EGRESS", "BOTH"};
  return auth_state < 3 ? kNames[auth_state] : "???";
}

// Applies one port's stored QoS, flow control and queue enable in turn. A hard failure ends it at once,
// so no later step writes over a port the chip left half set up; -1 from a step is soft.
swc_rc apply_port_qos(uint32_t port_no, bool &soft_failure) {
  using Step = swc_rc (*)(uint32_t);
  static constexpr Step kSteps[] = {
      [](uint32_t p) { return swc_ll_port_qos_setup_set(p, &swc_state()->port_qos[p]); },
      [](uint32_t p) { return swc_ll_port_flowcontrol_set(p); },
      [](uint32_t p) { return swc_ll_port_queue_enable(p, 1); },
  };
  for (const Step step : kSteps) {
    const swc_rc rc = step(port_no);
    if (rc < kSwcRcSoftFailure) return rc;
    if (rc == kSwcRcSoftFailure) soft_failure = true;
  }
  return kSwcRcOk;
}

}  // namespace

bool swc_stp_forwarding(uint32_t stp_state) {
  return stp_state == SWC_STP_STATE_FORWARDING || stp_state == SWC_STP_STATE_ENABLED;
}

const char *swc_stp_state_name(uint32_t stp_state) {
  static const char *const kNames[] = {"DISABLED", "BLOCKING",   "LISTENING",
                                       "LEARNING", "FORWARDING", "ENABLED"};
  return stp_state <= SWC_STP_STATE_ENABLED ? kNames[stp_state] : "???";
}

swc_rc swc_qos_prios_set(uint32_t prios) {
  SWC_HL_TRACE(trace::kDebug, "prios: %d", static_cast<int>(prios));
  if (prios != 1 && prios != 2 && prios != 4) {
    SWC_HL_TRACE(trace::kError, "illegal prios: %d", static_cast<int>(prios));
    return kSwcRcNotNow;
  }
  SwcApiState &s = *swc_state();
  if (s.qos_priorities == prios) return kSwcRcOk;
  s.qos_priorities = prios;
  bool soft_failure = false;
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (s.unmapped[p]) continue;
    const swc_rc rc = apply_port_qos(p, soft_failure);
    if (rc < 0) return rc;
  }
  const swc_rc rc = swc_ll_qos_setup_set(&s.qos_setup);
  if (rc < 0) return rc;
  return soft_failure ? kSwcRcSoftFailure : kSwcRcOk;
}

swc_rc swc_port_qos_get(uint32_t port_no, SwcPortQos *qos) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d", static_cast<int>(port_no));
  if (!legal_port(port_no)) return reject_port(__func__, port_no);
  *qos = swc_state()->port_qos[port_no];
  return kSwcRcOk;
}

swc_rc swc_port_qos_set(uint32_t port_no, const SwcPortQos *qos) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d", static_cast<int>(port_no));
  if (!legal_port(port_no)) return reject_port(__func__, port_no);
  swc_state()->port_qos[port_no] = *qos;
  return swc_ll_port_qos_setup_set(port_no, qos);
}

swc_rc swc_qos_setup_get(SwcQosSetup *qos) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  *qos = swc_state()->qos_setup;
  return kSwcRcOk;
}

swc_rc swc_qos_setup_set(const SwcQosSetup *qos) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  swc_state()->qos_setup = *qos;
  return swc_ll_qos_setup_set(qos);
}

swc_rc swc_port_auth_state_set(uint32_t port_no, uint32_t auth_state) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d, auth_state: %s", static_cast<int>(port_no),
               auth_state_name(auth_state));
  if (!legal_port(port_no)) return reject_port(__func__, port_no);
  if (auth_state > SWC_AUTH_STATE_BOTH) {
    SWC_HL_TRACE(trace::kError, "Illegal auth state: %d", static_cast<int>(auth_state));
    return kSwcRcIllegal;
  }
  swc_state()->auth_state[port_no] = auth_state;
  return swc_update_masks(1, 0, 1);
}

swc_rc swc_port_stp_state_set(uint32_t port_no, uint32_t stp_state) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d, stp_state: %s", static_cast<int>(port_no),
               swc_stp_state_name(stp_state));
  if (!legal_port(port_no)) return reject_port(__func__, port_no);
  if (stp_state > SWC_STP_STATE_ENABLED) {
    SWC_HL_TRACE(trace::kError, "Illegal stp_state: %d", static_cast<int>(stp_state));
    return kSwcRcIllegal;
  }
  swc_state()->stp_state[port_no] = stp_state;
  const swc_rc rc = swc_ll_port_queue_enable(port_no, 1);
  if (rc < 0) return rc;
  return swc_update_masks(1, 0, 1);
}

swc_rc swc_port_stp_state_get(uint32_t port_no, uint32_t *stp_state) {
  if (!legal_port(port_no)) return reject_port(__func__, port_no);
  *stp_state = swc_state()->stp_state[port_no];
  SWC_HL_TRACE(trace::kDebug, "port_no: %d, stp_state: %s", static_cast<int>(port_no),
               swc_stp_state_name(*stp_state));
  return kSwcRcOk;
}

swc_rc swc_gpio_direction_set(uint32_t gpio_no, uint32_t output) {
  SWC_HL_TRACE(trace::kDebug, "gpio_no: %d, output: %d", static_cast<int>(gpio_no), static_cast<int>(output));
  if (gpio_no > 3) {
    SWC_HL_TRACE(trace::kError, "illegal gpio_no: %d", static_cast<int>(gpio_no));
    return kSwcRcIllegal;
  }
  return swc_ll_gpio_direction_set(gpio_no, output);
}

swc_rc swc_gpio_input_read(uint32_t gpio_no, uint32_t *value) {
  SWC_HL_TRACE(trace::kDebug, "gpio_no: %d", static_cast<int>(gpio_no));
  return swc_ll_gpio_input_read(gpio_no, value);
}

swc_rc swc_gpio_output_write(uint32_t gpio_no, uint32_t value) {
  SWC_HL_TRACE(trace::kDebug, "gpio_no: %d, value: %d", static_cast<int>(gpio_no), static_cast<int>(value));
  return swc_ll_gpio_output_write(gpio_no, value);
}

swc_rc swc_chipid_get(SwcChipId *chipid) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  return swc_ll_chipid_get(chipid);
}

swc_rc swc_register_read(uint32_t reg, uint32_t *value) {
  SWC_HL_TRACE(trace::kDebug, "reg: 0x%08lx", static_cast<unsigned long>(reg));
  return swc_ll_register_read(reg, value);
}

swc_rc swc_register_write(uint32_t reg, uint32_t value) {
  SWC_HL_TRACE(trace::kDebug, "reg: 0x%08lx, value: 0x%08lx", static_cast<unsigned long>(reg),
               static_cast<unsigned long>(value));
  return swc_ll_register_write(reg, value);
}

swc_rc swc_register_writemasked(uint32_t reg, uint32_t value, uint32_t mask) {
  SWC_HL_TRACE(trace::kDebug, "reg: 0x%08lx, value: 0x%08lx, mask: 0x%08lx", static_cast<unsigned long>(reg),
               static_cast<unsigned long>(value), static_cast<unsigned long>(mask));
  uint32_t old = 0;
  const swc_rc rc = swc_register_read(reg, &old);
  if (rc < 0) return rc;
  return swc_register_write(reg, (old & ~mask) | (value & mask));
}
