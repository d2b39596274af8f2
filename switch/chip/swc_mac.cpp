// The MAC table API and its sorted shadow. The shadow lives wholly in the API state: 8192 elements
// linked by index into a sorted list and a free list, plus a sparse index of every 128th sorted
// element for a binary search.
#include "swc_mac.h"

#include <algorithm>
#include <vector>

#include "swc_api.h"
#include "swc_groups.h"
#include "swc_ll.h"
#include "swc_trace.h"

namespace {

constexpr unsigned kEventLearned = 0;
constexpr unsigned kEventChanged = 1;
constexpr unsigned kEventForgotten = 3;

struct MacKey {
  uint32_t high;  // VID << 16 | MAC bytes 0-1
  uint32_t low;   // MAC bytes 2-5

  bool operator<(const MacKey &o) const { return high != o.high ? high < o.high : low < o.low; }
  bool operator<=(const MacKey &o) const { return !(o < *this); }
};

MacKey key_of(const SwcVidMac &vm) {
  const uint8_t *m = vm.mac;
  return {(vm.vid & 0xFFF) << 16 | uint32_t{m[0]} << 8 | m[1],
          uint32_t{m[2]} << 24 | uint32_t{m[3]} << 16 | uint32_t{m[4]} << 8 | m[5]};
}

MacKey key_of(const SwcMacShadowEntry &e) {
  return {e.key_high, e.key_low};
}

SwcVidMac vid_mac_of(const SwcMacShadowEntry &e) {
  SwcVidMac vm{};
  vm.vid = e.key_high >> 16;
  vm.mac[0] = static_cast<uint8_t>(e.key_high >> 8);
  vm.mac[1] = static_cast<uint8_t>(e.key_high);
  for (int i = 0; i < 4; ++i) vm.mac[2 + i] = static_cast<uint8_t>(e.key_low >> (24 - 8 * i));
  return vm;
}

bool legal_vid(uint32_t vid) {
  if (vid < kSwcVlans) return true;
  SWC_HL_TRACE(trace::kError, "illegal vid: %d", static_cast<int>(vid));
  return false;
}

bool legal_port(uint32_t port_no) {
  if (port_no >= 1 && port_no <= kSwcPorts) return true;
  SWC_HL_TRACE(trace::kError, "illegal port_no: %d", static_cast<int>(port_no));
  return false;
}

void raise_event(unsigned event) {
  SwcApiState &s = *swc_state();
  s.mac_events_status.flag[event] = 1;
  s.mac_events_optimize.flag[event] = 1;
}

// An aggregation gets the flag of its lowest-numbered member port.
void destination_from_pgid(uint32_t pgid, SwcMacEntry *entry) {
  const SwcApiState &s = *swc_state();
  const uint32_t *member = s.pgid[pgid % kSwcPgids].member;
  for (uint32_t poag = kSwcPorts + 1; poag < kSwcPoagSlots; ++poag) entry->destination[poag] = 0;
  for (uint32_t p = kSwcPorts; p >= 1; --p) {
    entry->destination[p] = member[p];
    const uint32_t poag = s.port_to_poag[p];
    if (poag < kSwcPoagSlots) entry->destination[poag] = member[p];
  }
}

swc_rc lookup_key(const SwcVidMac &vid_mac, SwcMacEntry *entry) {
  *entry = SwcMacEntry{};
  entry->vid_mac = vid_mac;
  uint32_t pgid = 0;
  const swc_rc rc = swc_ll_mac_table_lookup(entry, &pgid);
  if (rc < 0) return rc;
  destination_from_pgid(pgid, entry);
  return kSwcRcOk;
}

// The chip drops a learn silently when the key's hash bucket holds four locked entries.
swc_rc confirm_learned(const SwcVidMac &vid_mac) {
  SwcMacEntry found{};
  found.vid_mac = vid_mac;
  uint32_t pgid = 0;
  const swc_rc rc = swc_ll_mac_table_lookup(&found, &pgid);
  if (rc != kSwcRcNotFound) return rc;
  SWC_HL_TRACE(trace::kError, "hash bucket full");
  return kSwcRcNotNow;
}

swc_rc status_poll() {
  uint32_t status[kSwcMacEvents] = {};
  const swc_rc rc = swc_ll_mac_table_status_get(status);
  if (rc < 0) return rc;
  for (unsigned event = 0; event < kSwcMacEvents; ++event) {
    if (status[event]) raise_event(event);
  }
  return kSwcRcOk;
}

// Sorted-list element at or below the key (next 0, the insertion point) or the first above it (next 1);
// kSwcMacNone when there is none.
uint32_t search(const MacKey &key, bool next) {
  const SwcApiState &s = *swc_state();
  if (s.mac_index_count == 0) return kSwcMacNone;
  uint32_t lo = 0;
  uint32_t hi = s.mac_index_count - 1;
  while (lo != hi) {
    const uint32_t mid = (lo + hi) / 2;
    if (key_of(s.mac_shadow[s.mac_index[mid]]) < key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo > 0 && key < key_of(s.mac_shadow[s.mac_index[lo]])) --lo;
  uint32_t last_at_or_below = kSwcMacNone;
  for (uint32_t p = s.mac_index[lo]; p != kSwcMacNone; p = s.mac_shadow[p].next) {
    const bool at_or_below = key_of(s.mac_shadow[p]) <= key;
    if (next && !at_or_below) return p;
    if (!next) {
      if (!at_or_below) break;
      last_at_or_below = p;
    }
  }
  return next ? kSwcMacNone : last_at_or_below;
}

void rebuild_index(SwcApiState &s) {
  uint32_t count = 0;
  uint32_t position = 0;
  for (uint32_t p = s.mac_sorted_head; p != kSwcMacNone && count < kSwcMacIndexSize;
       p = s.mac_shadow[p].next) {
    if (position++ % kSwcMacIndexStep == 0) s.mac_index[count++] = p;
  }
  s.mac_index_count = count;
}

// Moves the elements read from `block` to the free list; the others keep their order.
void release_block(SwcApiState &s, uint32_t block) {
  uint32_t *link = &s.mac_sorted_head;
  while (*link != kSwcMacNone) {
    const uint32_t p = *link;
    if (s.mac_shadow[p].block != block) {
      link = &s.mac_shadow[p].next;
      continue;
    }
    *link = s.mac_shadow[p].next;
    s.mac_shadow[p].next = s.mac_free_head;
    s.mac_free_head = p;
  }
}

void insert_sorted(SwcApiState &s, uint32_t element) {
  const uint32_t after = search(key_of(s.mac_shadow[element]), false);
  if (after == kSwcMacNone) {
    s.mac_shadow[element].next = s.mac_sorted_head;
    s.mac_sorted_head = element;
    s.mac_index[0] = element;
    s.mac_index_count = std::max<uint32_t>(s.mac_index_count, 1);
    return;
  }
  s.mac_shadow[element].next = s.mac_shadow[after].next;
  s.mac_shadow[after].next = element;
}

void take_into_shadow(SwcApiState &s, uint32_t block, uint32_t index, const SwcMacEntry &entry) {
  const uint32_t element = s.mac_free_head;
  if (element == kSwcMacNone) {
    // Cannot happen while the chip holds at most 8192 entries; never link an element twice.
    SWC_HL_TRACE(trace::kError, "shadow full at index: %d", static_cast<int>(index));
    return;
  }
  s.mac_free_head = s.mac_shadow[element].next;
  const MacKey key = key_of(entry.vid_mac);
  s.mac_shadow[element].key_high = key.high;
  s.mac_shadow[element].key_low = key.low;
  s.mac_shadow[element].block = block;
  insert_sorted(s, element);
}

// Reads the chip indexes of one block into the shadow, from the walk position up to the block's last
// index; returns the last index read. The chip is read in runs of indexes, which register I/O can hand
// to the chip in few exchanges; indexes that do not read are skipped.
uint32_t read_block(SwcApiState &s, uint32_t block) {
  constexpr uint32_t kRun = 128;
  SwcMacEntry entries[kRun];
  uint32_t pgids[kRun];
  swc_rc results[kRun];
  const uint32_t last = (block + 1) * kSwcMacBlockSize;
  for (uint32_t index = s.mac_walk_position + 1; index <= last; index += kRun) {
    const uint32_t n = std::min(kRun, last - index + 1);
    std::fill_n(entries, n, SwcMacEntry{});
    if (swc_ll_mac_table_read_range(index, n, entries, pgids, results) < 0) continue;
    for (uint32_t i = 0; i < n; ++i) {
      if (results[i] >= 0) take_into_shadow(s, block, index + i, entries[i]);
    }
  }
  return last;
}

}  // namespace

swc_rc swc_mac_table_forget_vid_mac(const SwcVidMac *vid_mac) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  if (!legal_vid(vid_mac->vid)) return kSwcRcIllegal;
  SwcMacEntry found{};
  found.vid_mac = *vid_mac;
  uint32_t pgid = 0;
  const swc_rc rc = swc_ll_mac_table_lookup(&found, &pgid);
  if (rc < 0) return rc;
  if (found.locked && pgid != 0) swc_pgid_free(pgid);
  raise_event(kEventForgotten);
  return swc_ll_mac_table_forget_vid_mac(vid_mac);
}

