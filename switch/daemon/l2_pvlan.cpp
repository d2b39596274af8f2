#include "l2_pvlan.h"

#include "conf.h"
#include "l2_table.h"
#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "swc_groups.h"
#include "trace.h"

#include <algorithm>
#include <vector>

namespace {

#define L2_TRACE(level, ...) trace_printf(trace::kL2, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

inline constexpr uint32_t kObjPvlanTable = 4011;
inline constexpr uint32_t kPvlanMax = 6;  // the chip's private VLANs are 1..6
inline constexpr uint32_t kPorts = 6;
static_assert(4 + kL2PvlanBlockEntries * kL2PvlanRecordSize == 228);

std::vector<L2PvlanEntry> table;  // sorted by number

bool number_less(const L2PvlanEntry &a, const L2PvlanEntry &b) {
  return a.pvlan_no < b.pvlan_no;
}

std::vector<L2PvlanEntry>::iterator find(uint32_t pvlan_no) {
  return std::find_if(table.begin(), table.end(),
                      [&](const L2PvlanEntry &e) { return e.pvlan_no == pvlan_no; });
}

bool chip_members_set(uint32_t pvlan_no, const uint32_t *member) {
  uint32_t flags[kPorts + 1] = {};
  for (uint32_t p = 1; p <= kPorts; ++p) flags[p] = member[p] != 0;
  return swc_pvlan_port_members_set(pvlan_no, flags) >= 0;
}

// Every port a member.
L2PvlanEntry default_entry() {
  L2PvlanEntry e{};
  e.pvlan_no = 1;
  std::fill(std::begin(e.member), std::end(e.member), 1u);
  return e;
}

void save_table() {
  conf_table_save(kL2PvlanConfTable, kL2PvlanRecordSize, kL2PvlanBlockEntries, table, l2_pvlan_record_store);
}

void create_defaults() {
  conf_table_save(kL2PvlanConfTable, kL2PvlanRecordSize, kL2PvlanBlockEntries,
                  std::vector<L2PvlanEntry>{default_entry()}, l2_pvlan_record_store);
}

// A block that is missing, or that no longer says it holds 32-byte entries, cannot be read.
bool block_readable() {
  uint32_t size = 0;
  const uint8_t *block = conf_open(kL2PvlanConfTable, &size);
  if (!block || size < 4) return false;
  if (le_load16(block + 2) != kL2PvlanRecordSize) {
    L2_TRACE(trace::kError, "Illegal entry size: %d in ID %d", le_load16(block + 2),
             static_cast<int>(kL2PvlanConfTable));
    return false;
  }
  return true;
}

bool holds(const std::vector<L2PvlanEntry> &entries, uint32_t pvlan_no) {
  return std::any_of(entries.begin(), entries.end(),
                     [&](const L2PvlanEntry &e) { return e.pvlan_no == pvlan_no; });
}

// The chip starts with private VLAN 1 holding every port whatever the table says; a private VLAN the
// configuration lacks must not keep ports together that the user separated.
void clear_chip_leftovers(const std::vector<L2PvlanEntry> &wanted) {
  for (uint32_t n = 1; n <= kPvlanMax; ++n) {
    if (holds(wanted, n) || holds(table, n)) continue;
    uint32_t members[kPorts + 1] = {};
    const bool any = swc_pvlan_port_members_get(n, members) >= 0 &&
                     std::any_of(members + 1, members + kPorts + 1, [](uint32_t m) { return m != 0; });
    if (!any) continue;
    const uint32_t none[kPorts + 1] = {};
    if (!chip_members_set(n, none)) L2_TRACE(trace::kError, "swc_pvlan_port_members_set failed");
  }
}

void read_configuration() {
  if (!block_readable()) {
    create_defaults();
    pvlan_config_add(default_entry());
    return;
  }
  const auto wanted = conf_table_read<L2PvlanEntry>(kL2PvlanConfTable, kL2PvlanRecordSize,
                                                    kL2PvlanBlockEntries, l2_pvlan_record_load);
  std::vector<uint32_t> stale;
  for (const L2PvlanEntry &have : table) {
    if (!holds(wanted, have.pvlan_no)) stale.push_back(have.pvlan_no);
  }
  for (uint32_t n : stale) pvlan_config_del(n);
  clear_chip_leftovers(wanted);
  for (const L2PvlanEntry &entry : wanted) pvlan_config_add(entry);
}

// GET answers each requested number on its own, a missing one as number 0.
void obj_pvlan_table(MgmtObject &object) {
  if (mgmt_table_check(object, kL2PvlanRecordSize, kL2PvlanBlockEntries) < 0) return;
  object.set_res(kMgmtResOk);
  const uint16_t count = object.table_count();
  switch (object.cmd()) {
    case kMgmtCmdGet:
      for (uint16_t i = 0; i < count; ++i) {
        uint8_t *record = object.entry(i, kL2PvlanRecordSize);
        L2PvlanEntry entry{};
        l2_pvlan_record_load(record, entry);
        pvlan_config_get(entry);
        l2_pvlan_record_store(record, entry);
      }
      return;
    case kMgmtCmdAdd:
    case kMgmtCmdDel:
      for (uint16_t i = 0; i < count; ++i) {
        L2PvlanEntry entry{};
        l2_pvlan_record_load(object.entry(i, kL2PvlanRecordSize), entry);
        const int rc =
            object.cmd() == kMgmtCmdAdd ? pvlan_config_add(entry) : pvlan_config_del(entry.pvlan_no);
        if (rc < 0) object.set_res(kMgmtResFail);
      }
      save_table();
      return;
    default:
      object.set_res(kMgmtResFail);
  }
}

}  // namespace

