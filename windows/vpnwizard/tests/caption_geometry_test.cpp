#include "caption_geometry.h"

#include <gtest/gtest.h>

namespace tunmira {
namespace {

TEST(CaptionGeometry, A384PixelInactiveCaption) {
  SkinColour base = make_skin_colour(200, 100, 50);
  auto fills = gradient_caption_fills(384, base);
  ASSERT_EQ(fills.size(), 1u + 63u + 1u);
  EXPECT_EQ(fills.front(), (CaptionFill{320, 384, 0}));  // black over the last 64 pixels
  for (std::size_t k = 1; k <= 63; ++k) {
    EXPECT_EQ(fills[k].left, 320 - 5 * static_cast<int>(k));
    EXPECT_EQ(fills[k].right - fills[k].left, 5);
  }
  EXPECT_EQ(fills[63].left, 5);
  EXPECT_EQ(fills[1].colour, make_skin_colour(200 * 5 / 320, 100 * 5 / 320, 50 * 5 / 320));
  EXPECT_EQ(fills[63].colour, make_skin_colour(200 * 315 / 320, 100 * 315 / 320, 50 * 315 / 320));
  EXPECT_EQ(fills.back(), (CaptionFill{0, 5, base}));
}

TEST(CaptionGeometry, NarrowCaptionsCoverEveryPixelOnce) {
  for (int width : {1, 2, 5, 6, 7, 12, 77, 383, 1000}) {
    auto fills = gradient_caption_fills(width, make_skin_colour(10, 20, 30));
    std::vector<int> covered(static_cast<std::size_t>(width), 0);
    for (const CaptionFill &f : fills)
      for (int x = f.left; x < f.right; ++x) {
        ASSERT_GE(x, 0);
        ASSERT_LT(x, width);
        ++covered[static_cast<std::size_t>(x)];
      }
    for (int x = 0; x < width; ++x)
      EXPECT_EQ(covered[static_cast<std::size_t>(x)], 1) << width << " at " << x;
  }
  EXPECT_TRUE(gradient_caption_fills(0, 0).empty());
}

TEST(CaptionGeometry, TextColourByLightness) {
  EXPECT_EQ(CaptionLightness(make_skin_colour(200, 200, 200)), 188);
  EXPECT_EQ(caption_text_colour(make_skin_colour(200, 200, 200)), 0u);
  EXPECT_EQ(CaptionLightness(make_skin_colour(0, 0, 128)), 60);
  EXPECT_EQ(caption_text_colour(make_skin_colour(0, 0, 128)), 0xFFFFFFu);
  EXPECT_EQ(CaptionLightness(make_skin_colour(255, 255, 255)), 240);
  EXPECT_EQ(CaptionLightness(0), 0);
}

}  // namespace
}  // namespace tunmira
