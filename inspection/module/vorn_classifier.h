// Software model of the Quorix engine: the header-only rule classifier, the pattern search over the
// compiled tables, and the routines that build a descriptor's extracted fields and result queue.
#ifndef INSPECTION_MODULE_VORN_CLASSIFIER_H
#define INSPECTION_MODULE_VORN_CLASSIFIER_H

#include <cstdint>

namespace vorn {

// Scratch set-up of the model, called by engine initialisation: remembers the table places, clears
// the model's statics and builds the character map that folds "A".."Z" to "a".."z".
void initializePmaMem(unsigned char *pattern_table, unsigned char *rule_table, unsigned char *state_table,
                      unsigned char *matched_state_queue);
extern unsigned char CharacterMap[256];

}  // namespace vorn

#endif
