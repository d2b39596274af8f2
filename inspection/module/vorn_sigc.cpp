#include "vorn_sigc.h"

#include <deque>

#include "vorn_engine_format.h"
#include "vorn_matcher.h"

namespace vorn {

using namespace engine_format;

namespace {

unsigned char fold(unsigned char c) {
  return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

// Aho-Corasick automaton with every transition filled in (a DFA).
struct Automaton {
  std::vector<std::array<int32_t, 256>> next;
  std::vector<std::vector<uint16_t>> outputs;

  Automaton() { add_state(); }
  int32_t add_state() {
    std::array<int32_t, 256> row;
    row.fill(-1);
    next.push_back(row);
    outputs.emplace_back();
    if (next.size() > kMaxStates) throw CompileError("too many automaton states");
    return static_cast<int32_t>(next.size() - 1);
  }
  void insert(const std::string &pattern, uint16_t number) {
    int32_t state = 0;
    for (unsigned char raw : pattern) {
      unsigned char c = fold(raw);
      if (next[state][c] < 0) {
        int32_t created = add_state();
        next[state][c] = created;
      }
      state = next[state][c];
    }
    outputs[state].push_back(number);
  }
  void finish() {
    std::vector<int32_t> fail(next.size(), 0);
    std::deque<int32_t> queue;
    for (int c = 0; c < 256; ++c) {
      if (next[0][c] < 0) {
        next[0][c] = 0;
      } else {
        queue.push_back(next[0][c]);
      }
    }
    while (!queue.empty()) {
      int32_t state = queue.front();
      queue.pop_front();
      for (int c = 0; c < 256; ++c) {
        int32_t child = next[state][c];
        if (child < 0) {
          next[state][c] = next[fail[state]][c];
          continue;
        }
        fail[child] = next[fail[state]][c];
        auto &inherited = outputs[fail[child]];
        outputs[child].insert(outputs[child].end(), inherited.begin(), inherited.end());
        queue.push_back(child);
      }
    }
  }
};

void write_automaton(const Automaton &automaton, const std::vector<Signature> &signatures,
                     EngineImage *image) {
  std::vector<unsigned char> &bytes = image->bytes();
  unsigned char *states = bytes.data() + kStateTableOffset;
  for (size_t s = 0; s < automaton.next.size(); ++s)
    for (int c = 0; c < 256; ++c)
      store16(states + s * kStateRowBytes + c * 2, static_cast<uint16_t>(automaton.next[s][c]));
  for (int c = 0; c < 256; c += 2)
    store32(bytes.data() + kZeroStateTableOffset + c * 2,
            static_cast<uint32_t>(automaton.next[0][c]) |
                (static_cast<uint32_t>(automaton.next[0][c + 1]) << 16));

  uint32_t charsets[8] = {};
  for (const Signature &signature : signatures)
    for (unsigned char raw : signature.pattern) charsets[fold(raw) >> 5] |= 1u << (fold(raw) & 31);
  for (int i = 0; i < 8; ++i) store32(bytes.data() + kCharsetTableOffset + 4 * i, charsets[i]);

  unsigned char *matched = bytes.data() + kMatchedStateQueueOffset;
  uint32_t list = kMatchedIndexBytes;
  for (size_t s = 0; s < automaton.outputs.size(); ++s) {
    const auto &outputs = automaton.outputs[s];
    if (outputs.empty()) continue;
    if (outputs.size() > 255 || list + outputs.size() * 2 > kMatchedQueueBytes)
      throw CompileError("matched-state queue overflow");
    store32(matched + s * 4, static_cast<uint32_t>(list) | (static_cast<uint32_t>(outputs.size()) << 24));
    for (uint16_t pattern : outputs) {
      store16(matched + list, pattern);
      list += 2;
    }
  }
}

void write_pattern(const Signature &signature, uint16_t number, EngineImage *image) {
  unsigned char *record = image->bytes().data() + kPatternTableOffset + number * kPatternRecordBytes;
  auto length = static_cast<uint16_t>(signature.pattern.size());
  store16(record, length);
  store16(record + 2, signature.rule_id);
  record[4] = signature.nocase ? 1 : 0;
  uint32_t bitmap[4];
  qxMakePtnCaseBitmap(reinterpret_cast<const unsigned char *>(signature.pattern.data()), bitmap, length);
  for (int i = 0; i < 4; ++i) store32(record + 8 + 4 * i, bitmap[i]);
  std::memcpy(record + kPatternBytesOffset, signature.pattern.data(), length);
}

void write_rule(const Signature &signature, EngineImage *image) {
  image->set_pattern_rule(signature.rule_id, signature.category, signature.app_id, signature.threshold,
                          signature.duration);
  unsigned char *rule = image->bytes().data() + kRuleTableOffset + signature.rule_id * kRuleRecordBytes;
  if (signature.header_rule) {
    rule[0] |= kRuleHasHeaderRule;
    std::memcpy(rule + kRuleHeaderRuleOffset, signature.header_rule->data(), 12);
  }
}

}  // namespace

HeaderRule make_header_rule(uint8_t field_op, uint16_t field_value, uint8_t source_op, uint16_t source_low,
                            uint16_t source_high, uint8_t destination_op, uint16_t destination_low,
                            uint16_t destination_high) {
  HeaderRule rule{};
  store16(rule.data(), field_value);
  rule[2] = static_cast<unsigned char>((destination_op & 7) | ((source_op & 7) << 3) | ((field_op & 3) << 6));
  rule[3] = static_cast<unsigned char>(0x80 | ((field_op >> 2) & 1));
  store16(rule.data() + 4, source_low);
  store16(rule.data() + 6, source_high);
  store16(rule.data() + 8, destination_low);
  store16(rule.data() + 10, destination_high);
  return rule;
}

void SignatureCompiler::compile(EngineImage *image) const {
  if (signatures_.size() > kMaxPatterns) throw CompileError("too many patterns");
  Automaton automaton;
  for (size_t n = 0; n < signatures_.size(); ++n) {
    const Signature &signature = signatures_[n];
    if (signature.pattern.empty() || signature.pattern.size() > kMaxPatternLength)
      throw CompileError("pattern length must be 1..128");
    if (signature.rule_id >= kMaxRules) throw CompileError("pattern rule id must be below 2048");
    automaton.insert(signature.pattern, static_cast<uint16_t>(n));
    write_pattern(signature, static_cast<uint16_t>(n), image);
    write_rule(signature, image);
  }
  automaton.finish();
  write_automaton(automaton, signatures_, image);

  if (header_only_.size() > kMaxHeaderRules) throw CompileError("too many header-only rules");
  header_indices_.assign(header_only_.size(), 0);
  uint16_t index = 0;
  for (auto group : {EngineImage::Group::kTcp, EngineImage::Group::kUdp, EngineImage::Group::kIcmp,
                     EngineImage::Group::kOther}) {
    uint16_t first = index;
    for (size_t n = 0; n < header_only_.size(); ++n) {
      const HeaderOnlySignature &h = header_only_[n];
      if (h.group != group) continue;
      image->set_header_rule(index, h.rule.data());
      image->set_header_item(index, h.category, h.app_id, h.threshold, h.duration);
      header_indices_[n] = index++;
    }
    if (index > first) image->set_group(group, first, static_cast<uint16_t>(index - 1), true);
  }
  image->set_header_rule_count(index);
}

}  // namespace vorn
