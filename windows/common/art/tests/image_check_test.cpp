// The header checks that judge the drawn pictures: whole files pass, cut or inconsistent ones are
// refused with their reason, and a strip's frames are cut where they lie.
#include <gtest/gtest.h>

#include "image_check.h"

namespace art_check {
namespace {

void put(std::vector<std::uint8_t> &b, std::size_t at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A 24-bit picture, every pixel of column x coloured x.
std::vector<std::uint8_t> make_bmp(int width, int height) {
  std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  std::vector<std::uint8_t> b(54 + stride * static_cast<std::size_t>(height));
  b[0] = 'B';
  b[1] = 'M';
  put(b, 2, static_cast<std::uint32_t>(b.size()), 4);
  put(b, 10, 54, 4);
  put(b, 14, 40, 4);
  put(b, 18, static_cast<std::uint32_t>(width), 4);
  put(b, 22, static_cast<std::uint32_t>(height), 4);
  put(b, 26, 1, 2);
  put(b, 28, 24, 2);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        b[54 + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 3 +
          static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(x);
  return b;
}

std::vector<std::uint8_t> make_jpeg(int width, int height) {
  return {0xFF,
          0xD8,
          0xFF,
          0xE0,
          0x00,
          0x04,
          'J',
          'F',
          0xFF,
          0xC0,
          0x00,
          0x0B,
          0x08,
          static_cast<std::uint8_t>(height >> 8),
          static_cast<std::uint8_t>(height),
          static_cast<std::uint8_t>(width >> 8),
          static_cast<std::uint8_t>(width),
          0x01,
          0x01,
          0x11,
          0x00,
          0xFF,
          0xD9};
}

TEST(ImageCheck, AcceptsWholeBmpAndJpegWithTheirSizes) {
  ImageHeader bmp = check_bmp(make_bmp(5, 3));
  EXPECT_EQ(bmp.error, "");
  EXPECT_EQ(bmp.width, 5);
  EXPECT_EQ(bmp.height, 3);
  ImageHeader jpeg = check_jpeg(make_jpeg(525, 380));
  EXPECT_EQ(jpeg.error, "");
  EXPECT_EQ(jpeg.width, 525);
  EXPECT_EQ(jpeg.height, 380);
}

TEST(ImageCheck, RefusesBmpsThatDoNotHoldWhatTheirHeadersSay) {
  auto cut = make_bmp(5, 3);
  cut.pop_back();
  EXPECT_NE(check_bmp(cut).error, "") << "file size field no longer matches";
  put(cut, 2, static_cast<std::uint32_t>(cut.size()), 4);
  EXPECT_EQ(check_bmp(cut).error, "pixel rows run past the end of the file");

  auto tall = make_bmp(5, 3);
  put(tall, 22, 4, 4);
  EXPECT_EQ(check_bmp(tall).error, "pixel rows run past the end of the file");
  auto far_bits = make_bmp(5, 3);
  put(far_bits, 10, 0xFFFFFFF0u, 4);
  EXPECT_EQ(check_bmp(far_bits).error, "pixel rows run past the end of the file");

  auto core = make_bmp(5, 3);
  put(core, 14, 12, 4);
  EXPECT_EQ(check_bmp(core).error, "information header is not 40 bytes");
  auto packed = make_bmp(5, 3);
  put(packed, 30, 1, 4);
  EXPECT_EQ(check_bmp(packed).error, "compressed");
  auto empty = make_bmp(5, 3);
  put(empty, 18, 0, 4);
  EXPECT_EQ(check_bmp(empty).error, "empty picture");
  EXPECT_EQ(check_bmp(std::vector<std::uint8_t>(10, 'B')).error, "no BM file header");
}

TEST(ImageCheck, RefusesJpegsWhoseSegmentsDoNotAddUp) {
  auto no_end = make_jpeg(10, 10);
  no_end.pop_back();
  EXPECT_EQ(check_jpeg(no_end).error, "no end-of-image marker");
  auto long_segment = make_jpeg(10, 10);
  long_segment[5] = 0x40;
  EXPECT_EQ(check_jpeg(long_segment).error, "segment runs past the end of the file");
  std::vector<std::uint8_t> no_frame = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xD9};
  EXPECT_NE(check_jpeg(no_frame).error, "");
  EXPECT_EQ(check_jpeg({0x00, 0x01, 0xFF, 0xD9}).error, "no start-of-image marker");
  auto zero = make_jpeg(0, 10);
  EXPECT_EQ(check_jpeg(zero).error, "empty picture");
}

TEST(ImageCheck, AcceptsAnIconWhosePicturesLieInsideAndRefusesOneCut) {
  // Two entries, 32 x 32 and 16 x 16, each picture 8 bytes after the directory.
  std::vector<std::uint8_t> icon(6 + 32 + 16);
  put(icon, 2, 1, 2);
  put(icon, 4, 2, 2);
  icon[6] = icon[7] = 32;
  put(icon, 6 + 8, 8, 4);
  put(icon, 6 + 12, 38, 4);
  icon[22] = icon[23] = 16;
  put(icon, 22 + 8, 8, 4);
  put(icon, 22 + 12, 46, 4);
  ImageHeader h = check_ico(icon);
  EXPECT_EQ(h.error, "");
  EXPECT_EQ(h.width, 32);
  icon.pop_back();
  EXPECT_EQ(check_ico(icon).error, "picture runs past the end of the file");
  put(icon, 4, 9, 2);
  EXPECT_EQ(check_ico(icon).error, "directory runs past the end of the file");
  put(icon, 2, 3, 2);
  EXPECT_EQ(check_ico(icon).error, "no icon directory");
  put(icon, 2, 2, 2);
  EXPECT_EQ(check_ico(icon).format, "cur");
}

TEST(ImageCheck, CutsAStripIntoItsFrames) {
  auto strip = make_bmp(6, 2);
  ImageHeader h = check_bmp(strip);
  ASSERT_EQ(h.error, "");
  // Frame 1 holds columns 2 and 3 on both rows.
  EXPECT_EQ(bmp_frame(strip, h, 3, 1), (std::vector<std::uint8_t>{2, 2, 2, 3, 3, 3, 2, 2, 2, 3, 3, 3}));
  EXPECT_NE(bmp_frame(strip, h, 3, 0), bmp_frame(strip, h, 3, 2));
}

}  // namespace
}  // namespace art_check
