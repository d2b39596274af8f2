// TCP connection tracker: a 65536-record open-addressing table in DMA-coherent memory.
#pragma once

#include <cstdint>

#include "vorn_module.h"
#include "vorn_packet.h"

namespace vorn {

constexpr uint32_t kTcpTableRecords = 65536;
constexpr uint32_t kTcpMaxConnections = 0x5fff;  // no new record while more than this are in use
// A record lies at most this many slots past its hash index, so a look-up costs a bounded run however
// the connections' hashes pile up. A new connection finding no slot within the run is refused as when
// the table is full; the hash is keyed by a seed drawn at each start, so traffic cannot choose keys
// that share an index, and at the connection limit the runs stay far shorter than this.
constexpr uint32_t kTcpProbeLimit = 256;

// Slot use: 0 never used, 1 in use, 2 freed (probe runs continue past it; readers test for 1).
enum SlotUse : uint8_t { kSlotFree = 0, kSlotInUse = 1, kSlotDeleted = 2 };

enum TcpState : uint8_t {
  kTcpNew = 0,
  kTcpSynSeen = 1,
  kTcpSynAckSeen = 2,
  kTcpEstablished = 3,
  kTcpFirstFin = 4,
  kTcpFinAcked = 5,
  kTcpClosed = 6,
  kTcpBothFin = 7,
  kTcpInvalid = 15,
};

#pragma pack(push, 1)
struct TcpConnection {
  uint8_t in_use;
  uint8_t state;
  uint8_t drop;
  uint8_t closing;
  uint32_t hash;
  uint8_t key[12];
  uint8_t reverse_key[12];
  uint32_t last_time;
  uint32_t packets;
  uint64_t bytes;
  uint16_t server_port;
  uint16_t attack_id;
  uint32_t first_fin_address;
  uint32_t created;
  uint32_t unused;
};
#pragma pack(pop)
static_assert(sizeof(TcpConnection) == 64);
static_assert(offsetof(TcpConnection, key) == 8);
static_assert(offsetof(TcpConnection, reverse_key) == 20);
static_assert(offsetof(TcpConnection, last_time) == 32);
static_assert(offsetof(TcpConnection, bytes) == 40);
static_assert(offsetof(TcpConnection, server_port) == 48);
static_assert(offsetof(TcpConnection, first_fin_address) == 52);
static_assert(offsetof(TcpConnection, created) == 56);

// Table full also stands for a run of kTcpProbeLimit slots with none to spare.
enum FindResult : int { kFoundOrCreated = 0, kTableFull = 1 };

void DoBKTcpConntrackInit();
void DoBKTcpConntrackCleanup();
// 1 drop, 0 pass, -1 no packet. Sets skb->conn to the connection record, or null.
int BKTcpConnTrack(sk_buff *skb, const PacketView &packet);
int BKTcpConnectionFind(const PacketView &packet, TcpConnection **record);
int BKTcpStateMachine(sk_buff *skb, const PacketView &packet, TcpConnection *record);
// The slot index of a key (a multiple of 4 below 65536); a key and its reverse share it.
uint32_t BKTcpConnectionHash(const uint8_t key[12]);
void BKTcpConnectionClose(TcpConnection *record, int reason);
void BKTcpConnectionReset(TcpConnection *record);
void BKTcpConnectionAgingOut();
void BKTcpConnectionForceAgingOut();
// 1 when an in-use record's key leads to `address` (as stored in the header) and the destination
// port whose bytes, as they stand in the header, `port_bytes` holds in memory.
int BKTcpConnection_Check_EverInEstState(uint32_t address, uint16_t port_bytes);
// 1 when an in-use record in state SYN seen leads to `address` and `port` (the port bytes read
// little-endian): a SYN+ACK from there answers a SYN that went out another way.
int BKTcpConnection_Check_HalfOpen(uint32_t address, uint16_t port);
// The connection a queued packet was tracked under, if that record still holds this packet's
// connection (records can be closed and reused while the packet waits for the engine).
TcpConnection *bk_tcp_connection_of_packet(const sk_buff *skb, const PacketView &packet);
inline TcpConnection *tcp_table() {
  return reinterpret_cast<TcpConnection *>(module().pTcpConnectionTable);
}

}  // namespace vorn
