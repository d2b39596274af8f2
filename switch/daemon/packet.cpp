#include "packet.h"

#include "loop.h"
#include "mgmt.h"
#include "swc_cpu.h"
#include "trace.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

#define PACKET_TRACE(level, ...) \
  trace_printf(trace::kPacket, __func__, nullptr, __LINE__, 0, 0, level, __VA_ARGS__)
// A switch API call's result: traced only when it failed.
#define PACKET_API(call) TRACE_API_RESULT(trace::kPacket, call, trace::kDebug, #call)

inline constexpr uint32_t kObjRxCounters = 1000, kObjTestFrame = 1001, kObjPoolStatus = 1002;
inline constexpr size_t kEthertypeOffset = 12, kEthHeaderLength = 14;
inline constexpr uint16_t kEthertypeIpv4 = 0x0800, kEthertypeArp = 0x0806;
inline constexpr size_t kTxTraceBytes = 64;
// Passes the receive poll rests after the chip could not be read (about a second of an idle loop), so a
// missing or failing device costs a trace a second instead of a flood of them.
inline constexpr uint32_t kPollBackoffPasses = 1000;

struct PoolSpec {
  uint32_t size;
  uint32_t count;
  const char *name;
};
constexpr PoolSpec kPoolSpecs[kPacketPools] = {
    {kPacketSmallSize, kPacketSmallCount, "small"},
    {kPacketMediumSize, kPacketMediumCount, "medium"},
    {kPacketBigSize, kPacketBigCount, "big"},
};

// Distance from one buffer's head to the next one's: head and data, rounded so every head is aligned.
constexpr size_t buffer_stride(uint32_t size) {
  const size_t bytes = sizeof(PacketBuffer) + size;
  return (bytes + alignof(PacketBuffer) - 1) / alignof(PacketBuffer) * alignof(PacketBuffer);
}

struct FreeDeleter {
  void operator()(void *block) const { std::free(block); }
};

struct PacketModule {
  std::unique_ptr<void, FreeDeleter> block;
  PacketBuffer *free_list[kPacketPools] = {};
  uint32_t free_count[kPacketPools] = {};
  PacketBuffer *rx_list = nullptr;
  PacketBuffer *tx_list = nullptr;
  uint32_t rx_counters[kPacketRxQueues] = {};
  uint32_t rx_dropped = 0;
  uint32_t rx_undelivered = 0;
  uint32_t poll_backoff = 0;
  PacketReceiver l2_receiver = nullptr;
  PacketReceiver l3_receiver = nullptr;
};
PacketModule packets;

const char *state_name(uint32_t state) {
  return state == kPacketFree ? "PACKET_FREE" : state == kPacketUsed ? "PACKET_USED" : "???";
}

int pool_of_size(uint32_t size) {
  for (unsigned pool = 0; pool < kPacketPools; ++pool)
    if (kPoolSpecs[pool].size == size) return static_cast<int>(pool);
  return -1;
}

void push_free(unsigned pool, PacketBuffer *buffer) {
  buffer->state = kPacketFree;
  buffer->next = packets.free_list[pool];
  packets.free_list[pool] = buffer;
  ++packets.free_count[pool];
}

void append(PacketBuffer *&list, PacketBuffer *buffer) {
  buffer->next = nullptr;
  PacketBuffer **tail = &list;
  while (*tail) tail = &(*tail)->next;
  *tail = buffer;
}

PacketBuffer *take_head(PacketBuffer *&list) {
  PacketBuffer *head = list;
  if (head) {
    list = head->next;
    head->next = nullptr;
  }
  return head;
}

uint32_t list_length(const PacketBuffer *list) {
  uint32_t n = 0;
  for (; list; list = list->next) ++n;
  return n;
}

// One pool's buffers carved from `at`; each is linked in front of the previous one.
uint8_t *carve_pool(unsigned pool, uint8_t *at) {
  const PoolSpec &spec = kPoolSpecs[pool];
  for (uint32_t i = 0; i < spec.count; ++i) {
    auto *buffer = reinterpret_cast<PacketBuffer *>(at);
    *buffer = PacketBuffer{};
    buffer->data = at + sizeof(PacketBuffer);
    buffer->size = spec.size;
    push_free(pool, buffer);
    at += buffer_stride(spec.size);
  }
  return at;
}

void trace_hex_lines(const uint8_t *bytes, size_t length) {
  if (trace_module_level(trace::kPacket) < trace::kDebug)
    return;  // building the lines costs more than the frame's handling
  for (size_t line = 0; line < length; line += 16) {
    char text[16 * 3 + 1];
    size_t pos = 0;
    for (size_t i = line; i < length && i < line + 16; ++i)
      pos += static_cast<size_t>(
          std::snprintf(text + pos, sizeof text - pos, "%02x%c", bytes[i], i - line == 7 ? '-' : ' '));
    text[pos] = '\0';
    PACKET_TRACE(trace::kDebug, "%s", text);
  }
}

