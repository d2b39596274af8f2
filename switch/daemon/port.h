// Port management: brings the switch chip up, keeps and applies the configuration of the six front
// ports, follows each port's link by polling and serves the port management objects.
#pragma once

#include "le.h"

#include <array>
#include <cstddef>
#include <cstdint>

struct ConfAction;
struct MgmtObject;

inline constexpr unsigned kPortCount = 6;
inline constexpr uint32_t kPortConfBlock = 3;
inline constexpr uint32_t kPortMaxLengthLimit = 9600;
// Debug flag word that keeps the loaded configuration away from the chip.
inline constexpr int kPortDebugNoCommit = 1;
// Polling periods of the main loop's timers, in milliseconds.
inline constexpr uint32_t kPortStatusPollMs = 33;
inline constexpr uint32_t kPortCountersPollMs = 1333;

// One port's configuration as configuration block 3 stores it (six little-endian u32 in this order).
struct PortConfig {
  uint32_t enabled;       // 1 on, 0 powered down
  uint32_t flow_control;  // 0 off, 1 asymmetric, 2 symmetric, 3 both
  uint32_t aneg;          // 1 auto-negotiation
  uint32_t speed;         // forced speed code: 1 10M, 2 100M, 3 1G, 4 10G
  uint32_t fdx;           // forced duplex, 1 full
  uint32_t max_length;    // maximum frame length in bytes
};
inline constexpr size_t kPortConfigWords = 6;
inline constexpr size_t kPortConfigRecordSize = kPortConfigWords * 4;
inline constexpr size_t kPortConfBlockSize = (kPortCount + 1) * kPortConfigRecordSize;  // entry 0 unused
static_assert(kPortConfBlockSize == 168);

inline constexpr PortConfig kPortConfigDefault{1, 3, 1, 3, 1, 1518};
// What a port holds before any configuration is loaded.
inline constexpr PortConfig kPortConfigUnloaded{0, 0, 1, 3, 1, 1518};

void port_config_encode(const PortConfig &config, uint8_t *out);
PortConfig port_config_decode(const uint8_t *in);
// Why a configuration cannot be applied, or nullptr when every field is in its range.
const char *port_config_refusal(const PortConfig &config);

void port_init();
void port_conf(const ConfAction &action);
void port_mgmt(MgmtObject &object);

int port_setup_commit(unsigned port, bool ignore_status);
int port_config_commit(unsigned port);
void link_down(unsigned port);
void link_up(unsigned port);
void port_status_update(unsigned port);
void port_conf_save();

// The module's view of a port's link: speed and fdx only while the link is up. Outputs may be null.
void port_get_link_state(unsigned port, int *link, uint32_t *speed, uint32_t *fdx);
// The STP state to apply: set in the chip at once while the link is up, otherwise at the next link-up.
// -1 for a port outside 1..6 or a state outside DISABLED..ENABLED (nothing remembered).
int port_set_stp_state(unsigned port, uint32_t stp_state);
uint32_t port_get_stp_state(unsigned port);

// Questions of the protocol engines; a port outside 1..6 is a programming error (assertion).
uint32_t swc_os_get_linkspeed(unsigned port);
int swc_os_get_linkstate(unsigned port);
int swc_os_get_linkduplex(unsigned port);
uint32_t swc_os_make_key(unsigned port, uint32_t configured_key);

// The main loop's timers.
uint32_t port_status_poll(uint32_t now, uint32_t last, uint32_t elapsed);
uint32_t port_counters_poll(uint32_t now, uint32_t last, uint32_t elapsed);
uint32_t port_optimize_1sec(uint32_t now, uint32_t last, uint32_t elapsed);
uint32_t port_optimize_100msec(uint32_t now, uint32_t last, uint32_t elapsed);

// Texts of the trace lines.
const char *port_interface_name(uint32_t interface_type);
const char *port_speed_text(bool link, uint32_t speed, uint32_t fdx);
const char *port_stp_state_name(uint32_t stp_state);
// "Corvex-G5" and the other known chips by part number, nullptr for an unknown one.
const char *port_chip_name(uint16_t part);

// The current configuration of a port 1..6 (tests and the management objects).
const PortConfig &port_current_config(unsigned port);
