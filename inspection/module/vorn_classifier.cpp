#include "vorn_classifier.h"

namespace vorn {

unsigned char CharacterMap[256];

namespace {
struct ModelTables {
  unsigned char *pattern_table = nullptr;
  unsigned char *rule_table = nullptr;
  unsigned char *state_table = nullptr;
  unsigned char *matched_state_queue = nullptr;
};
ModelTables Model;
}  // namespace

void initializePmaMem(unsigned char *pattern_table, unsigned char *rule_table, unsigned char *state_table,
                      unsigned char *matched_state_queue) {
  Model = ModelTables{pattern_table, rule_table, state_table, matched_state_queue};
  for (int c = 0; c < 256; ++c)
    CharacterMap[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

}  // namespace vorn