void send_one() {
  PacketBuffer *buffer = take_head(packets.tx_list);
  if (!buffer) return;
  PACKET_TRACE(trace::kDebug, "Tx frame, poag: %d, VID: %d, Length: %lu", static_cast<int>(buffer->poag_no),
               static_cast<int>(buffer->vid), static_cast<unsigned long>(buffer->length));
  trace_hex_lines(buffer->data, buffer->length < kTxTraceBytes ? buffer->length : kTxTraceBytes);
  if (buffer->vid != 0)
    PACKET_API(swc_cpu_tx_vlan_frame(buffer->vid, buffer->data, buffer->length));
  else
    PACKET_API(swc_cpu_tx_raw_frame(buffer->poag_no, buffer->data, buffer->length));
  packet_free(buffer);
}

void deliver(PacketBuffer *buffer) {
  PACKET_TRACE(trace::kDebug, "Rx frame, port: %d, queue_no: %d, VID: %d, Length: %lu",
               static_cast<int>(buffer->poag_no), static_cast<int>(buffer->queue_no),
               static_cast<int>(buffer->vid), static_cast<unsigned long>(buffer->length));
  trace_hex_lines(buffer->data, buffer->length);
  // Without a full Ethernet header there is no EtherType to dispatch on.
  if (buffer->length < kEthHeaderLength) {
    PACKET_TRACE(trace::kError, "Dropping short frame, length: %lu",
                 static_cast<unsigned long>(buffer->length));
    ++packets.rx_dropped;
    packet_free(buffer);
    return;
  }
  const uint16_t type =
      static_cast<uint16_t>(buffer->data[kEthertypeOffset] << 8 | buffer->data[kEthertypeOffset + 1]);
  const bool ip = type == kEthertypeIpv4 || type == kEthertypeArp;
  const PacketReceiver receiver = ip ? packets.l3_receiver : packets.l2_receiver;
  if (receiver) {
    receiver(buffer);
    return;
  }
  PACKET_TRACE(trace::kDebug, "No %s receiver, dropping type 0x%04x", ip ? "l3" : "l2",
               static_cast<unsigned>(type));
  ++packets.rx_undelivered;
  packet_free(buffer);
}

// Takes the head frame of one CPU queue into a buffer; false when this pass should stop.
bool receive_from(uint32_t queue) {
  const swc_rc ready = swc_cpu_rx_frameready(queue);
  if (ready < 0) {
    PACKET_TRACE(trace::kError, "swc_cpu_rx_frameready failed, rc: %d, queue_no: %d", ready,
                 static_cast<int>(queue));
    packets.poll_backoff = kPollBackoffPasses;
    return false;
  }
  if (ready == 0) return true;
  SwcCpuRxHeader header{};
  swc_rc rc = swc_cpu_rx_frame(queue, &header, nullptr, 0);
  if (rc != kSwcRcRxBuffer) {
    // The chip layer has already dropped a frame whose header it could not trust.
    ++packets.rx_dropped;
    PACKET_TRACE(trace::kError, "swc_cpu_rx_frame failed 1, rc: %d, rx_frames: %ld, queue_no: %d", rc,
                 static_cast<long>(packets.rx_counters[queue]), static_cast<int>(queue));
    return false;
  }
  PacketBuffer *buffer = packet_alloc(header.length);
  if (!buffer) {
    PACKET_TRACE(trace::kError, "Rx packet_alloc failed");
    ++packets.rx_dropped;
    PACKET_API(swc_cpu_rx_discard_frame(queue));
    return false;
  }
  rc = swc_cpu_rx_frame(queue, &header, buffer->data, buffer->size);
  if (rc < 0) {
    PACKET_TRACE(trace::kError, "swc_cpu_rx_frame failed 2");
    ++packets.rx_dropped;
    packet_free(buffer);
    return false;
  }
  buffer->poag_no = header.port_no;
  buffer->vid = header.vid;
  buffer->length = header.length;
  buffer->queue_no = queue;
  append(packets.rx_list, buffer);
  ++packets.rx_counters[queue];
  return true;
}

