#include "vorn_tracker.h"

#include <algorithm>

#include "vorn_hash.h"

namespace vorn {

namespace {

constexpr uint32_t kAgingPeriod = 30;
constexpr uint32_t kForceAgingPeriod = 10;
constexpr uint32_t kEstablishedLifetime = 901;
constexpr uint32_t kOtherLifetime = 31;
constexpr uint32_t kForceIdle = 10;

void build_key(const PacketView &packet, uint8_t key[12], uint8_t reverse[12]) {
  std::memcpy(key, packet.ip + 12, 4);
  std::memcpy(key + 4, packet.ip + 16, 4);
  std::memcpy(key + 8, packet.transport + 2, 2);  // destination port bytes
  std::memcpy(key + 10, packet.transport, 2);     // source port bytes
  std::memcpy(reverse, packet.ip + 16, 4);
  std::memcpy(reverse + 4, packet.ip + 12, 4);
  std::memcpy(reverse + 8, packet.transport, 2);
  std::memcpy(reverse + 10, packet.transport + 2, 2);
}

// The servers of the connections in the table: for each destination address and port bytes of an
// in-use record's key, how many records lead there and how many of those have seen only the
// client's SYN. Kept in step with every claim, close and state change, so that asking whether a
// server has a connection, or a half-open one, is a hash look-up rather than a walk over the table
// (which a flood of SYN+ACKs or FINs would otherwise make at every packet). At most
// kTcpMaxConnections + 1 servers exist at once, so the index stays under three-eighths full; its hash
// is keyed by a seed drawn at each start, so that traffic cannot choose servers that share a run.
class ServerIndex {
 public:
  struct Entry {
    uint64_t server;     // address | port bytes << 32, both read little-endian as stored
    uint32_t records;    // 0: the slot is empty
    uint32_t half_open;  // records in state SYN seen
  };

  void clear() {
    std::memset(slots_, 0, sizeof slots_);
    get_random_bytes(&seed_, sizeof seed_);
  }
  void add(const TcpConnection &record) {
    uint64_t server = server_of(record);
    size_t slot = slot_of(server);
    while (slots_[slot].records != 0 && slots_[slot].server != server) slot = (slot + 1) & kMask;
    slots_[slot].server = server;
    ++slots_[slot].records;
    if (record.state == kTcpSynSeen) ++slots_[slot].half_open;
  }
  void remove(const TcpConnection &record) {
    Entry *entry = find_slot(server_of(record));
    if (!entry) return;
    if (record.state == kTcpSynSeen && entry->half_open) --entry->half_open;
    if (--entry->records == 0) erase(static_cast<size_t>(entry - slots_));
  }
  // A record's state moves from `from` to `to`.
  void restate(const TcpConnection &record, uint8_t from, uint8_t to) {
    if ((from == kTcpSynSeen) == (to == kTcpSynSeen)) return;
    Entry *entry = find_slot(server_of(record));
    if (!entry) return;
    if (to == kTcpSynSeen) {
      ++entry->half_open;
    } else if (entry->half_open) {
      --entry->half_open;
    }
  }
  const Entry *find(uint32_t address, uint16_t port) { return find_slot(address | uint64_t{port} << 32); }

 private:
  static constexpr size_t kSlots = 65536;
  static constexpr size_t kMask = kSlots - 1;
  static_assert(kSlots >= 2 * (kTcpMaxConnections + 1));

  static uint64_t server_of(const TcpConnection &record) {
    return load32(record.key + 4) | uint64_t{load16(record.key + 8)} << 32;
  }
  size_t slot_of(uint64_t server) const {
    uint64_t x = (server ^ seed_) * 0x9e3779b97f4a7c15ull;
    x ^= x >> 29;
    x *= 0xbf58476d1ce4e5b9ull;
    return static_cast<size_t>(x >> 48) & kMask;
  }
  Entry *find_slot(uint64_t server) {
    for (size_t slot = slot_of(server); slots_[slot].records != 0; slot = (slot + 1) & kMask)
      if (slots_[slot].server == server) return &slots_[slot];
    return nullptr;
  }
  // Empties a slot, moving later entries of the run back so that no look-up stops short of them.
  void erase(size_t hole) {
    for (size_t next = (hole + 1) & kMask; slots_[next].records != 0; next = (next + 1) & kMask) {
      size_t home = slot_of(slots_[next].server);
      if (((next - home) & kMask) >= ((next - hole) & kMask)) {
        slots_[hole] = slots_[next];
        hole = next;
      }
    }
    slots_[hole] = Entry{};
  }

