#include "eapol_codec.h"

#include <gtest/gtest.h>

using namespace dot1x;

namespace {
const MacAddress kSupplicant{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

std::vector<std::uint8_t> frame(std::uint8_t type, std::uint16_t length, std::vector<std::uint8_t> body) {
  std::vector<std::uint8_t> f(kEapolHeader + body.size());
  std::copy(kPaeGroupAddress.begin(), kPaeGroupAddress.end(), f.begin());
  std::copy(kSupplicant.begin(), kSupplicant.end(), f.begin() + 6);
  f[12] = 0x88;
  f[13] = 0x8e;
  f[14] = 1;
  f[15] = type;
  f[16] = static_cast<std::uint8_t>(length >> 8);
  f[17] = static_cast<std::uint8_t>(length);
  std::copy(body.begin(), body.end(), f.begin() + kEapolHeader);
  return f;
}
}  // namespace

TEST(EapolFrames, ReadsSourceVersionTypeAndBody) {
  auto f = frame(kEapolEapPacket, 5, {2, 7, 0, 5, 1, 0xee});
  auto r = parse_eapol(f);
  ASSERT_TRUE(r.frame);
  EXPECT_EQ(r.frame->source, kSupplicant);
  EXPECT_EQ(r.frame->version, 1);
  EXPECT_EQ(r.frame->body.size(), 5u) << "padding after the body is not part of it";
}

TEST(EapolFrames, StartFromARealSupplicantHasNoBodyToRead) {
  auto r = parse_eapol(frame(kEapolStart, 0, {}));
  ASSERT_TRUE(r.frame);
  EXPECT_EQ(r.frame->type, kEapolStart);
  EXPECT_TRUE(r.frame->body.empty());
}

TEST(EapolFrames, RefusesShortFramesAndBodiesPastTheFrame) {
  auto f = frame(kEapolStart, 0, {});
  f.pop_back();
  EXPECT_EQ(parse_eapol(f).error, EapolError::kTooShort);
  auto r = parse_eapol(frame(kEapolEapPacket, 100, {2, 7, 0, 5, 1}));
  EXPECT_FALSE(r.frame);
  EXPECT_EQ(r.error, EapolError::kBodyBeyondFrame);
}

TEST(EapolFrames, BuildsAnUnpaddedEapPacketFrameToTheGroupAddress) {
  std::vector<std::uint8_t> eap{1, 1, 0, 5, 1};
  auto f = build_eapol_eap(kSupplicant, eap);
  EXPECT_EQ(f.size(), 23u);
  EXPECT_EQ(std::vector<std::uint8_t>(f.begin(), f.begin() + 6),
            (std::vector<std::uint8_t>{1, 0x80, 0xc2, 0, 0, 3}));
  EXPECT_EQ(std::vector<std::uint8_t>(f.begin() + 12, f.begin() + 18),
            (std::vector<std::uint8_t>{0x88, 0x8e, 2, 0, 0, 5}));
  auto back = parse_eapol(f);
  ASSERT_TRUE(back.frame);
  EXPECT_TRUE(std::equal(eap.begin(), eap.end(), back.frame->body.begin()));
}

TEST(EapPackets, ChecksTheEapLengthAgainstTheBody) {
  std::vector<std::uint8_t> below_header{2, 1, 0, 3, 0};
  EXPECT_EQ(parse_eap(below_header).error, EapError::kShorterThanHeader);
  std::vector<std::uint8_t> beyond{2, 1, 0, 9, 1};
  EXPECT_EQ(parse_eap(beyond).error, EapError::kBeyondBody);
  std::vector<std::uint8_t> extra{2, 1, 0, 5, 1, 0, 0};
  auto r = parse_eap(extra);
  ASSERT_TRUE(r.eap);
  EXPECT_TRUE(r.eap->extra_bytes);
  EXPECT_EQ(r.eap->packet.size(), 5u);
  EXPECT_EQ(r.eap->code, kEapResponse);
}

TEST(EapPackets, TypeNamesAsTheTracesShowThem) {
  EXPECT_STREQ(eapol_type_name(4), "EAPOL-Enc.-ASF-ALERT");
  EXPECT_EQ(eapol_type_name(5), nullptr);
}
