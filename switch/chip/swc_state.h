// The switch API state record, the PHY state and the context through which the daemon hands them,
// with the open switch I/O device, to the API. The caller allocates all of them; the API keeps
// pointers only.
#pragma once

#include <cstdint>

#include "swc_types.h"

// API state: one shadow of all switch state, fields in this order.
struct SwcApiState {
  uint32_t serial;                            // registers over SPI (nonzero) or the parallel bus
  uint32_t chip_port_to_port[kSwcChipPorts];  // indexed by chip port
  int32_t port_to_chip_port[kSwcPortSlots];   // negative: no chip port
  uint32_t miim_address[kSwcPortSlots];
  uint32_t miim_controller[kSwcPortSlots];
  uint32_t default_chip_port[kSwcPortSlots];
  uint32_t unmapped[kSwcPortSlots];
  uint32_t qos_priorities;

  SwcPortSetup port_setup[kSwcPortSlots];
  uint32_t pause_obey[kSwcPortSlots];
  uint32_t pause_generate[kSwcPortSlots];
  uint32_t max_length[kSwcPortSlots];
  uint32_t jumbo;

  SwcRawCounters last_counters[kSwcPortSlots];
  uint64_t counters[kSwcPoagSlots][kSwcCounterWords];

  SwcPortQos port_qos[kSwcPortSlots];
  SwcQosSetup qos_setup;
  SwcCpuRxRegistration cpu_rx_registration;

  uint32_t port_to_poag[kSwcPortSlots];
  uint32_t aggr_code1_selected[kSwcPortSlots];

  SwcVlanEntry vlan[kSwcVlans];
  SwcVlanPortMode vlan_port_mode[kSwcPortSlots];

  SwcMacEvents mac_events_status;    // set A: reported by swc_mac_table_status_get
  SwcMacEvents mac_events_optimize;  // set B: starts a shadow pass
  uint32_t mac_walk_position;
  uint32_t mac_sorted_head;
  uint32_t mac_free_head;
  SwcMacShadowEntry mac_shadow[kSwcMacTableSize];
  uint32_t mac_index_count;
  uint32_t mac_index[kSwcMacIndexSize];

  SwcPgidEntry pgid[kSwcPgids];

  uint32_t stp_state[kSwcPortSlots];
  uint32_t auth_state[kSwcPortSlots];

  uint32_t pvlan_member[kSwcPortSlots][kSwcPortSlots];  // PVLAN 0..6 (1..6 used) x port

  uint32_t mirror_monitor_port;
  uint32_t mirror_ingress[kSwcPortSlots];
  uint32_t mirror_egress[kSwcPortSlots];

  uint32_t g5e;

  uint32_t pgid_count;
  uint32_t mac_table_size;
};

// CableScan task of one PHY port.
struct SwcCablescanTime {
  int64_t seconds;
  int64_t microseconds;
};

struct SwcCablescanTask {
  SwcCablescanTime deadline;  // a step before it does nothing
  SwcCablescanTime now;       // read by the last step
  uint8_t state;              // 0 idle/done, 1..13 steps; bit 7 clean up, the low bits the state before
  uint8_t port;               // the PHY port
  uint8_t flags;              // see swc_cablescan.h
  uint8_t saved_mode;         // register 23 bits 6-7 (family 8) or register 28 bit 6 (families 7, 9)
  uint32_t saved_registers;   // family 1: standard registers 0, 9, 28 and test register 5
  uint32_t saved_tr_fields;   // family 1: the TR fields the test reprograms
  uint8_t status[4];          // pairs A-D
  uint8_t location[4];        // tap index, 0xFF none; a length in metres once finished
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
struct SwcPhyResetSetup {
  uint32_t mac_interface;
  uint32_t media;
  uint32_t rx_skew_ps;
  uint32_t tx_skew_ps;
  uint32_t further;
};

// PHY setup: mode (0 autonegotiation, 1 forced, 2 power down), forced speed and duplex, then the
// advertisement flags.
struct SwcPhySetup {
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

struct SwcPhyPort {
  int32_t bus;      // MIIM controller, -1 before the port is mapped
  int32_t address;  // MIIM address, -1 before the port is mapped
  SwcPhyResetSetup reset_setup;
  uint32_t family;
  uint32_t part;
  uint32_t revision;
  SwcPhySetup setup;
  uint32_t link;
  SwcCablescanTask cablescan;
};

// PHY state: the record count (ports + 1), a pointer to record 0, then the records for port 0..ports;
// record 0 is the pseudo-port of raw access by controller and address.
struct SwcPhyState {
  uint32_t count;
  SwcPhyPort *ports;
  // SwcPhyPort records follow
};

struct SwcPhyContext {
  uint32_t spare;
  SwcPhyState *state;
};
static_assert(sizeof(SwcPhyContext) == 2 * sizeof(void *));  // two words: 8 bytes on the router

// Handed to swc_select_context: the open switch I/O device, the API state and the PHY context.
struct SwcContext {
  int fd;
  SwcApiState *state;
  SwcPhyContext *phy;
};
static_assert(sizeof(SwcContext) == 3 * sizeof(void *));  // three words: 12 bytes on the router
