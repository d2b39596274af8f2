// Set-up shared by the driver and the software model of the Quorix engine (vorn_matcher.h).
#pragma once

#include <cstdint>

namespace vorn {

// The model's compiler scratch: the work areas for building a state table from patterns, laid out
// from one base.
constexpr uint32_t kFailFunctionScratchOffset = 0x000000;       // fail-function table, 0xc000 bytes
constexpr uint32_t kBreadthFirstQueueScratchOffset = 0x00c000;  // 0x18000 bytes
constexpr uint32_t kMatchedQueueScratchOffset = 0x024000;  // temporary matched-state queue, 0x30000 bytes
constexpr uint32_t kMatchedPoolScratchOffset = 0x054000;   // its entry pool, 0x40000 bytes
constexpr uint32_t kStateTableScratchOffset = 0x094000;    // temporary state table, 0xc20000 bytes
constexpr uint32_t kPmaScratchSize = kStateTableScratchOffset + 0xc20000;

struct PmaScratch {
  unsigned char *fail_function = nullptr;
  unsigned char *breadth_first_queue = nullptr;
  unsigned char *matched_state_queue = nullptr;
  unsigned char *matched_state_pool = nullptr;
  unsigned char *state_table = nullptr;
};

// Where the model finds the engine's tables and its scratch.
struct PmaModel {
  unsigned char *pattern_table = nullptr;
  unsigned char *rule_table = nullptr;
  unsigned char *state_table = nullptr;
  unsigned char *matched_state_queue = nullptr;
  PmaScratch scratch;
};

// Set-up of the model, called by engine initialisation: records the table bases, lays out the
// scratch areas from `scratch` (kPmaScratchSize bytes), replacing whatever an earlier set-up left,
// and builds the character map that folds "A".."Z" to "a".."z".
void initializePmaMem(unsigned char *pattern_table, unsigned char *rule_table, unsigned char *state_table,
                      unsigned char *matched_state_queue, unsigned char *scratch);

// The scratch block engine initialisation hands to the model: kPmaScratchSize bytes of its own, so
// that the engine memory keeps its layout.
unsigned char *pma_scratch_block();

}  // namespace vorn
