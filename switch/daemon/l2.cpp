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

#define L2_TRACE(level, ...) trace_printf(TRACE_MOD_L2, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)
#define RSTP_TRACE(level, ...) \
  trace_printf(TRACE_MOD_RSTP, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

inline constexpr size_t ETHER_HEADER_SIZE = 14;

struct frame_rule {
  uint8_t last_address_byte;  // of 01-80-C2-00-00-xx
  uint16_t ether_type;        // 0: the LLC test instead
  size_t shortest;            // the frame must have at least this many bytes
};

// In the order they are tested. A frame that carries its whole Ethernet header with the EtherType of
// LACP or 802.1X goes to its engine however short its body: the engine counts it as malformed, where a
// drop here would lose it uncounted.
constexpr std::array<frame_rule, L2_FRAME_CLASSES> frame_rules{{
    {0x02, 0x8809, ETHER_HEADER_SIZE},  // LACP
    {0x00, 0, 20},                      // RSTP: bytes 14..18 = 42-42-03-00-00
    {0x03, 0x888E, ETHER_HEADER_SIZE},  // 802.1X
}};
constexpr uint8_t BRIDGE_GROUP_PREFIX[5] = {0x01, 0x80, 0xC2, 0x00, 0x00};
constexpr uint8_t BPDU_LLC[5] = {0x42, 0x42, 0x03, 0x00, 0x00};

std::array<l2_frame_receiver, L2_FRAME_CLASSES> receivers{};
std::array<l2_protocol, L2_PROTOS> protocols{};

// The frames each protocol module receives.
constexpr l2_frame_class protocol_frames[L2_PROTOS] = {L2_FRAME_LACP, L2_FRAME_RSTP, L2_FRAME_DOT1X};
// Link changes and the per-pass work reach the engines in this order.
constexpr l2_protocol_id engine_order[] = {L2_PROTO_AGGR, L2_PROTO_RSTP, L2_PROTO_DOT1X};

bool matches(const frame_rule &rule, const uint8_t *frame, size_t length) {
  if (!frame || length < rule.shortest) return false;
  if (std::memcmp(frame, BRIDGE_GROUP_PREFIX, 5) != 0 || frame[5] != rule.last_address_byte) return false;
  if (rule.ether_type == 0) return std::memcmp(frame + ETHER_HEADER_SIZE, BPDU_LLC, 5) == 0;
  return (frame[12] << 8 | frame[13]) == rule.ether_type;
}

// Bytes past the end of a short frame are shown as 0.
uint8_t byte_at(const uint8_t *frame, size_t length, size_t i) {
  return i < length ? frame[i] : 0;
}

void trace_drop(const uint8_t *frame, size_t length) {
  uint8_t destination[6] = {};
  for (size_t i = 0; i < sizeof destination; ++i) destination[i] = byte_at(frame, length, i);
  RSTP_TRACE(TRACE_DEBUG, "Dropping packet len %ld destaddr %s llc 0x%02x%02x%02x%02x%02x\n",
             static_cast<long>(length), mac_addr_txt(destination), byte_at(frame, length, 14),
             byte_at(frame, length, 15), byte_at(frame, length, 16), byte_at(frame, length, 17),
             byte_at(frame, length, 18));
}

void protocol_init(l2_protocol_id id) {
  if (protocols[id].init) protocols[id].init();
}

void protocol_conf(l2_protocol_id id, bool create) {
  if (protocols[id].conf) protocols[id].conf(create ? 1 : 0);
}

// The VLAN table starts before the spanning tree and already holds VLANs then (VLAN 1 at least): the
// spanning tree learns of each at its start, as it learns of every later change.
void announce_vlans_to_rstp() {
  if (!protocols[L2_PROTO_RSTP].vlan_add) return;
  l2_vlan_entry entry{};
  for (int i = vlan_config_get(entry, true); i >= 0; i = vlan_config_get(entry, false))
    protocols[L2_PROTO_RSTP].vlan_add(entry.vid, entry.member);
}

}  // namespace

void l2_protocol_set(l2_protocol_id id, const l2_protocol &protocol) {
  if (id >= L2_PROTOS) return;
  protocols[id] = protocol;
  l2_frame_receiver_set(protocol_frames[id], protocol.receive);
}

