// Byte layout of upgrade frames, device names, version texts and the image header search.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device_name.h"
#include "image_file.h"
#include "upgrade_frame.h"

namespace upgrade {
namespace {

std::vector<std::uint8_t> header_bytes(std::uint16_t version) {
  std::vector<std::uint8_t> header(kImageHeaderSize, 0x11);
  std::memcpy(header.data(), kHeaderMark, kHeaderMarkSize);
  std::memcpy(header.data() + 63, kHeaderMark, kHeaderMarkSize);
  header[7 + 50] = static_cast<std::uint8_t>(version >> 8);
  header[7 + 51] = static_cast<std::uint8_t>(version);
  return header;
}

TEST(UpgradeFrameCodec, StartRequestMatchesTheWireLayout) {
  FrameFields f;
  f.destination = {0x02, 0x5A, 0xC3, 0x01, 0x02, 0x03};
  f.source = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  f.ether_type = kEtherTypeVariant1;
  f.opcode = kOpStart;
  f.sequence = 0x1234;
  FrameBuffer out;
  out.fill(0xEE);
  ASSERT_EQ(encode_frame(f, {}, out), 64u);
  const std::uint8_t expected[24] = {0x02, 0x5A, 0xC3, 0x01, 0x02, 0x03, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
                                     0x88, 0x88, 0x01, 0x00, 0x34, 0x12, 0,    0,    0,    0,    0,    0};
  EXPECT_EQ(0, std::memcmp(out.data(), expected, sizeof expected));
  for (std::size_t i = 24; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << "byte " << i;
}

TEST(UpgradeFrameCodec, ProgramFrameCarriesItsDataAndLittleEndianFields) {
  FrameFields f;
  f.opcode = kOpProgram;
  f.sequence = 0xBEEF;
  f.remainder = 0x000F;
  f.segment = 0xA001;
  f.length = 3;
  const std::uint8_t data[3] = {7, 8, 9};
  FrameBuffer out;
  ASSERT_EQ(encode_frame(f, data, out), 27u);
  auto parsed = parse_frame(std::span<const std::uint8_t>(out.data(), 27));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->fields.sequence, 0xBEEF);
  EXPECT_EQ(parsed->fields.remainder, 0x000F);
  EXPECT_EQ(parsed->fields.segment, 0xA001);
  EXPECT_EQ(out[20], 0x01);
  EXPECT_EQ(out[21], 0xA0);
  ASSERT_EQ(parsed->payload.size(), 3u);
  EXPECT_EQ(parsed->payload[2], 9);
}

TEST(UpgradeFrameCodec, RefusesOversizedDataAndShortFrames) {
  std::vector<std::uint8_t> big(kBlockSize + 1);
  FrameBuffer out;
  EXPECT_EQ(encode_frame(FrameFields{}, big, out), 0u);
  std::vector<std::uint8_t> runt(23, 0);
  EXPECT_FALSE(parse_frame(runt));
}

TEST(UpgradeFrameCodec, StatusWordOnlyWhenBothBytesArrived) {
  std::vector<std::uint8_t> frame(25, 0);
  EXPECT_FALSE(parse_frame(frame)->status());
  frame.push_back(0x12);
  frame[24] = 0x34;
  EXPECT_EQ(parse_frame(frame)->status(), 0x1234);
}

TEST(DeviceNames, VendorAddressesGetTheShortForm) {
  EXPECT_EQ(device_name_of_mac({0x02, 0x5A, 0xC3, 0xAB, 0x01, 0xFF}), "VTAB01FF");
  EXPECT_EQ(device_name_of_mac({0x00, 0x1B, 0x2c, 0x3d, 0x4e, 0x5f}), "001B2C3D4E5F");
}

TEST(DeviceNames, ParsingAcceptsBothFormsInEitherCase) {
  EXPECT_EQ(mac_of_device_name("vtab01ff"), std::nullopt);  // the "VT" prefix itself is case-sensitive
  EXPECT_EQ(mac_of_device_name("VTab01fF"), (Mac{0x02, 0x5A, 0xC3, 0xAB, 0x01, 0xFF}));
  EXPECT_EQ(mac_of_device_name("001b2c3d4e5f"), (Mac{0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}));
  EXPECT_EQ(mac_of_device_name("001B2C3D4E"), std::nullopt);
  EXPECT_EQ(mac_of_device_name("VT12G456"), std::nullopt);
  EXPECT_EQ(mac_of_device_name(""), std::nullopt);
}

TEST(DeviceNames, RoundTrip) {
  for (Mac mac : {Mac{0x02, 0x5A, 0xC3, 0, 0, 0}, Mac{0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54}}) {
    EXPECT_EQ(mac_of_device_name(device_name_of_mac(mac)), mac);
  }
}

TEST(version_text, FourLowerCaseDigitsSplitOneOneTwo) {
  DeviceInfoBlock block{};
  block[50] = 0x10;
  block[51] = 0x23;
  EXPECT_EQ(version_text(block), "V1.0.23");
  block[50] = 0x01;
  block[51] = 0x02;
  EXPECT_EQ(version_text(block), "V0.1.02");
  block[50] = 0xAB;
  block[51] = 0xCD;
  EXPECT_EQ(version_text(block), "Va.b.cd");
}

TEST(ImageHeaderSearch, FindsAHeaderAnywhereEvenAcrossReadBoundaries) {
  for (std::size_t at : {0u, 1u, 4095u, 4096u - 35u, 10000u}) {
    std::vector<std::uint8_t> image(at, 'v');  // decoy first characters before the header
    auto header = header_bytes(0x1023);
    image.insert(image.end(), header.begin(), header.end());
    image.resize(image.size() + 100, 0);
    MemoryImageReader reader(image);
    reader.chunk_limit = 333;
    DeviceInfoBlock block{};
    ASSERT_EQ(find_image_header(reader, block), HeaderSearch::kFound) << at;
    EXPECT_EQ(version_text(block), "V1.0.23");
  }
}

TEST(ImageHeaderSearch, AHalfHeaderOrAHeaderCutByTheEndIsNoHeader) {
  auto header = header_bytes(0x1023);
  std::vector<std::uint8_t> cut(header.begin(), header.end() - 1);
  MemoryImageReader cut_reader(cut);
  DeviceInfoBlock block{};
  EXPECT_EQ(find_image_header(cut_reader, block), HeaderSearch::kNoHeader);

  header[63] = 'V';
  MemoryImageReader half_reader(header);
  EXPECT_EQ(find_image_header(half_reader, block), HeaderSearch::kNoHeader);

  MemoryImageReader empty({});
  EXPECT_EQ(find_image_header(empty, block), HeaderSearch::kNoHeader);
}

TEST(ImageHeaderSearch, TheFirstOfTwoHeadersWins) {
  auto first = header_bytes(0x0001);
  auto second = header_bytes(0x0002);
  first.insert(first.end(), second.begin(), second.end());
  MemoryImageReader reader(first);
  DeviceInfoBlock block{};
  ASSERT_EQ(find_image_header(reader, block), HeaderSearch::kFound);
  EXPECT_EQ(block[51], 0x01);
}

TEST(ImageHeaderSearch, AReadErrorIsNotTheEndOfTheFile) {
  std::vector<std::uint8_t> image(9000, 0);
  auto header = header_bytes(0x1023);
  image.insert(image.end(), header.begin(), header.end());
  MemoryImageReader reader(image);
  reader.fail_from = 5000;
  DeviceInfoBlock block{};
  EXPECT_EQ(find_image_header(reader, block), HeaderSearch::kUnreadable);
}

}  // namespace
}  // namespace upgrade
