#include "vorn_matcher.h"

#include <algorithm>
#include <cstring>

#include "vorn_classifier.h"
#include "vorn_engine_format.h"
#include "vorn_module.h"

namespace vorn {

using namespace engine_format;

namespace {

constexpr uint32_t kBusOffset = 0x40000000;
constexpr unsigned kGroupUdp = 0;
constexpr unsigned kGroupTcp = 1;
constexpr unsigned kGroupIcmp = 2;
constexpr unsigned kGroupOther = 3;

unsigned group_of_protocol(uint8_t protocol) {
  switch (protocol) {
    case 6:
      return kGroupTcp;
    case 17:
      return kGroupUdp;
    case 1:
      return kGroupIcmp;
    default:
      return kGroupOther;
  }
}

// Where the descriptor keeps the header-rule group of a protocol group.
unsigned descriptor_group_offset(unsigned group) {
  switch (group) {
    case kGroupTcp:
      return 20;
    case kGroupUdp:
      return 24;
    case kGroupIcmp:
      return 28;
    default:
      return 32;
  }
}

bool port_passes(uint8_t op, uint16_t port, uint16_t low, uint16_t high) {
  switch (op) {
    case kPortAny:
      return true;
    case kPortBelow:
      return port < low;
    case kPortAbove:
      return port > high;
    case kPortInside:
      return port >= low && port <= high;
    case kPortOutside:
      return port < low || port > high;
    default:
      return false;
  }
}

bool field_passes(uint8_t op, unsigned group, uint8_t value, uint16_t rule_value) {
  switch (op) {
    case kFieldAny:
      return true;
    case kFieldEqual:
      return value == rule_value;
    case kFieldDiffer:
      return value != rule_value;
    case kFlagsInSet:
      return group == kGroupTcp && (value & ~rule_value) == 0;
    default:
      return false;
  }
}

const unsigned char *resolve_one(uint32_t bus, uint32_t size) {
  return bus ? kern::bus_to_virt(bus, size) : nullptr;
}

// The case bitmap says which pattern characters are upper-case letters; a case-sensitive pattern
// only matches where the payload has the same letters in the same case.
bool compare_case_bitmap(const unsigned char *text, const unsigned char *pattern_record, uint32_t length) {
  if (pattern_record[4] & 1) return true;
  for (uint32_t i = 0; i < length; ++i) {
    unsigned char c = text[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) continue;
    bool upper_wanted = (load32(pattern_record + 8 + 4 * (i / 32)) >> (i % 32)) & 1;
    if ((c >= 'A' && c <= 'Z') != upper_wanted) return false;
  }
  return true;
}

}  // namespace

bool ResultQueue::add(uint16_t id) {
  for (unsigned i = 0; i < count; ++i)
    if (ids[i] == id) return true;
  if (count >= 12) {
    flags |= 0x80;
    return false;
  }
  ids[count++] = id;
  return true;
}

namespace {
// Ranges up to this many ports are listed port by port; wider ones go with the rules for all ports.
constexpr uint32_t kNarrowRange = 64;
constexpr uint32_t kPorts = 65536;
static_assert(quorix::kHeaderRuleCount == kMaxHeaderRules);
}  // namespace

void HeaderRuleIndex::build(const unsigned char *rules, unsigned count) {
  general_.clear();
  by_port_.clear();
  port_start_.assign(kPorts + 1, 0);
  auto narrow = [](const unsigned char *rule, uint32_t *low, uint32_t *high) {
    *low = load16(rule + 8);
    *high = load16(rule + 10);
    return (rule[2] & 7) == kPortInside && *low <= *high && *high - *low < kNarrowRange;
  };
  uint32_t low = 0, high = 0;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned char *rule = rules + i * 12;
    if (!(rule[3] & 0x80)) continue;
    if (!narrow(rule, &low, &high)) {
      general_.push_back(static_cast<uint16_t>(i));
      continue;
    }
    for (uint32_t port = low; port <= high; ++port) ++port_start_[port + 1];
  }
  for (uint32_t port = 0; port < kPorts; ++port) port_start_[port + 1] += port_start_[port];
  by_port_.resize(port_start_[kPorts]);
  std::vector<uint32_t> fill(port_start_.begin(), port_start_.end() - 1);
  for (unsigned i = 0; i < count; ++i) {
    const unsigned char *rule = rules + i * 12;
    if (!(rule[3] & 0x80) || !narrow(rule, &low, &high)) continue;
    for (uint32_t port = low; port <= high; ++port) by_port_[fill[port]++] = static_cast<uint16_t>(i);
  }
}

