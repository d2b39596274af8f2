#include "l2_vlan.h"

#include "conf.h"
#include "l2.h"
#include "l2_table.h"
#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "swc_api.h"
#include "swc_groups.h"
#include "trace.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

#define L2_TRACE(level, ...) trace_printf(TRACE_MOD_L2, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)
// The result of a switch API call: nothing for success, the call's text and " swc_rc=%d" otherwise.
#define L2_API_TRACE(rc, text) \
  trace_printf(TRACE_MOD_L2, __func__, nullptr, __LINE__, 1, (rc), TRACE_ERROR, "%s", text)

inline constexpr uint32_t OBJ_VLAN_TABLE = 4004, OBJ_VLAN_STATUS = 4005, OBJ_VLAN_PORTS = 4006,
                          OBJ_VLAN_GENERAL = 4012;
inline constexpr uint32_t MAX_VID = 4095;
inline constexpr uint32_t PORTS = 6;
static_assert(4 + L2_VLAN_SAVED_MAX * L2_VLAN_RECORD_SIZE == 1028);
static_assert(4 + PORTS * L2_VLAN_PORT_RECORD_SIZE == 124);

struct vlan_module {
  uint32_t aware = 1;                           // the VLAN-aware switch
  std::vector<l2_vlan_entry> table;             // sorted by vid
  std::array<l2_vlan_port, PORTS + 1> ports{};  // indexed by port 1..6
};
vlan_module vlan;

bool vid_less(const l2_vlan_entry &a, const l2_vlan_entry &b) {
  return a.vid < b.vid;
}

l2_vlan_entry all_members(uint32_t vid) {
  l2_vlan_entry e{};
  e.vid = vid;
  std::fill(std::begin(e.member), std::end(e.member), 1u);
  return e;
}

l2_vlan_entry members_of(uint32_t vid, std::initializer_list<uint32_t> indexes) {
  l2_vlan_entry e{};
  e.vid = vid;
  for (uint32_t i : indexes) e.member[i] = 1;
  return e;
}

// The chip's VLAN 1 holds every port while the switch is off, whatever the table says.
bool chip_keeps_vlan(uint32_t vid) {
  return vid == 1 && !vlan.aware;
}

swc_rc chip_members_set(uint32_t vid, const uint32_t *member) {
  uint32_t flags[7];
  for (int i = 0; i < 7; ++i) flags[i] = member[i] != 0;
  return L2_API_TRACE(swc_vlan_port_members_set(vid, flags), "swc_vlan_port_members_set(vid, member)");
}

SwcVlanPortMode mode_of(const l2_vlan_port &port) {
  return {port.aware, port.pvid, port.pvid, port.frame_type, port.ingress_filter};
}

void save_general(uint32_t aware) {
  if (uint8_t *block = conf_create(L2_VLAN_CONF_GENERAL, 4)) {
    le_store32(block, aware);
    conf_close(L2_VLAN_CONF_GENERAL);
  }
}

void save_table(const std::vector<l2_vlan_entry> &entries) {
  conf_table_save(L2_VLAN_CONF_TABLE, L2_VLAN_RECORD_SIZE, L2_VLAN_SAVED_MAX, entries, l2_vlan_record_store);
}

void save_ports(const std::array<l2_vlan_port, PORTS + 1> &ports) {
  conf_table_save(L2_VLAN_CONF_PORTS, L2_VLAN_PORT_RECORD_SIZE, PORTS,
                  std::vector<l2_vlan_port>(ports.begin() + 1, ports.end()), l2_vlan_port_record_store);
}

void create_defaults() {
  save_general(1);
  save_table({members_of(1, {1, 6}), members_of(2, {0, 2, 3, 4, 5, 6}), members_of(6, {0, 2, 3, 4, 5, 6})});
  std::array<l2_vlan_port, PORTS + 1> ports{};
  for (uint32_t p = 1; p <= PORTS; ++p) ports[p] = l2_vlan_port{p, 0, 2, 0, 0};
  ports[1].pvid = 1;
  ports[6] = l2_vlan_port{6, 1, 0, 1, 0};
  save_ports(ports);
}

void read_configuration() {
  uint32_t size = 0;
  const uint8_t *general = conf_open(L2_VLAN_CONF_GENERAL, &size);
  if (general && size >= 4) vlan.aware = le_load32(general) != 0;
  const auto wanted = conf_table_read<l2_vlan_entry>(L2_VLAN_CONF_TABLE, L2_VLAN_RECORD_SIZE,
                                                     L2_VLAN_SAVED_MAX, l2_vlan_record_load);
  std::vector<uint32_t> stale;
  for (const l2_vlan_entry &have : vlan.table) {
    if (std::none_of(wanted.begin(), wanted.end(), [&](const l2_vlan_entry &w) { return w.vid == have.vid; }))
      stale.push_back(have.vid);
  }
  for (uint32_t vid : stale) vlan_config_del(vid);
  for (const l2_vlan_entry &entry : wanted) vlan_config_add(entry);
  for (const l2_vlan_port &port : conf_table_read<l2_vlan_port>(L2_VLAN_CONF_PORTS, L2_VLAN_PORT_RECORD_SIZE,
                                                                PORTS, l2_vlan_port_record_load))
    vlan_port_config_set(port);
}

