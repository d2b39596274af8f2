#include "vorn_image.h"

#include <zlib.h>

#include <stdexcept>

namespace vorn {

EngineImage::EngineImage() : image_(kUsedTableMemory, 0) {}

void EngineImage::set_enable_word(uint32_t value) {
  store32(at(kRuleSetOffset + kRuleSetEnableWord), value);
}

void EngineImage::set_bases(uint16_t header_rule_base, uint16_t event_base) {
  store16(at(kRuleSetOffset + kRuleSetHeaderBase), header_rule_base);
  store16(at(kRuleSetOffset + kRuleSetEventBase), event_base);
}

void EngineImage::set_app(uint8_t app_id, uint8_t index, uint8_t action, const std::string &name,
                          uint8_t valid) {
  VornAppEntry entry{};
  entry.valid = valid;
  entry.index = index;
  entry.AppID = app_id;
  entry.action = action;
  std::memcpy(entry.name, name.data(), std::min(name.size(), sizeof entry.name));
  std::memcpy(at(kAppTableOffset + app_id * sizeof entry), &entry, sizeof entry);
}

void EngineImage::set_threshold_rule(uint8_t rule_id, uint8_t index, uint8_t action, uint16_t threshold,
                                     const std::string &name, uint8_t valid) {
  if (rule_id >= kThresholdEntries) throw std::out_of_range("threshold rule id");
  VornRuleEntry entry{};
  entry.valid = valid;
  entry.index = index;
  entry.rule_id = rule_id;
  entry.action = action;
  entry.threshold = threshold;
  std::memcpy(entry.name, name.data(), std::min(name.size(), sizeof entry.name));
  std::memcpy(at(kThresholdTableOffset + rule_id * sizeof entry), &entry, sizeof entry);
}

void EngineImage::set_group(Group group, uint16_t first, uint16_t last, bool enabled) {
  unsigned char *g = at(kRuleSetOffset + 12 + 6 * static_cast<uint32_t>(group));
  store16(g, first);
  store16(g + 2, last);
  store16(g + 4, enabled ? 1 : 0);
}

void EngineImage::set_pattern_rule(uint16_t id, uint8_t category, uint8_t app_id, uint16_t threshold,
                                   uint16_t duration) {
  if (id >= kPatternRuleRecords) throw std::out_of_range("pattern rule id");
  unsigned char *rule = at(kRuleTableOffset + id * kPatternRuleRecordSize);
  rule[94] = category;
  rule[95] = app_id;
  store16(rule + 102, threshold);
  store16(rule + 104, duration);
}

unsigned char *EngineImage::condition(uint16_t pattern_rule_id) {
  if (pattern_rule_id >= kPatternRuleRecords) throw std::out_of_range("pattern rule id");
  return at(kConditionsOffset + pattern_rule_id * kConditionSize);
}

void EngineImage::set_header_rule(uint16_t index, const unsigned char rule[12]) {
  if (index >= kMaxHeaderRules) throw std::out_of_range("header rule index");
  std::memcpy(at(kHeaderRulesOffset + index * 12), rule, 12);
}

void EngineImage::set_header_item(uint16_t index, uint8_t category, uint8_t app_id, uint16_t threshold,
                                  uint16_t duration) {
  if (index >= kMaxHeaderRules) throw std::out_of_range("header rule index");
  unsigned char *item = at(kHeaderItemsOffset + index * kHeaderItemSize);
  item[0] = category;
  item[1] = app_id;
  store16(item + 8, threshold);
  store16(item + 10, duration);
}

unsigned char *EngineImage::header_item_condition(uint16_t index) {
  if (index >= kMaxHeaderRules) throw std::out_of_range("header rule index");
  return at(kHeaderItemsOffset + index * kHeaderItemSize + 12);
}

void EngineImage::set_header_rule_count(uint32_t count) {
  store32(at(kHeaderRuleCountOffset), count);
}

std::vector<unsigned char> EngineImage::packed(int level) const {
  return pack_table(image_, POLICY_TABLE_ID_KERNEL_MEMORY_BANK_01, level);
}

std::vector<unsigned char> pack_table(const std::vector<unsigned char> &image, uint32_t table_id, int level) {
  uLongf zipped_size = compressBound(static_cast<uLong>(image.size()));
  std::vector<unsigned char> out(12 + zipped_size);
  if (compress2(out.data() + 12, &zipped_size, image.data(), static_cast<uLong>(image.size()), level) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(12 + zipped_size);
  store32(out.data(), table_id);
  store32(out.data() + 4, static_cast<uint32_t>(image.size()));
  store32(out.data() + 8, static_cast<uint32_t>(zipped_size));
  return out;
}

}  // namespace vorn
