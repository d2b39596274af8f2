// Our format of the engine's own tables (pattern table, rule table beyond the module's fields, state
// table, matched-state queue, charset and zero-state values). The compiler writes it, the software
// model of the engine reads it; the module only places the tables.
//
// - State table (engine base, 24640 states of 512 bytes): state s's row holds 256 uint16 next states,
//   indexed by the payload byte after folding "A".."Z" to lower case. State 0 is the root.
// - Zero-state table: the root's row again (128 words, two next states per word, low half first), so
//   the engine needs no memory read while it stays at the root.
// - Charset (CST0..CST7): 256 bits, bit b set when folded byte b occurs in some pattern; any other
//   byte leads back to the root at once.
// - Matched-state queue: a uint32 per state (low 24 bits: offset of its output list from the queue's
//   start; high 8 bits: number of entries), then the lists, each a run of uint16 pattern numbers.
// - Pattern table: 2730 records of 192 bytes: uint16 length (1..128), uint16 pattern rule id, uint8
//   case-insensitive flag, 3 bytes unused, a 128-bit case bitmap (one bit per pattern character, set
//   for "A".."Z"), then the pattern bytes.
// - Rule table: 2048 records of 128 bytes; byte 0 bit 0 says bytes 4..15 hold a header-only rule the
//   packet must also satisfy; bytes 94..105 belong to the module.
#pragma once

#include <cstdint>

namespace vorn::engine_format {

constexpr uint32_t kStateRowBytes = 512;
constexpr uint32_t kMaxStates = 24640;
constexpr uint32_t kStateTableBytes = kMaxStates * kStateRowBytes;
constexpr uint32_t kMatchedQueueBytes = 0xc0000;
constexpr uint32_t kMatchedIndexBytes = kMaxStates * 4;
constexpr uint32_t kPatternRecordBytes = 192;
constexpr uint32_t kMaxPatterns = 2730;
constexpr uint32_t kPatternTableBytes = 0x80000;
constexpr uint32_t kMaxPatternLength = 128;
constexpr uint32_t kPatternBytesOffset = 24;
constexpr uint32_t kRuleRecordBytes = 128;
constexpr uint32_t kMaxRules = 2048;
constexpr uint32_t kRuleTableBytes = kMaxRules * kRuleRecordBytes;
constexpr uint8_t kRuleHasHeaderRule = 0x01;
constexpr uint32_t kRuleHeaderRuleOffset = 4;
constexpr unsigned kMaxHitStates = 128;

// Header-only rule (12 bytes): port operators compare a port with the rule's range [low, high]:
// below means port < low, above port > high, inside low <= port <= high, outside not inside. The
// third operator compares the TCP flags (other protocols: the IP protocol number) with the rule's
// value: equal, differ, or (TCP only) flags a subset of the rule's flags.
enum PortOperator : uint8_t {
  kPortAny = 0,
  kPortBelow = 1,
  kPortAbove = 2,
  kPortInside = 3,
  kPortOutside = 4
};
enum FieldOperator : uint8_t { kFieldAny = 0, kFieldEqual = 1, kFieldDiffer = 2, kFlagsInSet = 3 };

}  // namespace vorn::engine_format
