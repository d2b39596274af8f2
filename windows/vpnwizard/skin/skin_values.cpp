#include "skin_values.h"

#include <cmath>
#include <limits>

namespace tunmira {

std::string_view skin_field(std::string_view value, int n) {
  for (int i = 1; i < n; ++i) {
    std::size_t comma = value.find(',');
    if (comma == std::string_view::npos) return {};
    value.remove_prefix(comma + 1);
  }
  return value.substr(0, value.find(','));
}

long skin_number(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Saturate instead of overflowing: a huge field is as wrong as it looks, never a wrapped small number.
  constexpr long kMax = std::numeric_limits<long>::max();
  long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return negative ? -value : value;
}

SkinColour parse_skin_colour(std::string_view value) {
  auto channel = [&](int n) { return static_cast<unsigned>(skin_number(skin_field(value, n)) & 0xFF); };
  return make_skin_colour(channel(1), channel(2), channel(3));
}

SkinPair parse_skin_pair(std::string_view value) {
  if (value.empty()) return {};
  return {skin_number(skin_field(value, 1)), skin_number(skin_field(value, 2))};
}

SkinFontSize parse_skin_font_size(std::string_view value) {
  std::string_view second = skin_field(value, 2);
  if (second.empty()) return {skin_number(skin_field(value, 1)), 0, 0};
  return {-1, skin_number(skin_field(value, 1)), skin_number(second)};
}

std::string unescape_button_text(std::string_view value) {
  std::string text;
  text.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && (value[i + 1] == 'r' || value[i + 1] == 'n')) {
      text += value[i + 1] == 'r' ? '\r' : '\n';
      ++i;
    } else {
      text += value[i];
    }
  }
  return text;
}

namespace {
long to_long(double value) {
  constexpr double kLimit = 1e15;  // far beyond any screen, well inside long
  if (!(value < kLimit)) return static_cast<long>(kLimit);
  if (!(value > -kLimit)) return static_cast<long>(-kLimit);
  return static_cast<long>(value);
}
}  // namespace

long scale_read(long value, double factor) {
  return to_long(static_cast<double>(value) * factor);
}

long scale_place(long value, double factor) {
  return to_long(static_cast<double>(value) * factor + 0.5);
}

}  // namespace tunmira
