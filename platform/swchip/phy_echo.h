// What a PHY's echo canceller learns from the cable on its port: per pair a coefficient for each tap
// of the echo's delay, as the cable test reads them. A reflection shows as a spike at the tap of its
// distance: positive where a pair is open, negative where it is shorted; a good pair shows a small
// bump where the cable ends at the partner's port. Every tap carries a little noise.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace swchip {

enum class PairFault { kGood, kOpen, kShorted };

struct PairDescription {
  PairFault fault = PairFault::kGood;
  unsigned distance_m = 0;  // where an open or short is
};

struct CableDescription {
  unsigned length_m = 0;  // 0: no description, the canceller sees noise only
  std::array<PairDescription, 4> pairs{};
  bool silent = false;     // a canceller that learned nothing: no noise either
  bool disturbed = false;  // every coarse search reports a disturbance (energy from a link partner)
};

// Longest cable and distance a description may give.
inline constexpr unsigned kMaxCableMetres = 150;

// Parses "LENGTH [PAIR=KIND[@METRES]]... [silent] [disturbed]", PAIR one of A-D, KIND good, open or
// short; pairs not named are good. An empty string on success, else what is wrong.
std::string parse_cable_description(const std::string &text, CableDescription &out);

namespace echo {
// Taps of the canceller whose coefficients are noise only: the test reads its noise floor there.
inline constexpr unsigned kNoiseFloorFirst = 0x48;
inline constexpr unsigned kNoiseFloorLast = 0x4F;
// The tap of a reflection `metres` away, `offset` taps between the port and the cable.
unsigned tap_of(unsigned metres, unsigned offset = 6);
// The echo canceller of a family-1 PHY: the coefficient of a pair at a tap (0..63), 16 times the
// scale of the TR coefficients of the other families.
int wide_coefficient(const CableDescription &cable, unsigned pair, unsigned tap, uint32_t read);
// The TR word the cable test reads at `address` while it runs, for a description; `read` counts the
// reads so the noise changes from one read to the next. Addresses outside the canceller's give
// `stored`.
uint32_t tr_word(const CableDescription &cable, uint16_t address, uint32_t sub_range_word, uint32_t read,
                 uint32_t stored);
}  // namespace echo

}  // namespace swchip
