#include "l2_mac.h"

#include "conf.h"
#include "l2_table.h"
#include "l3.h"
#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "swc_mac.h"
#include "trace.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

#define L2_TRACE(level, ...) trace_printf(trace::kL2, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

inline constexpr uint32_t kObjMacTable = 4000, kObjMacStatus = 4001, kObjMacFlush = 4002,
                          kObjMacAgeTime = 4003, kObjMacLearnedPerPort = 4016;
inline constexpr uint16_t kMgmtMacMax = 128;
inline constexpr size_t kStatusRecordSize = 44;
static_assert(4 + kL2MacSavedMax * kL2MacRecordSize == 1284);
inline constexpr uint32_t kMaxVid = 4095;

struct MacModule {
  std::vector<L2MacEntry> table;  // sorted by (vid, mac)
  uint32_t age_time = 0;          // seconds; 0: no ageing
  uint32_t age_ticks = 0;         // 500-ms ticks since the last ageing
};
MacModule mac;

bool key_less(const L2MacEntry &a, const L2MacEntry &b) {
  if (a.vid != b.vid) return a.vid < b.vid;
  return std::memcmp(a.mac, b.mac, 6) < 0;
}

bool same_key(const L2MacEntry &a, const L2MacEntry &b) {
  return a.vid == b.vid && std::memcmp(a.mac, b.mac, 6) == 0;
}

SwcVidMac vid_mac_of(const L2MacEntry &entry) {
  SwcVidMac key{};
  key.vid = entry.vid;
  std::memcpy(key.mac, entry.mac, 6);
  return key;
}

// The chip forgets the entry; a failure is traced and reported.
bool forget_in_chip(const L2MacEntry &entry, const char *call_text) {
  const SwcVidMac key = vid_mac_of(entry);
  if (swc_mac_table_forget_vid_mac(&key) >= 0) return true;
  if (call_text) L2_TRACE(trace::kError, "%s", call_text);
  L2_TRACE(trace::kError, "mac_api_del failed");
  return false;
}

bool learn_in_chip(const L2MacEntry &entry) {
  SwcMacEntry chip{};
  chip.vid_mac = vid_mac_of(entry);
  for (int p = 1; p <= 6; ++p) chip.destination[p] = entry.member[p - 1] != 0;
  chip.locked = 1;
  if (rl_mac_merge(chip))
    L2_TRACE(trace::kDebug, "vid %d: address shared with a router leg", static_cast<int>(entry.vid));
  if (swc_mac_table_learn(&chip) >= 0) return true;
  L2_TRACE(trace::kError, "swc_mac_table_learn failed");
  L2_TRACE(trace::kError, "mac_api_add failed");
  return false;
}

// The chip entry goes with the static entry unless a router leg still owns the address: then it
// becomes the leg's entry again.
bool release_in_chip(const L2MacEntry &entry) {
  SwcMacEntry leg{};
  leg.vid_mac = vid_mac_of(entry);
  if (!rl_mac_merge(leg)) return forget_in_chip(entry, "swc_mac_table_forget_vid_mac failed");
  L2_TRACE(trace::kDebug, "vid %d: address kept for a router leg", static_cast<int>(entry.vid));
  if (swc_mac_table_learn(&leg) >= 0) return true;
  L2_TRACE(trace::kError, "swc_mac_table_learn failed");
  return false;
}

void save_general(uint32_t age_time) {
  if (uint8_t *block = conf_create(kL2MacConfGeneral, 4)) {
    le_store32(block, age_time);
    conf_close(kL2MacConfGeneral);
  }
}

void save_table(const std::vector<L2MacEntry> &entries) {
  conf_table_save(kL2MacConfTable, kL2MacRecordSize, kL2MacSavedMax, entries, l2_mac_record_store);
}

void read_configuration() {
  uint32_t size = 0;
  const uint8_t *general = conf_open(kL2MacConfGeneral, &size);
  if (general && size >= 4) {
    mac.age_time = le_load32(general);
  } else {
    mac.age_time = kL2MacDefaultAgeTime;
    save_general(mac.age_time);
  }
  // A table block that cannot be read is replaced by the default (empty) one, as a missing general
  // block is, so the store holds a table the daemon reads back.
  if (!conf_table_readable(kL2MacConfTable, kL2MacRecordSize)) save_table({});
  const auto wanted =
      conf_table_read<L2MacEntry>(kL2MacConfTable, kL2MacRecordSize, kL2MacSavedMax, l2_mac_record_load);
  std::vector<L2MacEntry> stale;
  for (const L2MacEntry &have : mac.table) {
    if (std::none_of(wanted.begin(), wanted.end(), [&](const L2MacEntry &w) { return same_key(w, have); }))
      stale.push_back(have);
  }
  for (const L2MacEntry &entry : stale) mac_config_del(entry);
  for (const L2MacEntry &entry : wanted) mac_config_add(entry);
}

