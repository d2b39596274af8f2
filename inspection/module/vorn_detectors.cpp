#include "vorn_detectors.h"

#include <algorithm>
#include <cstring>

#include "vorn_hash.h"
#include "vorn_log.h"
#include "vorn_tracker.h"

namespace vorn {

namespace {

// Records with a hash chain, an age list (oldest first) and a free list, linked by index. The links
// of port-scan records lie in engine memory, so every index is checked before it is followed.
template <typename Record>
struct RecordTable {
  Record *records = nullptr;
  int32_t *heads = nullptr;
  uint32_t size = 0;
  uint32_t head_count = 0;
  int32_t age_head = -1;
  int32_t age_tail = -1;
  int32_t free_head = -1;
  uint32_t in_use = 0;

  bool valid(int32_t i) const { return i >= 0 && static_cast<uint32_t>(i) < size; }

  void init(Record *storage, uint32_t count, int32_t *hash_heads, uint32_t hash_count) {
    records = storage;
    heads = hash_heads;
    size = count;
    head_count = hash_count;
    for (uint32_t h = 0; h < hash_count; ++h) heads[h] = -1;
    std::memset(static_cast<void *>(records), 0, sizeof(Record) * count);
    for (uint32_t i = 0; i < count; ++i)
      records[i].hash_next = i + 1 < count ? static_cast<int32_t>(i + 1) : -1;
    free_head = count ? 0 : -1;
    age_head = age_tail = -1;
    in_use = 0;
  }

  // A cleared record off the free list, or -1 when every record is in use.
  int32_t take() {
    if (!valid(free_head)) return -1;
    int32_t i = free_head;
    free_head = records[i].hash_next;
    std::memset(static_cast<void *>(&records[i]), 0, sizeof(Record));
    return i;
  }

  void append_age(int32_t i) {
    records[i].age_next = -1;
    records[i].age_prev = age_tail;
    if (valid(age_tail)) {
      records[age_tail].age_next = i;
    } else {
      age_head = i;
    }
    age_tail = i;
  }

  void unlink_age(int32_t i) {
    int32_t prev = records[i].age_prev, next = records[i].age_next;
    if (valid(prev)) {
      records[prev].age_next = next;
    } else {
      age_head = valid(next) ? next : -1;
    }
    if (valid(next)) {
      records[next].age_prev = prev;
    } else {
      age_tail = valid(prev) ? prev : -1;
    }
  }

  void link(int32_t i, uint32_t hash) {
    records[i].hash_prev = -1;
    records[i].hash_next = heads[hash];
    if (valid(heads[hash])) records[heads[hash]].hash_prev = i;
    heads[hash] = i;
    append_age(i);
    ++in_use;
  }

  void touch(int32_t i) {
    unlink_age(i);
    append_age(i);
  }

  void remove(int32_t i, uint32_t hash) {
    unlink_age(i);
    int32_t prev = records[i].hash_prev, next = records[i].hash_next;
    if (valid(prev)) {
      records[prev].hash_next = next;
    } else {
      heads[hash] = valid(next) ? next : -1;
    }
    if (valid(next)) records[next].hash_prev = prev;
    std::memset(static_cast<void *>(&records[i]), 0, sizeof(Record));
    records[i].hash_next = free_head;
    free_head = i;
    --in_use;
  }

  // Removes records from the old end of the age list while `stale` says so.
  template <typename Stale, typename Hash>
  void age_out(Stale stale, Hash hash) {
    while (valid(age_head) && stale(records[age_head])) remove(age_head, hash(records[age_head]));
  }