// Turning the switch off makes every port VLAN-unaware in VLAN 1 with all ports; turning it on brings
// back the port records and the table's VLAN 1.
void vlan_general_set(uint32_t aware) {
  if (aware == vlan.aware) return;
  vlan.aware = aware;
  l2_vlan_entry vlan1 = all_members(1);
  if (aware) {
    for (uint32_t p = 1; p <= PORTS; ++p) vlan_port_config_set(vlan.ports[p]);
    if (!vlan.table.empty() && vlan.table.front().vid == 1) vlan1 = vlan.table.front();
  } else {
    const SwcVlanPortMode unaware{0, 1, 1, 0, 0};
    for (uint32_t p = 1; p <= PORTS; ++p)
      L2_API_TRACE(swc_vlan_port_mode_set(p, &unaware), "swc_vlan_port_mode_set(port, mode)");
  }
  chip_members_set(1, vlan1.member);
}

// ---- management objects

void obj_vlan_table(mgmt_object &object) {
  static const table_object_ops<l2_vlan_entry> ops{
      L2_VLAN_RECORD_SIZE,
      L2_VLAN_TABLE_MAX,
      l2_vlan_record_load,
      l2_vlan_record_store,
      vlan_config_get,
      vlan_config_add,
      [](const l2_vlan_entry &entry) { return vlan_config_del(entry.vid); },
      [] { save_table(vlan.table); }};
  sorted_table_object(object, ops);
}

void obj_vlan_status(mgmt_object &object) {
  if (mgmt_table_check(object, L2_VLAN_RECORD_SIZE, L2_VLAN_TABLE_MAX) < 0) return;
  if (object.cmd() != MGMT_CMD_GET) {
    object.set_res(MGMT_RES_FAIL);
    return;
  }
  object.set_res(MGMT_RES_OK);
  const uint16_t count = object.table_count();
  uint16_t done = 0;
  for (; done < count; ++done) {
    uint8_t *record = object.entry(done, L2_VLAN_RECORD_SIZE);
    l2_vlan_entry entry{};
    entry.vid = le_load32(record);
    const swc_rc rc = L2_API_TRACE(swc_vlan_port_members_get(entry.vid, entry.member),
                                   "swc_vlan_port_members_get(vid, member)");
    if (rc < 0) {
      L2_TRACE(TRACE_ERROR, "swc_vlan_get_port_members failed");
      break;
    }
    l2_vlan_record_store(record, entry);
  }
  le_store16(object.bytes + 16, done);
}

void obj_vlan_ports(mgmt_object &object) {
  if (mgmt_table_check(object, L2_VLAN_PORT_RECORD_SIZE, PORTS) < 0) return;
  object.set_res(MGMT_RES_OK);
  const uint16_t count = object.table_count();
  if (object.cmd() == MGMT_CMD_GET) {
    uint16_t done = 0;
    for (; done < count; ++done) {
      uint8_t *record = object.entry(done, L2_VLAN_PORT_RECORD_SIZE);
      l2_vlan_port port{};
      port.port = le_load32(record);
      if (vlan_port_config_get(port) < 0) break;
      l2_vlan_port_record_store(record, port);
    }
    le_store16(object.bytes + 16, done);
  } else if (object.cmd() == MGMT_CMD_SET) {
    for (uint16_t i = 0; i < count; ++i) {
      l2_vlan_port port{};
      l2_vlan_port_record_load(object.entry(i, L2_VLAN_PORT_RECORD_SIZE), port);
      if (vlan_port_config_set(port) < 0) object.set_res(MGMT_RES_FAIL);
    }
    save_ports(vlan.ports);
  } else {
    object.set_res(MGMT_RES_FAIL);
  }
}

void obj_vlan_general(mgmt_object &object) {
  object.set_res(MGMT_RES_FAIL);
  if (!object.has_data(4)) return;
  if (object.cmd() == MGMT_CMD_GET) {
    object.set_data32(0, vlan.aware);
  } else if (object.cmd() == MGMT_CMD_SET && object.data32(0) <= 1) {
    vlan_general_set(object.data32(0));
  } else {
    return;
  }
  object.set_res(MGMT_RES_OK);
}

}  // namespace

void l2_vlan_record_load(const uint8_t *record, l2_vlan_entry &entry) {
  entry.vid = le_load32(record);
  for (int i = 0; i < 7; ++i) entry.member[i] = le_load32(record + 4 + 4 * i);
}

