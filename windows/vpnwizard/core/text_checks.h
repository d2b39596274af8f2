// Checks the wizard applies to what the user types and to what it scrapes from router pages.
// Each returns 1 when the text passes and 0 otherwise, as the page code expects.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tunmira {

int IsNotEmpty(std::string_view text);

// Tunnel names: not empty and none of the characters the router's forms cannot carry.
int IsValidName(std::string_view name);

// One octet field: digits only, value below 256.
int IsValidOctet(std::string_view octet);
int AreValidOctets(std::string_view a, std::string_view b, std::string_view c, std::string_view d);

// A dotted address: digits and dots only, exactly three dots, every non-empty piece 0..255.
// Empty pieces are skipped, so "1..2.3" passes.
int IsValidIpAddress(std::string_view address);

// 1 when both addresses lie in the same network under their own masks.
int SameSubnet(const std::array<std::uint8_t, 4> &address_a, const std::array<std::uint8_t, 4> &mask_a,
               const std::array<std::uint8_t, 4> &address_b, const std::array<std::uint8_t, 4> &mask_b);

// Reads a run of decimal digits from the start of text. Values saturate instead of overflowing, so
// an over-long run compares as "too large" instead of wrapping to a small number.
std::uint32_t read_decimal_digits(std::string_view text);

}  // namespace tunmira
