// The 24-hour chart as a PNG reader sees it: size, palette, where the lines and the axes fall, and
// how the scales follow the maxima. Hour value i is drawn at plot x 12 (i + 1); row r at plot
// y 198 - 18 r; the plot area starts at image (55, 1).
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "vornagent_chart.h"

namespace {

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb &) const = default;
};

// A decoded palette PNG: one palette index per pixel.
struct PaletteImage {
  int width = 0, height = 0;
  std::vector<Rgb> palette;
  std::vector<uint8_t> pixels;
  Rgb at(int x, int y) const { return palette.at(pixels.at(static_cast<std::size_t>(y * width + x))); }
};

PaletteImage decode(const std::filesystem::path &path) {
  PaletteImage image;
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) return image;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_info(png, info);
    if (png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE) {
      png_set_packing(png);  // one byte per index whatever the bit depth
      png_read_update_info(png, info);
      image.width = static_cast<int>(png_get_image_width(png, info));
      image.height = static_cast<int>(png_get_image_height(png, info));
      png_colorp colours = nullptr;
      int count = 0;
      png_get_PLTE(png, info, &colours, &count);
      for (int i = 0; i < count; ++i)
        image.palette.push_back({colours[i].red, colours[i].green, colours[i].blue});
      image.pixels.resize(static_cast<std::size_t>(image.width * image.height));
      std::vector<png_bytep> rows;
      for (int y = 0; y < image.height; ++y)
        rows.push_back(&image.pixels[static_cast<std::size_t>(y * image.width)]);
      png_read_image(png, rows.data());
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return image;
}

constexpr Rgb kBackground{228, 231, 240}, kGrid{211, 214, 223}, kWan{193, 108, 113}, kEvent{182, 153, 183},
    kBlack{0, 0, 0};

