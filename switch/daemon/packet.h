// CPU frame path of portvisor: fixed buffer pools allocated once at start, the receive list filled from
// the chip's CPU queues and handed to the router legs (IPv4, ARP) or the L2 dispatch, and the transmit
// list sent one frame per millisecond through the switch API.
#pragma once

#include <cstddef>
#include <cstdint>

struct MgmtObject;

enum PacketState : uint32_t { kPacketFree = 0, kPacketUsed = 1 };

// Head of every buffer; the data area follows it in the same block.
struct PacketBuffer {
  uint32_t poag_no;   // transmit: destination port or aggregation (0: none); receive: source port
  uint32_t vid;       // transmit: VLAN to flood in (0: none); receive: the frame's VLAN
  uint32_t queue_no;  // receive: the CPU queue it came from
  uint32_t length;    // frame length in bytes
  uint8_t *data;
  PacketBuffer *next;
  uint32_t state;
  uint32_t size;  // capacity of the data area
  uint32_t spare;
};
// 36 bytes on the router's 32-bit processor; the two pointers widen it on a 64-bit host.
static_assert(sizeof(PacketBuffer) == (sizeof(void *) == 4 ? 36 : 48));
static_assert(offsetof(PacketBuffer, data) == 16 && offsetof(PacketBuffer, state) == 16 + 2 * sizeof(void *));

inline constexpr uint32_t kPacketSmallSize = 64, kPacketMediumSize = 512, kPacketBigSize = 9604;
inline constexpr uint32_t kPacketSmallCount = 64, kPacketMediumCount = 32, kPacketBigCount = 32;
inline constexpr unsigned kPacketPools = 3;
inline constexpr unsigned kPacketRxQueues = 3;  // counters indexed by CPU queue 0..2 (1 and 2 used)

// Bytes of the one allocation: every buffer's head and data area, each buffer aligned for its head.
size_t packet_block_size();

// Module start: counters cleared, the block allocated, lists emptied, free lists built; registers
// packet_poll and packet_queue with the main loop and the management objects 1000..1002.
void packet_init();
void packet_buffer_init();

PacketBuffer *packet_alloc(uint32_t length);
void packet_free(PacketBuffer *buffer);
// Queues a filled buffer (data, length, exactly one of poag_no and vid) for sending: 0, or -1 (freed
// unless it was not in use).
int packet_tx(PacketBuffer *buffer);

// Main-loop hooks: at most one frame from each CPU queue per pass; one transmit and the hand-over of
// every received frame per new millisecond.
void packet_poll();
void packet_queue();

// Management objects of the thousand 1000.
void packet_mgmt(MgmtObject &object);

// Receivers of the frames taken from the CPU; they own the buffer and free it. Until a receiver is set
// its frames are traced, counted as undelivered and freed.
using PacketReceiver = void (*)(PacketBuffer *buffer);
void packet_l2_receiver_set(PacketReceiver receiver);
void packet_l3_receiver_set(PacketReceiver receiver);

// How the protocol engines send: a buffer for `length` bytes (its data area, or null), then the send
// (0 on success, 1 on failure). Ports 1..6.
uint8_t *swc_os_frame_alloc(uint32_t port, uint32_t length, void **buffer_ref);
int swc_os_frame_send(uint32_t port, uint8_t *frame, uint32_t length, void *buffer_ref);

// Pool and list state, for management object 1002 and tests.
struct PacketStats {
  uint32_t free[kPacketPools];  // small, medium, big
  uint32_t rx_list;             // frames waiting for their receiver
  uint32_t tx_list;             // frames waiting to be sent
  uint32_t rx_dropped;          // taken from a queue but malformed, or no buffer free
  uint32_t rx_undelivered;      // no receiver for its kind
};
PacketStats packet_stats_get();
// The receive counters of object 1000, per CPU queue.
uint32_t packet_rx_count(unsigned queue_no);

// Texts shared by the daemon's traces. mac_addr_txt returns one static buffer, overwritten by each call.
const char *mac_addr_txt(const uint8_t *mac);
const char *link_state_txt(uint32_t state);
const char *link_duplex_txt(uint32_t duplex);
const char *stp_state_txt(uint32_t state);
