#include "vorn_verdict.h"

#include "vorn_descriptor.h"
#include "vorn_log.h"
#include "vorn_tracker.h"

namespace vorn {

namespace {

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

}  // namespace

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
  unsigned char *owner = header_only ? module().tables.header_items + (id - kHeaderOnlyBit) * kHeaderItemSize
                                     : module().tables.rule_records + id * kPatternRuleRecordSize;
  HitCounters counters{owner + (header_only ? kItemCounters : kRuleCounters)};
  const unsigned char *condition =
      header_only ? owner + kItemCondition : module().tables.conditions + id * kConditionSize;
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

void kkSignatureMatch_NonBlockingBackend(sk_buff *skb, const PacketView &packet, unsigned char *d,
                                         uint8_t *verdict) {
  *verdict = 0;
  TcpConnection *connection = packet.protocol == kTcp ? bk_tcp_connection_of_packet(skb, packet) : nullptr;
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
      const unsigned char *item = module().tables.header_items + (id - kHeaderOnlyBit) * kHeaderItemSize;
      category = item[kItemCategory];
      app = item[kItemAppId];
      attack_id = static_cast<uint16_t>((id - kHeaderOnlyBit) +
                                        load16(module().pVornRuleSetInfo + kRuleSetHeaderBase));
    } else {
      const unsigned char *rule = module().tables.rule_records + id * kPatternRuleRecordSize;
      category = rule[kRuleCategory];
      app = rule[kRuleAppId];
      attack_id = id;
    }
    if (category == 0) {
      TRAFFIC_PRINTK("Rule ERROR Category==0, bypass it\n ");
      continue;
    }
    if (app != 0 && module().tables.app_table[app].action == 0) continue;
    kkAddVornLog(packet, attack_id, category);
    if (connection) BKTcpConnectionReset(connection);
    *verdict = 1;
  }
}

}  // namespace vorn
