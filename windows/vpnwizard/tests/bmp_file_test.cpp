#include "bmp_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tunmira {
namespace {

void put32(std::vector<std::uint8_t> &b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(std::vector<std::uint8_t> &b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A well-formed file with a 40-byte header.
std::vector<std::uint8_t> make_bmp(std::int32_t width, std::int32_t height, std::uint16_t bits,
                                   std::uint32_t used_colours = 0, std::uint32_t compression = 0) {
  std::size_t entries =
      bits <= 8 ? (used_colours ? used_colours : 1u << bits) : used_colours + (compression == 3 ? 3 : 0);
  std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  std::size_t rows = static_cast<std::size_t>(height < 0 ? -height : height);
  std::size_t offset = 14 + 40 + 4 * entries;
  std::vector<std::uint8_t> b(offset + stride * rows, 0x5A);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 2, static_cast<std::uint32_t>(b.size()));
  put32(b, 6, 0);
  put32(b, 10, static_cast<std::uint32_t>(offset));
  put32(b, 14, 40);
  put32(b, 18, static_cast<std::uint32_t>(width));
  put32(b, 22, static_cast<std::uint32_t>(height));
  put16(b, 26, 1);
  put16(b, 28, bits);
  put32(b, 30, compression);
  put32(b, 34, static_cast<std::uint32_t>(stride * rows));
  put32(b, 38, 2835);
  put32(b, 42, 2835);
  put32(b, 46, used_colours);
  put32(b, 50, 0);
  return b;
}

TEST(BmpFile, WellFormedFilesAreLaidOut) {
  auto one = check_bmp_file(make_bmp(9, 3, 1));
  ASSERT_TRUE(one);
  EXPECT_EQ(one->colour_entries, 2u);  // 1 bit without a used-colour count: two entries
  EXPECT_EQ(one->bits_offset, 48u);
  EXPECT_EQ(one->bits_size, 12u);

  auto palette = check_bmp_file(make_bmp(10, -4, 8, 16));
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->colour_entries, 16u);
  EXPECT_EQ(palette->height, -4);
  EXPECT_EQ(palette->bits_size, 48u);

  auto strip = check_bmp_file(make_bmp(301, 30, 24));
  ASSERT_TRUE(strip);
  EXPECT_EQ(strip->colour_entries, 0u);
  EXPECT_EQ(strip->bits_offset, 40u);
  EXPECT_EQ(strip->bits_size, 904u * 30u);

  auto masks = check_bmp_file(make_bmp(4, 4, 16, 0, 3));
  ASSERT_TRUE(masks);
  EXPECT_EQ(masks->colour_entries, 3u);
}

TEST(BmpFile, EveryTruncationIsRefused) {
  for (auto file : {make_bmp(9, 3, 1), make_bmp(10, 10, 8), make_bmp(7, 5, 24), make_bmp(3, 3, 32, 0, 3)}) {
    for (std::size_t n = 0; n < file.size(); ++n)
      EXPECT_FALSE(check_bmp_file(std::span(file.data(), n))) << "length " << n << " of " << file.size();
    EXPECT_TRUE(check_bmp_file(file));
  }
}

TEST(BmpFile, DamagedHeadersAreRefused) {
  auto damaged = [](auto change) {
    auto file = make_bmp(16, 16, 8);
    change(file);
    return check_bmp_file(file).has_value();
  };
  EXPECT_FALSE(damaged([](auto &f) { f[0] = 'M'; }));
  EXPECT_FALSE(damaged([](auto &f) { put32(f, 14, 12); }));           // older, shorter header
  EXPECT_FALSE(damaged([](auto &f) { put32(f, 14, 0xFFFFFFF0u); }));  // header longer than the file
  EXPECT_FALSE(damaged([](auto &f) { put32(f, 18, 0); }));            // no width
  EXPECT_FALSE(damaged([](auto &f) { put32(f, 18, 0x80000000u); }));  // negative width
  EXPECT_FALSE(damaged([](auto &f) { put32(f, 22, 0); }));            // no height
  EXPECT_FALSE(damaged([](auto &f) { put32(f, 22, 0x80000000u); }));  // height that cannot be negated
  EXPECT_FALSE(damaged([](auto &f) { put32(f, 18, 0x7FFFFFFF); }));   // rows far past the end
  EXPECT_FALSE(damaged([](auto &f) { put16(f, 26, 2); }));            // planes
  EXPECT_FALSE(damaged([](auto &f) { put16(f, 28, 7); }));            // bit count
  EXPECT_FALSE(damaged([](auto &f) { put32(f, 30, 1); }));            // run-length
  EXPECT_FALSE(damaged([](auto &f) { put32(f, 30, 3); }));            // masks on 8 bits
  EXPECT_FALSE(damaged([](auto &f) { put32(f, 46, 257); }));          // colour table too long
  EXPECT_FALSE(damaged([](auto &f) { put32(f, 46, 0xFFFFFFFFu); }));
  EXPECT_TRUE(damaged([](auto &f) { put32(f, 2, 1); }));  // the size field is not used
}

TEST(BmpFile, LaterHeadersCarryTheirMasksInside) {
  auto file = make_bmp(4, 4, 32, 0, 3);
  // Turn the 40-byte header plus three masks into one 52-byte header.
  put32(file, 14, 52);
  auto layout = check_bmp_file(file);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->colour_entries, 0u);
  EXPECT_EQ(layout->bits_offset, 52u);
}

}  // namespace
}  // namespace tunmira