uint32_t mac_timer(uint32_t now, uint32_t, uint32_t) {
  if (mac.age_time == 0) return now;
  if (++mac.age_ticks < mac.age_time) return now;
  mac.age_ticks = 0;
  if (swc_mac_table_age() < 0)
    L2_TRACE(trace::kError, "swc_mac_table_age failed");
  else
    L2_TRACE(trace::kDebug, "swc_mac_table_age success");
  return now;
}

// ---- management objects

void obj_mac_table(MgmtObject &object) {
  static const TableObjectOps<L2MacEntry> kOps{
      kL2MacRecordSize, kMgmtMacMax,    l2_mac_record_load, l2_mac_record_store,
      mac_config_get,   mac_config_add, mac_config_del,     [] { save_table(mac.table); }};
  sorted_table_object(object, kOps);
}

struct StatusEntry {
  SwcMacEntry chip;
  bool operator<(const StatusEntry &o) const {
    if (chip.vid_mac.vid != o.chip.vid_mac.vid) return chip.vid_mac.vid < o.chip.vid_mac.vid;
    return std::memcmp(chip.vid_mac.mac, o.chip.vid_mac.mac, 6) < 0;
  }
};

// 0 static with copy to the CPU, 1 static, 2 learned.
uint32_t status_type(const SwcMacEntry &chip) {
  if (!chip.locked) return 2;
  return chip.copy_to_cpu ? 0 : 1;
}

void store_status(uint8_t *record, const SwcMacEntry &chip) {
  std::memset(record, 0, kStatusRecordSize);
  le_store32(record, chip.vid_mac.vid);
  std::memcpy(record + 4, chip.vid_mac.mac, 6);
  for (int i = 0; i < 7; ++i) le_store32(record + 12 + 4 * i, chip.destination[i]);
  le_store32(record + 40, status_type(chip));
}

// Hands every entry the chip holds to `take`, in index order. The table is read in runs of indexes, so
// the main loop waits for a few exchanges with the chip instead of one per register access. A failed
// access fails its own index only (its result), so the rest of its run is still taken; the range read
// itself fails only for a range outside the table, which these runs never are.
template <typename Take>
void for_each_chip_entry(Take take) {
  constexpr uint32_t kRun = 256;
  static_assert(kSwcMacTableSize % kRun == 0, "the runs cover the table up to its last index");
  SwcMacEntry entries[kRun];
  swc_rc results[kRun];
  for (uint32_t first = 1; first <= kSwcMacTableSize; first += kRun) {
    std::fill(std::begin(entries), std::end(entries), SwcMacEntry{});
    if (swc_mac_table_read_range(first, kRun, entries, results) < 0) continue;
    for (uint32_t i = 0; i < kRun; ++i) {
      if (results[i] >= 0) take(entries[i]);
    }
  }
}

// The smallest `max` chip entries at or above the key, in (vid, mac) order.
std::vector<StatusEntry> chip_entries_from(const StatusEntry &key, size_t max) {
  std::vector<StatusEntry> kept;
  for_each_chip_entry([&](const SwcMacEntry &chip) {
    const StatusEntry e{chip};
    if (e < key) return;
    kept.insert(std::upper_bound(kept.begin(), kept.end(), e), e);
    if (kept.size() > max) kept.pop_back();
  });
  return kept;
}

void obj_mac_status(MgmtObject &object) {
  if (mgmt_table_check(object, kStatusRecordSize, kMgmtMacMax) < 0) return;
  if (object.cmd() != kMgmtCmdGet) {
    object.set_res(kMgmtResFail);
    return;
  }
  object.set_res(kMgmtResOk);
  const uint16_t max = object.table_count();
  if (max == 0) return;
  StatusEntry key{};
  const uint8_t *first = object.entry(0, kStatusRecordSize);
  key.chip.vid_mac.vid = le_load32(first);
  std::memcpy(key.chip.vid_mac.mac, first + 4, 6);
  const std::vector<StatusEntry> kept = chip_entries_from(key, max);
  for (size_t i = 0; i < kept.size(); ++i) store_status(object.entry(i, kStatusRecordSize), kept[i].chip);
  le_store16(object.bytes + 16, static_cast<uint16_t>(kept.size()));
}

void obj_mac_flush(MgmtObject &object) {
  object.set_res(kMgmtResFail);
  if (!object.has_data(4) || object.cmd() != kMgmtCmdSet || object.data32(0) != 0) return;
  if (swc_mac_table_flush() >= 0) object.set_res(kMgmtResOk);
}