void l2_pvlan_record_load(const uint8_t *record, L2PvlanEntry &entry) {
  entry.pvlan_no = le_load32(record);
  for (int i = 0; i < 7; ++i) entry.member[i] = le_load32(record + 4 + 4 * i);
}

void l2_pvlan_record_store(uint8_t *record, const L2PvlanEntry &entry) {
  le_store32(record, entry.pvlan_no);
  for (int i = 0; i < 7; ++i) le_store32(record + 4 + 4 * i, entry.member[i]);
}

int pvlan_config_add(const L2PvlanEntry &entry) {
  L2_TRACE(trace::kDebug, "pvlan_no: %d", static_cast<int>(entry.pvlan_no));
  // A number the chip does not have would take a table slot and never act.
  if (entry.pvlan_no < 1 || entry.pvlan_no > kPvlanMax) {
    L2_TRACE(trace::kError, "illegal pvlan_no: %d", static_cast<int>(entry.pvlan_no));
    return -1;
  }
  TablePut how{};
  const int index = sorted_table_put(table, entry, kL2PvlanTableMax, number_less, trace::kL2, __func__, &how);
  if (index < 0) return -1;
  if (!chip_members_set(entry.pvlan_no, entry.member)) {
    L2_TRACE(trace::kError, "swc_pvlan_port_members_set failed");
    return -1;
  }
  return index;
}

int pvlan_config_del(uint32_t pvlan_no) {
  L2_TRACE(trace::kDebug, "pvlan_no: %d", static_cast<int>(pvlan_no));
  const auto at = find(pvlan_no);
  if (at == table.end()) {
    L2_TRACE(trace::kDebug, "Delete failed, not found");
    return -1;
  }
  const int index = static_cast<int>(at - table.begin());
  L2_TRACE(trace::kDebug, "Deleting at index %d", index);
  std::fill(std::begin(at->member), std::end(at->member), 0u);
  const bool written = chip_members_set(pvlan_no, at->member);
  if (!written) L2_TRACE(trace::kDebug, "swc_pvlan_port_members_set failed");
  table.erase(at);
  return written ? index : -1;
}

int pvlan_config_get(L2PvlanEntry &entry) {
  const auto at = find(entry.pvlan_no);
  if (at == table.end()) {
    entry.pvlan_no = 0;
    return 1;
  }
  entry = *at;
  return static_cast<int>(at - table.begin());
}

size_t pvlan_config_count() {
  return table.size();
}

void l2_pvlan_init() {
  L2_TRACE(trace::kDebug, "Init");
  table.clear();
  table.reserve(kL2PvlanTableMax);
}

void l2_pvlan_conf(bool create) {
  if (process_state().debug_flags[kL2DebugDisablePvlan]) {
    L2_TRACE(trace::kDebug, "l2_disable_aggr_init set");
    return;
  }
  if (create)
    create_defaults();
  else
    read_configuration();
}

bool l2_pvlan_mgmt(MgmtObject &object) {
  if (object.obj_id() != kObjPvlanTable) return false;
  obj_pvlan_table(object);
  return true;
}
