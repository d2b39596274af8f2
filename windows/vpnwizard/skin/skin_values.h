// The value forms of the skin files: comma-separated fields, colours, pairs, font sizes, button texts
// with escapes, and the display scaling of positions and sizes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tunmira {

// A colour as the system stores it: red + 256 green + 65536 blue.
using SkinColour = std::uint32_t;

constexpr SkinColour make_skin_colour(unsigned red, unsigned green, unsigned blue) {
  return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}

struct SkinPair {
  long x = -1;
  long y = -1;
  bool operator==(const SkinPair &) const = default;
};

struct SkinFontSize {
  long points = 0;  // -1 when the size is given as width and height
  long width = 0;
  long height = 0;
  bool operator==(const SkinFontSize &) const = default;
};

// Field n (from 1): the text between comma n-1 and comma n; empty beyond the last comma.
std::string_view skin_field(std::string_view value, int n);
// A number the way atol reads it: leading spaces, a sign, digits; anything else counts 0.
long skin_number(std::string_view text);
// "r,g,b", each channel modulo 256.
SkinColour parse_skin_colour(std::string_view value);
// "x,y"; an empty value is the missing pair (-1, -1).
SkinPair parse_skin_pair(std::string_view value);
// Points, or width,height when the second field is not empty.
SkinFontSize parse_skin_font_size(std::string_view value);
// Replaces the two-character sequences \r and \n by a carriage return and a line feed.
std::string unescape_button_text(std::string_view value);

// Scaling of a value read from the skin (truncated) and of a value placed on a page (rounded).
long scale_read(long value, double factor);
long scale_place(long value, double factor);

// The process-wide display scale: set by the main dialog and the first page when the screen is not at
// 96 dots per inch.
inline bool DisplayScaled = false;
inline double DialogScaleX = 1.0;
inline double DialogScaleY = 1.0;
inline double PageScaleX = 1.0;
inline double PageScaleY = 1.0;

}  // namespace tunmira