void l2_protocols_more_work() {
  for (l2_protocol_id id : engine_order)
    if (protocols[id].more_work) protocols[id].more_work();
}

void l2_link_changed(unsigned port, int link) {
  for (l2_protocol_id id : engine_order)
    if (protocols[id].link_changed) protocols[id].link_changed(port, link);
}

uint32_t dot1x_1sec(uint32_t now, uint32_t, uint32_t) {
  if (protocols[L2_PROTO_DOT1X].second_tick) protocols[L2_PROTO_DOT1X].second_tick();
  return now;
}

void l2_vlan_changed(uint32_t vid, const uint32_t *member) {
  if (protocols[L2_PROTO_RSTP].vlan_add) protocols[L2_PROTO_RSTP].vlan_add(vid, member);
}

void l2_vlan_deleted(uint32_t vid) {
  if (protocols[L2_PROTO_RSTP].vlan_del) protocols[L2_PROTO_RSTP].vlan_del(vid);
}

l2_frame_class l2_frame_classify(const uint8_t *frame, size_t length) {
  for (size_t c = 0; c < frame_rules.size(); ++c) {
    if (matches(frame_rules[c], frame, length)) return static_cast<l2_frame_class>(c);
  }
  return L2_FRAME_OTHER;
}

void l2_frame_receiver_set(l2_frame_class frame_class, l2_frame_receiver receiver) {
  if (frame_class < L2_FRAME_CLASSES) receivers[frame_class] = receiver;
}

bool l2_frame_dispatch(uint32_t port, const uint8_t *frame, size_t length) {
  const l2_frame_class frame_class = l2_frame_classify(frame, length);
  if (frame_class != L2_FRAME_OTHER && receivers[frame_class]) {
    receivers[frame_class](port, frame, static_cast<uint32_t>(length));
    return true;
  }
  trace_drop(frame, length);
  return false;
}

void l2_packet_rx(packet_buffer *buffer) {
  l2_frame_dispatch(buffer->poag_no, buffer->data, buffer->length);
  packet_free(buffer);
}

int swc_os_flush_fdb(uint32_t flush_port, uint32_t port, uint32_t flush_vlan, uint32_t vid) {
  if (flush_port && flush_vlan) return swc_mac_table_forget_port_in_vlan(port, vid);
  if (flush_port) return swc_mac_table_forget_port(port);
  if (!flush_vlan) {
    L2_TRACE(TRACE_ERROR, "neither port nor vid to flush");
    return kSwcRcIllegal;
  }
  return swc_mac_table_forget_vlan(vid);
}

void l2_init() {
  L2_TRACE(TRACE_DEBUG, "Init");
  packet_l2_receiver_set(l2_packet_rx);
  l2_mac_init();
  l2_vlan_init();
  protocol_init(L2_PROTO_RSTP);
  announce_vlans_to_rstp();
  protocol_init(L2_PROTO_DOT1X);
  protocol_init(L2_PROTO_AGGR);
  l2_mirror_init();
  l2_pvlan_init();
  loop_pass_hook_reg(l2_protocols_more_work);
  l2_conf(conf_action{CONF_ACTION_READ, 0});
}

void l2_conf(const conf_action &action) {
  if (action.action == CONF_ACTION_CREATE) {
    L2_TRACE(TRACE_DEBUG, "Creating default configuration");
  } else if (action.action == CONF_ACTION_READ) {
    L2_TRACE(TRACE_DEBUG, "Reading configuration");
  } else {
    L2_TRACE(TRACE_ERROR, "Unknown action: %d", static_cast<int>(action.action));
    return;
  }
  const bool create = action.action == CONF_ACTION_CREATE;
  l2_mac_conf(create);
  l2_vlan_conf(create);
  protocol_conf(L2_PROTO_AGGR, create);
  l2_mirror_conf(create);
  l2_pvlan_conf(create);
  protocol_conf(L2_PROTO_RSTP, create);
  protocol_conf(L2_PROTO_DOT1X, create);
}

void l2_mgmt(mgmt_object &object) {
  if (l2_mac_mgmt(object) || l2_vlan_mgmt(object) || l2_mirror_mgmt(object) || l2_pvlan_mgmt(object)) return;
  for (const l2_protocol &protocol : protocols)
    if (protocol.mgmt && protocol.mgmt(object)) return;
  object.set_res(MGMT_RES_NO_HANDLER);
}
