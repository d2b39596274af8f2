#include "text_checks.h"

#include <algorithm>

namespace tunmira {
namespace {

constexpr std::uint32_t kSaturated = 0xFFFFFFFFu;

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool all_digits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), is_digit);
}

}  // namespace

std::uint32_t read_decimal_digits(std::string_view text) {
  std::uint32_t value = 0;
  for (char c : text) {
    if (!is_digit(c)) break;
    const std::uint32_t digit = static_cast<std::uint32_t>(c - '0');
    if (value > (kSaturated - digit) / 10) return kSaturated;
    value = value * 10 + digit;
  }
  return value;
}

int IsNotEmpty(std::string_view text) {
  return text.empty() ? 0 : 1;
}

int IsValidName(std::string_view name) {
  static constexpr std::string_view kRefused = "\"'`*+,./:;<=>?[\\]|";
  if (name.empty()) return 0;
  return name.find_first_of(kRefused) == std::string_view::npos ? 1 : 0;
}

int IsValidOctet(std::string_view octet) {
  if (octet.empty() || !all_digits(octet)) return 0;
  return read_decimal_digits(octet) < 256 ? 1 : 0;
}

int AreValidOctets(std::string_view a, std::string_view b, std::string_view c, std::string_view d) {
  return IsValidOctet(a) && IsValidOctet(b) && IsValidOctet(c) && IsValidOctet(d) ? 1 : 0;
}

int IsValidIpAddress(std::string_view address) {
  if (address.empty()) return 0;
  if (!std::all_of(address.begin(), address.end(), [](char c) { return is_digit(c) || c == '.'; })) return 0;
  if (std::count(address.begin(), address.end(), '.') != 3) return 0;
  std::size_t start = 0;
  while (start <= address.size()) {
    std::size_t dot = address.find('.', start);
    if (dot == std::string_view::npos) dot = address.size();
    const std::string_view piece = address.substr(start, dot - start);
    if (!piece.empty() && read_decimal_digits(piece) > 255) return 0;
    start = dot + 1;
  }
  return 1;
}

int SameSubnet(const std::array<std::uint8_t, 4> &address_a, const std::array<std::uint8_t, 4> &mask_a,
               const std::array<std::uint8_t, 4> &address_b, const std::array<std::uint8_t, 4> &mask_b) {
  for (std::size_t i = 0; i < 4; ++i) {
    if ((address_a[i] & mask_a[i]) != (address_b[i] & mask_b[i])) return 0;
  }
  return 1;
}

}  // namespace tunmira
