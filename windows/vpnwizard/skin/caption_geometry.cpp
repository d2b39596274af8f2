#include "caption_geometry.h"

#include <algorithm>

namespace tunmira {
namespace {
unsigned channel(SkinColour colour, int shift) {
  return (colour >> shift) & 0xFF;
}
}  // namespace

std::vector<CaptionFill> gradient_caption_fills(int width, SkinColour base) {
  std::vector<CaptionFill> fills;
  if (width <= 0) return fills;
  int x0 = width * 5 / 6;
  int step = std::max(1, width * 5 / 384);
  fills.push_back({x0, width, 0});
  int last_left = x0;
  if (step < x0) {
    for (int k = 1;; ++k) {
      int x = x0 - k * step;
      auto shade = [&](int shift) {
        return static_cast<unsigned>(static_cast<unsigned long long>(channel(base, shift)) * k * step / x0);
      };
      fills.push_back({x, x + step, make_skin_colour(shade(0), shade(8), shade(16))});
      last_left = x;
      if (x <= step) break;
    }
  }
  fills.push_back({0, last_left, base});
  return fills;
}

int CaptionLightness(SkinColour colour) {
  unsigned r = channel(colour, 0), g = channel(colour, 8), b = channel(colour, 16);
  unsigned largest = std::max({r, g, b});
  unsigned smallest = std::min({r, g, b});
  return static_cast<int>(((largest + smallest) * 240 + 255) / 510);
}

SkinColour caption_text_colour(SkinColour base) {
  return CaptionLightness(base) < 101 ? make_skin_colour(255, 255, 255) : make_skin_colour(0, 0, 0);
}

}  // namespace tunmira
