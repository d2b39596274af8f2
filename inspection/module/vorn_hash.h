// Mixing for the hashes of the tables that outside traffic fills. Each table keys its hash with a seed
// drawn at its start, so that a sender cannot work out which of its packets land together.
#pragma once

#include <cstdint>

namespace vorn {

// Spreads every input bit over the whole word; a different seed mixed in gives unrelated outputs.
inline uint64_t mix64(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ull;
  return x ^ (x >> 33);
}

}  // namespace vorn