swc_rc swc_mac_table_learn(const SwcMacEntry *entry) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  if (!legal_vid(entry->vid_mac.vid)) return kSwcRcIllegal;
  const swc_rc forgotten = swc_mac_table_forget_vid_mac(&entry->vid_mac);
  if (forgotten < 0 && forgotten != kSwcRcNotFound) return forgotten;
  const uint8_t *mac = entry->vid_mac.mac;
  uint32_t pgid = 0;
  if (mac[0] == 0x01 && mac[1] == 0x00 && mac[2] == 0x5E) {
    // IPv4 multicast: the chip carries the ports inside the entry, from PGID 0's list.
    uint32_t *member = swc_state()->pgid[0].member;
    for (uint32_t poag = 1; poag < kSwcPoagSlots; ++poag) member[poag] = entry->destination[poag] != 0;
  } else {
    uint32_t members[kSwcPoagSlots] = {};
    for (uint32_t poag = 1; poag < kSwcPoagSlots; ++poag) members[poag] = entry->destination[poag] != 0;
    if (swc_pgid_alloc(&pgid, 0, members) < 0) {
      SWC_HL_TRACE(trace::kError, "pgid allocation failed");
      return kSwcRcNotNow;
    }
  }
  raise_event(kEventLearned);
  const swc_rc learned = swc_ll_mac_table_learn(entry, pgid);
  const swc_rc rc = learned == kSwcRcOk ? confirm_learned(entry->vid_mac) : learned;
  // Only an entry the chip did not take gives its reference back. When the confirming look-up itself
  // fails, the locked entry is still in the chip pointing at the PGID: the reference stays until the
  // entry is forgotten, so no other set can take the PGID over and the forget frees it once.
  const bool not_taken = learned < 0 || rc == kSwcRcNotNow;  // not now: its hash bucket was full
  if (not_taken && pgid != 0) swc_pgid_free(pgid);
  return rc;
}