void mgmt_rx_counters(MgmtObject &object) {
  if (!object.has_data(4 * kPacketRxQueues)) {
    object.set_res(kMgmtResFail);
    return;
  }
  if (object.cmd() == kMgmtCmdGet) {
    for (unsigned q = 0; q < kPacketRxQueues; ++q) object.set_data32(4 * q, packets.rx_counters[q]);
  } else if (object.cmd() == kMgmtCmdSet) {
    for (auto &counter : packets.rx_counters) counter = 0;
  } else {
    object.set_res(kMgmtResFail);
    return;
  }
  object.set_res(kMgmtResOk);
}

// A frame of `length` bytes to the destination from the source, filled with 0xAA after the addresses.
int send_test_frame(uint32_t poag_no, uint32_t length, const uint8_t *source, const uint8_t *destination) {
  if (length < kEthHeaderLength) return -1;
  PacketBuffer *buffer = packet_alloc(length);
  if (!buffer) return -1;
  for (uint32_t i = 0; i < length; ++i)
    buffer->data[i] = i < 6 ? destination[i] : i < 12 ? source[i - 6] : 0xAA;
  buffer->length = length;
  buffer->poag_no = poag_no;
  buffer->vid = 0;
  return packet_tx(buffer);
}

void mgmt_test_frame(MgmtObject &object) {
  constexpr size_t kDataSize = 4 + 4 + 6 + 2 + 6;
  if (object.cmd() != kMgmtCmdSet || !object.has_data(kDataSize)) {
    object.set_res(kMgmtResFail);
    return;
  }
  const uint8_t *data = object.data();
  const int rc = send_test_frame(object.data32(0), object.data32(4), data + 8, data + 16);
  object.set_res(rc == 0 ? kMgmtResOk : kMgmtResFail);
}

void mgmt_pool_status(MgmtObject &object) {
  constexpr size_t kWords = kPacketPools + 4;
  if (object.cmd() != kMgmtCmdGet || !object.has_data(4 * kWords)) {
    object.set_res(kMgmtResFail);
    return;
  }
  const PacketStats stats = packet_stats_get();
  const uint32_t values[kWords] = {stats.free[0], stats.free[1],    stats.free[2],       stats.rx_list,
                                   stats.tx_list, stats.rx_dropped, stats.rx_undelivered};
  for (size_t i = 0; i < kWords; ++i) object.set_data32(4 * i, values[i]);
  object.set_res(kMgmtResOk);
}

}  // namespace

size_t packet_block_size() {
  size_t total = 0;
  for (const PoolSpec &spec : kPoolSpecs) total += spec.count * buffer_stride(spec.size);
  return total;
}

void packet_buffer_init() {
  for (auto &counter : packets.rx_counters) counter = 0;
  packets.rx_dropped = 0;
  packets.rx_undelivered = 0;
  packets.poll_backoff = 0;
  packets.rx_list = nullptr;
  packets.tx_list = nullptr;
  for (unsigned pool = 0; pool < kPacketPools; ++pool) {
    packets.free_list[pool] = nullptr;
    packets.free_count[pool] = 0;
  }
  packets.block.reset(std::malloc(packet_block_size()));
  if (!packets.block) {
    PACKET_TRACE(trace::kError, "malloc %lu failed", static_cast<unsigned long>(packet_block_size()));
    return;
  }
  auto *at = static_cast<uint8_t *>(packets.block.get());
  for (unsigned pool = 0; pool < kPacketPools; ++pool) at = carve_pool(pool, at);
}

void packet_init() {
  PACKET_TRACE(trace::kDebug, "Init");
  packet_buffer_init();
  loop_pass_hook_reg(packet_poll);
  loop_ms_hook_reg(packet_queue);
  mgmt_module_reg(1, packet_mgmt);
}

PacketBuffer *packet_alloc(uint32_t length) {
  for (unsigned pool = 0; pool < kPacketPools; ++pool) {
    if (length > kPoolSpecs[pool].size || !packets.free_list[pool]) continue;
    PacketBuffer *buffer = packets.free_list[pool];
    if (buffer->state != kPacketFree) {
      PACKET_TRACE(trace::kError, "Illegal state (%s): %s", kPoolSpecs[pool].name, state_name(buffer->state));
      return nullptr;
    }
    packets.free_list[pool] = buffer->next;
    --packets.free_count[pool];
    buffer->next = nullptr;
    buffer->state = kPacketUsed;
    buffer->poag_no = 0;
    buffer->vid = 0;
    buffer->queue_no = 0;
    buffer->length = 0;
    return buffer;
  }
  return nullptr;
}

void packet_free(PacketBuffer *buffer) {
  if (!buffer) return;
  if (buffer->state != kPacketUsed) {
    PACKET_TRACE(trace::kError, "Illegal state: %s", state_name(buffer->state));
    return;
  }
  const int pool = pool_of_size(buffer->size);
  if (pool < 0) {
    PACKET_TRACE(trace::kError, "Invalid size: %lu", static_cast<unsigned long>(buffer->size));
    return;
  }
  push_free(static_cast<unsigned>(pool), buffer);
}