  Entry slots_[kSlots] = {};
  uint64_t seed_ = 0;
};

ServerIndex servers;

// The key of the connection hash, drawn at each start. With a hash that anyone can work out (a sum
// of the addresses and ports), one sender could fill the run of slots ahead of another's connection
// and leave that connection untracked, so its drop mark would never hold.
uint64_t hash_seed[2];

void set_state(TcpConnection *record, uint8_t state) {
  servers.restate(*record, record->state, state);
  record->state = state;
}

bool holds_key(const TcpConnection &record, const uint8_t key[12]) {
  return std::memcmp(record.key, key, 12) == 0 || std::memcmp(record.reverse_key, key, 12) == 0;
}

void claim(TcpConnection *record, uint32_t hash, const uint8_t key[12], const uint8_t reverse[12]) {
  std::memset(record, 0, sizeof *record);
  record->in_use = kSlotInUse;
  record->state = kTcpNew;
  record->hash = hash;
  std::memcpy(record->key, key, 12);
  std::memcpy(record->reverse_key, reverse, 12);
  record->created = xtime_seconds();
  ++module().Tcp_currentconn;
  servers.add(*record);
}

// A freed slot right before a never-used one ends no probe run, so it becomes never-used again
// (and so do freed slots before it); runs stay short however many connections come and go.
void free_slot(TcpConnection *record) {
  TcpConnection *table = tcp_table();
  uint32_t index = static_cast<uint32_t>(record - table);
  record->in_use = kSlotDeleted;
  if (table[(index + 1) % kTcpTableRecords].in_use != kSlotFree) return;
  for (uint32_t n = 0; n < kTcpTableRecords && table[index].in_use == kSlotDeleted; ++n) {
    table[index].in_use = kSlotFree;
    index = (index + kTcpTableRecords - 1) % kTcpTableRecords;
  }
}

bool ack_alone(uint8_t flags) {
  return (flags & (kFin | kSyn | kRst | kAck)) == kAck;
}
char device_digit(const sk_buff *skb) {
  return skb->dev ? skb->dev->name[3] : '\0';
}

int step_new(sk_buff *skb, const PacketView &packet, TcpConnection *record, uint8_t flags) {
  if ((flags & (kSyn | kAck)) == kSyn) {
    set_state(record, kTcpSynSeen);
    record->server_port = packet.destination_port();
    return 0;
  }
  if ((flags & (kSyn | kAck)) == (kSyn | kAck) && device_digit(skb) == '1') {
    if (!BKTcpConnection_Check_HalfOpen(packet.source(), load16(packet.transport))) return 1;
    set_state(record, kTcpEstablished);
    record->server_port = packet.source_port();
    return 0;
  }
  set_state(record, kTcpInvalid);
  return 1;
}

int step_closing(const PacketView &packet, TcpConnection *record, uint8_t flags) {
  bool from_first_closer = packet.source() == record->first_fin_address;
  switch (record->state) {
    case kTcpFirstFin:
      if (from_first_closer) {
        if (!ack_alone(flags)) return 1;
        if (record->closing == 7) {
          set_state(record, kTcpBothFin);
        } else {
          BKTcpConnectionClose(record, 0);
        }
        return 0;
      }
      if ((flags & (kFin | kAck | kSyn | kRst)) == kFin) {
        record->closing = 7;
      } else if (ack_alone(flags)) {
        set_state(record, kTcpFinAcked);
      } else if ((flags & (kFin | kAck | kSyn | kRst)) == (kFin | kAck)) {
        record->closing = 6;
      } else {
        return 1;
      }
      return 0;
    case kTcpFinAcked:
      if (!from_first_closer) return (flags & kFin) ? 0 : 1;
      if (!ack_alone(flags)) return 1;
      BKTcpConnectionClose(record, 0);
      return 0;
    case kTcpBothFin:
      if (from_first_closer || !ack_alone(flags)) return 1;
      BKTcpConnectionClose(record, 0);
      return 0;
    default:
      return 1;
  }
}

}  // namespace

void DoBKTcpConntrackInit() {
  ModuleState &m = module();
  if (m.isBKTcpConntrackInited) {
    printk("%s() ERROR, is inited already?\n", "DoBKTcpConntrackInit");
    return;
  }
  if (!m.pTcpConnectionTable) {
    printk("%s() Memory Part ERROR\n", "DoBKTcpConntrackInit");
    return;
  }
  std::memset(m.pTcpConnectionTable, 0, kConnectionTableSize);
  servers.clear();
  get_random_bytes(hash_seed, sizeof hash_seed);
  m.Tcp_currentconn = 0;
  m.BKTcpLongestChain = 0;
  m.bk_tcp_probe_total = 0;
  m.MinLiveTime_in_EstState = 1800;
  m.MinLiveTime_in_AbnormalState = 60;
  m.BKTcpBootTime = m.BKTcpAgingTimeStamp = m.BKTcpForceAgingTimeStamp = xtime_seconds();
  m.isBKTcpConntrackInited = 1;
}

void DoBKTcpConntrackCleanup() {
  if (!module().isBKTcpConntrackInited) {
    printk("%s() ERROR\n", "DoBKTcpConntrackCleanup");
    return;
  }
  module().isBKTcpConntrackInited = 0;
}

uint32_t BKTcpConnectionHash(const uint8_t key[12]) {
  // The two ends, each an address and its port, go in in the same order whichever of them sent,
  // so that a key and its reverse share the index.
  uint64_t source = load32(key) | uint64_t{load16(key + 10)} << 32;
  uint64_t destination = load32(key + 4) | uint64_t{load16(key + 8)} << 32;
  uint64_t x = mix64(std::min(source, destination) ^ hash_seed[0]) ^ std::max(source, destination);
  x = mix64(x ^ hash_seed[1]);
  return static_cast<uint32_t>((x >> 48) << 2) & 0xffff;
}

int BKTcpConnectionFind(const PacketView &packet, TcpConnection **record) {
  uint8_t key[12];
  uint8_t reverse[12];
  build_key(packet, key, reverse);
  uint32_t hash = BKTcpConnectionHash(key);
  TcpConnection *table = tcp_table();
  TcpConnection *reusable = nullptr;
  int result = kTableFull;
  uint32_t run = 0;
  for (uint32_t index = hash; run < kTcpProbeLimit; index = (index + 1) % kTcpTableRecords) {
    ++run;
    TcpConnection &slot = table[index];
    if (slot.in_use == kSlotDeleted) {
      if (!reusable) reusable = &slot;
      continue;
    }
    if (slot.in_use != kSlotInUse) {
      reusable = reusable ? reusable : &slot;
      break;
    }
    if (slot.hash == hash && holds_key(slot, key)) {
      *record = &slot;
      result = kFoundOrCreated;
      break;
    }
  }
  if (result != kFoundOrCreated && reusable && module().Tcp_currentconn <= kTcpMaxConnections) {
    claim(reusable, hash, key, reverse);
    *record = reusable;
    result = kFoundOrCreated;
  }
  module().bk_tcp_probe_total += run;
  if (run > module().BKTcpLongestChain) module().BKTcpLongestChain = run;
  if (result == kFoundOrCreated) {
    (*record)->last_time = xtime_seconds();
    ++(*record)->packets;
    (*record)->bytes += packet.total_length;
  }
  return result;
}

void BKTcpConnectionClose(TcpConnection *record, int) {
  unsigned long flags;
  local_irq_save(flags);
  if (record->in_use == kSlotInUse) {
    servers.remove(*record);
    record->state = kTcpClosed;
    free_slot(record);
    if (module().Tcp_currentconn) --module().Tcp_currentconn;
  }
  local_irq_restore(flags);
}

void BKTcpConnectionReset(TcpConnection *record) {
  record->drop = 1;
}

int BKTcpStateMachine(sk_buff *skb, const PacketView &packet, TcpConnection *record) {
  uint8_t flags = packet.tcp_flags();
  if (flags & kRst) {
    BKTcpConnectionClose(record, 0);
    return 0;
  }
  switch (record->state) {
    case kTcpNew:
      return step_new(skb, packet, record, flags);
    case kTcpSynSeen:
      if ((flags & (kSyn | kAck)) == (kSyn | kAck) && packet.source() == load32(record->key + 4)) {
        set_state(record, kTcpSynAckSeen);
        return 0;
      }
      if ((flags & (kSyn | kAck)) == kSyn) return 0;
      if (ack_alone(flags) && device_digit(skb) == '0') {
        set_state(record, kTcpEstablished);
        return 0;
      }
      return 1;
    case kTcpSynAckSeen:
      if (ack_alone(flags) && packet.source() == load32(record->key)) {
        set_state(record, kTcpEstablished);
        return 0;
      }
      return 1;
    case kTcpEstablished:
      if (flags & kFin) {
        set_state(record, kTcpFirstFin);
        record->closing = 0;
        record->first_fin_address = packet.source();
        return 0;
      }
      return (flags & (kAck | kSyn)) == kAck ? 0 : 1;
    case kTcpFirstFin:
    case kTcpFinAcked:
    case kTcpBothFin:
      return step_closing(packet, record, flags);
    case kTcpClosed:
    case kTcpInvalid:
      return 1;
    default:
      printk("TcpParse : default ???????... \n");
      set_state(record, kTcpInvalid);
      return 1;
  }
}

void BKTcpConnectionAgingOut() {
  module().MinLiveTime_in_EstState = 1800;
  module().MinLiveTime_in_AbnormalState = 60;
  uint32_t now = xtime_seconds();
  uint32_t to_visit = module().Tcp_currentconn;
  TcpConnection *table = tcp_table();
  for (uint32_t i = 0; i < kTcpTableRecords && to_visit > 0; ++i) {
    TcpConnection &record = table[i];
    if (record.in_use != kSlotInUse) continue;
    --to_visit;
    uint32_t idle = now - record.last_time;
    if (idle >= (record.state == kTcpEstablished ? kEstablishedLifetime : kOtherLifetime))
      BKTcpConnectionClose(&record, 1);
  }
}

void BKTcpConnectionForceAgingOut() {
  uint32_t now = xtime_seconds();
  TcpConnection *table = tcp_table();
  for (uint32_t i = 0; i < kTcpTableRecords; ++i)
    if (table[i].in_use == kSlotInUse && now - table[i].last_time > kForceIdle)
      BKTcpConnectionClose(&table[i], 2);
}

int BKTcpConnTrack(sk_buff *skb, const PacketView &packet) {
  if (!skb || !packet.transport || packet.protocol != kTcp) return -1;
  skb->conn = nullptr;
  uint32_t now = xtime_seconds();
  if (now - module().BKTcpAgingTimeStamp > kAgingPeriod) {
    BKTcpConnectionAgingOut();
    module().BKTcpAgingTimeStamp = now;
  }
  TcpConnection *record = nullptr;
  if (BKTcpConnectionFind(packet, &record) == kTableFull) {
    if (now - module().BKTcpForceAgingTimeStamp > kForceAgingPeriod) {
      BKTcpConnectionForceAgingOut();
      module().BKTcpForceAgingTimeStamp = now;
    }
    return 0;
  }
  skb->conn = record;
  if (record->drop == 1) return 1;
  unsigned long flags;
  local_irq_save(flags);
  BKTcpStateMachine(skb, packet, record);
  local_irq_restore(flags);
  return 0;
}

int BKTcpConnection_Check_EverInEstState(uint32_t address, uint16_t port_bytes) {
  return servers.find(address, load16(reinterpret_cast<const unsigned char *>(&port_bytes))) ? 1 : 0;
}

int BKTcpConnection_Check_HalfOpen(uint32_t address, uint16_t port) {
  const ServerIndex::Entry *server = servers.find(address, port);
  return server && server->half_open ? 1 : 0;
}

TcpConnection *bk_tcp_connection_of_packet(const sk_buff *skb, const PacketView &packet) {
  auto *record = static_cast<TcpConnection *>(skb->conn);
  if (!record || !module().pTcpConnectionTable || packet.protocol != kTcp || !packet.transport)
    return nullptr;
  if (record->in_use != kSlotInUse) return nullptr;
  uint8_t key[12];
  uint8_t reverse[12];
  build_key(packet, key, reverse);
  return holds_key(*record, key) ? record : nullptr;
}

}  // namespace vorn
