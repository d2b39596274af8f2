#include "vorn_classifier.h"

#include "vorn_module.h"

namespace vorn {

void initializePmaMem() {
  for (int c = 0; c < 256; ++c)
    module().character_map[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

}  // namespace vorn
