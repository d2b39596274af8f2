#include "skin_values.h"

#include <gtest/gtest.h>

#include <limits>

#include "button_layout.h"

namespace tunmira {
namespace {

TEST(SkinValues, FieldsLieBetweenCommas) {
  EXPECT_EQ(skin_field("1,2,3", 1), "1");
  EXPECT_EQ(skin_field("1,2,3", 3), "3");
  EXPECT_EQ(skin_field("1,2,3", 4), "");
  EXPECT_EQ(skin_field("10", 2), "");
  EXPECT_EQ(skin_field("12,", 2), "");
  EXPECT_EQ(skin_field(",,7", 3), "7");
  EXPECT_EQ(skin_field("", 1), "");
}

TEST(SkinValues, NumbersReadLikeAtol) {
  EXPECT_EQ(skin_number(" 42px"), 42);
  EXPECT_EQ(skin_number("-7"), -7);
  EXPECT_EQ(skin_number("+8"), 8);
  EXPECT_EQ(skin_number("abc"), 0);
  EXPECT_EQ(skin_number(""), 0);
  EXPECT_EQ(skin_number("99999999999999999999999"), std::numeric_limits<long>::max());
}

TEST(SkinValues, ColoursTakeEachChannelModulo256) {
  EXPECT_EQ(parse_skin_colour("255,128,1"), 0x0180FFu);
  EXPECT_EQ(parse_skin_colour("300,0,0"), 44u);
  EXPECT_EQ(parse_skin_colour("0,0,256"), 0u);
  EXPECT_EQ(parse_skin_colour("-1,0,0"), 255u);
  EXPECT_EQ(parse_skin_colour("10"), 10u);
}

TEST(SkinValues, PairsAndFontSizes) {
  EXPECT_EQ(parse_skin_pair(""), (SkinPair{-1, -1}));
  EXPECT_EQ(parse_skin_pair("10"), (SkinPair{10, 0}));
  EXPECT_EQ(parse_skin_pair("3,-4"), (SkinPair{3, -4}));
  EXPECT_EQ(parse_skin_font_size("12,"), (SkinFontSize{12, 0, 0}));
  EXPECT_EQ(parse_skin_font_size("12"), (SkinFontSize{12, 0, 0}));
  EXPECT_EQ(parse_skin_font_size("0,16"), (SkinFontSize{-1, 0, 16}));
  EXPECT_EQ(parse_skin_font_size("7,x"), (SkinFontSize{-1, 7, 0}));
}

TEST(SkinValues, ButtonTextEscapes) {
  EXPECT_EQ(unescape_button_text("Next\\r\\nStep"), "Next\r\nStep");
  EXPECT_EQ(unescape_button_text("a\\tb\\"), "a\\tb\\");
  EXPECT_EQ(unescape_button_text("\\\\n"), "\\\n");
}

TEST(SkinValues, ScalingTruncatesWhenReadAndRoundsWhenPlaced) {
  EXPECT_EQ(scale_read(100, 1.26), 126);
  EXPECT_EQ(scale_place(100, 1.26), 126);
  EXPECT_EQ(scale_place(100, 1.255), 125);  // 125.499...
  EXPECT_EQ(scale_place(5, 1.5), 8);
  EXPECT_EQ(scale_read(5, 1.5), 7);
  EXPECT_EQ(scale_read(-3, 1.5), -4);  // toward zero
  EXPECT_EQ(scale_read(std::numeric_limits<long>::max(), 2.0), 1000000000000000L);
}

TEST(ButtonLayout, LinesTopAndFrames) {
  EXPECT_EQ(button_text_lines("Next"), 1);
  EXPECT_EQ(button_text_lines("Next\r\nStep\r\nNow"), 3);
  EXPECT_EQ(button_text_lines("a\nb"), 1);
  EXPECT_EQ(button_text_top(30, 1, 14), 8);
  // Three lines taller than the frame start at the top.
  EXPECT_EQ(button_text_top(30, 3, 14), 0);
  // A strip 301 pixels wide gives frames 100 wide: the last column is never used.
  long frame = 301 / 3;
  EXPECT_EQ(button_text_rect(ButtonFrame::kNormal, frame, 30, 8, 2, 2), (ButtonTextBox{0, 8, 100, 38}));
  EXPECT_EQ(button_text_rect(ButtonFrame::kPressed, frame, 30, 8, 2, 3), (ButtonTextBox{102, 11, 202, 41}));
  EXPECT_EQ(button_text_rect(ButtonFrame::kHover, frame, 30, 8, 2, 3), (ButtonTextBox{200, 8, 300, 38}));
}

}  // namespace
}  // namespace tunmira
