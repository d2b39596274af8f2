// The daemon's fixed-capacity tables kept sorted by key: add updates an equal key in place or inserts in
// order, delete removes an equal key, get finds the next key for get-next walks. Each step is traced
// under the calling operation's name.
#pragma once

#include "trace.h"

#include <algorithm>
#include <cstddef>
#include <vector>

enum class table_put { updated, inserted };

// Stores `entry` in its place: the index and how, or -1 when a new key finds the table full.
template <class T, class Less>
int sorted_table_put(std::vector<T> &table, const T &entry, size_t capacity, Less less, unsigned module,
                     const char *function, table_put *how) {
    const auto at = std::lower_bound(table.begin(), table.end(), entry, less);
    const int index = static_cast<int>(at - table.begin());
    if (at != table.end() && !less(entry, *at)) {
        trace_printf(module, function, nullptr, __LINE__, 0, 0, TRACE_DEBUG, "Updating at index %d", index);
        *at = entry;
        *how = table_put::updated;
        return index;
    }
    const bool append = at == table.end();
    if (table.size() >= capacity) {
        trace_printf(module, function, nullptr, __LINE__, 0, 0, TRACE_ERROR,
                     append ? "Add failed, table full" : "Insert failed, table full");
        return -1;
    }
    trace_printf(module, function, nullptr, __LINE__, 0, 0, TRACE_DEBUG,
                 append ? "Adding at index %d" : "Inserting at index %d", index);
    table.insert(at, entry);
    *how = table_put::inserted;
    return index;
}

// Removes the entry with the key of `key`: its index, or -1 when there is none.
template <class T, class Less>
int sorted_table_remove(std::vector<T> &table, const T &key, Less less, unsigned module, const char *function) {
    const auto at = std::lower_bound(table.begin(), table.end(), key, less);
    if (at == table.end() || less(key, *at)) {
        trace_printf(module, function, nullptr, __LINE__, 0, 0, TRACE_ERROR, "Delete failed, not found");
        return -1;
    }
    const int index = static_cast<int>(at - table.begin());
    trace_printf(module, function, nullptr, __LINE__, 0, 0, TRACE_DEBUG, "Deleting at index %d", index);
    table.erase(at);
    return index;
}

// The first entry above the key, or with `exact` the first at or above it, copied into `key`; its
// index, or -1.
template <class T, class Less> int sorted_table_get(const std::vector<T> &table, T &key, bool exact, Less less) {
    const auto at = exact ? std::lower_bound(table.begin(), table.end(), key, less)
                          : std::upper_bound(table.begin(), table.end(), key, less);
    if (at == table.end())
        return -1;
    key = *at;
    return static_cast<int>(at - table.begin());
}
