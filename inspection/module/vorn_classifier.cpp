#include "vorn_classifier.h"

#include "vorn_module.h"

namespace vorn {

void initializePmaMem(unsigned char *pattern_table, unsigned char *rule_table, unsigned char *state_table,
                      unsigned char *matched_state_queue, unsigned char *scratch) {
  module().pma_model =
      PmaModel{pattern_table,
               rule_table,
               state_table,
               matched_state_queue,
               {scratch + kFailFunctionScratchOffset, scratch + kBreadthFirstQueueScratchOffset,
                scratch + kMatchedQueueScratchOffset, scratch + kMatchedPoolScratchOffset,
                scratch + kStateTableScratchOffset}};
  for (int c = 0; c < 256; ++c)
    module().character_map[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

unsigned char *pma_scratch_block() {
  // Zero-filled static storage: its pages cost nothing until something writes to them.
  static unsigned char block[kPmaScratchSize];
  return block;
}

}  // namespace vorn
