#include "skin_values.h"

#include <gtest/gtest.h>

#include <limits>

#include "button_layout.h"

namespace tunmira {
namespace {

TEST(SkinValues, FieldsLieBetweenCommas) {
  EXPECT_EQ(SkinField("1,2,3", 1), "1");
  EXPECT_EQ(SkinField("1,2,3", 3), "3");
  EXPECT_EQ(SkinField("1,2,3", 4), "");
  EXPECT_EQ(SkinField("10", 2), "");
  EXPECT_EQ(SkinField("12,", 2), "");
  EXPECT_EQ(SkinField(",,7", 3), "7");
  EXPECT_EQ(SkinField("", 1), "");
}

TEST(SkinValues, NumbersReadLikeAtol) {
  EXPECT_EQ(SkinNumber(" 42px"), 42);
  EXPECT_EQ(SkinNumber("-7"), -7);
  EXPECT_EQ(SkinNumber("+8"), 8);
  EXPECT_EQ(SkinNumber("abc"), 0);
  EXPECT_EQ(SkinNumber(""), 0);
  EXPECT_EQ(SkinNumber("99999999999999999999999"), std::numeric_limits<long>::max());
}

TEST(SkinValues, ColoursTakeEachChannelModulo256) {
  EXPECT_EQ(ParseSkinColour("255,128,1"), 0x0180FFu);
  EXPECT_EQ(ParseSkinColour("300,0,0"), 44u);
  EXPECT_EQ(ParseSkinColour("0,0,256"), 0u);
  EXPECT_EQ(ParseSkinColour("-1,0,0"), 255u);
  EXPECT_EQ(ParseSkinColour("10"), 10u);
}

TEST(SkinValues, PairsAndFontSizes) {
  EXPECT_EQ(ParseSkinPair(""), (SkinPair{-1, -1}));
  EXPECT_EQ(ParseSkinPair("10"), (SkinPair{10, 0}));
  EXPECT_EQ(ParseSkinPair("3,-4"), (SkinPair{3, -4}));
  EXPECT_EQ(ParseSkinFontSize("12,"), (SkinFontSize{12, 0, 0}));
  EXPECT_EQ(ParseSkinFontSize("12"), (SkinFontSize{12, 0, 0}));
  EXPECT_EQ(ParseSkinFontSize("0,16"), (SkinFontSize{-1, 0, 16}));
  EXPECT_EQ(ParseSkinFontSize("7,x"), (SkinFontSize{-1, 7, 0}));
}

TEST(SkinValues, ButtonTextEscapes) {
  EXPECT_EQ(UnescapeButtonText("Next\\r\\nStep"), "Next\r\nStep");
  EXPECT_EQ(UnescapeButtonText("a\\tb\\"), "a\\tb\\");
  EXPECT_EQ(UnescapeButtonText("\\\\n"), "\\\n");
}

TEST(SkinValues, ScalingTruncatesWhenReadAndRoundsWhenPlaced) {
  EXPECT_EQ(ScaleRead(100, 1.26), 126);
  EXPECT_EQ(ScalePlace(100, 1.26), 126);
  EXPECT_EQ(ScalePlace(100, 1.255), 125);  // 125.499...
  EXPECT_EQ(ScalePlace(5, 1.5), 8);
  EXPECT_EQ(ScaleRead(5, 1.5), 7);
  EXPECT_EQ(ScaleRead(-3, 1.5), -4);  // toward zero
  EXPECT_EQ(ScaleRead(std::numeric_limits<long>::max(), 2.0), 1000000000000000L);
}

TEST(ButtonLayout, LinesTopAndFrames) {
  EXPECT_EQ(ButtonTextLines("Next"), 1);
  EXPECT_EQ(ButtonTextLines("Next\r\nStep\r\nNow"), 3);
  EXPECT_EQ(ButtonTextLines("a\nb"), 1);
  EXPECT_EQ(ButtonTextTop(30, 1, 14), 8);
  // Three lines taller than the frame start at the top.
  EXPECT_EQ(ButtonTextTop(30, 3, 14), 0);
  // A strip 301 pixels wide gives frames 100 wide: the last column is never used.
  long frame = 301 / 3;
  EXPECT_EQ(ButtonTextRect(ButtonFrame::Normal, frame, 30, 8, 2, 2), (ButtonTextBox{0, 8, 100, 38}));
  EXPECT_EQ(ButtonTextRect(ButtonFrame::Pressed, frame, 30, 8, 2, 3), (ButtonTextBox{102, 11, 202, 41}));
  EXPECT_EQ(ButtonTextRect(ButtonFrame::Hover, frame, 30, 8, 2, 3), (ButtonTextBox{200, 8, 300, 38}));
}

}  // namespace
}  // namespace tunmira
