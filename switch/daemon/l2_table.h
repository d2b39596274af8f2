// The daemon's fixed-capacity tables kept sorted by key: add updates an equal key in place or inserts in
// order, delete removes an equal key, get finds the next key for get-next walks. Each step is traced
// under the calling operation's name.
#pragma once

#include "conf.h"
#include "le.h"
#include "mgmt.h"
#include "trace.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

enum class TablePut { kUpdated, kInserted };

// Stores `entry` in its place: the index and how, or -1 when a new key finds the table full.
template <class T, class Less>
int sorted_table_put(std::vector<T> &table, const T &entry, size_t capacity, Less less, unsigned module,
                     const char *function, TablePut *how) {
  const auto at = std::lower_bound(table.begin(), table.end(), entry, less);
  const int index = static_cast<int>(at - table.begin());
  if (at != table.end() && !less(entry, *at)) {
    trace_printf(module, function, nullptr, __LINE__, 0, 0, trace::kDebug, "Updating at index %d", index);
    *at = entry;
    *how = TablePut::kUpdated;
    return index;
  }
  const bool append = at == table.end();
  if (table.size() >= capacity) {
    trace_printf(module, function, nullptr, __LINE__, 0, 0, trace::kError,
                 append ? "Add failed, table full" : "Insert failed, table full");
    return -1;
  }
  trace_printf(module, function, nullptr, __LINE__, 0, 0, trace::kDebug,
               append ? "Adding at index %d" : "Inserting at index %d", index);
  table.insert(at, entry);
  *how = TablePut::kInserted;
  return index;
}

// Removes the entry with the key of `key`: its index, or -1 when there is none.
template <class T, class Less>
int sorted_table_remove(std::vector<T> &table, const T &key, Less less, unsigned module,
                        const char *function) {
  const auto at = std::lower_bound(table.begin(), table.end(), key, less);
  if (at == table.end() || less(key, *at)) {
    trace_printf(module, function, nullptr, __LINE__, 0, 0, trace::kError, "Delete failed, not found");
    return -1;
  }
  const int index = static_cast<int>(at - table.begin());
  trace_printf(module, function, nullptr, __LINE__, 0, 0, trace::kDebug, "Deleting at index %d", index);
  table.erase(at);
  return index;
}

// The first entry above the key, or with `exact` the first at or above it, copied into `key`; its
// index, or -1.
template <class T, class Less>
int sorted_table_get(const std::vector<T> &table, T &key, bool exact, Less less) {
  const auto at = exact ? std::lower_bound(table.begin(), table.end(), key, less)
                        : std::upper_bound(table.begin(), table.end(), key, less);
  if (at == table.end()) return -1;
  key = *at;
  return static_cast<int>(at - table.begin());
}

// Configuration blocks of these tables: u16 count, u16 entry size, then room for `max` entries, of
// which the first ones of the table are saved and the rest is zero.
template <class T, class Store>
void conf_table_save(uint32_t id, size_t record_size, size_t max, const std::vector<T> &entries,
                     Store store) {
  const size_t size = 4 + max * record_size;
  uint8_t *block = conf_create(id, static_cast<uint32_t>(size));
  if (!block) return;
  std::memset(block, 0, size);
  const size_t count = std::min(entries.size(), max);
  le_store16(block, static_cast<uint16_t>(count));
  le_store16(block + 2, static_cast<uint16_t>(record_size));
  for (size_t i = 0; i < count; ++i) store(block + 4 + i * record_size, entries[i]);
  conf_close(id);
}

// Whether such a block can be read: present, with its head, and of the table's entry size. A block
// that is there but damaged is traced.
inline bool conf_table_readable(uint32_t id, size_t record_size) {
  uint32_t size = 0;
  const uint8_t *block = conf_open(id, &size);
  if (!block) return false;
  if (size < 4) {
    trace_printf(trace::kConf, __func__, nullptr, __LINE__, 0, 0, trace::kError, "ID %d too small: %u",
                 static_cast<int>(id), static_cast<unsigned>(size));
    return false;
  }
  if (le_load16(block + 2) != record_size) {
    trace_printf(trace::kConf, __func__, nullptr, __LINE__, 0, 0, trace::kError,
                 "Illegal entry size: %d in ID %d", le_load16(block + 2), static_cast<int>(id));
    return false;
  }
  return true;
}

// The entries of such a block as far as the block really holds them (a count beyond its size or the
// table's is cut); none when the block cannot be read.
template <class T, class Load>
std::vector<T> conf_table_read(uint32_t id, size_t record_size, size_t max, Load load) {
  std::vector<T> entries;
  if (!conf_table_readable(id, record_size)) return entries;
  uint32_t size = 0;
  const uint8_t *block = conf_open(id, &size);
  const size_t count = std::min<size_t>({le_load16(block), max, (size - 4) / record_size});
  for (size_t i = 0; i < count; ++i) {
    T entry{};
    load(block + 4 + i * record_size, entry);
    entries.push_back(entry);
  }
  return entries;
}

// A management table object of such a table. GET walks from the first entry's key: entry 0 is the
// first at or above it, each further one the next above the previous answer, and the count is cut at
// the first miss. ADD and DEL apply each entry (any failure gives result 1) and then save the table.
// SET gives result 1.
template <class T>
struct TableObjectOps {
  size_t record_size;
  uint16_t max_count;
  void (*load)(const uint8_t *record, T &entry);
  void (*store)(uint8_t *record, const T &entry);
  int (*get)(T &entry, bool exact);
  int (*add)(const T &entry);
  int (*del)(const T &entry);
  void (*save)();
};

template <class T>
void sorted_table_object(MgmtObject &object, const TableObjectOps<T> &ops) {
  if (mgmt_table_check(object, static_cast<uint16_t>(ops.record_size), ops.max_count) < 0) return;
  object.set_res(kMgmtResOk);
  const uint16_t count = object.table_count();
  switch (object.cmd()) {
    case kMgmtCmdGet: {
      if (count == 0) return;
      T at{};
      ops.load(object.entry(0, ops.record_size), at);
      uint16_t found = 0;
      for (; found < count && ops.get(at, found == 0) >= 0; ++found)
        ops.store(object.entry(found, ops.record_size), at);
      le_store16(object.bytes + 16, found);
      return;
    }
    case kMgmtCmdAdd:
    case kMgmtCmdDel:
      for (uint16_t i = 0; i < count; ++i) {
        T entry{};
        ops.load(object.entry(i, ops.record_size), entry);
        if ((object.cmd() == kMgmtCmdAdd ? ops.add(entry) : ops.del(entry)) < 0) object.set_res(kMgmtResFail);
      }
      ops.save();
      return;
    default:
      object.set_res(kMgmtResFail);
  }
}
