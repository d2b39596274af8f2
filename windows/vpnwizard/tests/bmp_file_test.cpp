#include "bmp_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tunmira {
namespace {

void Put32(std::vector<std::uint8_t> &b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::vector<std::uint8_t> &b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A well-formed file with a 40-byte header.
std::vector<std::uint8_t> MakeBmp(std::int32_t width, std::int32_t height, std::uint16_t bits,
                                  std::uint32_t usedColours = 0, std::uint32_t compression = 0) {
  std::size_t entries =
      bits <= 8 ? (usedColours ? usedColours : 1u << bits) : usedColours + (compression == 3 ? 3 : 0);
  std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  std::size_t rows = static_cast<std::size_t>(height < 0 ? -height : height);
  std::size_t offset = 14 + 40 + 4 * entries;
  std::vector<std::uint8_t> b(offset + stride * rows, 0x5A);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 6, 0);
  Put32(b, 10, static_cast<std::uint32_t>(offset));
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(width));
  Put32(b, 22, static_cast<std::uint32_t>(height));
  Put16(b, 26, 1);
  Put16(b, 28, bits);
  Put32(b, 30, compression);
  Put32(b, 34, static_cast<std::uint32_t>(stride * rows));
  Put32(b, 38, 2835);
  Put32(b, 42, 2835);
  Put32(b, 46, usedColours);
  Put32(b, 50, 0);
  return b;
}

TEST(BmpFile, WellFormedFilesAreLaidOut) {
  auto one = CheckBmpFile(MakeBmp(9, 3, 1));
  ASSERT_TRUE(one);
  EXPECT_EQ(one->colourEntries, 2u);  // 1 bit without a used-colour count: two entries
  EXPECT_EQ(one->bitsOffset, 48u);
  EXPECT_EQ(one->bitsSize, 12u);

  auto palette = CheckBmpFile(MakeBmp(10, -4, 8, 16));
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->colourEntries, 16u);
  EXPECT_EQ(palette->height, -4);
  EXPECT_EQ(palette->bitsSize, 48u);

  auto strip = CheckBmpFile(MakeBmp(301, 30, 24));
  ASSERT_TRUE(strip);
  EXPECT_EQ(strip->colourEntries, 0u);
  EXPECT_EQ(strip->bitsOffset, 40u);
  EXPECT_EQ(strip->bitsSize, 904u * 30u);

  auto masks = CheckBmpFile(MakeBmp(4, 4, 16, 0, 3));
  ASSERT_TRUE(masks);
  EXPECT_EQ(masks->colourEntries, 3u);
}

TEST(BmpFile, EveryTruncationIsRefused) {
  for (auto file : {MakeBmp(9, 3, 1), MakeBmp(10, 10, 8), MakeBmp(7, 5, 24), MakeBmp(3, 3, 32, 0, 3)}) {
    for (std::size_t n = 0; n < file.size(); ++n)
      EXPECT_FALSE(CheckBmpFile(std::span(file.data(), n))) << "length " << n << " of " << file.size();
    EXPECT_TRUE(CheckBmpFile(file));
  }
}

TEST(BmpFile, DamagedHeadersAreRefused) {
  auto damaged = [](auto change) {
    auto file = MakeBmp(16, 16, 8);
    change(file);
    return CheckBmpFile(file).has_value();
  };
  EXPECT_FALSE(damaged([](auto &f) { f[0] = 'M'; }));
  EXPECT_FALSE(damaged([](auto &f) { Put32(f, 14, 12); }));           // older, shorter header
  EXPECT_FALSE(damaged([](auto &f) { Put32(f, 14, 0xFFFFFFF0u); }));  // header longer than the file
  EXPECT_FALSE(damaged([](auto &f) { Put32(f, 18, 0); }));            // no width
  EXPECT_FALSE(damaged([](auto &f) { Put32(f, 18, 0x80000000u); }));  // negative width
  EXPECT_FALSE(damaged([](auto &f) { Put32(f, 22, 0); }));            // no height
  EXPECT_FALSE(damaged([](auto &f) { Put32(f, 22, 0x80000000u); }));  // height that cannot be negated
  EXPECT_FALSE(damaged([](auto &f) { Put32(f, 18, 0x7FFFFFFF); }));   // rows far past the end
  EXPECT_FALSE(damaged([](auto &f) { Put16(f, 26, 2); }));            // planes
  EXPECT_FALSE(damaged([](auto &f) { Put16(f, 28, 7); }));            // bit count
  EXPECT_FALSE(damaged([](auto &f) { Put32(f, 30, 1); }));            // run-length
  EXPECT_FALSE(damaged([](auto &f) { Put32(f, 30, 3); }));            // masks on 8 bits
  EXPECT_FALSE(damaged([](auto &f) { Put32(f, 46, 257); }));          // colour table too long
  EXPECT_FALSE(damaged([](auto &f) { Put32(f, 46, 0xFFFFFFFFu); }));
  EXPECT_TRUE(damaged([](auto &f) { Put32(f, 2, 1); }));  // the size field is not used
}

TEST(BmpFile, LaterHeadersCarryTheirMasksInside) {
  auto file = MakeBmp(4, 4, 32, 0, 3);
  // Turn the 40-byte header plus three masks into one 52-byte header.
  Put32(file, 14, 52);
  auto layout = CheckBmpFile(file);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->colourEntries, 0u);
  EXPECT_EQ(layout->bitsOffset, 52u);
}

}  // namespace
}  // namespace tunmira
