// The switch API state record, the PHY state and the context through which the daemon hands them,
// with the open switch I/O device, to the API. The caller allocates all of them; the API keeps
// pointers only.
#pragma once

#include <cstdint>

#include "swc_types.h"

// API state: one shadow of all switch state, fields in this order.
struct swc_api_state {
  uint32_t serial;                             // registers over SPI (nonzero) or the parallel bus
  uint32_t chip_port_to_port[SWC_CHIP_PORTS];  // indexed by chip port
  int32_t port_to_chip_port[SWC_PORT_SLOTS];   // negative: no chip port
  uint32_t miim_address[SWC_PORT_SLOTS];
  uint32_t miim_controller[SWC_PORT_SLOTS];
  uint32_t default_chip_port[SWC_PORT_SLOTS];
  uint32_t unmapped[SWC_PORT_SLOTS];
  uint32_t qos_priorities;

  swc_port_setup_t port_setup[SWC_PORT_SLOTS];
  uint32_t pause_obey[SWC_PORT_SLOTS];
  uint32_t pause_generate[SWC_PORT_SLOTS];
  uint32_t max_length[SWC_PORT_SLOTS];
  uint32_t jumbo;

  swc_raw_counters_t last_counters[SWC_PORT_SLOTS];
  uint64_t counters[SWC_POAG_SLOTS][SWC_COUNTER_WORDS];

  swc_port_qos_t port_qos[SWC_PORT_SLOTS];
  swc_qos_setup_t qos_setup;
  swc_cpu_rx_registration_t cpu_rx_registration;

  uint32_t port_to_poag[SWC_PORT_SLOTS];
  uint32_t aggr_code1_selected[SWC_PORT_SLOTS];

  swc_vlan_entry_t vlan[SWC_VLANS];
  swc_vlan_port_mode_t vlan_port_mode[SWC_PORT_SLOTS];

  swc_mac_events_t mac_events_status;    // set A: reported by swc_mac_table_status_get
  swc_mac_events_t mac_events_optimize;  // set B: starts a shadow pass
  uint32_t mac_walk_position;
  uint32_t mac_sorted_head;
  uint32_t mac_free_head;
  swc_mac_shadow_entry_t mac_shadow[SWC_MAC_TABLE_SIZE];
  uint32_t mac_index_count;
  uint32_t mac_index[SWC_MAC_INDEX_SIZE];

  swc_pgid_entry_t pgid[SWC_PGIDS];

  uint32_t stp_state[SWC_PORT_SLOTS];
  uint32_t auth_state[SWC_PORT_SLOTS];

  uint32_t pvlan_member[SWC_PORT_SLOTS][SWC_PORT_SLOTS];  // PVLAN 0..6 (1..6 used) x port

  uint32_t mirror_monitor_port;
  uint32_t mirror_ingress[SWC_PORT_SLOTS];
  uint32_t mirror_egress[SWC_PORT_SLOTS];

  uint32_t g5e;

  uint32_t pgid_count;
  uint32_t mac_table_size;
};

// CableScan task of one PHY port.
struct swc_cablescan_time_t {
  int64_t seconds;
  int64_t microseconds;
};

struct swc_cablescan_task_t {
  swc_cablescan_time_t deadline;  // a step before it does nothing
  swc_cablescan_time_t now;       // read by the last step
  uint8_t state;                  // 0 idle/done, 1..13 steps; bit 7 clean up, the low bits the state before
  uint8_t port;                   // the PHY port
  uint8_t flags;                  // see swc_cablescan.h
  uint8_t saved_mode;             // register 23 bits 6-7 (family 8) or register 28 bit 6 (families 7, 9)
  uint32_t saved_registers;       // family 1: standard registers 0, 9, 28 and test register 5
  uint32_t saved_tr_fields;       // family 1: the TR fields the test reprograms
  uint8_t status[4];              // pairs A-D
  uint8_t location[4];            // tap index, 0xFF none; a length in metres once finished
  int16_t amplitude[4];
  int8_t pair;
  int8_t sub_range;
  uint8_t tap_count;
  uint8_t window_start;
  uint16_t threshold1;   // also the wait counter (states 2, 3) and the disturbance count (states 5-7)
  uint16_t threshold2;   // also the previous disturbance count (states 5-7)
  uint16_t accumulator;  // disturbances of the sub-ranges so far
  uint16_t level[4];     // pair levels of states 10 to 12
  int16_t echo_offset;
  int8_t mask;   // per-pair bits; the echo search's marker
  uint8_t held;  // 1 while the PHY's own settings are saved and not yet restored
  uint32_t saved_tr_value;
};

// PHY reset setup: MAC interface, media word, two clock skews (ps), a further flag.
struct swc_phy_reset_setup_t {
  uint32_t mac_interface;
  uint32_t media;
  uint32_t rx_skew_ps;
  uint32_t tx_skew_ps;
  uint32_t further;
};

// PHY setup: mode (0 autonegotiation, 1 forced, 2 power down), forced speed and duplex, then the
// advertisement flags.
struct swc_phy_setup_t {
  uint32_t mode;
  uint32_t forced_speed;
  uint32_t forced_full_duplex;
  uint32_t adv_10_half;
  uint32_t adv_10_full;
  uint32_t adv_100_half;
  uint32_t adv_100_full;
  uint32_t adv_1000_full;
  uint32_t adv_symmetric_pause;
  uint32_t adv_asymmetric_pause;
};

struct swc_phy_port_t {
  int32_t bus;      // MIIM controller, -1 before the port is mapped
  int32_t address;  // MIIM address, -1 before the port is mapped
  swc_phy_reset_setup_t reset_setup;
  uint32_t family;
  uint32_t part;
  uint32_t revision;
  swc_phy_setup_t setup;
  uint32_t link;
  swc_cablescan_task_t cablescan;
};

// PHY state: the record count (ports + 1), a pointer to record 0, then the records for port 0..ports;
// record 0 is the pseudo-port of raw access by controller and address.
struct swc_phy_state {
  uint32_t count;
  swc_phy_port_t *ports;
  // swc_phy_port_t records follow
};

struct swc_phy_context {
  uint32_t spare;
  swc_phy_state *state;
};
static_assert(sizeof(swc_phy_context) == 2 * sizeof(void *));  // two words: 8 bytes on the router

// Handed to swc_select_context: the open switch I/O device, the API state and the PHY context.
struct swc_context {
  int fd;
  swc_api_state *state;
  swc_phy_context *phy;
};
static_assert(sizeof(swc_context) == 3 * sizeof(void *));  // three words: 12 bytes on the router
