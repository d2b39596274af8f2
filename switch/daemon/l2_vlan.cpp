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

#define L2_TRACE(level, ...) trace_printf(trace::kL2, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)
// The result of a switch API call: nothing for success, the call's text and " swc_rc=%d" otherwise.
#define L2_API_TRACE(rc, text) TRACE_API_RESULT(trace::kL2, rc, trace::kError, text)

inline constexpr uint32_t kObjVlanTable = 4004, kObjVlanStatus = 4005, kObjVlanPorts = 4006,
                          kObjVlanGeneral = 4012;
inline constexpr uint32_t kMaxVid = 4095;
inline constexpr uint32_t kPorts = 6;
static_assert(4 + kL2VlanSavedMax * kL2VlanRecordSize == 1028);
static_assert(4 + kPorts * kL2VlanPortRecordSize == 124);

struct VlanModule {
  uint32_t aware = 1;                          // the VLAN-aware switch
  std::vector<L2VlanEntry> table;              // sorted by vid
  std::array<L2VlanPort, kPorts + 1> ports{};  // indexed by port 1..6
};
VlanModule vlan;

bool vid_less(const L2VlanEntry &a, const L2VlanEntry &b) {
  return a.vid < b.vid;
}

L2VlanEntry all_members(uint32_t vid) {
  L2VlanEntry e{};
  e.vid = vid;
  std::fill(std::begin(e.member), std::end(e.member), 1u);
  return e;
}

