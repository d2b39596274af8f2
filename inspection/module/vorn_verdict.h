// What a finished descriptor means for its packet: the engine's results checked against the rules'
// header conditions, interface selectors and repetition counters, logged, and turned into a verdict.
#pragma once

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

// Evaluates the descriptor that held `skb`, whose IP packet `packet` is as located when it was
// queued. *verdict: 1 drop, 0 pass.
void kkSignatureMatch_NonBlockingBackend(sk_buff *skb, const PacketView &packet, unsigned char *descriptor,
                                         uint8_t *verdict);
int kkRepetitionDurationCheck(const sk_buff *skb, const PacketView &packet, uint16_t id);
int kkNK_HeaderRuleCheck(const sk_buff *skb, const PacketView &packet, const unsigned char *condition);
int kkNK_OP_ValueCheck(uint8_t op, uint32_t packet_value, uint32_t rule_value);

}  // namespace vorn