template <typename Visit>
void HeaderRuleIndex::for_each(uint16_t port, uint32_t first, uint32_t last, Visit visit) const {
  auto a = std::lower_bound(general_.begin(), general_.end(), first);
  auto a_end = general_.end();
  auto b =
      std::lower_bound(by_port_.begin() + port_start_[port], by_port_.begin() + port_start_[port + 1], first);
  auto b_end = by_port_.begin() + port_start_[port + 1];
  while (a != a_end || b != b_end) {
    uint16_t next = (b == b_end || (a != a_end && *a < *b)) ? *a++ : *b++;
    if (next > last || !visit(next)) return;
  }
}

void buildExtrField(ExtractedField *field, const unsigned char *d) {
  field->destination = load16(d + 12);
  field->source = load16(d + 14);
  field->flags = d[16];
  field->length = d[17];
  field->extra = load16(d + 18);
  field->protocol = d[6];
}

int searchHdrTableEntry(const ExtractedField &field, unsigned group, const unsigned char rule[12]) {
  if (!(rule[3] & 0x80)) return 0;
  uint8_t destination_op = rule[2] & 7;
  uint8_t source_op = (rule[2] >> 3) & 7;
  uint8_t field_op = static_cast<uint8_t>((rule[2] >> 6) | ((rule[3] & 1) << 2));
  uint8_t value = group == kGroupTcp ? field.flags : field.protocol;
  return field_passes(field_op, group, value, load16(rule)) &&
         port_passes(source_op, field.source, load16(rule + 4), load16(rule + 6)) &&
         port_passes(destination_op, field.destination, load16(rule + 8), load16(rule + 10));
}

int searchHdrTableEntryGroup(const ExtractedField &field, unsigned group, const unsigned char *rules,
                             uint32_t first, uint32_t last, const HeaderRuleIndex &index,
                             ResultQueue *queue) {
  if (last < first) {
    printk("####################### Error! #######################\n");
    printk("search start: %d search end: %d\n", static_cast<int>(first), static_cast<int>(last));
    return 0;
  }
  int rc = 0;
  index.for_each(field.destination, first, std::min<uint32_t>(last, kMaxHeaderRules - 1), [&](uint16_t rule) {
    if (!searchHdrTableEntry(field, group, rules + rule * 12)) return true;
    if (queue->add(static_cast<uint16_t>(rule | 0x8000))) return true;
    queue->flags |= 0x20;
    rc = -1;
    return false;
  });
  return rc;
}

void transferResultQ(const ResultQueue &queue, unsigned char *d) {
  d[36] = static_cast<unsigned char>((d[36] & 0xf0) | (queue.count & 0x0f));
  d[37] = static_cast<unsigned char>(d[37] | queue.flags);
  for (unsigned i = 0; i < queue.count; ++i) store16(d + 40 + 2 * i, queue.ids[i]);
}

int qxMakePtnCaseBitmap(const unsigned char *pattern, uint32_t bitmap[4], int length) {
  std::memset(bitmap, 0, 16);
  for (int i = 0; i < length && i < 128; ++i)
    if (pattern[i] >= 'A' && pattern[i] <= 'Z') bitmap[i / 32] |= 1u << (i % 32);
  return length;
}

