// Switch API: the CPU frame path. Which frames the chip copies to the CPU, its two receive queues, and
// frames sent from the CPU to a port, an aggregation or a whole VLAN (with the egress mirror copy the
// chip cannot make itself).
#pragma once

#include <cstddef>
#include <cstdint>

#include "swc_types.h"

inline constexpr uint32_t kSwcCpuQueues = 2;  // receive queues 1 and 2

swc_rc swc_cpu_rx_registration_get(SwcCpuRxRegistration *registration);
// Queue number (1 or 2) per entry 0..6.
swc_rc swc_cpu_rx_queue_map_set(const uint32_t *map);
swc_rc swc_cpu_rx_frameready_int_enable(uint32_t queue_no, uint32_t enable);
// 1 when a frame waits in the queue, 0 when not, or a negative code.
swc_rc swc_cpu_rx_frameready(uint32_t queue_no);
// Fetches the head frame into `buffer`; -48 with the header (length) filled when the buffer is missing or
// too small, the frame staying queued.
swc_rc swc_cpu_rx_frame(uint32_t queue_no, SwcCpuRxHeader *header, uint8_t *buffer, size_t length);
swc_rc swc_cpu_rx_discard_frame(uint32_t queue_no);

// A frame sent as it is, untagged, on port poag_no (unless DISABLED) or on the first forwarding member
// of aggregation poag_no.
swc_rc swc_cpu_tx_raw_frame(uint32_t poag_no, const uint8_t *frame, size_t length);
// A frame sent in VLAN vid: to the ports of poag_no, or (vlan_flood) to the destination's ports or the
// whole VLAN; tagged per port as the port's VLAN mode says.
swc_rc swc_cpu_tx_frame(uint32_t poag_no, uint32_t vid, const uint8_t *frame, size_t length,
                        uint32_t vlan_flood);
swc_rc swc_cpu_tx_port_frame(uint32_t poag_no, uint32_t vid, const uint8_t *frame, size_t length);
swc_rc swc_cpu_tx_vlan_frame(uint32_t vid, const uint8_t *frame, size_t length);