swc_rc swc_mac_table_lookup(const SwcVidMac *vid_mac, SwcMacEntry *entry) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  if (!legal_vid(vid_mac->vid)) return kSwcRcIllegal;
  return lookup_key(*vid_mac, entry);
}

swc_rc swc_mac_table_get_next(const SwcVidMac *vid_mac, SwcMacEntry *entry) {
  const MacKey key = key_of(*vid_mac);
  SWC_HL_TRACE(trace::kDebug, "enter: %04lx-%04lx%08lx", static_cast<unsigned long>(key.high >> 16),
               static_cast<unsigned long>(key.high & 0xFFFF), static_cast<unsigned long>(key.low));
  const SwcApiState &s = *swc_state();
  for (uint32_t p = search(key, true); p != kSwcMacNone; p = s.mac_shadow[p].next) {
    const SwcMacShadowEntry &e = s.mac_shadow[p];
    SWC_HL_TRACE(trace::kDebug, "next: %04lx-%04lx%08lx", static_cast<unsigned long>(e.key_high >> 16),
                 static_cast<unsigned long>(e.key_high & 0xFFFF), static_cast<unsigned long>(e.key_low));
    // The chip may have dropped the entry since the pass that read it: go on with the next key.
    if (lookup_key(vid_mac_of(e), entry) == kSwcRcOk) return kSwcRcOk;
  }
  return kSwcRcNotFound;
}

swc_rc swc_mac_table_read(uint32_t idx, SwcMacEntry *entry) {
  SWC_HL_TRACE(trace::kDebug, "idx: %d", static_cast<int>(idx));
  if (idx < 1 || idx > kSwcMacTableSize) {
    SWC_HL_TRACE(trace::kError, "illegal idx: %d", static_cast<int>(idx));
    return kSwcRcIllegal;
  }
  uint32_t pgid = 0;
  const swc_rc rc = swc_ll_mac_table_read(idx, entry, &pgid);
  if (rc < 0) return rc;
  destination_from_pgid(pgid, entry);
  return kSwcRcOk;
}

