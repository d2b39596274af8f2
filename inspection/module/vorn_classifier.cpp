#include "vorn_classifier.h"

namespace vorn {

unsigned char CharacterMap[256];

void initializePmaMem() {
  for (int c = 0; c < 256; ++c)
    CharacterMap[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

}  // namespace vorn
