// Builder of engine images: the 16 MiB table memory a policy download fills, with the rule set,
// application and threshold tables, header-only rules and items, pattern rule records and header
// conditions, packed the way the download carries it (12-byte table header + zlib stream).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vorn_module.h"

namespace vorn {

class EngineImage {
 public:
  EngineImage();

  void set_enable_word(uint32_t value);
  void set_bases(uint16_t header_rule_base, uint16_t event_base);
  void set_app(uint8_t app_id, uint8_t index, uint8_t action, const std::string &name, uint8_t valid = 1);
  void set_threshold_rule(uint8_t rule_id, uint8_t index, uint8_t action, uint16_t threshold,
                          const std::string &name, uint8_t valid = 1);
  // The header-rule group the engine applies to one protocol (rule-set bytes 12..35).
  enum class Group { kTcp = 0, kUdp = 1, kIcmp = 2, kOther = 3 };
  void set_group(Group group, uint16_t first, uint16_t last, bool enabled);
  // Pattern rule record fields the module reads.
  void set_pattern_rule(uint16_t id, uint8_t category, uint8_t app_id, uint16_t threshold, uint16_t duration);
  unsigned char *condition(uint16_t pattern_rule_id);
  // Header-only rule `index`: the 12-byte engine rule and its 112-byte item.
  void set_header_rule(uint16_t index, const unsigned char rule[12]);
  void set_header_item(uint16_t index, uint8_t category, uint8_t app_id, uint16_t threshold,
                       uint16_t duration);
  unsigned char *header_item_condition(uint16_t index);
  void set_header_rule_count(uint32_t count);

  std::vector<unsigned char> &bytes() { return image_; }
  const std::vector<unsigned char> &bytes() const { return image_; }
  // Table header {0x20000001, original size, zipped size} followed by the zlib stream.
  std::vector<unsigned char> packed(int level = 6) const;

 private:
  unsigned char *at(uint32_t offset) { return image_.data() + offset; }
  std::vector<unsigned char> image_;
};

std::vector<unsigned char> pack_table(const std::vector<unsigned char> &image, uint32_t table_id, int level);

}  // namespace vorn