L2VlanEntry members_of(uint32_t vid, std::initializer_list<uint32_t> indexes) {
  L2VlanEntry e{};
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

SwcVlanPortMode mode_of(const L2VlanPort &port) {
  return {port.aware, port.pvid, port.pvid, port.frame_type, port.ingress_filter};
}

void save_general(uint32_t aware) {
  if (uint8_t *block = conf_create(kL2VlanConfGeneral, 4)) {
    le_store32(block, aware);
    conf_close(kL2VlanConfGeneral);
  }
}

void save_table(const std::vector<L2VlanEntry> &entries) {
  conf_table_save(kL2VlanConfTable, kL2VlanRecordSize, kL2VlanSavedMax, entries, l2_vlan_record_store);
}

void save_ports(const std::array<L2VlanPort, kPorts + 1> &ports) {
  conf_table_save(kL2VlanConfPorts, kL2VlanPortRecordSize, kPorts,
                  std::vector<L2VlanPort>(ports.begin() + 1, ports.end()), l2_vlan_port_record_store);
}

std::vector<L2VlanEntry> default_table() {
  return {members_of(1, {1, 6}), members_of(2, {0, 2, 3, 4, 5, 6}), members_of(6, {0, 2, 3, 4, 5, 6})};
}

void create_defaults() {
  save_general(1);
  save_table(default_table());
  std::array<L2VlanPort, kPorts + 1> ports{};
  for (uint32_t p = 1; p <= kPorts; ++p) ports[p] = L2VlanPort{p, 0, 2, 0, 0};
  ports[1].pvid = 1;
  ports[6] = L2VlanPort{6, 1, 0, 1, 0};
  save_ports(ports);
}

void read_configuration() {
  uint32_t size = 0;
  const uint8_t *general = conf_open(kL2VlanConfGeneral, &size);
  if (general && size >= 4) vlan.aware = le_load32(general) != 0;
  // A table block that cannot be read would make every VLAN go, VLAN 1's ports in the chip too: the
  // default table takes its place, in the store and in the chip.
  if (!conf_table_readable(kL2VlanConfTable, kL2VlanRecordSize)) save_table(default_table());
  const auto wanted =
      conf_table_read<L2VlanEntry>(kL2VlanConfTable, kL2VlanRecordSize, kL2VlanSavedMax, l2_vlan_record_load);
  std::vector<uint32_t> stale;
  for (const L2VlanEntry &have : vlan.table) {
    if (std::none_of(wanted.begin(), wanted.end(), [&](const L2VlanEntry &w) { return w.vid == have.vid; }))
      stale.push_back(have.vid);
  }
  for (uint32_t vid : stale) vlan_config_del(vid);
  for (const L2VlanEntry &entry : wanted) vlan_config_add(entry);
  for (const L2VlanPort &port :
       conf_table_read<L2VlanPort>(kL2VlanConfPorts, kL2VlanPortRecordSize, kPorts, l2_vlan_port_record_load))
    vlan_port_config_set(port);
}

// Turning the switch off makes every port VLAN-unaware in VLAN 1 with all ports; turning it on brings
// back the port records and the table's VLAN 1.
void vlan_general_set(uint32_t aware) {
  if (aware == vlan.aware) return;
  vlan.aware = aware;
  L2VlanEntry vlan1 = all_members(1);
  if (aware) {
    for (uint32_t p = 1; p <= kPorts; ++p) vlan_port_config_set(vlan.ports[p]);
    if (!vlan.table.empty() && vlan.table.front().vid == 1) vlan1 = vlan.table.front();
  } else {
    const SwcVlanPortMode unaware{0, 1, 1, 0, 0};
    for (uint32_t p = 1; p <= kPorts; ++p)
      L2_API_TRACE(swc_vlan_port_mode_set(p, &unaware), "swc_vlan_port_mode_set(port, mode)");
  }
  chip_members_set(1, vlan1.member);
}

// ---- management objects

void obj_vlan_table(MgmtObject &object) {
  static const TableObjectOps<L2VlanEntry> kOps{
      kL2VlanRecordSize,
      kL2VlanTableMax,
      l2_vlan_record_load,
      l2_vlan_record_store,
      vlan_config_get,
      vlan_config_add,
      [](const L2VlanEntry &entry) { return vlan_config_del(entry.vid); },
      [] { save_table(vlan.table); }};
  sorted_table_object(object, kOps);
}

void obj_vlan_status(MgmtObject &object) {
  if (mgmt_table_check(object, kL2VlanRecordSize, kL2VlanTableMax) < 0) return;
  if (object.cmd() != kMgmtCmdGet) {
    object.set_res(kMgmtResFail);
    return;
  }
  object.set_res(kMgmtResOk);
  const uint16_t count = object.table_count();
  uint16_t done = 0;
  for (; done < count; ++done) {
    uint8_t *record = object.entry(done, kL2VlanRecordSize);
    L2VlanEntry entry{};
    entry.vid = le_load32(record);
    const swc_rc rc = L2_API_TRACE(swc_vlan_port_members_get(entry.vid, entry.member),
                                   "swc_vlan_port_members_get(vid, member)");
    if (rc < 0) {
      L2_TRACE(trace::kError, "swc_vlan_get_port_members failed");
      break;
    }
    l2_vlan_record_store(record, entry);
  }
  le_store16(object.bytes + 16, done);
}

void obj_vlan_ports(MgmtObject &object) {
  if (mgmt_table_check(object, kL2VlanPortRecordSize, kPorts) < 0) return;
  object.set_res(kMgmtResOk);
  const uint16_t count = object.table_count();
  if (object.cmd() == kMgmtCmdGet) {
    uint16_t done = 0;
    for (; done < count; ++done) {
      uint8_t *record = object.entry(done, kL2VlanPortRecordSize);
      L2VlanPort port{};
      port.port = le_load32(record);
      if (vlan_port_config_get(port) < 0) break;
      l2_vlan_port_record_store(record, port);
    }
    le_store16(object.bytes + 16, done);
  } else if (object.cmd() == kMgmtCmdSet) {
    for (uint16_t i = 0; i < count; ++i) {
      L2VlanPort port{};
      l2_vlan_port_record_load(object.entry(i, kL2VlanPortRecordSize), port);
      if (vlan_port_config_set(port) < 0) object.set_res(kMgmtResFail);
    }
    save_ports(vlan.ports);
  } else {
    object.set_res(kMgmtResFail);
  }
}

void obj_vlan_general(MgmtObject &object) {
  object.set_res(kMgmtResFail);
  if (!object.has_data(4)) return;
  if (object.cmd() == kMgmtCmdGet) {
    object.set_data32(0, vlan.aware);
  } else if (object.cmd() == kMgmtCmdSet && object.data32(0) <= 1) {
    vlan_general_set(object.data32(0));
  } else {
    return;
  }
  object.set_res(kMgmtResOk);
}

}  // namespace

void l2_vlan_record_load(const uint8_t *record, L2VlanEntry &entry) {
  entry.vid = le_load32(record);
  for (int i = 0; i < 7; ++i) entry.member[i] = le_load32(record + 4 + 4 * i);
}

