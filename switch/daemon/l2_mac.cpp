#include "l2_mac.h"

#include "conf.h"
#include "l2_table.h"
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

#define L2_TRACE(level, ...) trace_printf(TRACE_MOD_L2, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)

inline constexpr uint32_t OBJ_MAC_TABLE = 4000, OBJ_MAC_STATUS = 4001, OBJ_MAC_FLUSH = 4002,
                          OBJ_MAC_AGE_TIME = 4003, OBJ_MAC_LEARNED_PER_PORT = 4016;
inline constexpr uint16_t MGMT_MAC_MAX = 128;
inline constexpr size_t STATUS_RECORD_SIZE = 44;
static_assert(4 + L2_MAC_SAVED_MAX * L2_MAC_RECORD_SIZE == 1284);
inline constexpr uint32_t MAX_VID = 4095;

struct mac_module {
  std::vector<l2_mac_entry> table;  // sorted by (vid, mac)
  uint32_t age_time = 0;            // seconds; 0: no ageing
  uint32_t age_ticks = 0;           // 500-ms ticks since the last ageing
};
mac_module mac;

bool key_less(const l2_mac_entry &a, const l2_mac_entry &b) {
  if (a.vid != b.vid) return a.vid < b.vid;
  return std::memcmp(a.mac, b.mac, 6) < 0;
}

bool same_key(const l2_mac_entry &a, const l2_mac_entry &b) {
  return a.vid == b.vid && std::memcmp(a.mac, b.mac, 6) == 0;
}

SwcVidMac vid_mac_of(const l2_mac_entry &entry) {
  SwcVidMac key{};
  key.vid = entry.vid;
  std::memcpy(key.mac, entry.mac, 6);
  return key;
}

// The chip forgets the entry; a failure is traced and reported.
bool forget_in_chip(const l2_mac_entry &entry, const char *call_text) {
  const SwcVidMac key = vid_mac_of(entry);
  if (swc_mac_table_forget_vid_mac(&key) >= 0) return true;
  if (call_text) L2_TRACE(TRACE_ERROR, "%s", call_text);
  L2_TRACE(TRACE_ERROR, "mac_api_del failed");
  return false;
}

bool learn_in_chip(const l2_mac_entry &entry) {
  SwcMacEntry chip{};
  chip.vid_mac = vid_mac_of(entry);
  for (int p = 1; p <= 6; ++p) chip.destination[p] = entry.member[p - 1] != 0;
  chip.locked = 1;
  if (swc_mac_table_learn(&chip) >= 0) return true;
  L2_TRACE(TRACE_ERROR, "swc_mac_table_learn failed");
  L2_TRACE(TRACE_ERROR, "mac_api_add failed");
  return false;
}

void save_general(uint32_t age_time) {
  if (uint8_t *block = conf_create(L2_MAC_CONF_GENERAL, 4)) {
    le_store32(block, age_time);
    conf_close(L2_MAC_CONF_GENERAL);
  }
}

void save_table(const std::vector<l2_mac_entry> &entries) {
  conf_table_save(L2_MAC_CONF_TABLE, L2_MAC_RECORD_SIZE, L2_MAC_SAVED_MAX, entries, l2_mac_record_store);
}

void read_configuration() {
  uint32_t size = 0;
  const uint8_t *general = conf_open(L2_MAC_CONF_GENERAL, &size);
  if (general && size >= 4) {
    mac.age_time = le_load32(general);
  } else {
    mac.age_time = L2_MAC_DEFAULT_AGE_TIME;
    save_general(mac.age_time);
  }
  const auto wanted = conf_table_read<l2_mac_entry>(L2_MAC_CONF_TABLE, L2_MAC_RECORD_SIZE, L2_MAC_SAVED_MAX,
                                                    l2_mac_record_load);
  std::vector<l2_mac_entry> stale;
  for (const l2_mac_entry &have : mac.table) {
    if (std::none_of(wanted.begin(), wanted.end(), [&](const l2_mac_entry &w) { return same_key(w, have); }))
      stale.push_back(have);
  }
  for (const l2_mac_entry &entry : stale) mac_config_del(entry);
  for (const l2_mac_entry &entry : wanted) mac_config_add(entry);
}

