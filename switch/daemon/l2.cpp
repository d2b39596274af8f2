#include "l2.h"

#include "conf.h"
#include "l2_mac.h"
#include "l2_mirror.h"
#include "l2_pvlan.h"
#include "l2_vlan.h"
#include "loop.h"
#include "mgmt.h"
#include "packet.h"
#include "swc_mac.h"
#include "trace.h"

#include <array>
#include <cstring>

namespace {

#define L2_TRACE(level, ...) trace_printf(trace::kL2, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)
#define RSTP_TRACE(level, ...) \
  trace_printf(trace::kRstp, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

inline constexpr size_t kEtherHeaderSize = 14;

struct FrameRule {
  uint8_t last_address_byte;  // of 01-80-C2-00-00-xx
  uint16_t ether_type;        // 0: the LLC test instead
  size_t shortest;            // the frame must have at least this many bytes
};

// In the order they are tested. A frame that carries its whole Ethernet header with the EtherType of
// LACP or 802.1X goes to its engine however short its body: the engine counts it as malformed, where a
// drop here would lose it uncounted.
constexpr std::array<FrameRule, kL2FrameClasses> kFrameRules{{
    {0x02, 0x8809, kEtherHeaderSize},  // LACP
    {0x00, 0, 20},                     // RSTP: bytes 14..18 = 42-42-03-00-00
    {0x03, 0x888E, kEtherHeaderSize},  // 802.1X
}};
constexpr uint8_t kBridgeGroupPrefix[5] = {0x01, 0x80, 0xC2, 0x00, 0x00};
constexpr uint8_t kBpduLlc[5] = {0x42, 0x42, 0x03, 0x00, 0x00};

std::array<L2FrameReceiver, kL2FrameClasses> receivers{};
std::array<L2Protocol, kL2Protos> protocols{};

// The frames each protocol module receives.
constexpr L2FrameClass kProtocolFrames[kL2Protos] = {kL2FrameLacp, kL2FrameRstp, kL2FrameDot1x};
// Link changes and the per-pass work reach the engines in this order.
constexpr L2ProtocolId kEngineOrder[] = {kL2ProtoAggr, kL2ProtoRstp, kL2ProtoDot1x};

bool matches(const FrameRule &rule, const uint8_t *frame, size_t length) {
  if (!frame || length < rule.shortest) return false;
  if (std::memcmp(frame, kBridgeGroupPrefix, 5) != 0 || frame[5] != rule.last_address_byte) return false;
  if (rule.ether_type == 0) return std::memcmp(frame + kEtherHeaderSize, kBpduLlc, 5) == 0;
  return (frame[12] << 8 | frame[13]) == rule.ether_type;
}

// Bytes past the end of a short frame are shown as 0.
uint8_t byte_at(const uint8_t *frame, size_t length, size_t i) {
  return i < length ? frame[i] : 0;
}

void trace_drop(const uint8_t *frame, size_t length) {
  uint8_t destination[6] = {};
  for (size_t i = 0; i < sizeof destination; ++i) destination[i] = byte_at(frame, length, i);
  RSTP_TRACE(trace::kDebug, "Dropping packet len %ld destaddr %s llc 0x%02x%02x%02x%02x%02x\n",
             static_cast<long>(length), mac_addr_txt(destination), byte_at(frame, length, 14),
             byte_at(frame, length, 15), byte_at(frame, length, 16), byte_at(frame, length, 17),
             byte_at(frame, length, 18));
}

void protocol_init(L2ProtocolId id) {
  if (protocols[id].init) protocols[id].init();
}

void protocol_conf(L2ProtocolId id, bool create) {
  if (protocols[id].conf) protocols[id].conf(create ? 1 : 0);
}

// The VLAN table starts before the spanning tree and already holds VLANs then (VLAN 1 at least): the
// spanning tree learns of each at its start, as it learns of every later change.
void announce_vlans_to_rstp() {
  if (!protocols[kL2ProtoRstp].vlan_add) return;
  L2VlanEntry entry{};
  for (int i = vlan_config_get(entry, true); i >= 0; i = vlan_config_get(entry, false))
    protocols[kL2ProtoRstp].vlan_add(entry.vid, entry.member);
}

}  // namespace

void l2_protocol_set(L2ProtocolId id, const L2Protocol &protocol) {
  if (id >= kL2Protos) return;
  protocols[id] = protocol;
  l2_frame_receiver_set(kProtocolFrames[id], protocol.receive);
}

void l2_protocols_more_work() {
  for (L2ProtocolId id : kEngineOrder)
    if (protocols[id].more_work) protocols[id].more_work();
}

void l2_link_changed(unsigned port, int link) {
  for (L2ProtocolId id : kEngineOrder)
    if (protocols[id].link_changed) protocols[id].link_changed(port, link);
}

uint32_t dot1x_1sec(uint32_t now, uint32_t, uint32_t) {
  if (protocols[kL2ProtoDot1x].second_tick) protocols[kL2ProtoDot1x].second_tick();
  return now;
}

void l2_vlan_changed(uint32_t vid, const uint32_t *member) {
  if (protocols[kL2ProtoRstp].vlan_add) protocols[kL2ProtoRstp].vlan_add(vid, member);
}

void l2_vlan_deleted(uint32_t vid) {
  if (protocols[kL2ProtoRstp].vlan_del) protocols[kL2ProtoRstp].vlan_del(vid);
}

L2FrameClass l2_frame_classify(const uint8_t *frame, size_t length) {
  for (size_t c = 0; c < kFrameRules.size(); ++c) {
    if (matches(kFrameRules[c], frame, length)) return static_cast<L2FrameClass>(c);
  }
  return kL2FrameOther;
}

void l2_frame_receiver_set(L2FrameClass frame_class, L2FrameReceiver receiver) {
  if (frame_class < kL2FrameClasses) receivers[frame_class] = receiver;
}

bool l2_frame_dispatch(uint32_t port, const uint8_t *frame, size_t length) {
  const L2FrameClass frame_class = l2_frame_classify(frame, length);
  if (frame_class != kL2FrameOther && receivers[frame_class]) {
    receivers[frame_class](port, frame, static_cast<uint32_t>(length));
    return true;
  }
  trace_drop(frame, length);
  return false;
}

void l2_packet_rx(PacketBuffer *buffer) {
  l2_frame_dispatch(buffer->poag_no, buffer->data, buffer->length);
  packet_free(buffer);
}

int swc_os_flush_fdb(uint32_t flush_port, uint32_t port, uint32_t flush_vlan, uint32_t vid) {
  if (flush_port && flush_vlan) return swc_mac_table_forget_port_in_vlan(port, vid);
  if (flush_port) return swc_mac_table_forget_port(port);
  if (!flush_vlan) {
    L2_TRACE(trace::kError, "neither port nor vid to flush");
    return kSwcRcIllegal;
  }
  return swc_mac_table_forget_vlan(vid);
}

void l2_init() {
  L2_TRACE(trace::kDebug, "Init");
  packet_l2_receiver_set(l2_packet_rx);
  l2_mac_init();
  l2_vlan_init();
  protocol_init(kL2ProtoRstp);
  announce_vlans_to_rstp();
  protocol_init(kL2ProtoDot1x);
  protocol_init(kL2ProtoAggr);
  l2_mirror_init();
  l2_pvlan_init();
  loop_pass_hook_reg(l2_protocols_more_work);
  l2_conf(ConfAction{kConfActionRead, 0});
}

void l2_conf(const ConfAction &action) {
  if (action.action == kConfActionCreate) {
    L2_TRACE(trace::kDebug, "Creating default configuration");
  } else if (action.action == kConfActionRead) {
    L2_TRACE(trace::kDebug, "Reading configuration");
  } else {
    L2_TRACE(trace::kError, "Unknown action: %d", static_cast<int>(action.action));
    return;
  }
  const bool create = action.action == kConfActionCreate;
  l2_mac_conf(create);
  l2_vlan_conf(create);
  protocol_conf(kL2ProtoAggr, create);
  l2_mirror_conf(create);
  l2_pvlan_conf(create);
  protocol_conf(kL2ProtoRstp, create);
  protocol_conf(kL2ProtoDot1x, create);
}

void l2_mgmt(MgmtObject &object) {
  if (l2_mac_mgmt(object) || l2_vlan_mgmt(object) || l2_mirror_mgmt(object) || l2_pvlan_mgmt(object)) return;
  for (const L2Protocol &protocol : protocols)
    if (protocol.mgmt && protocol.mgmt(object)) return;
  object.set_res(kMgmtResNoHandler);
}