void l2_vlan_record_store(uint8_t *record, const L2VlanEntry &entry) {
  le_store32(record, entry.vid);
  for (int i = 0; i < 7; ++i) le_store32(record + 4 + 4 * i, entry.member[i]);
}

void l2_vlan_port_record_load(const uint8_t *record, L2VlanPort &port) {
  port = {le_load32(record), le_load32(record + 4), le_load32(record + 8), le_load32(record + 12),
          le_load32(record + 16)};
}

void l2_vlan_port_record_store(uint8_t *record, const L2VlanPort &port) {
  const uint32_t words[5] = {port.port, port.aware, port.pvid, port.frame_type, port.ingress_filter};
  for (int i = 0; i < 5; ++i) le_store32(record + 4 * i, words[i]);
}

int vlan_config_add(const L2VlanEntry &entry) {
  L2_TRACE(trace::kDebug, "vid: %d", static_cast<int>(entry.vid));
  // The chip and the spanning tree know 4096 VLANs; a larger id from a datagram or file goes nowhere.
  if (entry.vid > kMaxVid) {
    L2_TRACE(trace::kError, "illegal vid: %d", static_cast<int>(entry.vid));
    return -1;
  }
  TablePut how{};
  const int index =
      sorted_table_put(vlan.table, entry, kL2VlanTableMax, vid_less, trace::kL2, __func__, &how);
  if (index < 0) return -1;
  if (!chip_keeps_vlan(entry.vid) && chip_members_set(entry.vid, entry.member) < 0) return -1;
  l2_vlan_changed(entry.vid, entry.member);
  return index;
}

int vlan_config_del(uint32_t vid) {
  L2_TRACE(trace::kDebug, "vid: %d", static_cast<int>(vid));
  L2VlanEntry key{};
  key.vid = vid;
  const int index = sorted_table_remove(vlan.table, key, vid_less, trace::kL2, __func__);
  if (index < 0) return -1;
  // Whatever add wrote to the chip goes again, so a deleted VLAN cannot come back to life when the
  // switch is turned on.
  const uint32_t none[7] = {};
  const bool chip_failed = !chip_keeps_vlan(vid) && chip_members_set(vid, none) < 0;
  l2_vlan_deleted(vid);
  return chip_failed ? -1 : index;
}

int vlan_config_get(L2VlanEntry &entry, bool exact) {
  return sorted_table_get(vlan.table, entry, exact, vid_less);
}

size_t vlan_config_count() {
  return vlan.table.size();
}

int vlan_port_config_get(L2VlanPort &port) {
  if (port.port < 1 || port.port > kPorts) return -1;
  port = vlan.ports[port.port];
  return 1;
}

int vlan_port_config_set(const L2VlanPort &port) {
  if (port.port < 1 || port.port > kPorts) return -1;
  vlan.ports[port.port] = port;
  if (!vlan.aware) return 1;
  const SwcVlanPortMode mode = mode_of(port);
  if (swc_vlan_port_mode_set(port.port, &mode) < 0) {
    L2_TRACE(trace::kError, "swc_vlan_port_mode_set failed");
    return -1;
  }
  return 1;
}

uint32_t vlan_port_pvid(uint32_t port) {
  return port >= 1 && port <= kPorts ? vlan.ports[port].pvid : 0;
}

uint32_t vlan_aware() {
  return vlan.aware;
}

void l2_vlan_init() {
  L2_TRACE(trace::kDebug, "Init");
  vlan.aware = 1;
  vlan.table.clear();
  vlan.table.reserve(kL2VlanTableMax);
  vlan.table.push_back(all_members(1));
  for (uint32_t p = 1; p <= kPorts; ++p) vlan.ports[p] = L2VlanPort{p, 0, 1, 0, 0};
}

void l2_vlan_conf(bool create) {
  if (process_state().debug_flags[kL2DebugDisableVlan]) {
    L2_TRACE(trace::kDebug, "l2_disable_vlan_init set");
    return;
  }
  if (create)
    create_defaults();
  else
    read_configuration();
}

bool l2_vlan_mgmt(MgmtObject &object) {
  switch (object.obj_id()) {
    case kObjVlanTable:
      obj_vlan_table(object);
      return true;
    case kObjVlanStatus:
      obj_vlan_status(object);
      return true;
    case kObjVlanPorts:
      obj_vlan_ports(object);
      return true;
    case kObjVlanGeneral:
      obj_vlan_general(object);
      return true;
    default:
      return false;
  }
}
