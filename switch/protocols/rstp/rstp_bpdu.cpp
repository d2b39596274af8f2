#include "rstp_bpdu.h"

#include "le.h"

#include <algorithm>
#include <cstring>

namespace rstp {
namespace {

void put_id(uint8_t *p, const BridgeId &id) {
  be_store16(p, id.priority);
  std::memcpy(p + 2, id.mac.data(), 6);
}
BridgeId get_id(const uint8_t *p) {
  BridgeId id;
  id.priority = be_load16(p);
  std::memcpy(id.mac.data(), p + 2, 6);
  return id;
}

template <typename T>
Order order_of(T a, T b) {
  return a < b ? Order::kBetter : a > b ? Order::kWorse : Order::kEqual;
}

}  // namespace

Order compare(const BridgeId &a, const BridgeId &b) {
  if (a.priority != b.priority) return order_of(a.priority, b.priority);
  int c = std::memcmp(a.mac.data(), b.mac.data(), 6);
  return c < 0 ? Order::kBetter : c > 0 ? Order::kWorse : Order::kEqual;
}

Order compare(const PriorityVector &a, const PriorityVector &b) {
  Order o = compare(a.root, b.root);
  if (o == Order::kEqual) o = order_of(a.root_path_cost, b.root_path_cost);
  if (o == Order::kEqual) o = compare(a.designated_bridge, b.designated_bridge);
  if (o == Order::kEqual) o = order_of(a.designated_port, b.designated_port);
  if (o == Order::kEqual) o = order_of(a.bridge_port, b.bridge_port);
  return o;
}

Times clamp_times(Times t) {
  t.hello_time = std::clamp(t.hello_time, kMinHello, kMaxHello);
  t.forward_delay = std::clamp(t.forward_delay, kMinForwardDelay, kMaxForwardDelay);
  t.max_age = std::clamp(t.max_age, kMinMaxAge, kMaxMaxAge);
  return t;
}

size_t encode_bpdu(const Bpdu &b, const Mac &source, uint8_t *out) {
  size_t length = bpdu_length(b.type);
  std::memset(out, 0, kBpduHeaderLength + length);
  std::memcpy(out, kBpduMac.data(), 6);
  std::memcpy(out + 6, source.data(), 6);
  be_store16(out + 12, uint16_t(length + 3));
  out[14] = 0x42;
  out[15] = 0x42;
  out[16] = 0x03;
  out[19] = b.version;
  out[20] = b.type;
  if (b.type == kBpduTcn) return kBpduHeaderLength + length;
  out[21] = b.flags;
  put_id(out + 22, b.vector.root);
  be_store32(out + 30, b.vector.root_path_cost);
  put_id(out + 34, b.vector.designated_bridge);
  be_store16(out + 42, b.vector.designated_port);
  out[44] = b.times.message_age;
  out[46] = b.times.max_age;
  out[48] = b.times.hello_time;
  out[50] = b.times.forward_delay;
  return kBpduHeaderLength + length;
}

Decode decode_bpdu(const uint8_t *frame, size_t length, Bpdu &out) {
  if (length < kBpduHeaderLength + kTcnBpduLength) return Decode::kIllegal;
  if (frame[14] != 0x42 || frame[15] != 0x42 || frame[16] != 0x03 || be_load16(frame + 17) != 0)
    return Decode::kUnrecognised;
  Bpdu b;
  b.version = frame[19];
  b.type = frame[20];
  if (b.type != kBpduConfig && b.type != kBpduTcn && !(b.type == kBpduRst && b.version >= 2))
    return Decode::kUnrecognised;
  size_t need = bpdu_length(b.type);
  size_t llc_length = be_load16(frame + 12);
  if (llc_length < need + 3 || llc_length > length - 14) return Decode::kIllegal;
  if (b.type != kBpduTcn) {
    b.flags = frame[21];
    b.vector.root = get_id(frame + 22);
    b.vector.root_path_cost = be_load32(frame + 30);
    b.vector.designated_bridge = get_id(frame + 34);
    b.vector.designated_port = be_load16(frame + 42);
    b.times.message_age = frame[44];
    b.times.max_age = frame[46];
    b.times.hello_time = frame[48];
    b.times.forward_delay = frame[50];
    Times clamped = clamp_times(b.times);
    clamped.message_age = b.times.message_age;
    b.times = clamped;
  }
  out = b;
  return Decode::kOk;
}

}  // namespace rstp
