#include "lacp_pdu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace lacp;

namespace {

std::vector<uint8_t> sample_lacpdu() {
  std::vector<uint8_t> frame(kPduLength);
  PortInfo actor{0x1234, Mac{1, 2, 3, 4, 5, 6}, 0x0103, 0x8000, 2, 0x3D};
  PortInfo partner{0x8000, Mac{0xA, 0xB, 0xC, 0xD, 0xE, 0xF}, 0x0203, 0x0100, 5, 0x47};
  encode_lacpdu(Mac{0x02, 0, 0, 0, 0, 2}, actor, partner, frame.data());
  return frame;
}

}  // namespace

TEST(LacpduFormat, EncodesEveryFieldAtItsOffsetBigEndian) {
  auto f = sample_lacpdu();
  const std::vector<uint8_t> head{0x01, 0x80, 0xC2, 0x00, 0x00, 0x02, 0x02, 0, 0, 0, 0, 2, 0x88, 0x09, 1, 1};
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 16), head);
  const std::vector<uint8_t> actor{1,    20,   0x12, 0x34, 1, 2, 3,    4, 5, 6,
                                   0x01, 0x03, 0x80, 0x00, 0, 2, 0x3D, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 16, f.begin() + 36), actor);
  const std::vector<uint8_t> partner{2,    20,   0x80, 0x00, 0xA, 0xB, 0xC,  0xD, 0xE, 0xF,
                                     0x02, 0x03, 0x01, 0x00, 0,   5,   0x47, 0,   0,   0};
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 36, f.begin() + 56), partner);
  EXPECT_EQ(f[56], 3);
  EXPECT_EQ(f[57], 16);
  for (size_t i = 58; i < kPduLength; ++i) EXPECT_EQ(f[i], 0) << "byte " << i;
}

TEST(LacpduFormat, DecodeReturnsWhatWasEncoded) {
  auto f = sample_lacpdu();
  f[58] = 0x01;
  f[59] = 0x02;
  auto pdu = decode_lacpdu(f.data(), f.size());
  ASSERT_TRUE(pdu);
  EXPECT_EQ(pdu->actor, (PortInfo{0x1234, Mac{1, 2, 3, 4, 5, 6}, 0x0103, 0x8000, 2, 0x3D}));
  EXPECT_EQ(pdu->partner.port, 5);
  EXPECT_EQ(pdu->collector_max_delay, 0x0102);
  EXPECT_EQ(pdu->source, (Mac{0x02, 0, 0, 0, 0, 2}));
}

TEST(LacpduFormat, RejectsShortFramesOtherSubtypesAndMisplacedTlvs) {
  auto f = sample_lacpdu();
  EXPECT_FALSE(decode_lacpdu(f.data(), kPduLength - 1));
  auto marker = f;
  marker[kOffSubtype] = kSubtypeMarker;
  EXPECT_FALSE(decode_lacpdu(marker.data(), marker.size()));
  auto bad_actor = f;
  bad_actor[17] = 200;
  EXPECT_STREQ(lacpdu_defect(bad_actor.data()), "bad actor information");
  EXPECT_FALSE(decode_lacpdu(bad_actor.data(), bad_actor.size()));
  auto bad_partner = f;
  bad_partner[36] = 9;
  EXPECT_STREQ(lacpdu_defect(bad_partner.data()), "bad partner information");
}

TEST(LacpduFormat, MissingCollectorTlvGivesZeroDelay) {
  auto f = sample_lacpdu();
  f[56] = 0;
  f[58] = 0x7F;
  auto pdu = decode_lacpdu(f.data(), f.size());
  ASSERT_TRUE(pdu);
  EXPECT_EQ(pdu->collector_max_delay, 0);
}

TEST(MarkerFormat, ResponseEchoesOnlyThePduBytesOfALongerFrame) {
  std::vector<uint8_t> request(1500, 0x5A);
  for (size_t i = 0; i < kPduLength; ++i) request[i] = static_cast<uint8_t>(i);
  request[kOffMarkerTlv] = kMarkerInformation;
  std::vector<uint8_t> out(kPduLength + 8, 0xEE);
  make_marker_response(request.data(), Mac{2, 0, 0, 0, 0xA, 3}, out.data());
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 6),
            (std::vector<uint8_t>{1, 0x80, 0xC2, 0, 0, 2}));
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 6, out.begin() + 12),
            (std::vector<uint8_t>{2, 0, 0, 0, 0xA, 3}));
  EXPECT_EQ(out[12], 0x88);
  EXPECT_EQ(out[13], 0x09);
  EXPECT_EQ(out[14], kSubtypeMarker);
  EXPECT_EQ(out[15], 15);
  EXPECT_EQ(out[16], kMarkerResponse);
  for (size_t i = 17; i < kPduLength; ++i) EXPECT_EQ(out[i], i) << "byte " << i;
  EXPECT_EQ(out[kPduLength], 0xEE) << "nothing written past the PDU";
}

TEST(TraceTexts, MacAndStateNames) {
  EXPECT_STREQ(mac_text(Mac{0x01, 0x80, 0xC2, 0, 0, 0xAB}).data(), "01-80-C2-00-00-AB");
  EXPECT_STREQ(state_text(0x07).data(), "activity timeout aggregation ");
  EXPECT_STREQ(state_text(0xFF).data(),
               "activity timeout aggregation synchronization collecting distributing defaulted expired ");
  EXPECT_STREQ(state_text(0).data(), "");
  static constexpr const char *kLongNames[3] = {
      "0123456789012345678901234567890123456789012345678901234567890 ",
      "0123456789012345678901234567890123456789012345678901234567890 ",
      "0123456789012345678901234567890123456789012345678901234567890 "};
  EXPECT_EQ(std::string(flag_text(7, kLongNames, 3).data()).size(), 124u)
      << "a name that does not fit is left out";
}