uint32_t mac_timer(uint32_t now, uint32_t, uint32_t) {
  if (mac.age_time == 0) return now;
  if (++mac.age_ticks < mac.age_time) return now;
  mac.age_ticks = 0;
  if (swc_mac_table_age() < 0)
    L2_TRACE(TRACE_ERROR, "swc_mac_table_age failed");
  else
    L2_TRACE(TRACE_DEBUG, "swc_mac_table_age success");
  return now;
}

// ---- management objects

void obj_mac_table(mgmt_object &object) {
  static const table_object_ops<l2_mac_entry> ops{
      L2_MAC_RECORD_SIZE, MGMT_MAC_MAX,   l2_mac_record_load, l2_mac_record_store,
      mac_config_get,     mac_config_add, mac_config_del,     [] { save_table(mac.table); }};
  sorted_table_object(object, ops);
}

struct status_entry {
  SwcMacEntry chip;
  bool operator<(const status_entry &o) const {
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
  std::memset(record, 0, STATUS_RECORD_SIZE);
  le_store32(record, chip.vid_mac.vid);
  std::memcpy(record + 4, chip.vid_mac.mac, 6);
  for (int i = 0; i < 7; ++i) le_store32(record + 12 + 4 * i, chip.destination[i]);
  le_store32(record + 40, status_type(chip));
}

// The smallest `max` chip entries at or above the key, in (vid, mac) order.
std::vector<status_entry> chip_entries_from(const status_entry &key, size_t max) {
  std::vector<status_entry> kept;
  for (uint32_t idx = 1; idx <= 8192; ++idx) {
    status_entry e{};
    if (swc_mac_table_read(idx, &e.chip) < 0 || e < key) continue;
    kept.insert(std::upper_bound(kept.begin(), kept.end(), e), e);
    if (kept.size() > max) kept.pop_back();
  }
  return kept;
}

void obj_mac_status(mgmt_object &object) {
  if (mgmt_table_check(object, STATUS_RECORD_SIZE, MGMT_MAC_MAX) < 0) return;
  if (object.cmd() != MGMT_CMD_GET) {
    object.set_res(MGMT_RES_FAIL);
    return;
  }
  object.set_res(MGMT_RES_OK);
  const uint16_t max = object.table_count();
  if (max == 0) return;
  status_entry key{};
  const uint8_t *first = object.entry(0, STATUS_RECORD_SIZE);
  key.chip.vid_mac.vid = le_load32(first);
  std::memcpy(key.chip.vid_mac.mac, first + 4, 6);
  const std::vector<status_entry> kept = chip_entries_from(key, max);
  for (size_t i = 0; i < kept.size(); ++i) store_status(object.entry(i, STATUS_RECORD_SIZE), kept[i].chip);
  le_store16(object.bytes + 16, static_cast<uint16_t>(kept.size()));
}

void obj_mac_flush(mgmt_object &object) {
  object.set_res(MGMT_RES_FAIL);
  if (!object.has_data(4) || object.cmd() != MGMT_CMD_SET || object.data32(0) != 0) return;
  if (swc_mac_table_flush() >= 0) object.set_res(MGMT_RES_OK);
}

void obj_mac_age_time(mgmt_object &object) {
  object.set_res(MGMT_RES_FAIL);
  if (!object.has_data(4)) return;
  if (object.cmd() == MGMT_CMD_GET) {
    object.set_data32(0, mac.age_time);
  } else if (object.cmd() == MGMT_CMD_SET) {
    mac.age_time = object.data32(0);
    save_general(mac.age_time);
  } else {
    return;
  }
  object.set_res(MGMT_RES_OK);
}

// Learned (unlocked) chip entries counted by their first destination port.
void obj_mac_learned_per_port(mgmt_object &object) {
  object.set_res(MGMT_RES_FAIL);
  if (!object.has_data(7 * 4) || object.cmd() != MGMT_CMD_GET) return;
  std::array<uint32_t, 7> count{};
  for (uint32_t idx = 1; idx <= 8192; ++idx) {
    SwcMacEntry chip{};
    if (swc_mac_table_read(idx, &chip) < 0 || chip.locked) continue;
    for (int p = 1; p <= 6; ++p) {
      if (chip.destination[p]) {
        ++count[p];
        break;
      }
    }
  }
  for (size_t i = 0; i < count.size(); ++i) object.set_data32(4 * i, count[i]);
  object.set_res(MGMT_RES_OK);
}

}  // namespace

