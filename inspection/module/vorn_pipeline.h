// The packet inspection pipeline: the receive hook, queuing to the engine, evaluation of finished
// descriptors, repetition and duration counting, header conditions and the log ring writer.
#ifndef INSPECTION_MODULE_VORN_PIPELINE_H
#define INSPECTION_MODULE_VORN_PIPELINE_H

#include <cstdint>

#include "vorn_module.h"
#include "vorn_packet.h"

namespace vorn {

// Pattern rule record fields (bytes of the 128-byte record).
constexpr uint32_t kRuleCategory = 94;
constexpr uint32_t kRuleAppId = 95;
constexpr uint32_t kRuleCounters = 96;  // hit counter, first-hit time, threshold, duration
// Header-only rule item fields.
constexpr uint32_t kItemCategory = 0;
constexpr uint32_t kItemAppId = 1;
constexpr uint32_t kItemCounters = 2;
constexpr uint32_t kItemCondition = 12;
constexpr uint16_t kHeaderOnlyBit = 0x8000;

int kkPacketInspect(sk_buff *skb, int *code);
int kkSignatureMatch_NonBlocking(sk_buff *skb, const PacketView &packet, uint8_t mark, int *code);
void kkSignatureMatch_NonBlockingBackend(sk_buff *skb, unsigned char *descriptor, uint8_t *verdict);
int kkRepetitionDurationCheck(const sk_buff *skb, const PacketView &packet, uint16_t id);
int kkNK_HeaderRuleCheck(const sk_buff *skb, const PacketView &packet, const unsigned char *condition);
int kkNK_OP_ValueCheck(uint8_t op, uint32_t packet_value, uint32_t rule_value);
int kkAddVornLog(const PacketView &packet, uint16_t attack_id, uint8_t category);
// The same for a packet whose header may not be readable as a whole: the source as stored.
int kkAddVornLog(uint32_t source, uint16_t attack_id, uint8_t category);
// The base of the module's own attack ids (rule-set byte 40).
uint16_t event_base();

// Finds the IP packet in a frame whose link header has been removed (IPv4 or a PPPoE session
// carrying IPv4). Used by the hook and again by the interrupt handler for a held packet.
bool locate_ip_packet(const sk_buff *skb, PacketView *packet);

// Messages caused by traffic come in bursts of at most 10 every 5 seconds; a new module starts afresh.
void reset_traffic_messages();
bool traffic_message_allowed();

#define TRAFFIC_PRINTK(...)                                     \
  do {                                                          \
    if (::vorn::traffic_message_allowed()) printk(__VA_ARGS__); \
  } while (0)

}  // namespace vorn

#endif
