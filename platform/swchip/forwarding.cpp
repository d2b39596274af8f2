// The chip's forwarding of frames received on its ports, as far as the switch software's registers
// decide it. Model choices where the chip's behaviour is not visible to the software:
// - a port receives only while its receive enable (port register 0 bit 16) is set;
// - 01-80-C2-00-00-0x frames go to CPU queue 1 when (2,0,0xA0) bit 16, or bit x, asks for them,
//   whatever the port's masks say, and are not forwarded;
// - MAC entries with copy-to-CPU send a copy to CPU queue 2;
// - the CPU gets frames without their 802.1Q tag, the tag control in the queue header;
// - unknown unicast, broadcast and multicast flood to destination entry 8 and (2,0,0x10); unknown
//   IPv4 multicast floods to (2,0,4);
// - the aggregation code is 1 + (the XOR of the address bytes) mod 16.
#include "chip_model.h"

namespace swchip {

using namespace chipreg;

namespace {

constexpr size_t kAddresses = 12;
constexpr size_t kEthHeader = 14;
constexpr size_t kTagLength = 4;
constexpr size_t kFcs = 4;
constexpr size_t kMinWireFrame = 60;
constexpr size_t kMaxWireFrame = 9600;
constexpr uint16_t kTpid = 0x8100;
constexpr uint32_t kPortMask = 0x5F;  // chip ports 0-4 and 6

constexpr unsigned kFloodDestination = 8;

uint64_t address_at(const std::vector<uint8_t> &frame, size_t offset) {
  uint64_t v = 0;
  for (size_t i = 0; i < 6; ++i) v = v << 8 | frame[offset + i];
  return v;
}

bool tagged(const std::vector<uint8_t> &frame) {
  return frame.size() >= kEthHeader + kTagLength && (frame[12] << 8 | frame[13]) == kTpid;
}

bool reserved_address(const std::vector<uint8_t> &frame, unsigned &last_nibble) {
  static const uint8_t kPrefix[5] = {0x01, 0x80, 0xC2, 0x00, 0x00};
  for (size_t i = 0; i < 5; ++i)
    if (frame[i] != kPrefix[i]) return false;
  if (frame[5] > 0x0F) return false;
  last_nibble = frame[5];
  return true;
}

std::vector<uint8_t> without_tag(const std::vector<uint8_t> &frame) {
  std::vector<uint8_t> out(frame.begin(), frame.begin() + kAddresses);
  out.insert(out.end(), frame.begin() + kAddresses + kTagLength, frame.end());
  return out;
}

std::vector<uint8_t> with_tag(const std::vector<uint8_t> &frame, uint16_t tci) {
  std::vector<uint8_t> out(frame.begin(), frame.begin() + kAddresses);
  out.push_back(kTpid >> 8);
  out.push_back(kTpid & 0xFF);
  out.push_back(static_cast<uint8_t>(tci >> 8));
  out.push_back(static_cast<uint8_t>(tci));
  out.insert(out.end(), frame.begin() + kAddresses, frame.end());
  return out;
}

unsigned aggregation_code(const std::vector<uint8_t> &frame) {
  uint8_t x = 0;
  for (size_t i = 0; i < kAddresses; ++i) x ^= frame[i];
  return 1 + (x & 15);
}

}  // namespace

void ChipModel::hardware_learn(uint32_t vid, uint64_t mac, unsigned chip_port) {
  if (mac >> 40 & 1) return;  // only unicast sources are learned
  const uint32_t high = (vid & 0xFFF) << 16 | static_cast<uint32_t>(mac >> 32 & 0xFFFF);
  const uint32_t low = static_cast<uint32_t>(mac);
  const uint32_t flags = kMacFlagValid | (chip_port & 0x3F) << kMacPgidShift;
  if (const int same = mac_find(vid, mac); same >= 0) {
    MacEntry &e = mac_table_[same];
    if (e.flags & kMacFlagLocked) return;
    if (e.flags != flags) raise_mac_event(kEventChanged);
    e = MacEntry{true, false, flags, high, low};
    return;
  }
  uint8_t bytes[6];
  for (int i = 0; i < 6; ++i) bytes[i] = static_cast<uint8_t>(mac >> (40 - 8 * i));
  const unsigned bucket = mac_bucket(vid, bytes);
  for (unsigned slot = 0; slot < 4; ++slot) {
    MacEntry &e = mac_table_[bucket * 4 + slot];
    if (e.valid) continue;
    e = MacEntry{true, false, flags, high, low};
    raise_mac_event(kEventLearned);
    return;
  }
  raise_mac_event(kEventLearnFailed);
}

uint32_t ChipModel::destination_mask(uint32_t vid, const std::vector<uint8_t> &frame,
                                     bool &copy_to_cpu) const {
  const uint64_t destination = address_at(frame, 0);
  copy_to_cpu = false;
  if (const int found = mac_find(vid, destination); found >= 0) {
    const MacEntry &e = mac_table_[found];
    copy_to_cpu = e.flags & kMacFlagCpu;
    if (e.flags & kMacFlagIpmc) return (e.high & 0xFFFF) << 8 | e.low >> 24;
    return stored(ana_dest_mask((e.flags >> kMacPgidShift) & 0x3F));
  }
  if (destination >> 24 == 0x01005E) return stored(kAnaIpmcFlood);
  return stored(ana_dest_mask(kFloodDestination)) & stored(kAnaFlood);
}

void ChipModel::receive_frame(unsigned chip_port, const std::vector<uint8_t> &frame) {
  if (chip_port >= kChipPorts || frame.size() < kEthHeader || frame.size() > kMaxWireFrame) {
    ++ingress_drops_;
    return;
  }
  const uint32_t config = stored(kBlockPort, chip_port, kPortConfig);
  const uint32_t max_length = stored(kBlockPort, chip_port, kPortMaxLength) & 0x1FFFF;
  const bool has_tag = tagged(frame);
  const bool too_long = max_length != 0 && frame.size() + kFcs > max_length + (has_tag ? kTagLength : 0);
  if (!(config & kPortRxEnable) || (stored(kArbDiscard) >> chip_port & 1) || too_long) {
    ++ingress_drops_;
    return;
  }

  // VLAN classification: an aware port takes the tag's VID (0: the port's own), an unaware one keeps
  // any tag as payload and classifies by the port VID.
  const bool aware = config & kPortVlanAware;
  const uint32_t acceptance = stored(kBlockPort, chip_port, kPortAcceptance);
  if (aware && (((acceptance & 4) && !has_tag) || ((acceptance & 2) && has_tag))) {
    ++ingress_drops_;
    return;
  }
  const uint32_t port_vid = stored(kBlockPort, chip_port, kPortVid) & 0xFFF;
  uint16_t tci = static_cast<uint16_t>(port_vid);
  if (aware && has_tag) {
    tci = static_cast<uint16_t>(frame[14] << 8 | frame[15]);
    if ((tci & 0xFFF) == 0) tci = static_cast<uint16_t>((tci & 0xF000) | port_vid);
  }
  const uint32_t vid = tci & 0xFFFu;
  const std::vector<uint8_t> inner = aware && has_tag ? without_tag(frame) : frame;
  const uint32_t vlan_mask = vlan_table_[vid].mask;
  if ((stored(kAnaIngressFilter) >> chip_port & 1) && !(vlan_mask >> chip_port & 1)) {
    ++ingress_drops_;
    return;
  }

  unsigned nibble = 0;
  const uint32_t capture = stored(kAnaCapture);
  if (reserved_address(inner, nibble) && ((capture & (1u << 16)) || (capture >> nibble & 1))) {
    inject_cpu_frame(1, chip_port, inner, tci);
    return;
  }
  if (stored(kAnaLearn) >> chip_port & 1) hardware_learn(vid, address_at(inner, 6), chip_port);

  const uint32_t source = stored(ana_source_mask(chip_port));
  if ((source & kPortMask) == 0) {
    ++ingress_drops_;
    return;
  }
  bool copy_to_cpu = false;
  uint32_t mask = destination_mask(vid, inner, copy_to_cpu);
  if (copy_to_cpu) inject_cpu_frame(2, chip_port, inner, tci);
  mask &= vlan_mask & source & kPortMask & ~(1u << chip_port);
  mask &= stored(ana_aggr_mask(aggregation_code(inner)));
  if (source >> kAnaIngressMirrorBit & 1) mask |= 1u << (stored(kAnaMirrorMonitor) & 0x1F);

  for (unsigned out = 0; out < kChipPorts; ++out) {
    if (!(mask >> out & 1) || out == chip_port || !(stored(kBlockPort, out, kPortConfig) & kPortRxEnable))
      continue;
    const uint32_t tagging = stored(kBlockPort, out, kPortEgressTag);
    const bool tag_out = (tagging & 1) && !((tagging & 8) && ((tagging >> 4) & 0xFFF) == vid);
    std::vector<uint8_t> wire = tag_out ? with_tag(inner, tci) : inner;
    if (wire.size() < kMinWireFrame) wire.resize(kMinWireFrame, 0);
    emit(out, std::move(wire));
  }
}

}  // namespace swchip
