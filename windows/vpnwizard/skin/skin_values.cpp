#include "skin_values.h"

#include <cmath>
#include <limits>

namespace tunmira {

std::string_view SkinField(std::string_view value, int n) {
  for (int i = 1; i < n; ++i) {
    std::size_t comma = value.find(',');
    if (comma == std::string_view::npos) return {};
    value.remove_prefix(comma + 1);
  }
  return value.substr(0, value.find(','));
}

long SkinNumber(std::string_view text) {
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

SkinColour ParseSkinColour(std::string_view value) {
  auto channel = [&](int n) { return static_cast<unsigned>(SkinNumber(SkinField(value, n)) & 0xFF); };
  return MakeSkinColour(channel(1), channel(2), channel(3));
}

SkinPair ParseSkinPair(std::string_view value) {
  if (value.empty()) return {};
  return {SkinNumber(SkinField(value, 1)), SkinNumber(SkinField(value, 2))};
}

SkinFontSize ParseSkinFontSize(std::string_view value) {
  std::string_view second = SkinField(value, 2);
  if (second.empty()) return {SkinNumber(SkinField(value, 1)), 0, 0};
  return {-1, SkinNumber(SkinField(value, 1)), SkinNumber(second)};
}

std::string UnescapeButtonText(std::string_view value) {
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
long ToLong(double value) {
  constexpr double kLimit = 1e15;  // far beyond any screen, well inside long
  if (!(value < kLimit)) return static_cast<long>(kLimit);
  if (!(value > -kLimit)) return static_cast<long>(-kLimit);
  return static_cast<long>(value);
}
}  // namespace

long ScaleRead(long value, double factor) {
  return ToLong(static_cast<double>(value) * factor);
}

long ScalePlace(long value, double factor) {
  return ToLong(static_cast<double>(value) * factor + 0.5);
}

}  // namespace tunmira
