// The chip's priority classification: which of its four egress queues a received frame goes to, by the
// QoS registers of the receiving port.
//
//   0x77 bit 21      DSCP classification: an IPv4 frame's DSCP picks the queue
//   0x60             eight 4-bit queue fields: fields 0..6 belong to the exception slots, field 7 is
//                    the queue of every DSCP without a slot
//   0x61, 0x62       the DSCP value of slots 0..3 and 4..6, one byte each
//   0x6F bit 28      tag classification: a tagged frame's user priority picks the queue
//   0x75             the queue of user priority i in bits 4i..4i+1
//   0x6F bits 16-17  the queue of every other frame
#include "chip_model.h"

namespace swchip {

using namespace chipreg;

namespace {
constexpr unsigned kDscpSlots = 7;

// The DSCP of an IPv4 frame (tagged or not), or -1.
int ipv4_dscp(const std::vector<uint8_t> &frame) {
  size_t type_at = 12;
  if (frame.size() >= 16 && frame[12] == 0x81 && frame[13] == 0x00) type_at = 16;
  if (frame.size() < type_at + 4 || frame[type_at] != 0x08 || frame[type_at + 1] != 0x00) return -1;
  if ((frame[type_at + 2] >> 4) != 4) return -1;
  return frame[type_at + 3] >> 2;
}

// The user priority of a tagged frame, or -1.
int user_priority(const std::vector<uint8_t> &frame) {
  if (frame.size() < 16 || frame[12] != 0x81 || frame[13] != 0x00) return -1;
  return frame[14] >> 5;
}
}  // namespace

unsigned ChipModel::classify_queue(unsigned chip_port, const std::vector<uint8_t> &frame) const {
  const unsigned c = chip_port % kChipPorts;
  const uint32_t enable = peek(kBlockPort, c, kPortQosEnable);
  const int dscp = ipv4_dscp(frame);
  if ((peek(kBlockPort, c, kPortDscpEnable) >> 21 & 1) && dscp >= 0) {
    const uint32_t queues = peek(kBlockPort, c, kPortDscpQueues);
    const uint64_t slots =
        uint64_t{peek(kBlockPort, c, kPortDscpSlotsHigh)} << 32 | peek(kBlockPort, c, kPortDscpSlotsLow);
    for (unsigned n = 0; n < kDscpSlots; ++n) {
      if (((slots >> (8 * n)) & 0xFF) == static_cast<unsigned>(dscp)) return (queues >> (4 * n)) & 3;
    }
    return (queues >> 28) & 3;
  }
  const int priority = user_priority(frame);
  if ((enable >> 28 & 1) && priority >= 0) return (peek(kBlockPort, c, kPortTagQueues) >> (4 * priority)) & 3;
  return (enable >> 16) & 3;
}

}  // namespace swchip
