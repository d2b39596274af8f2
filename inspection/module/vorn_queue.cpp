#include "vorn_queue.h"

#include "vorn_descriptor.h"
#include "vorn_engine.h"
#include "vorn_log.h"

namespace vorn {

namespace {

// Header-rule groups of the rule set: first, last and enable, one group per protocol class.
constexpr uint32_t kRuleSetGroupTcp = 12;
constexpr uint32_t kRuleSetGroupUdp = 18;
constexpr uint32_t kRuleSetGroupIcmp = 24;
constexpr uint32_t kRuleSetGroupOther = 30;

enum ProtocolClass : unsigned { kClassTcp = 0, kClassUdp = 1, kClassIcmp = 2, kClassOther = 3 };

ProtocolClass protocol_class(uint8_t protocol) {
  switch (protocol) {
    case kTcp:
      return kClassTcp;
    case kUdp:
      return kClassUdp;
    case kIcmp:
      return kClassIcmp;
    default:
      return kClassOther;
  }
}

void fill_header_group(unsigned char *descriptor, uint8_t protocol) {
  static constexpr uint32_t kGroups[] = {kRuleSetGroupTcp, kRuleSetGroupUdp, kRuleSetGroupIcmp,
                                         kRuleSetGroupOther};
  ProtocolClass type = protocol_class(protocol);
  const unsigned char *group = module().pVornRuleSetInfo + kGroups[type];
  uint16_t first = load16(group);
  uint16_t last = load16(group + 2);
  uint16_t enable = load16(group + 4);
  unsigned char *out = descriptor + kDescHeaderGroups + kDescHeaderGroupSize * type;
  out[0] = static_cast<unsigned char>(first);
  out[1] = (first >> 8) & 1;
  out[2] = static_cast<unsigned char>(last);
  out[3] = static_cast<unsigned char>(((last >> 8) & 1) | (enable ? 0x80 : 0));
}

void fill_packet_fields(unsigned char *d, const PacketView &packet) {
  const unsigned char *ip = packet.ip;
  const unsigned char *l4 = packet.transport;
  d[kDescProtocol] = packet.protocol;
  switch (packet.protocol) {
    case kTcp:
    case kUdp:
      store16(d + kDescDestinationPort, packet.destination_port());
      store16(d + kDescPortField, packet.destination_port());
      store16(d + kDescSourceField, packet.source_port());
      d[kDescFlagsField] = packet.protocol == kTcp ? l4[13] & 0x3f : ip[1];
      d[kDescCodeField] = packet.protocol == kTcp ? static_cast<unsigned char>(l4[12] >> 4) : ip[8];
      break;
    case kIcmp:
      store16(d + kDescPortField, be16(l4 + 4));
      store16(d + kDescSourceField, static_cast<uint16_t>(packet.total_length));
      d[kDescFlagsField] = l4[0];
      d[kDescCodeField] = l4[1];
      store16(d + kDescSequenceField, be16(l4 + 6));
      break;
    default:
      store16(d + kDescPortField, be16(ip + 6));
      store16(d + kDescSourceField, static_cast<uint16_t>(packet.total_length));
      d[kDescFlagsField] = ip[1];
      d[kDescCodeField] = ip[8];
      break;
  }
  fill_header_group(d, packet.protocol);
}

void fill_payload(unsigned char *d, const PacketView &packet, dma_addr_t ip_bus) {
  uint32_t payload_offset = static_cast<uint32_t>(packet.payload - packet.ip);
  store32(d + kDescPayloadAddress, ip_bus + payload_offset + kQxBusOffset);
  d[kDescPayloadLength] = static_cast<unsigned char>(packet.payload_length);
  d[kDescPayloadLength + 1] = static_cast<unsigned char>(packet.payload_length >> 8);
  d[kDescPayloadLength + 2] = static_cast<unsigned char>(packet.payload_length >> 16);
}

}  // namespace

int kkSignatureMatch_NonBlocking(sk_buff *skb, const PacketView &packet, uint8_t mark, int *code) {
  ModuleState &m = module();
  *code = kInspectQueued;
  bool queued = false;
  unsigned char *d = descriptor_at(m.desc_write_index);
  dma_addr_t ip_bus = virt_to_bus(packet.ip);
  if (!descriptor_done(d) || !ip_bus) {
    TRAFFIC_PRINTK("%s:DESC_QFULL,wIndex=%d,rIndex=%d\n", "kkSignatureMatch_NonBlocking",
                   static_cast<int>(m.desc_write_index), static_cast<int>(m.desc_read_index));
    *code = kDescriptorBusy;
  } else if ((m.desc_write_index + 1) % m.num_of_total_desc == m.desc_read_index) {
    *code = kRingFull;
  } else {
    std::memset(d, 0, kDescFilledBytes);
    d[kDescResultCount] = 0;
    d[kDescDone] |= kDescDoneBit;
    fill_packet_fields(d, packet);
    fill_payload(d, packet, ip_bus);
    d[kDescMark] = mark;
    consistent_sync(packet.payload, packet.payload_length, DMA_TO_DEVICE);
    d[kDescControl] = kDescFirst | kDescLast | kDescInterrupt |
                      (m.desc_write_index == m.num_of_total_desc - 1 ? kDescEndOfRing : 0);
    if (m.MappingTable_IpsDescriptorToSkb[m.desc_write_index]) {
      TRAFFIC_PRINTK("NULL==MappingTable_IpsDescriptorToSkb[desc_write_index]\n");
      *code = kRingFull;
    } else {
      m.MappingTable_IpsDescriptorToSkb[m.desc_write_index] = skb;
      m.held_packets[m.desc_write_index] = packet;
      m.desc_write_index = (m.desc_write_index + 1) % m.num_of_total_desc;
      d[kDescDone] &= static_cast<unsigned char>(~kDescDoneBit);
      note_payload_bytes(packet.payload_length);
      queued = true;
      if (m.DriverState == kStateOk) {
        qxInsertionDescComplete();
      } else {
        *code = kEngineNotStarted;
      }
    }
  }
  if (*code != kInspectQueued && *code != kRingFull) TRAFFIC_PRINTK("ErrorCode=%d\n", *code);
  return queued ? 0 : 1;
}

}  // namespace vorn
