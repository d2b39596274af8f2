#include "protocols.h"

#include "board.h"
#include "dot1x_radius.h"
#include "l2.h"
#include "l2_aggr.h"
#include "l2_dot1x.h"
#include "l2_rstp.h"
#include "mgmt.h"
#include "packet.h"
#include "port.h"
#include "port_stp.h"
#include "swc_groups.h"
#include "swc_qos_state.h"

namespace {

// The port services of both engines, over the daemon's swc_os_* callbacks.
class DaemonPortServices : public proto::PortServices {
 public:
  proto::Mac port_mac(unsigned port) override {
    proto::Mac mac{};
    swc_os_get_portmac(port, mac.data());
    return mac;
  }
  proto::Mac system_mac() override {
    proto::Mac mac{};
    swc_os_get_system_mac(mac.data());
    return mac;
  }
  bool link_state(unsigned port) override { return swc_os_get_linkstate(port) != 0; }
  unsigned link_speed(unsigned port) override { return swc_os_get_linkspeed(port); }
  bool link_duplex(unsigned port) override { return swc_os_get_linkduplex(port) != 0; }
  uint16_t make_key(unsigned port, uint16_t admin_key) override {
    return static_cast<uint16_t>(swc_os_make_key(port, admin_key));
  }
  uint8_t *frame_alloc(unsigned port, size_t length, void **buffer_ref) override {
    return swc_os_frame_alloc(port, static_cast<uint32_t>(length), buffer_ref);
  }
  bool frame_send(unsigned port, uint8_t *frame, size_t length, void *buffer_ref) override {
    return swc_os_frame_send(port, frame, static_cast<uint32_t>(length), buffer_ref) == 0;
  }
  void set_stpstate(unsigned port, proto::StpState state) override { swc_os_set_stpstate(port, state); }
  int fwdstate(unsigned port) override { return swc_os_get_fwdstate(port); }
  void set_fwdstate(unsigned port, int flag) override { swc_os_set_fwdstate(port, flag); }
  void flush_fdb(int flush_port, unsigned port, int flush_vlan, unsigned vid) override {
    swc_os_flush_fdb(flush_port, port, flush_vlan, vid);
  }
};

// The chip's aggregation calls and the spanning tree's view of the aggregations.
class DaemonAggrChip : public lacp::AggrChip {
 public:
  int aggr_port_members_set(uint32_t poag_no, const std::array<uint32_t, 7> &members) override {
    return swc_aggr_port_members_set(poag_no, members.data());
  }
  int aggr_mode_set(const std::array<uint32_t, 5> &mode) override { return swc_aggr_mode_set(mode.data()); }
  void rstp_aggr_add(uint32_t poag_no, const std::array<uint32_t, 7> &members) override {
    swc_rstp_aggr_add(poag_no, members.data());
  }
  void rstp_aggr_del(uint32_t poag_no) override { swc_rstp_aggr_del(poag_no); }
};

// The 802.1X module's view of the chip's authorisation states and the ports' link.
class DaemonDot1xHost : public dot1x::Host {
 public:
  void auth_state_set(unsigned port, uint32_t state) override { swc_port_auth_state_set(port, state); }
  bool link_state(unsigned port) override { return swc_os_get_linkstate(port) != 0; }
};

DaemonPortServices port_services;
DaemonAggrChip aggr_chip;
DaemonDot1xHost dot1x_host;
dot1x::RadiusBackEnd dot1x_back_end(port_services, [] { return dot1x::interface_ipv4("br0"); });
dot1x::Machines dot1x_machines(port_services, dot1x_host, dot1x_back_end);

bool aggr_mgmt(MgmtObject &object) {
  switch (object.obj_id()) {
    case lacp::kObjTable:
      l2_aggr_table(object);
      return true;
    case lacp::kObjMode:
      l2_aggr_gen_conf(object);
      return true;
    case lacp::kObjLacpConfig:
      l2_lacp_config(object);
      return true;
    case lacp::kObjLacpStatus:
      l2_lacp_status(object);
      return true;
    default:
      return false;
  }
}

bool rstp_mgmt(MgmtObject &object) {
  switch (object.obj_id()) {
    case rstp::kObjConfig:
      l2_rstp_config(object);
      return true;
    case rstp::kObjStatus:
      l2_rstp_status(object);
      return true;
    case rstp::kObjMcheck:
      l2_rstp_mcheck(object);
      return true;
    default:
      return false;
  }
}

bool dot1x_mgmt(MgmtObject &object) {
  switch (object.obj_id()) {
    case dot1x::kObjConfig:
      l2_dot1x_config(object);
      return true;
    case dot1x::kObjStatus:
      l2_dot1x_status(object);
      return true;
    case dot1x::kObjReauth:
      l2_dot1x_reauth(object);
      return true;
    default:
      return false;
  }
}

void ieee8021x_os_check_rx() {
  dot1x_back_end.check_rx();
}
void ieee8021x_set_port_enabled(unsigned port, int link) {
  dot1x_machines.set_port_enabled(port, link != 0);
}
void ieee8021x_mac_frame_received(uint32_t port, const uint8_t *frame, uint32_t length) {
  dot1x_machines.frame_received(port, std::span<const uint8_t>(frame, length));
}
void dot1x_second_tick() {
  dot1x_machines.tick();
}

void lacp_link_changed(unsigned port, int link) {
  swc_lacp_linkstate_changed(port, link);
}
void rstp_link_changed(unsigned port, int link) {
  swc_rstp_linkstate_changed(port, link);
}
void rstp_receive(uint32_t port, const uint8_t *frame, uint32_t length) {
  swc_rstp_receive(port, frame, length);
}

void rstp_vlan_add(uint32_t vid, const uint32_t *member) {
  uint8_t members[kPortCount + 1] = {};
  for (unsigned port = 1; port <= kPortCount; ++port) members[port] = member[port] != 0;
  swc_rstp_vlan_add(vid, members);
}
void rstp_vlan_del(uint32_t vid) {
  swc_rstp_vlan_del(vid);
}

}  // namespace

void protocols_install() {
  lacp::l2_aggr_services_set(&port_services, &aggr_chip);
  rstp::l2_rstp_services_set(&port_services);
  l2_protocol_set(kL2ProtoAggr, L2Protocol{l2_aggr_init, l2_aggr_conf, aggr_mgmt, swc_lacp_more_work,
                                           lacp_link_changed, swc_lacp_receive, nullptr, nullptr, nullptr});
  l2_protocol_set(kL2ProtoRstp,
                  L2Protocol{l2_rstp_init, l2_rstp_conf, rstp_mgmt, swc_rstp_more_work, rstp_link_changed,
                             rstp_receive, rstp_vlan_add, rstp_vlan_del, nullptr});
  dot1x_back_end.attach(&dot1x_machines);
  dot1x::l2_dot1x_host_set(&dot1x_host, &dot1x_machines);
  l2_protocol_set(kL2ProtoDot1x, L2Protocol{l2_dot1x_init, l2_dot1x_conf, dot1x_mgmt, ieee8021x_os_check_rx,
                                            ieee8021x_set_port_enabled, ieee8021x_mac_frame_received, nullptr,
                                            nullptr, dot1x_second_tick});
}
