#include "phy_echo.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "phy_model.h"

namespace swchip {

namespace {
constexpr int kSpike = 3000;   // reflection of an open or a short
constexpr int kCableEnd = 60;  // the partner's port at the end of a good pair
// Highest tap a reflection may sit at: the canceller's registers of pair A follow its taps.
constexpr unsigned kLastTap = 0xB8;
constexpr unsigned kCoarseOffset = 0x1C0;  // coarse search result, per pair

// Distance in metres of the tap index v after the front end, as the cable test converts it.
unsigned metres_of(unsigned v) {
  return v - ((((v + (v >> 4)) >> 2) + 1) >> 1);
}

int noise(unsigned pair, unsigned tap, uint32_t read) {
  uint32_t h = pair * 0x9E3779B1u ^ tap * 0x85EBCA77u ^ read * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  const int magnitude = 4 + static_cast<int>(h % 9);  // 4..12: above the test's quiet level of 3
  return (h & 0x100) ? -magnitude : magnitude;
}

// The spike of a pair: its tap and size, or size 0.
struct Reflection {
  unsigned tap = 0;
  int size = 0;
};

Reflection reflection_of(const CableDescription &cable, unsigned pair) {
  if (cable.length_m == 0) return {};
  const PairDescription &p = cable.pairs[pair];
  if (p.fault == PairFault::kGood) {
    // The partner's port reflects a little, one tap after where an open end would.
    const unsigned tap = echo::tap_of(cable.length_m) + 1;
    if (tap >= echo::kNoiseFloorFirst) return {};  // beyond the reach of the fine search
    return {tap, kCableEnd};
  }
  return {echo::tap_of(p.distance_m), p.fault == PairFault::kOpen ? kSpike : -kSpike};
}

uint32_t coefficient_word(int value) {
  return static_cast<uint32_t>(value) & 0x3FFF;
}
}  // namespace

namespace echo {

unsigned tap_of(unsigned metres, unsigned offset) {
  unsigned v = 0;
  while (metres_of(v) < metres && v < kLastTap) ++v;
  unsigned tap = v + offset;
  // The noise floor taps hold no reflection: one there shows on the first tap after them.
  if (tap >= kNoiseFloorFirst && tap <= kNoiseFloorLast) tap = kNoiseFloorLast + 1;
  return tap > kLastTap ? kLastTap : tap;
}

uint32_t tr_word(const CableDescription &cable, uint16_t address, uint32_t sub_range_word, uint32_t read,
                 uint32_t stored) {
  const unsigned pair = address >> 11 & 3;
  const unsigned offset = address & 0x7FF;
  // Sub-ranges other than 0 look across pairs: the cable has nothing to show there.
  const bool direct = (sub_range_word >> 13 & 0xFF) == 0;
  const Reflection r = direct ? reflection_of(cable, pair) : Reflection{};
  if (offset == kCoarseOffset) {
    if (cable.disturbed) return 0xF00080;
    // A reflection beyond the fine taps is found by the coarse search: bit 7, its tap from 0x48.
    if (r.size != 0 && r.tap > kNoiseFloorLast) return 0x80u | (r.tap - kNoiseFloorFirst) << 16;
    return 0;
  }
  if ((offset & 1) || offset >= 2 * 0xC0) return stored;
  const unsigned tap = offset / 2;
  int value = cable.silent ? 0 : noise(pair, tap, read);
  // A reflection rises over the taps before its peak with its own sign.
  if (r.size != 0 && tap == r.tap) value += r.size;
  const bool floor_tap = tap >= kNoiseFloorFirst && tap <= kNoiseFloorLast;
  if (r.size != 0 && r.size != kCableEnd && !floor_tap && tap < r.tap && tap + 3 >= r.tap) {
    value += r.size >> (3 + 2 * (r.tap - tap - 1));
  }
  return coefficient_word(value);
}

int wide_coefficient(const CableDescription &cable, unsigned pair, unsigned tap, uint32_t read) {
  constexpr unsigned kTaps = 64;
  int value = cable.silent ? 0 : noise(pair, tap, read);
  if (cable.length_m != 0) {
    const PairDescription &p = cable.pairs[pair & 3];
    if (p.fault == PairFault::kGood) {
      // Family 1 finds a cable end three taps before the partner's port.
      if (tap == tap_of(cable.length_m, 7) + 3) value += kCableEnd;
    } else {
      const unsigned at = std::min(tap_of(p.distance_m, 7), kTaps - 1);
      // The fields of the far taps are narrower: the reflection's size stays inside them.
      const int size = (at < 32 ? 2000 : 1000) * (p.fault == PairFault::kOpen ? 1 : -1);
      if (tap == at) value += size;
      if (tap < at && tap + 3 >= at) value += size >> (3 + 2 * (at - tap - 1));
    }
  }
  return value * 16;
}

}  // namespace echo

std::string parse_cable_description(const std::string &text, CableDescription &out) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty()) return "missing length";
  CableDescription cable;
  char *end = nullptr;
  const unsigned long length = std::strtoul(words[0].c_str(), &end, 10);
  if (*end != '\0' || words[0][0] == '-' || length == 0 || length > kMaxCableMetres) {
    return "length must be 1.." + std::to_string(kMaxCableMetres);
  }
  cable.length_m = static_cast<unsigned>(length);
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string &w = words[i];
    if (w == "silent") {
      cable.silent = true;
      continue;
    }
    if (w == "disturbed") {
      cable.disturbed = true;
      continue;
    }
    if (w.size() < 3 || w[0] < 'A' || w[0] > 'D' || w[1] != '=') return "bad pair " + w;
    PairDescription &p = cable.pairs[static_cast<unsigned>(w[0] - 'A')];
    const size_t at = w.find('@');
    const std::string kind = w.substr(2, at == std::string::npos ? std::string::npos : at - 2);
    if (kind == "good") {
      p.fault = PairFault::kGood;
      if (at != std::string::npos) return "a good pair has no distance: " + w;
      continue;
    }
    if (kind != "open" && kind != "short") return "bad kind in " + w;
    if (at == std::string::npos) return "missing distance in " + w;
    const std::string metres = w.substr(at + 1);
    const unsigned long d = std::strtoul(metres.c_str(), &end, 10);
    if (metres.empty() || *end != '\0' || metres[0] == '-' || d > cable.length_m) {
      return "distance must be 0..length in " + w;
    }
    p.fault = kind == "open" ? PairFault::kOpen : PairFault::kShorted;
    p.distance_m = static_cast<unsigned>(d);
  }
  out = cable;
  return "";
}

