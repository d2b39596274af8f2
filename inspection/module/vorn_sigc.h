// Compiler of test signatures into an engine image in our table format (vorn_engine_format.h):
// an Aho-Corasick automaton over the case-folded patterns, pattern and rule records, and the
// header-only rules of each protocol group with their items.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vorn_image.h"

namespace vorn {

using HeaderRule = std::array<unsigned char, 12>;

// A 12-byte header-only rule: the third operator on the flags (TCP) or protocol value, then the
// source and destination port tests.
HeaderRule make_header_rule(uint8_t field_op, uint16_t field_value, uint8_t source_op, uint16_t source_low,
                            uint16_t source_high, uint8_t destination_op, uint16_t destination_low,
                            uint16_t destination_high);

struct Signature {
  uint16_t rule_id = 0;  // pattern rule id the engine reports (below 2048)
  std::string pattern;
  bool nocase = false;
  uint8_t category = 6;
  uint8_t app_id = 0;
  uint16_t threshold = 0;
  uint16_t duration = 0;
  std::optional<HeaderRule> header_rule;  // the packet must also pass it
};

struct HeaderOnlySignature {
  EngineImage::Group group = EngineImage::Group::kTcp;
  HeaderRule rule{};
  uint8_t category = 6;
  uint8_t app_id = 0;
  uint16_t threshold = 0;
  uint16_t duration = 0;
};

class CompileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SignatureCompiler {
 public:
  void add(const Signature &signature) { signatures_.push_back(signature); }
  void add(const HeaderOnlySignature &signature) { header_only_.push_back(signature); }
  // Fills the engine tables of `image`; throws CompileError when a limit is exceeded.
  void compile(EngineImage *image) const;
  // Header-only rule index of the n-th header-only signature added, after compile().
  uint16_t header_index(size_t n) const { return header_indices_.at(n); }

 private:
  std::vector<Signature> signatures_;
  std::vector<HeaderOnlySignature> header_only_;
  mutable std::vector<uint16_t> header_indices_;
};

}  // namespace vorn