class Chart : public ::testing::Test {
 protected:
  void SetUp() override {
    path = std::filesystem::temp_directory_path() /
           ("vornagent-chart." + std::to_string(getpid()) + "." +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png");
  }
  void TearDown() override { std::filesystem::remove(path); }

  PaletteImage paint() {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    EXPECT_EQ(doPaint(file, wan.data(), events.data()), 0);
    std::fclose(file);
    return decode(path);
  }

  static int image_x(int hour) { return 55 + 12 * (hour + 1); }
  static int image_y(int row) { return 1 + 198 - 18 * row; }

  std::filesystem::path path;
  std::array<int, 24> wan{}, events{};
};

TEST_F(Chart, IsAPaletteImageOfFixedSizeWithItsFiveColoursInOrder) {
  PaletteImage image = paint();
  EXPECT_EQ(image.width, 404);
  EXPECT_EQ(image.height, 225);
  ASSERT_EQ(image.palette.size(), 5u);
  EXPECT_EQ(image.palette[0], kBackground);
  EXPECT_EQ(image.palette[1], kGrid);
  EXPECT_EQ(image.palette[2], kWan);
  EXPECT_EQ(image.palette[3], kEvent);
  EXPECT_EQ(image.palette[4], kBlack);
}

TEST_F(Chart, GridAndAxesFallOnTheirLines) {
  PaletteImage image = paint();
  EXPECT_EQ(image.at(0, 0), kBackground);
  EXPECT_EQ(image.at(55 + 12, 50), kGrid);        // first hour column
  EXPECT_EQ(image.at(55 + 30, 1 + 18), kGrid);    // first row line
  EXPECT_EQ(image.at(55 + 276, 100), kGrid);      // last hour column
  EXPECT_EQ(image.at(55 + 6, 100), kBackground);  // between two columns
  for (int x : {-4, 0, 288, 292}) EXPECT_EQ(image.at(55 + x, 100), kBlack) << x;
  EXPECT_EQ(image.at(55 + 100, 1 + 201), kBlack);  // the second bottom line
  EXPECT_EQ(image.at(55 + 24, 1 + 203), kBlack);   // an hour tick
  EXPECT_EQ(image.at(55 - 6, 1 + 36), kBlack);     // a left scale tick
  EXPECT_EQ(image.at(55 + 294, 1 + 36), kBlack);   // a right scale tick
}

TEST_F(Chart, AllZeroInputDrawsBothLinesAlongTheBottomRow) {
  PaletteImage image = paint();
  // A line of thickness 2 covers its own row and the one above; the bottom axis is drawn last.
  EXPECT_EQ(image.at(image_x(5) + 6, image_y(0)), kBlack);
  EXPECT_EQ(image.at(image_x(5) + 6, image_y(0) - 1), kWan);
  EXPECT_EQ(image.at(image_x(5) + 6, image_y(0) - 2), kBackground);
}

TEST_F(Chart, EachSeriesIsDrawnAtItsScaledRow) {
  events.fill(50);  // scale 0: tens of events, so row 5
  wan.fill(3);      // scale 0: MiB as they are, so row 3
  PaletteImage image = paint();
  EXPECT_EQ(image.at(image_x(8) + 6, image_y(5)), kEvent);
  EXPECT_EQ(image.at(image_x(8) + 6, image_y(3)), kWan);
  EXPECT_EQ(image.at(image_x(8) + 6, image_y(4)), kGrid);
  // The first segment rises from the bottom left corner of the plot.
  EXPECT_EQ(image.at(55 + 6, (image_y(0) + image_y(3)) / 2), kWan);
}

TEST_F(Chart, TheWanLineLiesOverTheEventLine) {
  events.fill(70);
  wan.fill(7);
  PaletteImage image = paint();
  EXPECT_EQ(image.at(image_x(10) + 6, image_y(7)), kWan);
}

TEST_F(Chart, ScalesFollowTheMaxima) {
  wan[3] = 10;
  events[3] = 100;
  paint();
  EXPECT_EQ(wan[3], 10);     // WAN scale 0: not divided
  EXPECT_EQ(events[3], 10);  // event scale 0: tens

  wan.fill(0), events.fill(0);
  wan[3] = 11;
  wan[4] = 95;
  events[3] = 101;
  paint();
  EXPECT_EQ(wan[3], 2);  // WAN scale 1: tens of MiB, rounded up
  EXPECT_EQ(wan[4], 10);
  EXPECT_EQ(events[3], 2);  // event scale 1: hundreds

  wan.fill(0), events.fill(0);
  wan[0] = 5000;
  wan[1] = 1;
  events[0] = 99999;
  paint();
  EXPECT_EQ(wan[0], 5);      // scale 3: GiB
  EXPECT_EQ(wan[1], 1);      // anything above zero shows
  EXPECT_EQ(events[0], 10);  // capped
}

TEST_F(Chart, AdjustRoundsUpCapsAndKeepsUnitMinusOne) {
  int values[24] = {0, 1, 10, 11, 95, 101, 1000};
  adjust(values, 10);
  EXPECT_EQ(values[0], 0);
  EXPECT_EQ(values[1], 1);
  EXPECT_EQ(values[2], 1);
  EXPECT_EQ(values[3], 2);
  EXPECT_EQ(values[4], 10);
  EXPECT_EQ(values[5], 10);
  int kept[24] = {12, 3};
  adjust(kept, -1);
  EXPECT_EQ(kept[0], 12);
}

TEST(ChartLine, AValueAboveTheTopIsDrawnAtTheTopOfThePlot) {
  gdImagePtr image = gdImageCreate(404, 225);
  gdImageColorAllocate(image, 0, 0, 0);
  int colour = gdImageColorAllocate(image, 255, 255, 255);
  int values[24] = {12, 12, -3};
  paintChart(image, values, 24, colour);
  EXPECT_EQ(gdImageGetPixel(image, 55 + 18, 1), colour);            // row 11: plot y 0
  EXPECT_EQ(gdImageGetPixel(image, 55 + 42, 1 + 198 - 1), colour);  // negative: the bottom row
  gdImageDestroy(image);
}

TEST(ChartFile, AMissingFileIsReportedBeforeAnythingIsDrawn) {
  int wan[24] = {5}, events[24] = {500};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(doPaint(nullptr, wan, events), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "error : can't open file !!!\n");
  EXPECT_EQ(wan[0], 5);
  EXPECT_EQ(events[0], 500);
}

}  // namespace
