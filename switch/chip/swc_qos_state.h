// Switch API: QoS, the two per-port states that gate forwarding (802.1X authorisation and spanning
// tree), GPIOs, chip identification and raw register access.
#pragma once

#include <cstdint>

#include "swc_types.h"

// Number of QoS priorities: 1, 2 or 4 (-3 for another value); re-applies every mapped port's QoS.
swc_rc swc_qos_prios_set(uint32_t prios);
swc_rc swc_port_qos_get(uint32_t port_no, SwcPortQos *qos);
swc_rc swc_port_qos_set(uint32_t port_no, const SwcPortQos *qos);
swc_rc swc_qos_setup_get(SwcQosSetup *qos);
swc_rc swc_qos_setup_set(const SwcQosSetup *qos);

// Authorisation state SWC_AUTH_STATE_NONE / EGRESS / BOTH of a port 1..6; recomputes the masks.
swc_rc swc_port_auth_state_set(uint32_t port_no, uint32_t auth_state);
// STP state SWC_STP_STATE_DISABLED..ENABLED of a port 1..6; opens the port's queues and recomputes the masks.
swc_rc swc_port_stp_state_set(uint32_t port_no, uint32_t stp_state);
swc_rc swc_port_stp_state_get(uint32_t port_no, uint32_t *stp_state);
// "DISABLED" .. "ENABLED", "???" for another value.
const char *swc_stp_state_name(uint32_t stp_state);
// FORWARDING and ENABLED both forward.
bool swc_stp_forwarding(uint32_t stp_state);

swc_rc swc_gpio_direction_set(uint32_t gpio_no, uint32_t output);
swc_rc swc_gpio_input_read(uint32_t gpio_no, uint32_t *value);
swc_rc swc_gpio_output_write(uint32_t gpio_no, uint32_t value);

swc_rc swc_chipid_get(SwcChipId *chipid);

// Raw access by packed address block << 12 | subblock << 8 | register.
swc_rc swc_register_read(uint32_t reg, uint32_t *value);
swc_rc swc_register_write(uint32_t reg, uint32_t value);
// Changes only the bits under `mask`.
swc_rc swc_register_writemasked(uint32_t reg, uint32_t value, uint32_t mask);