void obj_mac_age_time(MgmtObject &object) {
  object.set_res(kMgmtResFail);
  if (!object.has_data(4)) return;
  if (object.cmd() == kMgmtCmdGet) {
    object.set_data32(0, mac.age_time);
  } else if (object.cmd() == kMgmtCmdSet) {
    mac.age_time = object.data32(0);
    save_general(mac.age_time);
  } else {
    return;
  }
  object.set_res(kMgmtResOk);
}

// Learned (unlocked) chip entries counted by their first destination port.
void obj_mac_learned_per_port(MgmtObject &object) {
  object.set_res(kMgmtResFail);
  if (!object.has_data(7 * 4) || object.cmd() != kMgmtCmdGet) return;
  std::array<uint32_t, 7> count{};
  for_each_chip_entry([&](const SwcMacEntry &chip) {
    if (chip.locked) return;
    for (int p = 1; p <= 6; ++p) {
      if (chip.destination[p]) {
        ++count[p];
        return;
      }
    }
  });
  for (size_t i = 0; i < count.size(); ++i) object.set_data32(4 * i, count[i]);
  object.set_res(kMgmtResOk);
}

}  // namespace

void l2_mac_record_load(const uint8_t *record, L2MacEntry &entry) {
  entry.vid = le_load32(record);
  std::memcpy(entry.mac, record + 4, 6);
  for (int i = 0; i < 6; ++i) entry.member[i] = le_load32(record + 16 + 4 * i);
}

void l2_mac_record_store(uint8_t *record, const L2MacEntry &entry) {
  std::memset(record, 0, kL2MacRecordSize);
  le_store32(record, entry.vid);
  std::memcpy(record + 4, entry.mac, 6);
  for (int i = 0; i < 6; ++i) le_store32(record + 16 + 4 * i, entry.member[i]);
}

int mac_config_add(const L2MacEntry &entry) {
  const uint8_t *m = entry.mac;
  L2_TRACE(trace::kDebug, "vid: %d, mac: %02x-%02x-%02x-%02x-%02x-%02x", static_cast<int>(entry.vid), m[0],
           m[1], m[2], m[3], m[4], m[5]);
  // The chip has 4096 VLANs; a larger id from a datagram or file must not reach the API's tables.
  if (entry.vid > kMaxVid) {
    L2_TRACE(trace::kError, "illegal vid: %d", static_cast<int>(entry.vid));
    return -1;
  }
  TablePut how{};
  const int index = sorted_table_put(mac.table, entry, kL2MacTableMax, key_less, trace::kL2, __func__, &how);
  if (index < 0) return -1;
  // The chip entry of the key is replaced; a failure to remove it is only traced.
  if (how == TablePut::kUpdated) forget_in_chip(entry, nullptr);
  return learn_in_chip(entry) ? index : -1;
}

int mac_config_del(const L2MacEntry &entry) {
  const int index = sorted_table_remove(mac.table, entry, key_less, trace::kL2, __func__);
  if (index < 0) return -1;
  return release_in_chip(entry) ? index : -1;
}

int mac_config_get(L2MacEntry &entry, bool exact) {
  return sorted_table_get(mac.table, entry, exact, key_less);
}

bool mac_config_merge(SwcMacEntry &entry) {
  L2MacEntry key{};
  key.vid = entry.vid_mac.vid;
  std::memcpy(key.mac, entry.vid_mac.mac, 6);
  const auto at = std::lower_bound(mac.table.begin(), mac.table.end(), key, key_less);
  if (at == mac.table.end() || !same_key(*at, key)) return false;
  for (int p = 1; p <= 6; ++p) entry.destination[p] |= at->member[p - 1] != 0;
  entry.locked = 1;
  return true;
}

size_t mac_config_count() {
  return mac.table.size();
}

uint32_t mac_age_time() {
  return mac.age_time;
}

void l2_mac_init() {
  L2_TRACE(trace::kDebug, "Init");
  mac.table.clear();
  mac.table.reserve(kL2MacTableMax);
  mac.age_time = 0;
  mac.age_ticks = 0;
  timer_reg(mac_timer, 500);
}

void l2_mac_conf(bool create) {
  if (process_state().debug_flags[kL2DebugDisableMac]) {
    L2_TRACE(trace::kDebug, "l2_disable_mac_init set");
    return;
  }
  if (create) {
    save_general(kL2MacDefaultAgeTime);
    save_table({});
  } else
    read_configuration();
}

bool l2_mac_mgmt(MgmtObject &object) {
  switch (object.obj_id()) {
    case kObjMacTable:
      obj_mac_table(object);
      return true;
    case kObjMacStatus:
      obj_mac_status(object);
      return true;
    case kObjMacFlush:
      obj_mac_flush(object);
      return true;
    case kObjMacAgeTime:
      obj_mac_age_time(object);
      return true;
    case kObjMacLearnedPerPort:
      obj_mac_learned_per_port(object);
      return true;
    default:
      return false;
  }
}
