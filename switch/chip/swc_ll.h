// Low-level chip layer: each switch API request as register accesses on the chip. Keeps no state of
// its own; it reads the current API state record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "swc_types.h"

// Port member flags indexed by port 1..6 (entry 0 unused), as every "members" argument below.
using SwcPortFlags = uint32_t[kSwcPortSlots];

// Mask with the chip port bit of each flagged, mapped port.
uint32_t swc_chip_port_bitfield(const uint32_t *flags);

swc_rc swc_ll_init(const SwcInitSetup *setup);
swc_rc swc_ll_chipid_get(SwcChipId *id);
swc_rc swc_ll_port_queue_enable(uint32_t port_no, uint32_t enable);
swc_rc swc_ll_port_speed_mode_tbi_gmii(uint32_t port_no, const SwcPortSetup *setup);
swc_rc swc_ll_port_qos_setup_set(uint32_t port_no, const SwcPortQos *qos);
swc_rc swc_ll_port_flowcontrol_set(uint32_t port_no);
swc_rc swc_ll_qos_setup_set(const SwcQosSetup *qos);
swc_rc swc_ll_port_counters_read(uint32_t port_no, SwcRawCounters *counters);
// Aggregation mode flags m0..m4.
swc_rc swc_ll_aggr_mode_set(const uint32_t *mode);
swc_rc swc_ll_cpu_rx_registration_set(const SwcCpuRxRegistration *reg);
// 1 when the queue (1 or 2) holds a frame, 0 when not, or a negative code.
swc_rc swc_ll_cpu_rx_frameready(uint32_t queue);
swc_rc swc_ll_cpu_rx_frame(uint32_t queue, SwcCpuRxHeader *header, uint8_t *buffer, size_t length);
swc_rc swc_ll_cpu_rx_discard_frame(uint32_t queue);
swc_rc swc_ll_cpu_tx_frame(uint32_t port_no, const uint8_t *frame, size_t length, uint32_t vid);
swc_rc swc_ll_vlan_port_mode_set(uint32_t port_no, const SwcVlanPortMode *mode);
swc_rc swc_ll_vlan_port_members_set(uint32_t vid, const uint32_t *members);
swc_rc swc_ll_mac_table_learn(const SwcMacEntry *entry, uint32_t pgid);
swc_rc swc_ll_mac_table_forget_vid_mac(const SwcVidMac *vid_mac);
swc_rc swc_ll_mac_table_lookup(SwcMacEntry *entry, uint32_t *pgid);
// Index 1..8192.
swc_rc swc_ll_mac_table_read(uint32_t index, SwcMacEntry *entry, uint32_t *pgid);
// Indexes first..first + count - 1 (within 1..8192) read as swc_ll_mac_table_read would, each index's
// code in results[i]; the table walk's bulk read. -5 for a range outside the table.
swc_rc swc_ll_mac_table_read_range(uint32_t first, uint32_t count, SwcMacEntry *entries, uint32_t *pgids,
                                   swc_rc *results);
swc_rc swc_ll_mac_table_age(uint32_t port_given, uint32_t port_no, uint32_t vid_given, uint32_t vid);
swc_rc swc_ll_mac_table_forget(uint32_t port_given, uint32_t port_no, uint32_t vid_given, uint32_t vid);
// Reads and clears the four table events: learned, changed, learn failed, aged out.
swc_rc swc_ll_mac_table_status_get(uint32_t *status);
swc_rc swc_ll_pgid_table_write(uint32_t pgid, const uint32_t *members);
swc_rc swc_ll_src_table_write(uint32_t port_no, const uint32_t *members);
// Aggregation code 1..16.
swc_rc swc_ll_aggr_table_write(uint32_t index, const uint32_t *members);
swc_rc swc_ll_ipmc_flood_mask_set(const uint32_t *members);
swc_rc swc_ll_mirror_monitor_port_set(uint32_t port_no);
swc_rc swc_ll_mirror_ingress_port_set(uint32_t port_no, uint32_t enable);
// Packed address block << 12 | subblock << 8 | register.
swc_rc swc_ll_register_read(uint32_t address, uint32_t *value);
swc_rc swc_ll_register_write(uint32_t address, uint32_t value);
// Read: the register value 0..0xFFFF or a negative code.
int32_t swc_ll_miim_read(uint32_t controller, uint32_t phy_addr, uint32_t phy_reg);
swc_rc swc_ll_miim_write(uint32_t controller, uint32_t phy_addr, uint32_t phy_reg, uint32_t value);
swc_rc swc_ll_gpio_direction_set(uint32_t gpio_no, uint32_t output);
swc_rc swc_ll_gpio_input_read(uint32_t gpio_no, uint32_t *value);
swc_rc swc_ll_gpio_output_write(uint32_t gpio_no, uint32_t value);

// Requests this chip needs no register access for; they succeed.
swc_rc swc_ll_cpu_rx_frameready_int_enable(uint32_t queue, uint32_t enable);
swc_rc swc_ll_cpu_rx_queue_map_set(const uint32_t *map);
swc_rc swc_ll_optimize_1sec();
swc_rc swc_ll_optimize_100msec();

// Polls of the arbiter's empty status before a port reconfiguration gives up.
inline constexpr uint32_t kSwcArbiterPolls = 1000000;
// The poll count in use: kSwcArbiterPolls, unless PORTVISOR_ARBITER_POLLS gives a smaller one. Process
// tests set it: through the simulator's socket a million polls take minutes.
uint32_t swc_arbiter_polls();
// Egress queue of a priority under the current number of priorities.
uint32_t swc_ll_prio_to_queue(uint32_t prio);