int search(const unsigned char *payload, uint32_t length, uint32_t *state_io,
           const quorix::EngineTables &registers, const unsigned char *state_table,
           const unsigned char *matched, const unsigned char *patterns, const unsigned char *rules,
           const ExtractedField &field, unsigned group, ResultQueue *queue) {
  uint32_t state = *state_io < kMaxStates ? *state_io : 0;
  const unsigned char *fold = module().character_map;
  for (uint32_t position = 0; position < length; ++position) {
    unsigned char c = fold[payload[position]];
    if (!((registers.charsets[c >> 5] >> (c & 31)) & 1)) {
      state = 0;
      continue;
    }
    uint32_t next = state == 0 ? (registers.zero_state[c >> 1] >> ((c & 1) * 16)) & 0xffff
                               : load16(state_table + state * kStateRowBytes + c * 2);
    state = next < kMaxStates ? next : 0;
    uint32_t entry = load32(matched + state * 4);
    uint32_t outputs = entry >> 24;
    uint32_t list = entry & 0xffffff;
    if (outputs == 0) continue;
    if (list < kMatchedIndexBytes || list + outputs * 2 > kMatchedQueueBytes) continue;
    if (++queue->hit_states > kMaxHitStates) {
      queue->flags |= 0x40;
      break;
    }
    for (uint32_t k = 0; k < outputs; ++k) {
      uint16_t pattern = load16(matched + list + 2 * k);
      if (pattern >= kMaxPatterns) continue;
      const unsigned char *record = patterns + pattern * kPatternRecordBytes;
      uint32_t pattern_length = load16(record);
      uint16_t rule_id = load16(record + 2);
      if (pattern_length == 0 || pattern_length > kMaxPatternLength || pattern_length > position + 1)
        continue;
      if (rule_id >= kMaxRules) continue;
      if (!compare_case_bitmap(payload + position + 1 - pattern_length, record, pattern_length)) continue;
      const unsigned char *rule = rules + rule_id * kRuleRecordBytes;
      if ((rule[0] & kRuleHasHeaderRule) && !searchHdrTableEntry(field, group, rule + kRuleHeaderRuleOffset))
        continue;
      if (!queue->add(rule_id)) {
        *state_io = state;
        return queue->count;
      }
    }
  }
  *state_io = state;
  return queue->count;
}

const HeaderRuleIndex &SoftwareMatcher::header_index(const quorix::EngineTables &registers) {
  if (indexed_tables_ != &registers || indexed_generation_ != registers.header_generation) {
    header_index_.build(reinterpret_cast<const unsigned char *>(registers.header_rules.data()),
                        kMaxHeaderRules);
    indexed_tables_ = &registers;
    indexed_generation_ = registers.header_generation;
  }
  return header_index_;
}

bool SoftwareMatcher::resolve(const quorix::EngineTables &registers, Tables *out) {
  out->state = resolve_one(registers.state_table, kStateTableBytes);
  out->matched = resolve_one(registers.matched_state_queue, kMatchedQueueBytes);
  out->patterns = resolve_one(registers.pattern_table, kPatternTableBytes);
  out->rules = resolve_one(registers.rule_table, kRuleTableBytes);
  return out->state && out->matched && out->patterns && out->rules;
}

void SoftwareMatcher::match(const quorix::EngineTables &registers, unsigned char *d) {
  ExtractedField field{};
  buildExtrField(&field, d);
  unsigned group = group_of_protocol(d[6]);
  ResultQueue queue;
  const unsigned char *header_group = d + descriptor_group_offset(group);
  if (header_group[3] & 0x80) {
    uint32_t first = header_group[0] | ((header_group[1] & 1u) << 8);
    uint32_t last = header_group[2] | ((header_group[3] & 1u) << 8);
    const auto *rules = reinterpret_cast<const unsigned char *>(registers.header_rules.data());
    searchHdrTableEntryGroup(field, group, rules, first, last, header_index(registers), &queue);
  }
  uint32_t length = d[8] | (d[9] << 8) | (d[10] << 16);
  uint32_t address = load32(d);
  const unsigned char *payload =
      length && address >= kBusOffset ? kern::bus_to_virt(address - kBusOffset, length) : nullptr;
  Tables tables;
  if (payload && !(queue.flags & 0x20) && resolve(registers, &tables)) {
    if (d[7] & 0x20) saved_state_ = 0;  // first descriptor of a packet starts at the root
    search(payload, length, &saved_state_, registers, tables.state, tables.matched, tables.patterns,
           tables.rules, field, group, &queue);
  }
  transferResultQ(queue, d);
}

}  // namespace vorn
