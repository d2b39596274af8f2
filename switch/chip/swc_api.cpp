#include "swc_api.h"

#include <cstring>

#include "swc_context.h"
#include "swc_ll.h"
#include "swc_phy.h"
#include "swc_trace.h"

namespace {

void set_port_defaults(SwcApiState &s) {
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    const uint32_t chip_port = p == kSwcPorts ? 6 : p - 1;
    s.default_chip_port[p] = chip_port;
    s.port_to_chip_port[p] = static_cast<int32_t>(chip_port);
    s.chip_port_to_port[chip_port] = p;
    s.port_to_poag[p] = p;
    s.stp_state[p] = SWC_STP_STATE_DISABLED;
    s.auth_state[p] = SWC_AUTH_STATE_BOTH;
    s.pvlan_member[1][p] = 1;
  }
}

void set_pgid_defaults(SwcApiState &s) {
  s.mac_table_size = kSwcMacTableSize;
  s.pgid_count = kSwcPgids;
  for (uint32_t n = 1; n <= kSwcPorts; ++n) {
    s.pgid[n].member[n] = 1;
    s.pgid[n].references = 1;
  }
  s.pgid[7].references = 1;  // the empty destination set
  for (uint32_t poag = 1; poag < kSwcPoagSlots; ++poag) s.pgid[8].member[poag] = 1;  // flooding
  s.pgid[8].references = 1;
}

void set_qos_defaults(SwcApiState &s) {
  s.qos_priorities = 4;
  for (auto &qos : s.port_qos) {
    qos.dscp_enable = 0;
    qos.second_enable = 0;
    for (auto &prio : qos.dscp_prio) prio = 1;
    for (auto &prio : qos.tag_prio) prio = 1;
    qos.default_prio = 1;
    qos.field = 0;
  }
  s.qos_setup.word[0] = -1;
  s.qos_setup.word[1] = -1;
  s.qos_setup.word[2] = 0;
  s.qos_setup.word[3] = 0;
}

// Every shadow element starts on the free list, pushed in index order (so the last one is the head).
void set_mac_shadow_defaults(SwcApiState &s) {
  s.mac_sorted_head = kSwcMacNone;
  s.mac_free_head = kSwcMacNone;
  for (uint32_t i = 0; i < kSwcMacTableSize; ++i) {
    s.mac_shadow[i].next = s.mac_free_head;
    s.mac_free_head = i;
  }
}

}  // namespace

size_t swc_sizeof_al() {
  return sizeof(SwcApiState);
}

swc_rc swc_select_context(SwcContext *context) {
  swc_context_install(context);
  return kSwcRcOk;
}

void swc_init_state(const SwcInitSetup *setup) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  SwcApiState &s = *swc_state();
  std::memset(&s, 0, sizeof s);
  set_port_defaults(s);
  set_pgid_defaults(s);
  s.mirror_monitor_port = 1;
  set_qos_defaults(s);
  s.serial = setup ? setup->serial : 0;
  set_mac_shadow_defaults(s);
}

swc_rc swc_port_map_set(const SwcPortMap *port_map) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  if (!port_map) {
    SWC_HL_TRACE(trace::kError, "illegal port_map");
    return kSwcRcIllegal;
  }
  SwcApiState &s = *swc_state();
  uint32_t uses[kSwcChipPorts] = {};
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    int32_t chip_port = port_map[p].chip_port;
    if (chip_port >= static_cast<int32_t>(kSwcChipPorts)) {
      // Beyond the chip's ports: the port is treated as having none, rather than indexing past the maps.
      SWC_HL_TRACE(trace::kError, "illegal chip_port: %d for port_no: %d", chip_port, static_cast<int>(p));
      chip_port = -1;
    }
    s.port_to_chip_port[p] = chip_port;
    s.unmapped[p] = chip_port < 0 ? 1 : 0;
    if (chip_port >= 0) {
      s.chip_port_to_port[chip_port] = p;
      ++uses[chip_port];
    }
    s.miim_address[p] = port_map[p].miim_address;
    s.miim_controller[p] = port_map[p].miim_controller;
    swc_phy_map_port(p, static_cast<int32_t>(port_map[p].miim_controller & 15),
                     static_cast<int32_t>(port_map[p].miim_address));
  }
  // A port without a chip port still gets an unused one, so the maps stay consistent; its unmapped flag
  // keeps it out of every mask.
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    if (s.port_to_chip_port[p] >= 0) continue;
    for (uint32_t q = 1; q <= kSwcPorts; ++q) {
      const uint32_t candidate = s.default_chip_port[q];
      if (uses[candidate] != 0) continue;
      SWC_HL_TRACE(trace::kDebug, "Mapping unused port_no: %d to chip_port: %d", static_cast<int>(p),
                   static_cast<int>(candidate));
      s.port_to_chip_port[p] = static_cast<int32_t>(candidate);
      s.chip_port_to_port[candidate] = p;
      ++uses[candidate];
      break;
    }
  }
  return kSwcRcOk;
}

swc_rc swc_init(const SwcInitSetup *setup) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  swc_init_state(setup);
  swc_rc rc = swc_ll_init(setup);
  if (rc < 0) return rc;
  const SwcVlanPortMode unaware{0, 1, 1, 0, 0};
  for (uint32_t p = 1; p <= kSwcPorts; ++p) {
    rc = swc_vlan_port_mode_set(p, &unaware);
    if (rc < 0) return rc;
  }
  const uint32_t vlan1_members[kSwcPortSlots] = {0, 1, 1, 1, 1, 1, 1};
  rc = swc_vlan_port_members_set(1, vlan1_members);
  if (rc < 0) return rc;
  rc = swc_pgid_table_write(8);
  if (rc < 0) return rc;
  SwcCpuRxRegistration registration{};
  registration.flag[0] = 1;
  rc = swc_cpu_rx_registration_set(&registration);
  if (rc < 0) return rc;
  return swc_phy_init(kSwcPorts);
}