swc_rc swc_mac_table_read_range(uint32_t first, uint32_t count, SwcMacEntry *entries, swc_rc *results) {
  SWC_HL_TRACE(trace::kDebug, "first: %d, count: %d", static_cast<int>(first), static_cast<int>(count));
  std::vector<uint32_t> pgids(count);
  const swc_rc rc = swc_ll_mac_table_read_range(first, count, entries, pgids.data(), results);
  if (rc < 0) return rc;
  for (uint32_t i = 0; i < count; ++i) {
    if (results[i] >= 0) destination_from_pgid(pgids[i], &entries[i]);
  }
  return kSwcRcOk;
}

swc_rc swc_mac_table_status_get(uint32_t *status) {
  SWC_HL_TRACE(trace::kNoise, "enter");
  const swc_rc rc = status_poll();
  if (rc < 0) return rc;
  SwcMacEvents &a = swc_state()->mac_events_status;
  for (unsigned event = 0; event < kSwcMacEvents; ++event) {
    if (a.flag[event]) status[event] = 1;
    a.flag[event] = 0;
  }
  return kSwcRcOk;
}

swc_rc swc_mac_table_flush() {
  SWC_HL_TRACE(trace::kDebug, "enter");
  return swc_ll_mac_table_forget(0, 0, 0, 0);
}

swc_rc swc_mac_table_age() {
  SWC_HL_TRACE(trace::kDebug, "enter");
  return swc_ll_mac_table_age(0, 0, 0, 0);
}

swc_rc swc_mac_table_age_vlan(uint32_t vid) {
  SWC_HL_TRACE(trace::kDebug, "vid: %d", static_cast<int>(vid));
  if (!legal_vid(vid)) return kSwcRcIllegal;
  return swc_ll_mac_table_age(0, 0, 1, vid);
}

swc_rc swc_mac_table_forget_port(uint32_t port_no) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d", static_cast<int>(port_no));
  if (!legal_port(port_no)) return kSwcRcIllegal;
  return swc_ll_mac_table_forget(1, port_no, 0, 0);
}

swc_rc swc_mac_table_forget_vlan(uint32_t vid) {
  SWC_HL_TRACE(trace::kDebug, "vid: %d", static_cast<int>(vid));
  if (!legal_vid(vid)) return kSwcRcIllegal;
  return swc_ll_mac_table_forget(0, 0, 1, vid);
}

swc_rc swc_mac_table_forget_port_in_vlan(uint32_t port_no, uint32_t vid) {
  SWC_HL_TRACE(trace::kDebug, "port_no: %d, vid: %d", static_cast<int>(port_no), static_cast<int>(vid));
  if (!legal_port(port_no) || !legal_vid(vid)) return kSwcRcIllegal;
  return swc_ll_mac_table_forget(1, port_no, 1, vid);
}

swc_rc swc_ipmc_flood_mask_set(const uint32_t *members) {
  SWC_HL_TRACE(trace::kDebug, "enter");
  return swc_ll_ipmc_flood_mask_set(members);
}

swc_rc swc_mac_table_optimize() {
  SwcApiState &s = *swc_state();
  // The lists are built by swc_init_state; in a state that never went through it both heads are 0,
  // which no built shadow can show, and walking them would not end.
  if (s.mac_sorted_head == s.mac_free_head) return kSwcRcNotNow;
  if (s.mac_walk_position == 0) {
    const swc_rc rc = status_poll();
    if (rc < 0) return rc;
    SwcMacEvents &b = s.mac_events_optimize;
    // A failed learn alone changes nothing in the table.
    if (!b.flag[kEventLearned] && !b.flag[kEventChanged] && !b.flag[kEventForgotten]) return kSwcRcOk;
    b.flag[kEventLearned] = b.flag[kEventChanged] = b.flag[kEventForgotten] = 0;
  }
  SWC_HL_TRACE(trace::kDebug, "update start, index: %d", static_cast<int>(s.mac_walk_position));
  const uint32_t block = s.mac_walk_position / kSwcMacBlockSize;
  release_block(s, block);
  rebuild_index(s);
  const uint32_t last = read_block(s, block);
  s.mac_walk_position = last >= kSwcMacTableSize ? 0 : last;
  rebuild_index(s);
  SWC_HL_TRACE(trace::kDebug, "update done, index: %d", static_cast<int>(s.mac_walk_position));
  return kSwcRcOk;
}

swc_rc swc_optimize_1sec() {
  SWC_HL_TRACE(trace::kNoise, "enter");
  const swc_rc rc = swc_ll_optimize_1sec();
  if (rc < 0) return rc;
  return swc_mac_table_optimize();
}

swc_rc swc_optimize_100msec() {
  SWC_HL_TRACE(trace::kNoise, "enter");
  return swc_ll_optimize_100msec();
}