void l2_mac_record_load(const uint8_t *record, l2_mac_entry &entry) {
  entry.vid = le_load32(record);
  std::memcpy(entry.mac, record + 4, 6);
  for (int i = 0; i < 6; ++i) entry.member[i] = le_load32(record + 16 + 4 * i);
}

void l2_mac_record_store(uint8_t *record, const l2_mac_entry &entry) {
  std::memset(record, 0, L2_MAC_RECORD_SIZE);
  le_store32(record, entry.vid);
  std::memcpy(record + 4, entry.mac, 6);
  for (int i = 0; i < 6; ++i) le_store32(record + 16 + 4 * i, entry.member[i]);
}

int mac_config_add(const l2_mac_entry &entry) {
  const uint8_t *m = entry.mac;
  L2_TRACE(TRACE_DEBUG, "vid: %d, mac: %02x-%02x-%02x-%02x-%02x-%02x", static_cast<int>(entry.vid), m[0],
           m[1], m[2], m[3], m[4], m[5]);
  // The chip has 4096 VLANs; a larger id from a datagram or file must not reach the API's tables.
  if (entry.vid > MAX_VID) {
    L2_TRACE(TRACE_ERROR, "illegal vid: %d", static_cast<int>(entry.vid));
    return -1;
  }
  table_put how{};
  const int index =
      sorted_table_put(mac.table, entry, L2_MAC_TABLE_MAX, key_less, TRACE_MOD_L2, __func__, &how);
  if (index < 0) return -1;
  // The chip entry of the key is replaced; a failure to remove it is only traced.
  if (how == table_put::updated) forget_in_chip(entry, nullptr);
  return learn_in_chip(entry) ? index : -1;
}

int mac_config_del(const l2_mac_entry &entry) {
  const int index = sorted_table_remove(mac.table, entry, key_less, TRACE_MOD_L2, __func__);
  if (index < 0) return -1;
  return forget_in_chip(entry, "swc_mac_table_forget_vid_mac failed") ? index : -1;
}

int mac_config_get(l2_mac_entry &entry, bool exact) {
  return sorted_table_get(mac.table, entry, exact, key_less);
}

size_t mac_config_count() {
  return mac.table.size();
}

uint32_t mac_age_time() {
  return mac.age_time;
}

void l2_mac_init() {
  L2_TRACE(TRACE_DEBUG, "Init");
  mac.table.clear();
  mac.table.reserve(L2_MAC_TABLE_MAX);
  mac.age_time = 0;
  mac.age_ticks = 0;
  timer_reg(mac_timer, 500);
}

void l2_mac_conf(bool create) {
  if (process_state().debug_flags[L2_DEBUG_DISABLE_MAC]) {
    L2_TRACE(TRACE_DEBUG, "l2_disable_mac_init set");
    return;
  }
  if (create) {
    save_general(L2_MAC_DEFAULT_AGE_TIME);
    save_table({});
  } else
    read_configuration();
}

bool l2_mac_mgmt(mgmt_object &object) {
  switch (object.obj_id()) {
    case OBJ_MAC_TABLE:
      obj_mac_table(object);
      return true;
    case OBJ_MAC_STATUS:
      obj_mac_status(object);
      return true;
    case OBJ_MAC_FLUSH:
      obj_mac_flush(object);
      return true;
    case OBJ_MAC_AGE_TIME:
      obj_mac_age_time(object);
      return true;
    case OBJ_MAC_LEARNED_PER_PORT:
      obj_mac_learned_per_port(object);
      return true;
    default:
      return false;
  }
}