// ---- the PHY's side of the cable test ----

bool PhyModel::cable_test_running() const {
  // Family 1 runs the test from its reprogramming of TR 0x0770 until the restore clears it.
  return (peek(1, 24) & 0x8000) || (tr_command_register() == 0 && (tr(0x0770) & 3) == 3);
}

unsigned PhyModel::tr_command_register() const {
  const uint32_t oui = uint32_t{id2_} << 6 | id3_ >> 10;
  const unsigned model = (id3_ >> 4) & 0x3F;
  return oui == 0x3F1 && (model == 1 || model == 4) ? 0 : 16;
}

namespace {
// Stores a field into the read-back bit string: registers 20 down to 4, most significant bit first.
void put_field(std::array<uint16_t, 17> &regs, unsigned offset, unsigned width, uint32_t value) {
  for (unsigned i = 0; i < width; ++i) {
    const unsigned b = offset + i;
    const uint16_t bit = static_cast<uint16_t>(1u << (15 - (b & 15)));
    if (value >> (width - 1 - i) & 1) {
      regs[b >> 4] |= bit;
    } else {
      regs[b >> 4] &= static_cast<uint16_t>(~bit);
    }
  }
}
}  // namespace

void PhyModel::echo_command(uint16_t value) {
  const unsigned operand = value & 0x1FFF;
  std::array<uint16_t, 17> regs{};
  ++echo_reads_;
  for (unsigned pair = 0; pair < 4; ++pair) {
    if (operand < 0x80) {
      // Wide view: per pair one field for each range of 16 taps.
      static constexpr unsigned kStart[4] = {0, 20, 38, 53};
      static constexpr unsigned kWidth[4] = {20, 18, 15, 15};
      const unsigned j = ((operand >> 1) - 0x20) & 0xF;
      for (unsigned r = 0; r < 4; ++r) {
        const int v = echo::wide_coefficient(cable_description_, pair, 16 * r + j, echo_reads_);
        put_field(regs, 68 * pair + kStart[r], kWidth[r], static_cast<uint32_t>(v) & ((1u << kWidth[r]) - 1));
      }
    } else {
      // Narrow views look across pairs and at the noise floor: noise only.
      for (unsigned q = 0; q < 4; ++q) {
        const int n =
            cable_description_.silent ? 0 : 16 * (4 + static_cast<int>((echo_reads_ + pair + q) % 9));
        put_field(regs, 15 * (q < 3 ? 3 * pair + q : 12 + pair), 15, static_cast<uint32_t>(n) & 0x7FFF);
      }
    }
  }
  for (unsigned i = 0; i < regs.size(); ++i) at(kPageTr, 20 - i) = regs[i];
}

uint32_t PhyModel::tr_read_value(uint16_t address) {
  if (!cable_test_running()) return tr(address);
  return echo::tr_word(cable_description_, address, tr(0x0188), ++echo_reads_, tr(address));
}

void PhyModel::cable_test_write(uint16_t page, unsigned reg, uint16_t value) {
  // A test starts with extended register 24 bit 15 (family 1: its last reprogramming write of TR
  // 0x0770); the PHY takes a few reads of register 28 to settle into it.
  const bool starts = (page == 1 && reg == 24 && (value & 0x8000)) ||
                      (page == kPageTr && reg == tr_command_register() && (value & 0xE000) == 0x8000 &&
                       (value & 0x1FFF) == 0x0770 && (tr(0x0770) & 3) == 3);
  if (starts) settle_left_ = cable_test_settle_reads;
  // The test ends with its result written (test register 12 bit 0) or its register restored (TR 0x0190).
  if ((page == kPageTest && reg == 12 && (value & 1)) ||
      (page == kPageTr && reg == tr_command_register() && (value & 0xE000) == 0x8000 &&
       (value & 0x1FFF) == 0x0190 && tr(0x0190) == 0x0F47)) {
    at(1, 24) = static_cast<uint16_t>(at(1, 24) & ~0x8000u);
  }
}

}  // namespace swchip