  // The record of the chain that `match` accepts, or -1. A chain never has more links than records.
  template <typename Match>
  int32_t find(uint32_t hash, Match match, bool *corrupt) const {
    *corrupt = false;
    int32_t i = heads[hash];
    for (uint32_t steps = 0; i != -1 && steps < size; ++steps, i = records[i].hash_next) {
      if (!valid(i)) {
        *corrupt = true;
        return -1;
      }
      if (match(records[i])) return i;
    }
    return -1;
  }
};

RecordTable<PortScanRecord> scans;

SweepRecord sweep_store[kSweepRecords];
int32_t sweep_heads[kSweepRecords];
RecordTable<SweepRecord> sweeps;

FloodEntry flood_tables[kFloodTypes][kFloodEntries];
// Each type clears its table when its first packet of a new second arrives. One clock shared by all
// types would let the others count across several seconds and take a steady stream for a flood.
uint32_t flood_aging_time[kFloodTypes];

uint32_t host_order(uint32_t stored) {
  return __builtin_bswap32(stored);
}

// The key of the port-scan hash, drawn at each initialisation. On a hash the sender can work out, a
// source could pick hosts whose records all share one chain, which each of its packets then walks.
uint64_t scan_seed[2];

uint32_t scan_hash(uint32_t source, uint32_t destination, uint32_t type) {
  uint64_t x = mix64((uint64_t{source} << 32 | destination) ^ scan_seed[0]);
  x = mix64(x ^ type ^ scan_seed[1]);
  return static_cast<uint32_t>(x >> 52) & (kPortScanHeads - 1);
}
uint32_t scan_hash_of(const PortScanRecord &r) {
  return scan_hash(r.source, r.destination, r.type);
}

// The key of the sweep hash, drawn at each initialisation. On a hash the sender can work out, a
// source could pick ports and prefixes whose records all share one chain, which each of its packets
// then walks.
uint64_t sweep_seed[2];

// A sweep record belongs to a source, a destination port and a destination prefix; hashing all
// three keeps chains short when one source probes many ports (a port scan makes a record per port,
// which on a source-only hash would put the whole table on one chain).
uint32_t sweep_hash(uint32_t source, uint16_t port, uint32_t prefix) {
  uint64_t x = mix64((uint64_t{source} << 32 | prefix) ^ sweep_seed[0]);
  x = mix64(x ^ port ^ sweep_seed[1]);
  return static_cast<uint32_t>(x >> 54) & (kSweepRecords - 1);
}
uint32_t sweep_hash_of(const SweepRecord &r) {
  return sweep_hash(r.source, r.port, r.prefix);
}

// Sets the port's bit; true when it was clear.
bool mark_port(PortScanRecord &r, uint16_t port) {
  uint32_t *map = port < 1024 ? r.low_ports : r.high_ports;
  uint32_t bit = port < 1024 ? port : high_port_bit(port);
  uint32_t mask = 1u << (bit % 32);
  bool fresh = !(map[bit / 32] & mask);
  map[bit / 32] |= mask;
  return fresh;
}

void start_scan_window(PortScanRecord &r, uint32_t now) {
  r.distinct = 0;
  r.packets = 0;
  std::memset(r.low_ports, 0, sizeof r.low_ports);
  std::memset(r.high_ports, 0, sizeof r.high_ports);
  r.window_start = r.last_reset = now;
}

void start_sweep_window(SweepRecord &r, uint32_t now) {
  r.hosts = 0;
  r.window_start = now;
  std::memset(r.host_map, 0, sizeof r.host_map);
}

const VornRuleEntry &threshold_rule(uint32_t id) {
  return module().tables.threshold_table[id];
}

uint16_t attack_id(uint8_t offset) {
  return static_cast<uint16_t>(event_base() + offset);
}

}  // namespace

uint32_t high_port_bit(uint16_t port) {
  auto group = static_cast<uint16_t>(port / 2016);
  return ((uint32_t{port} + group) * 1237u) % 2016u;
}

int tcp_scan_guess(const sk_buff *skb, const PacketView &packet) {
  uint8_t flags = packet.tcp_flags();
  if ((flags & kAck) && !(flags & (kFin | kRst | kUrg))) return 0;
  if ((flags & kRst) && !(flags & (kFin | kSyn | kUrg))) return 0;
  if ((flags & kSyn) && !(flags & kAck)) return kRuleSynScan;
  if (!(flags & kFin)) return kRuleOtherScan;
  const char *name = skb->dev ? skb->dev->name : "";
  bool wan = name[0] && name[1] && name[2] && name[3] == '1';
  if (!wan) return kRuleFinScan;
  // A FIN from the far side of a connection that was opened from inside is no scan.
  uint16_t port_bytes;
  std::memcpy(&port_bytes, packet.transport, 2);
  return BKTcpConnection_Check_EverInEstState(packet.source(), port_bytes) ? 0 : kRuleFinScan;
}

int PortScanInit() {
  if (!module().pVornRuleSetInfo) {
    printk("%s():NULL VornRuleSetInfo!!!\n", "PortScanInit");
    return -1;
  }
  if (!module().QuorixMem) {
    printk("%s():NULL Table!!!\n", "PortScanInit");
    return -1;
  }
  get_random_bytes(scan_seed, sizeof scan_seed);
  scans.init(reinterpret_cast<PortScanRecord *>(module().QuorixMem + kPortScanRecordsOffset),
             kPortScanRecords, reinterpret_cast<int32_t *>(module().QuorixMem + kPortScanHashOffset),
             kPortScanHeads);
  return 0;
}

int check_threshold(PortScanRecord *record, int type, const PacketView &packet) {
  const VornRuleEntry &rule = threshold_rule(static_cast<uint32_t>(type));
  if (rule.action != 1) return 0;
  if (record->distinct < rule.threshold && !record->alarm) return 0;
  uint32_t now = xtime_seconds();
  if (!record->alarm) {
    record->alarm = 1;
    kkAddVornLog(packet, attack_id(static_cast<uint8_t>(kSweepOffset + type)), kCategoryScan);
  }
  if (now - record->window_start > 1) start_scan_window(*record, now);
  return 1;
}

int RecordScan(uint32_t source, uint32_t destination, uint16_t port, int type, const PacketView &packet) {
  uint32_t now = xtime_seconds();
  scans.age_out([now](const PortScanRecord &r) { return now - r.last_new_port > kDetectorAgeSeconds; },
                scan_hash_of);
  if (type == 0) return 0;
  uint32_t hash = scan_hash(source, destination, static_cast<uint32_t>(type));
  bool corrupt = false;
  int32_t index = scans.find(
      hash,
      [&](const PortScanRecord &r) {
        return r.source == source && r.destination == destination && r.type == uint32_t(type);
      },
      &corrupt);
  if (corrupt) {
    TRAFFIC_PRINTK("fatal port scan hdb index!\n");
    return 0;
  }
  if (index < 0) {
    index = scans.take();
    if (index < 0) return 0;  // every record busy: the source goes uncounted until records age out
    PortScanRecord &r = scans.records[index];
    r.source = source;
    r.destination = destination;
    r.type = static_cast<uint32_t>(type);
    mark_port(r, port);
    r.distinct = 1;
    r.packets = 1;
    r.lowest = r.highest = port;
    r.window_start = r.last_new_port = now;
    scans.link(index, hash);
  } else {
    PortScanRecord &r = scans.records[index];
    ++r.packets;
    if (mark_port(r, port)) {
      ++r.distinct;
      r.last_new_port = now;
    }
    if (port < r.lowest) r.lowest = port;
    if (port > r.highest) r.highest = port;
    scans.touch(index);
  }
  return check_threshold(&scans.records[index], type, packet);
}

int kkDetectPortScan(const sk_buff *skb, const PacketView &packet) {
  if (!scans.records || !packet.transport) return 0;
  int type;
  if (packet.protocol == kTcp) {
    type = tcp_scan_guess(skb, packet);
  } else if (packet.protocol == kUdp) {
    type = kRuleUdpScan;
  } else {
    return 0;
  }
  return RecordScan(host_order(packet.source()), host_order(packet.destination()), packet.destination_port(),
                    type, packet);
}

int IPSweepInit() {
  get_random_bytes(sweep_seed, sizeof sweep_seed);
  sweeps.init(sweep_store, kSweepRecords, sweep_heads, kSweepRecords);
  return 0;
}

int check_ips_threshold(SweepRecord *record, const PacketView &packet) {
  uint32_t threshold = threshold_rule(kRuleIpSweep).threshold;
  if (record->hosts < threshold && !record->alarm) return 0;
  uint32_t now = xtime_seconds();
  if (!record->alarm) {
    // Over a longer window the rate decides; within 5 seconds reaching the count is enough.
    uint32_t seconds = now - record->window_start;
    if (seconds > kDetectorAgeSeconds) {
      uint32_t rate = record->hosts / seconds;
      uint32_t allowed = threshold / seconds;
      if (rate == 0 || allowed == 0 || rate < allowed) {
        start_sweep_window(*record, now);
        return 0;
      }
    }
    record->alarm = 1;
    record->alarm_time = now;
    kkAddVornLog(packet, attack_id(kSweepOffset), kCategoryScan);
  }
  start_sweep_window(*record, now);
  record->alarm_time = now;
  return 1;
}

int kkIpSweepDetect(const PacketView &packet, uint16_t destination_port) {
  uint32_t now = xtime_seconds();
  sweeps.age_out([now](const SweepRecord &r) { return now - r.last_seen > kDetectorAgeSeconds; },
                 sweep_hash_of);
  uint32_t source = packet.source();
  uint32_t prefix = packet.destination() & 0xffff;
  uint8_t third = packet.ip[18], fourth = packet.ip[19];
  uint32_t bit = (third & 7u) * 256u + fourth;
  uint32_t hash = sweep_hash(source, destination_port, prefix);
  bool corrupt = false;
  int32_t index = sweeps.find(
      hash,
      [&](const SweepRecord &r) {
        return r.source == source && r.port == destination_port && r.prefix == prefix;
      },
      &corrupt);
  if (index < 0) {
    index = sweeps.take();
    if (index < 0) return 0;
    SweepRecord &r = sweeps.records[index];
    r.source = source;
    r.port = destination_port;
    r.prefix = prefix;
    r.hosts = 1;
    r.host_map[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    r.window_start = r.last_seen = now;
    r.last_host[0] = fourth;
    r.last_host[1] = third;
    sweeps.link(index, hash);
  } else {
    SweepRecord &r = sweeps.records[index];
    r.last_seen = now;
    bool seen = r.host_map[bit / 8] & (1u << (bit % 8));
    bool same_as_last = r.last_host[0] == fourth && r.last_host[1] == third;
    if (!seen || !same_as_last) {
      if (r.hosts < 0xffff) ++r.hosts;
      r.host_map[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
      r.last_host[0] = fourth;
      r.last_host[1] = third;
    }
    sweeps.touch(index);
  }
  return check_ips_threshold(&sweeps.records[index], packet);
}

void DdosInit() {
  std::memset(flood_tables, 0, sizeof flood_tables);
  uint32_t now = xtime_seconds();
  for (uint32_t &time : flood_aging_time) time = now;
}

void DdosDetectingAgingOut(uint32_t type) {
  uint32_t now = xtime_seconds();
  if (flood_aging_time[type] >= now) return;
  for (FloodEntry &entry : flood_tables[type])
    if (entry.in_use) entry = FloodEntry{};
  flood_aging_time[type] = now;
}

int kkDetectDdos(const PacketView &packet, uint32_t type) {
  if (type >= kFloodTypes) return 0;
  DdosDetectingAgingOut(type);
  const VornRuleEntry &rule = threshold_rule(type);
  if (rule.action == 0) return 0;
  uint32_t now = xtime_seconds();
  uint32_t destination = packet.destination();
  FloodEntry *table = flood_tables[type];
  FloodEntry *entry = nullptr;
  for (uint32_t i = 0; i < kFloodEntries && !entry; ++i)
    if (table[i].in_use && table[i].destination == destination) entry = &table[i];
  if (entry) {
    ++entry->count;
    entry->time = now;
  } else {
    FloodEntry *replaced = nullptr;
    for (uint32_t i = 0; i < kFloodEntries; ++i)
      if (!table[i].in_use) replaced = &table[i];
    if (!replaced) {
      replaced = &table[0];
      for (uint32_t i = 1; i < kFloodEntries; ++i)
        if (table[i].count <= replaced->count) replaced = &table[i];
    }
    entry = replaced;
    *entry = FloodEntry{1, 0, static_cast<uint16_t>(type), destination, 1, now};
  }
  if (entry->count <= rule.threshold) return 0;
  if (entry->alarm) return 1;
  if (type < kRuleSynFlood || type > kRuleIgmpFlood) {
    TRAFFIC_PRINTK("DDOS Type ERROR!!\n");
    return 0;
  }
  entry->alarm = 1;
  TRAFFIC_PRINTK("hit VORN_DDOS_TYPE=%d\n", static_cast<int>(type));
  kkAddVornLog(packet, attack_id(static_cast<uint8_t>(kFloodOffset + type)), kCategoryDos);
  return 1;
}

uint32_t port_scan_records_in_use() {
  return scans.in_use;
}
uint32_t sweep_records_in_use() {
  return sweeps.in_use;
}
uint32_t longest_sweep_chain() {
  uint32_t longest = 0;
  for (uint32_t h = 0; h < sweeps.head_count; ++h) {
    uint32_t length = 0;
    for (int32_t i = sweeps.heads[h]; sweeps.valid(i) && length < sweeps.size;
         i = sweeps.records[i].hash_next)
      ++length;
    longest = std::max(longest, length);
  }
  return longest;
}

}  // namespace vorn