void l2_vlan_record_store(uint8_t *record, const l2_vlan_entry &entry) {
  le_store32(record, entry.vid);
  for (int i = 0; i < 7; ++i) le_store32(record + 4 + 4 * i, entry.member[i]);
}

void l2_vlan_port_record_load(const uint8_t *record, l2_vlan_port &port) {
  port = {le_load32(record), le_load32(record + 4), le_load32(record + 8), le_load32(record + 12),
          le_load32(record + 16)};
}

void l2_vlan_port_record_store(uint8_t *record, const l2_vlan_port &port) {
  const uint32_t words[5] = {port.port, port.aware, port.pvid, port.frame_type, port.ingress_filter};
  for (int i = 0; i < 5; ++i) le_store32(record + 4 * i, words[i]);
}

int vlan_config_add(const l2_vlan_entry &entry) {
  L2_TRACE(TRACE_DEBUG, "vid: %d", static_cast<int>(entry.vid));
  // The chip and the spanning tree know 4096 VLANs; a larger id from a datagram or file goes nowhere.
  if (entry.vid > MAX_VID) {
    L2_TRACE(TRACE_ERROR, "illegal vid: %d", static_cast<int>(entry.vid));
    return -1;
  }
  table_put how{};
  const int index =
      sorted_table_put(vlan.table, entry, L2_VLAN_TABLE_MAX, vid_less, TRACE_MOD_L2, __func__, &how);
  if (index < 0) return -1;
  if (!chip_keeps_vlan(entry.vid) && chip_members_set(entry.vid, entry.member) < 0) return -1;
  l2_vlan_changed(entry.vid, entry.member);
  return index;
}

int vlan_config_del(uint32_t vid) {
  L2_TRACE(TRACE_DEBUG, "vid: %d", static_cast<int>(vid));
  l2_vlan_entry key{};
  key.vid = vid;
  const int index = sorted_table_remove(vlan.table, key, vid_less, TRACE_MOD_L2, __func__);
  if (index < 0) return -1;
  // Whatever add wrote to the chip goes again, so a deleted VLAN cannot come back to life when the
  // switch is turned on.
  const uint32_t none[7] = {};
  const bool chip_failed = !chip_keeps_vlan(vid) && chip_members_set(vid, none) < 0;
  l2_vlan_deleted(vid);
  return chip_failed ? -1 : index;
}

int vlan_config_get(l2_vlan_entry &entry, bool exact) {
  return sorted_table_get(vlan.table, entry, exact, vid_less);
}

size_t vlan_config_count() {
  return vlan.table.size();
}

int vlan_port_config_get(l2_vlan_port &port) {
  if (port.port < 1 || port.port > PORTS) return -1;
  port = vlan.ports[port.port];
  return 1;
}

int vlan_port_config_set(const l2_vlan_port &port) {
  if (port.port < 1 || port.port > PORTS) return -1;
  vlan.ports[port.port] = port;
  if (!vlan.aware) return 1;
  const SwcVlanPortMode mode = mode_of(port);
  if (swc_vlan_port_mode_set(port.port, &mode) < 0) {
    L2_TRACE(TRACE_ERROR, "swc_vlan_port_mode_set failed");
    return -1;
  }
  return 1;
}

uint32_t vlan_port_pvid(uint32_t port) {
  return port >= 1 && port <= PORTS ? vlan.ports[port].pvid : 0;
}

uint32_t vlan_aware() {
  return vlan.aware;
}

void l2_vlan_init() {
  L2_TRACE(TRACE_DEBUG, "Init");
  vlan.aware = 1;
  vlan.table.clear();
  vlan.table.reserve(L2_VLAN_TABLE_MAX);
  vlan.table.push_back(all_members(1));
  for (uint32_t p = 1; p <= PORTS; ++p) vlan.ports[p] = l2_vlan_port{p, 0, 1, 0, 0};
}

void l2_vlan_conf(bool create) {
  if (process_state().debug_flags[L2_DEBUG_DISABLE_VLAN]) {
    L2_TRACE(TRACE_DEBUG, "l2_disable_vlan_init set");
    return;
  }
  if (create)
    create_defaults();
  else
    read_configuration();
}

bool l2_vlan_mgmt(mgmt_object &object) {
  switch (object.obj_id()) {
    case OBJ_VLAN_TABLE:
      obj_vlan_table(object);
      return true;
    case OBJ_VLAN_STATUS:
      obj_vlan_status(object);
      return true;
    case OBJ_VLAN_PORTS:
      obj_vlan_ports(object);
      return true;
    case OBJ_VLAN_GENERAL:
      obj_vlan_general(object);
      return true;
    default:
      return false;
  }
}
