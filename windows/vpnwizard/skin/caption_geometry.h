// The picture of the painted caption: a dark band on the right fading into the base colour on the left,
// and the text colour that reads on the base colour.
#pragma once

#include <vector>

#include "skin_values.h"

namespace tunmira {

struct CaptionFill {
  int left = 0;
  int right = 0;  // exclusive
  SkinColour colour = 0;
  bool operator==(const CaptionFill &) const = default;
};

// The fills that make a caption of `width` pixels, from right to left: the black end, the bands, then
// the base colour up to the last band.
std::vector<CaptionFill> gradient_caption_fills(int width, SkinColour base);

// Lightness on a 0..240 scale.
int CaptionLightness(SkinColour colour);

// White text below lightness 101, black above.
SkinColour caption_text_colour(SkinColour base);

}  // namespace tunmira