int packet_tx(PacketBuffer *buffer) {
  if (!buffer) return -1;
  if (buffer->state != kPacketUsed) {
    PACKET_TRACE(trace::kError, "Illegal state: %s", state_name(buffer->state));
    return -1;
  }
  const char *refusal = nullptr;
  if (buffer->length > buffer->size)
    PACKET_TRACE(trace::kError, "Illegal length: %lu, max: %lu", static_cast<unsigned long>(buffer->length),
                 static_cast<unsigned long>(buffer->size));
  else if (buffer->poag_no == 0 && buffer->vid == 0)
    refusal = "Neither poag nor VID specified";
  else if (buffer->poag_no != 0 && buffer->vid != 0)
    refusal = "Both poag nor VID specified";
  else {
    append(packets.tx_list, buffer);
    return 0;
  }
  if (refusal) PACKET_TRACE(trace::kError, "%s", refusal);
  packet_free(buffer);
  return -1;
}

void packet_poll() {
  if (packets.poll_backoff > 0) {
    --packets.poll_backoff;
    return;
  }
  for (uint32_t queue = 1; queue <= kSwcCpuQueues; ++queue)
    if (!receive_from(queue)) return;
}

void packet_queue() {
  send_one();
  while (PacketBuffer *buffer = take_head(packets.rx_list)) deliver(buffer);
}

void packet_mgmt(MgmtObject &object) {
  switch (object.obj_id()) {
    case kObjRxCounters:
      mgmt_rx_counters(object);
      break;
    case kObjTestFrame:
      mgmt_test_frame(object);
      break;
    case kObjPoolStatus:
      mgmt_pool_status(object);
      break;
    default:
      object.set_res(kMgmtResNoHandler);
  }
}

void packet_l2_receiver_set(PacketReceiver receiver) {
  packets.l2_receiver = receiver;
}

void packet_l3_receiver_set(PacketReceiver receiver) {
  packets.l3_receiver = receiver;
}

uint8_t *swc_os_frame_alloc(uint32_t port, uint32_t length, void **buffer_ref) {
  *buffer_ref = nullptr;
  if (port < 1 || port > kSwcPorts) {
    PACKET_TRACE(trace::kError, "illegal port_no: %d", static_cast<int>(port));
    return nullptr;
  }
  PacketBuffer *buffer = packet_alloc(length);
  if (!buffer) return nullptr;
  *buffer_ref = buffer;
  return buffer->data;
}

int swc_os_frame_send(uint32_t port, uint8_t *frame, uint32_t length, void *buffer_ref) {
  auto *buffer = static_cast<PacketBuffer *>(buffer_ref);
  if (!buffer || buffer->data != frame) return 1;
  if (port < 1 || port > kSwcPorts) {
    PACKET_TRACE(trace::kError, "illegal port_no: %d", static_cast<int>(port));
    packet_free(buffer);
    return 1;
  }
  buffer->poag_no = port;
  buffer->vid = 0;
  buffer->length = length;
  return packet_tx(buffer) == 0 ? 0 : 1;
}

PacketStats packet_stats_get() {
  PacketStats stats{};
  for (unsigned pool = 0; pool < kPacketPools; ++pool) stats.free[pool] = packets.free_count[pool];
  stats.rx_list = list_length(packets.rx_list);
  stats.tx_list = list_length(packets.tx_list);
  stats.rx_dropped = packets.rx_dropped;
  stats.rx_undelivered = packets.rx_undelivered;
  return stats;
}

uint32_t packet_rx_count(unsigned queue_no) {
  return queue_no < kPacketRxQueues ? packets.rx_counters[queue_no] : 0;
}

const char *mac_addr_txt(const uint8_t *mac) {
  static char text[18];
  std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                mac[5]);
  return text;
}

const char *link_state_txt(uint32_t state) {
  switch (state & 0xFF) {
    case 0:
      return "down";
    case 1:
      return "up";
    default:
      return "Undef";
  }
}

const char *link_duplex_txt(uint32_t duplex) {
  switch (duplex & 0xFF) {
    case 0:
      return "half";
    case 1:
      return "full";
    default:
      return "undef";
  }
}

const char *stp_state_txt(uint32_t state) {
  static const char *const kNames[] = {"dis", "blk", "lrn", "fwd", "enb"};
  const uint32_t s = state & 0xFF;
  return s < 5 ? kNames[s] : "undef";
}
