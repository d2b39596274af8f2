// The L2 module of portvisor: initialises and configures the layer-2 features in their fixed order,
// dispatches the management objects 4000..4024 to them, and hands received non-IP frames to the
// protocol engine they belong to.
#pragma once

#include <cstddef>
#include <cstdint>

struct ConfAction;
struct MgmtObject;
struct PacketBuffer;

void l2_init();
void l2_conf(const ConfAction &action);
void l2_mgmt(MgmtObject &object);

// Frames the CPU receives for a protocol engine, recognised by destination address and a further test.
enum L2FrameClass {
  kL2FrameLacp,
  kL2FrameRstp,
  kL2FrameDot1x,
  kL2FrameClasses,
  kL2FrameOther = kL2FrameClasses
};
L2FrameClass l2_frame_classify(const uint8_t *frame, size_t length);

// A protocol engine's receive entry (port 1..6, frame, length). A class without a receiver is dropped
// like a frame of no class.
using L2FrameReceiver = void (*)(uint32_t port, const uint8_t *frame, uint32_t length);
void l2_frame_receiver_set(L2FrameClass frame_class, L2FrameReceiver receiver);

// Receiver of the CPU frame path for every frame that is not IPv4 or ARP: dispatches it and frees the
// buffer.
void l2_packet_rx(PacketBuffer *buffer);

// Hands one frame from a front port to its engine, or drops it with a trace; true when delivered.
bool l2_frame_dispatch(uint32_t port, const uint8_t *frame, size_t length);

// The protocol modules (aggregation with LACP, spanning tree, 802.1X) live outside the daemon core.
// portvisor fills their slots before the modules start; an empty slot, or an empty entry of a slot,
// is skipped. l2_init and l2_conf call them in their places of the start-up and configuration order,
// the frame dispatch hands them their frames, port management tells them about link changes (through
// l2_link_changed) and the main loop runs their per-pass work.
enum L2ProtocolId { kL2ProtoAggr, kL2ProtoRstp, kL2ProtoDot1x, kL2Protos };
struct L2Protocol {
  void (*init)();
  void (*conf)(int create);
  bool (*mgmt)(MgmtObject &object);  // false: the object is not the module's
  void (*more_work)();
  void (*link_changed)(unsigned port, int link);
  L2FrameReceiver receive;
  // The VLAN table's changes (the spanning tree runs one instance per VLAN): member[7], index 1..6.
  void (*vlan_add)(uint32_t vid, const uint32_t *member);
  void (*vlan_del)(uint32_t vid);
  void (*second_tick)();  // 802.1X's timers count seconds
};
void l2_protocol_set(L2ProtocolId id, const L2Protocol &protocol);

// A front port's link changed, after port management set the chip's port state: LACP, then RSTP, then
// 802.1X hear of it.
void l2_link_changed(unsigned port, int link);
// The protocols' per-pass work, LACP then RSTP (l2_init registers it with the main loop).
void l2_protocols_more_work();
// 802.1X's one-second timer; port management registers it at its start.
uint32_t dot1x_1sec(uint32_t now, uint32_t last, uint32_t elapsed);
// The VLAN table added or changed, or deleted, a VLAN.
void l2_vlan_changed(uint32_t vid, const uint32_t *member);
void l2_vlan_deleted(uint32_t vid);

// For LACP and RSTP: forgets the learned entries of a port, a VLAN, or a port in a VLAN.
int swc_os_flush_fdb(uint32_t flush_port, uint32_t port, uint32_t flush_vlan, uint32_t vid);
