// The L2 module of portvisor: initialises and configures the layer-2 features in their fixed order,
// dispatches the management objects 4000..4024 to them, and hands received non-IP frames to the
// protocol engine they belong to.
#pragma once

#include <cstddef>
#include <cstdint>

struct conf_action;
struct mgmt_object;
struct packet_buffer;

void l2_init();
void l2_conf(const conf_action &action);
void l2_mgmt(mgmt_object &object);

// Frames the CPU receives for a protocol engine, recognised by destination address and a further test.
enum l2_frame_class { L2_FRAME_LACP, L2_FRAME_RSTP, L2_FRAME_DOT1X, L2_FRAME_CLASSES, L2_FRAME_OTHER = L2_FRAME_CLASSES };
l2_frame_class l2_frame_classify(const uint8_t *frame, size_t length);

// A protocol engine's receive entry (port 1..6, frame, length). A class without a receiver is dropped
// like a frame of no class.
using l2_frame_receiver = void (*)(uint32_t port, const uint8_t *frame, uint32_t length);
void l2_frame_receiver_set(l2_frame_class frame_class, l2_frame_receiver receiver);

// Receiver of the CPU frame path for every frame that is not IPv4 or ARP: dispatches it and frees the
// buffer.
void l2_packet_rx(packet_buffer *buffer);

// Hands one frame from a front port to its engine, or drops it with a trace; true when delivered.
bool l2_frame_dispatch(uint32_t port, const uint8_t *frame, size_t length);

// For LACP and RSTP: forgets the learned entries of a port, a VLAN, or a port in a VLAN.
int swc_os_flush_fdb(uint32_t flush_port, uint32_t port, uint32_t flush_vlan, uint32_t vid);
