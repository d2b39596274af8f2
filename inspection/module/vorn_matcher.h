// The engine model's matcher: computes a descriptor's results from the compiled tables, as the
// Quorix engine would. The device model (platform/kernel) calls it for each descriptor it fetches.
#pragma once

#include <cstdint>
#include <vector>

#include "quorix_device.h"

namespace vorn {

// Descriptor bytes 12..19: the ports or their substitutes, flags or type of service, header length
// or time to live, ICMP sequence; with the IP protocol (byte 6), which header rules of protocols
// other than TCP compare.
struct ExtractedField {
  uint16_t destination;
  uint16_t source;
  uint8_t flags;
  uint8_t length;
  uint16_t extra;
  uint8_t protocol;
};

struct ResultQueue {
  uint8_t count = 0;
  uint8_t flags = 0;  // 0x20 header queue full, 0x40 too many hit states, 0x80 result queue full
  uint16_t ids[12] = {};
  unsigned hit_states = 0;
  bool add(uint16_t id);
};

// Header rules listed by destination port, so that a packet meets only the rules that can pass it:
// a rule whose destination test is a short range is listed under each port of the range, every other
// enabled rule under all ports. Disabled rules are left out; they never pass.
class HeaderRuleIndex {
 public:
  void build(const unsigned char *rules, unsigned count);
  // Calls `visit(index)` in ascending order for each listed rule in [first, last] that may pass a
  // packet to `port`, until `visit` returns false.
  template <typename Visit>
  void for_each(uint16_t port, uint32_t first, uint32_t last, Visit visit) const;

 private:
  std::vector<uint16_t> general_;
  std::vector<uint32_t> port_start_;  // 65,537 offsets into by_port_
  std::vector<uint16_t> by_port_;
};

void buildExtrField(ExtractedField *field, const unsigned char *descriptor);
// Group 0 UDP, 1 TCP, 2 ICMP, 3 other.
int searchHdrTableEntry(const ExtractedField &field, unsigned group, const unsigned char rule[12]);
int searchHdrTableEntryGroup(const ExtractedField &field, unsigned group, const unsigned char *rules,
                             uint32_t first, uint32_t last, const HeaderRuleIndex &index, ResultQueue *queue);
void transferResultQ(const ResultQueue &queue, unsigned char *descriptor);
int qxMakePtnCaseBitmap(const unsigned char *pattern, uint32_t bitmap[4], int length);

class SoftwareMatcher : public quorix::Matcher {
 public:
  void match(const quorix::EngineTables &tables, unsigned char *descriptor) override;

 private:
  struct Tables {
    const unsigned char *state = nullptr;
    const unsigned char *matched = nullptr;
    const unsigned char *patterns = nullptr;
    const unsigned char *rules = nullptr;
  };
  bool resolve(const quorix::EngineTables &tables, Tables *out);
  const HeaderRuleIndex &header_index(const quorix::EngineTables &tables);
  uint32_t saved_state_ = 0;
  HeaderRuleIndex header_index_;
  const quorix::EngineTables *indexed_tables_ = nullptr;
  uint32_t indexed_generation_ = 0;
};

// Walks the state table over the payload and adds each hit's pattern rule id to the queue.
int search(const unsigned char *payload, uint32_t length, uint32_t *state,
           const quorix::EngineTables &registers, const unsigned char *state_table,
           const unsigned char *matched, const unsigned char *patterns, const unsigned char *rules,
           const ExtractedField &field, unsigned group, ResultQueue *queue);

}  // namespace vorn
