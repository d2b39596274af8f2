#include "vorn_pipeline.h"

#include "vorn_checks.h"
#include "vorn_detectors.h"
#include "vorn_engine.h"
#include "vorn_tracker.h"

namespace vorn {

namespace {

constexpr uint32_t kRuleSetGroupTcp = 12;
constexpr uint32_t kRuleSetGroupUdp = 18;
constexpr uint32_t kRuleSetGroupIcmp = 24;
constexpr uint32_t kRuleSetGroupOther = 30;
constexpr uint8_t kPppIpv4 = 0x21;

// Messages caused by traffic are limited to a burst of 10 every 5 seconds, so a flood cannot turn
// into a flood of console output.
struct MessageWindow {
  unsigned long start = 0;
  int printed = 0;
  bool fresh = true;
};
MessageWindow TrafficMessages;

int finish(sk_buff *skb, int verdict) {
  IPS_CallBack(skb, verdict);
  VornLock_PacketInspect = 0;
  return verdict;
}

// 0: the IP header was found (skb->nh set); otherwise the frame is finished with verdict 0.
bool locate_pppoe_ip(sk_buff *skb) {
  const unsigned char *pppoe = skb->data;
  if (skb->len <= 5) {
    TRAFFIC_PRINTK("Not enough data to process a pppoe header\n");
    return false;
  }
  if (pppoe[1] != 0) {
    TRAFFIC_PRINTK("0!=pPPPoE_Header->code\n");
    return false;
  }
  if (skb->len < 7 || ((pppoe[6] & 1) == 0 && skb->len < 8)) {
    TRAFFIC_PRINTK("Not enough data to process a pppoe header\n");
    return false;
  }
  unsigned field = (pppoe[6] & 1) ? 1 : 2;
  uint16_t protocol = field == 1 ? pppoe[6] : be16(pppoe + 6);
  if (protocol != kPppIpv4) return false;
  if (!pskb_may_pull(skb, 6 + field + 20)) {
    TRAFFIC_PRINTK("Not enough data to process a pppoe header\n");
    return false;
  }
  skb->nh = skb->data + 6 + field;
  return true;
}

uint32_t rule_set_group(uint8_t protocol) {
  switch (protocol) {
    case kTcp:
      return kRuleSetGroupTcp;
    case kUdp:
      return kRuleSetGroupUdp;
    case kIcmp:
      return kRuleSetGroupIcmp;
    default:
      return kRuleSetGroupOther;
  }
}

void fill_header_group(unsigned char *descriptor, uint8_t protocol) {
  const unsigned char *group = pVornRuleSetInfo + rule_set_group(protocol);
  uint16_t first = load16(group);
  uint16_t last = load16(group + 2);
  uint16_t enable = load16(group + 4);
  unsigned char *out = descriptor + 20 +
                       4 * (protocol == kTcp    ? 0
                            : protocol == kUdp  ? 1
                            : protocol == kIcmp ? 2
                                                : 3);
  out[0] = static_cast<unsigned char>(first);
  out[1] = (first >> 8) & 1;
  out[2] = static_cast<unsigned char>(last);
  out[3] = static_cast<unsigned char>(((last >> 8) & 1) | (enable ? 0x80 : 0));
}

void fill_packet_fields(unsigned char *d, const PacketView &packet) {
  const unsigned char *ip = packet.ip;
  const unsigned char *l4 = packet.transport;
  d[6] = packet.protocol;
  switch (packet.protocol) {
    case kTcp:
    case kUdp:
      store16(d + 4, packet.destination_port());
      store16(d + 12, packet.destination_port());
      store16(d + 14, packet.source_port());
      d[16] = packet.protocol == kTcp ? l4[13] & 0x3f : ip[1];
      d[17] = packet.protocol == kTcp ? static_cast<unsigned char>(l4[12] >> 4) : ip[8];
      break;
    case kIcmp:
      store16(d + 12, be16(l4 + 4));
      store16(d + 14, static_cast<uint16_t>(packet.total_length));
      d[16] = l4[0];
      d[17] = l4[1];
      store16(d + 18, be16(l4 + 6));
      break;
    default:
      store16(d + 12, be16(ip + 6));
      store16(d + 14, static_cast<uint16_t>(packet.total_length));
      d[16] = ip[1];
      d[17] = ip[8];
      break;
  }
  fill_header_group(d, packet.protocol);
}

bool interface_selected(const sk_buff *skb, uint8_t selector) {
  const char *name = skb->dev ? skb->dev->name : "";
  switch (selector) {
    case 0:
      return true;
    case 1:
      return name[0] == 'e' && name[1] && name[2] && name[3] == '1';
    case 3:
      return name[0] == 'e' && name[1] && name[2] && (name[3] == '0' || name[3] == '2');
    default:
      return false;
  }
}

bool test_passes(const unsigned char *condition, uint32_t op_byte, uint32_t rule_value,
                 uint32_t packet_value) {
  return kkNK_OP_ValueCheck(condition[op_byte], packet_value, rule_value) == 1;
}

// The counters of a pattern rule record or a header-only rule item: hit counter, first-hit time,
// count threshold, duration.
struct HitCounters {
  unsigned char *base;
  uint16_t hits() const { return load16(base); }
  uint32_t first() const { return load32(base + 2); }
  uint16_t threshold() const { return load16(base + 6); }
  uint16_t duration() const { return load16(base + 8); }
};

bool result_id_in_range(uint16_t id) {
  if (id & kHeaderOnlyBit) return static_cast<uint16_t>(id - kHeaderOnlyBit) < kMaxHeaderRules;
  return id < kPatternRuleRecords;
}

bool application_check_on(uint8_t entry) {
  return Tables.app_table[entry].action == 1;
}

// The TCP service checks by destination port: HTTP and Telnet queue a decoded copy and let the packet
// go on to signature matching; FTP and RPC decide themselves.
bool tcp_service_check_drops(sk_buff *skb, const PacketView &packet) {
  int code = 0;
  switch (packet.destination_port()) {
    case 80:
      if (application_check_on(kAnomalyHttp)) kkAnomalyHttpCheck_NonBlocking(skb, packet, &code);
      return false;
    case 23:
      if (application_check_on(kAnomalyTelnet)) kkAnomalyTelnetCheck_NonBlocking(skb, packet, &code);
      return false;
    case 21:
      return application_check_on(kAnomalyFtp) && kkAnomalyFtpCheck(packet) == 1;
    default:
      return application_check_on(kAnomalyRpc) && kkAnomalyRpcCheck(packet) == 1;
  }
}

bool tcp_detectors_drop(sk_buff *skb, const PacketView &packet) {
  if (BKTcpConnTrack(skb, packet) == 1) return true;
  auto *connection = static_cast<TcpConnection *>(skb->conn);
  if ((!connection || connection->packets <= 1) && kkDetectPortScan(skb, packet) == 1) return true;
  if ((packet.tcp_flags() & (kSyn | kAck)) == kSyn) {
    if (Tables.threshold_table[kRuleIpSweep].action == 1 &&
        kkIpSweepDetect(packet, packet.destination_port()) == 1)
      return true;
    if (kkDetectDdos(packet, kRuleSynFlood) == 1) return true;
  }
  return tcp_service_check_drops(skb, packet);
}

// The detectors and anomaly checks that run before signature matching: true when one drops.
bool detectors_drop(sk_buff *skb, const PacketView &packet) {
  switch (packet.protocol) {
    case kIcmp:
      return kkDetectDdos(packet, kRuleIcmpFlood) == 1;
    case kIgmp:
      return kkDetectDdos(packet, kRuleIgmpFlood) == 1;
    case kUdp:
      if (kkDetectPortScan(skb, packet) == 1) {
        TRAFFIC_PRINTK("Drop by Port Scan UDP\n");
        return true;
      }
      return kkDetectDdos(packet, kRuleUdpFlood) == 1;
    case kTcp:
      return tcp_detectors_drop(skb, packet);
    default:
      return false;
  }
}

}  // namespace

void reset_traffic_messages() {
  TrafficMessages = MessageWindow{};
}

bool traffic_message_allowed() {
  unsigned long now = jiffies_now();
  if (TrafficMessages.fresh || now - TrafficMessages.start >= 5 * HZ)
    TrafficMessages = MessageWindow{now, 0, false};
  return TrafficMessages.printed++ < 10;
}

uint16_t event_base() {
  return load16(pVornRuleSetInfo + kRuleSetEventBase);
}

bool locate_ip_packet(const sk_buff *skb, PacketView *packet) {
  if (!skb->nh || skb->nh < skb->data || skb->nh > skb->data + skb->len) return false;
  return parse_ipv4(skb->nh, static_cast<size_t>(skb->data + skb->len - skb->nh), packet);
}

int kkNK_OP_ValueCheck(uint8_t op, uint32_t packet_value, uint32_t rule_value) {
  switch (op) {
    case 0:
      return 1;
    case 1:
      return packet_value == rule_value;
    case 2:
      return packet_value != rule_value;
    case 16:
      return packet_value > rule_value;
    case 32:
      return packet_value < rule_value;
    default:
      TRAFFIC_PRINTK("Unknown OP: %x!\n", op);
      return 0;
  }
}

int kkNK_HeaderRuleCheck(const sk_buff *, const PacketView &packet, const unsigned char *c) {
  const unsigned char *ip = packet.ip;
  uint32_t ip_payload = packet.total_length - packet.header_length;
  bool ip_ok = test_passes(c, 4, load16(c + 24), packet.total_length) &&
               test_passes(c, 5, load16(c + 26), be16(ip + 4)) && test_passes(c, 6, c[14], ip[8]) &&
               test_passes(c, 7, load32(c + 32), packet.header_length);
  if (!ip_ok) return 0;
  const unsigned char *l4 = packet.transport;
  switch (packet.protocol) {
    case kIcmp:
      return test_passes(c, 64, load32(c + 48), ip_payload);
    case kTcp:
      return test_passes(c, 90, load32(c + 60), ip_payload) &&
             test_passes(c, 92, load32(c + 68), be32(l4 + 4)) &&
             test_passes(c, 93, load32(c + 72), be32(l4 + 8)) &&
             test_passes(c, 94, load32(c + 76), be16(l4 + 18)) &&
             test_passes(c, 95, load32(c + 80), be16(l4 + 14));
    case kUdp:
      return test_passes(c, 70, load32(c + 60), be16(l4 + 4));
    default:
      return 0;
  }
}

int kkRepetitionDurationCheck(const sk_buff *skb, const PacketView &packet, uint16_t id) {
  bool header_only = (id & kHeaderOnlyBit) != 0;
  unsigned char *owner = header_only ? Tables.header_items + (id - kHeaderOnlyBit) * kHeaderItemSize
                                     : Tables.rule_records + id * kPatternRuleRecordSize;
  HitCounters counters{owner + (header_only ? kItemCounters : kRuleCounters)};
  const unsigned char *condition =
      header_only ? owner + kItemCondition : Tables.conditions + id * kConditionSize;
  uint32_t now = xtime_seconds();
  if (counters.first() == 0) store32(counters.base + 2, now);
  if (!interface_selected(skb, condition[15])) return 0;
  if (!kkNK_HeaderRuleCheck(skb, packet, condition)) return 0;
  if (counters.duration() != 0 && now - counters.first() > counters.duration()) {
    store32(counters.base + 2, now);
    store16(counters.base, 0);
    return 0;
  }
  // The counter stops at its top: wrapping would let a sustained attack pass again.
  uint16_t hits = counters.hits() == 0xffff ? 0xffff : static_cast<uint16_t>(counters.hits() + 1);
  store16(counters.base, hits);
  return hits > counters.threshold() ? 1 : 0;
}

int kkAddVornLog(const PacketView &packet, uint16_t attack_id, uint8_t category) {
  return kkAddVornLog(packet.source(), attack_id, category);
}

int kkAddVornLog(uint32_t source, uint16_t attack_id, uint8_t category) {
  unsigned long flags;
  local_irq_save(flags);
  VornKernLogQueue *ring = pVornKernLogQueue;
  uint32_t write = ring->write_index & kKernLogMask;
  if (((write + 1) & kKernLogMask) == (ring->read_index & kKernLogMask)) {
    local_irq_restore(flags);
    TRAFFIC_PRINTK("Kernel Result Queue is FULL\n");
    return 1;
  }
  ring->records[write] = VornLogRecord{source, attack_id, category, xtime_seconds()};
  ring->write_index = (write + 1) & kKernLogMask;
  local_irq_restore(flags);
  return 0;
}

int kkSignatureMatch_NonBlocking(sk_buff *skb, const PacketView &packet, uint8_t mark, int *code) {
  *code = 0;
  bool queued = false;
  unsigned char *d = descriptor_at(desc_write_index);
  dma_addr_t ip_bus = virt_to_bus(packet.ip);
  if (!descriptor_done(d) || !ip_bus) {
    TRAFFIC_PRINTK("%s:DESC_QFULL,wIndex=%d,rIndex=%d\n", "kkSignatureMatch_NonBlocking",
                   static_cast<int>(desc_write_index), static_cast<int>(desc_read_index));
    *code = -3;
  } else if ((desc_write_index + 1) % num_of_total_desc == desc_read_index) {
    *code = -2;
  } else {
    std::memset(d, 0, 36);
    d[kDescResultCount] = 0;
    d[kDescDone] |= kDescDoneBit;
    fill_packet_fields(d, packet);
    uint32_t payload_offset = static_cast<uint32_t>(packet.payload - packet.ip);
    store32(d, ip_bus + payload_offset + kQxBusOffset);
    d[8] = static_cast<unsigned char>(packet.payload_length);
    d[9] = static_cast<unsigned char>(packet.payload_length >> 8);
    d[10] = static_cast<unsigned char>(packet.payload_length >> 16);
    d[kDescMark] = mark;
    consistent_sync(packet.payload, packet.payload_length, DMA_TO_DEVICE);
    d[kDescControl] = kDescFirst | kDescLast | kDescInterrupt |
                      (desc_write_index == num_of_total_desc - 1 ? kDescEndOfRing : 0);
    if (MappingTable_IpsDescriptorToSkb[desc_write_index]) {
      TRAFFIC_PRINTK("NULL==MappingTable_IpsDescriptorToSkb[desc_write_index]\n");
      *code = -2;
    } else {
      MappingTable_IpsDescriptorToSkb[desc_write_index] = skb;
      desc_write_index = (desc_write_index + 1) % num_of_total_desc;
      d[kDescDone] &= static_cast<unsigned char>(~kDescDoneBit);
      note_payload_bytes(packet.payload_length);
      queued = true;
      if (DriverState == kStateOk) {
        qxInsertionDescComplete();
      } else {
        *code = -6;
      }
    }
  }
  if (*code != 0 && *code != -2) TRAFFIC_PRINTK("ErrorCode=%d\n", *code);
  return queued ? 0 : 1;
}

void kkSignatureMatch_NonBlockingBackend(sk_buff *skb, unsigned char *d, uint8_t *verdict) {
  *verdict = 0;
  PacketView packet;
  if (!locate_ip_packet(skb, &packet)) return;
  TcpConnection *connection = packet.protocol == kTcp ? BKTcpConnectionOfPacket(skb, packet) : nullptr;
  if (connection && connection->drop == 1) {
    *verdict = 1;
    return;
  }
  if (!descriptor_done(d)) {
    TRAFFIC_PRINTK("pDesc->sresult.o_bit==0,Fatal ERROR\n");
    return;
  }
  unsigned results = d[kDescResultCount] & 0x0f;
  if (results > kDescMaxResults) results = kDescMaxResults;
  for (unsigned i = 0; i < results; ++i) {
    uint16_t id = load16(d + kDescResults + 2 * i);
    if (!result_id_in_range(id)) {
      TRAFFIC_PRINTK("Result id(0x%X) out of range, bypass it\n", id);
      continue;
    }
    if (!kkRepetitionDurationCheck(skb, packet, id)) continue;
    uint8_t category;
    uint8_t app;
    uint16_t attack_id;
    if (id & kHeaderOnlyBit) {
      const unsigned char *item = Tables.header_items + (id - kHeaderOnlyBit) * kHeaderItemSize;
      category = item[kItemCategory];
      app = item[kItemAppId];
      attack_id =
          static_cast<uint16_t>((id - kHeaderOnlyBit) + load16(pVornRuleSetInfo + kRuleSetHeaderBase));
    } else {
      const unsigned char *rule = Tables.rule_records + id * kPatternRuleRecordSize;
      category = rule[kRuleCategory];
      app = rule[kRuleAppId];
      attack_id = id;
    }
    if (category == 0) {
      TRAFFIC_PRINTK("Rule ERROR Category==0, bypass it\n ");
      continue;
    }
    if (app != 0 && Tables.app_table[app].action == 0) continue;
    kkAddVornLog(packet, attack_id, category);
    if (connection) BKTcpConnectionReset(connection);
    *verdict = 1;
  }
}

int kkPacketInspect(sk_buff *skb, int *code) {
  VornLock_PacketInspect = 1;
  if (!pVornRuleSetInfo) {
    *code = -5;
    return finish(skb, 0);
  }
  if (ips_enable_word() != 1) {
    *code = -9;
    return finish(skb, 0);
  }
  if (skb->dev && std::strncmp(skb->dev->name, "lo", 2) == 0) return finish(skb, 0);
  uint16_t type = htons_k(skb->protocol);
  if (type == ETH_P_PPP_DISC) return finish(skb, 0);
  if (type != ETH_P_IP && type != ETH_P_PPP_SES) {
    *code = -8;
    return finish(skb, 0);
  }
  sk_buff *own = skb_share_check(skb, GFP_ATOMIC);
  if (!own) {
    TRAFFIC_PRINTK("skb_share_check() fail.\n");
    *code = -11;
    return finish(skb, 0);
  }
  skb = own;
  if (type == ETH_P_IP) {
    if (!pskb_may_pull(skb, 20)) {
      TRAFFIC_PRINTK("pskb_may_pull() fail\n");
      *code = -11;
      return finish(skb, 0);
    }
    skb->nh = skb->data;
  } else if (!locate_pppoe_ip(skb)) {
    return finish(skb, 0);
  }
  switch (kkIntegrityCheck(skb)) {
    case kIntegrityFailed:
      return finish(skb, 1);
    case kIntegrityFragment:
      return finish(skb, 0);
    default:
      break;
  }
  PacketView packet;
  if (!locate_ip_packet(skb, &packet)) return finish(skb, 0);  // unreadable: passed without checks
  if (detectors_drop(skb, packet)) return finish(skb, 1);

  int rc = kkSignatureMatch_NonBlocking(skb, packet, 0, code);
  if (rc != 0) netif_rx(skb);
  VornLock_PacketInspect = 0;
  return rc;
}

}  // namespace vorn
