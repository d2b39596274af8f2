#include "radius_codec.h"
#include "radius_test_util.h"

#include <gtest/gtest.h>

using namespace dot1x;
using dot1x::test::bytes;
using dot1x::test::server_reply;

namespace {

std::string hex(const Digest &d) {
  std::string s;
  char b[3];
  for (auto v : d) {
    std::snprintf(b, sizeof b, "%02x", v);
    s += b;
  }
  return s;
}

const Digest kRequestAuth{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const std::vector<std::uint8_t> kEapSuccess{3, 7, 0, 4};

// Attributes of a packet as (type, value) in order.
std::vector<std::pair<int, std::vector<std::uint8_t>>> attributes(const std::vector<std::uint8_t> &p) {
  std::vector<std::pair<int, std::vector<std::uint8_t>>> out;
  for (std::size_t at = 20; at + 2 <= p.size() && p[at + 1] >= 2; at += p[at + 1])
    out.emplace_back(p[at], std::vector<std::uint8_t>(p.begin() + at + 2, p.begin() + at + p[at + 1]));
  return out;
}

}  // namespace

TEST(Digests, Md5MatchesKnownValues) {
  EXPECT_EQ(hex(md5({})), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(hex(md5(bytes("abc"))), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Digests, HmacMd5MatchesKnownValues) {
  EXPECT_EQ(hex(HmacMd5(std::string(16, '\x0b'))(bytes("Hi There"))), "9294727a3638bb1c13f48ef8158bfc9d");
  EXPECT_EQ(hex(HmacMd5("Jefe")(bytes("what do ya want for nothing?"))), "750c783e6ab0b503eaa86e310a5db738");
  // A key longer than the block is hashed first.
  EXPECT_EQ(
      hex(HmacMd5(std::string(80, '\xaa'))(bytes("Test Using Larger Than Block-Size Key - Hash Key First"))),
      "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
}

TEST(AccessRequest, CarriesTheAttributesInOrderWithValues) {
  std::vector<std::uint8_t> eap{2, 5, 0, 10, 1, 'a', 'l', 'i', 'c', 'e'};
  std::vector<std::uint8_t> state{9, 9, 9};
  AccessRequestInput in{
      eap, state, "alice", 0xc0000201, 3, {0, 1, 2, 3, 4, 5}, {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}};
  auto p = encode_access_request(in, 42, kRequestAuth, HmacMd5("s")).value();
  ASSERT_EQ((std::size_t{p[2]} << 8 | p[3]), p.size());
  EXPECT_EQ(p[0], kRadiusAccessRequest);
  EXPECT_EQ(p[1], 42);
  EXPECT_TRUE(std::equal(kRequestAuth.begin(), kRequestAuth.end(), p.begin() + 4));
  auto a = attributes(p);
  std::vector<std::pair<int, std::vector<std::uint8_t>>> expected{{79, eap},
                                                                  {24, state},
                                                                  {61, {0, 0, 0, 15}},
                                                                  {1, bytes("alice")},
                                                                  {4, {192, 0, 2, 1}},
                                                                  {5, {0, 0, 0, 3}},
                                                                  {12, {0, 0, 3, 0xe8}},
                                                                  {87, bytes("Port 3")},
                                                                  {31, bytes("00:01:02:03:04:05")},
                                                                  {30, bytes("aa:bb:cc:dd:ee:ff")}};
  ASSERT_EQ(a.size(), expected.size() + 1);
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(a[i], expected[i]) << i;
  ASSERT_EQ(a.back().first, 80);
  // The Message-Authenticator is the keyed digest of the packet with its own value zeroed.
  auto zeroed = p;
  std::fill(zeroed.end() - 16, zeroed.end(), 0);
  Digest mac = HmacMd5("s")(zeroed);
  EXPECT_TRUE(std::equal(mac.begin(), mac.end(), p.end() - 16));
}

TEST(AccessRequest, IsNotMadeForAnEmptyUserName) {
  std::vector<std::uint8_t> eap{2, 5, 0, 5, 1};
  EXPECT_FALSE(encode_access_request({eap, {}, "", 0, 1, {}, {}}, 1, kRequestAuth, HmacMd5("s")));
}

TEST(AccessRequest, SplitsLongEapMessagesAt253Bytes) {
  std::vector<std::uint8_t> eap(600, 0x5a);
  AccessRequestInput in{eap, {}, "u", 0, 1, {}, {}};
  auto a = attributes(encode_access_request(in, 1, kRequestAuth, HmacMd5("s")).value());
  ASSERT_GE(a.size(), 3u);
  EXPECT_EQ(a[0].second.size(), 253u);
  EXPECT_EQ(a[1].second.size(), 253u);
  EXPECT_EQ(a[2].second.size(), 94u);
  EXPECT_EQ(a[2].first, 79);
}

TEST(AccessRequest, StaysWithinThePacketLimitAndKeepsTheMessageAuthenticator) {
  std::vector<std::uint8_t> eap(1420, 1);
  std::string user(200, 'u');
  AccessRequestInput in{eap, {}, user, 0, 1, {}, {}};
  auto p = encode_access_request(in, 1, kRequestAuth, HmacMd5("s")).value();
  EXPECT_LE(p.size(), kRadiusMaxPacket);
  auto a = attributes(p);
  EXPECT_EQ(a.back().first, 80);
  for (const auto &attr : a) EXPECT_NE(attr.first, 1) << "the long user name does not fit";
}

TEST(AccessRequest, CutsAStateLongerThanAPortKeeps) {
  std::vector<std::uint8_t> state(40, 7);
  AccessRequestInput in{{}, state, "u", 0, 1, {}, {}};
  auto a = attributes(encode_access_request(in, 1, kRequestAuth, HmacMd5("s")).value());
  ASSERT_EQ(a[1].first, 24);
  EXPECT_EQ(a[1].second.size(), kRadiusMaxState);
}

TEST(ReplyCheck, AcceptsAChallengeSignedByTheServer) {
  auto r = server_reply(
      kRadiusAccessChallenge, 5, kRequestAuth, "sec",
      {{kRadiusAttrEapMessage, {1, 6, 0, 6, 4, 0}}, {kRadiusAttrState, {1, 2}}, {kRadiusAttrState, {3}}},
      true);
  auto reply = decode_reply(r, kRequestAuth, HmacMd5("sec"), "sec");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->code, kRadiusAccessChallenge);
  EXPECT_EQ(reply->eap, (std::vector<std::uint8_t>{1, 6, 0, 6, 4, 0}));
  EXPECT_EQ(reply->state, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(ReplyCheck, AcceptsAReplyWithoutEapByItsResponseAuthenticator) {
  auto r = server_reply(kRadiusAccessReject, 5, kRequestAuth, "sec", {}, false);
  EXPECT_TRUE(decode_reply(r, kRequestAuth, HmacMd5("sec"), "sec"));
  r[4] ^= 1;
  EXPECT_FALSE(decode_reply(r, kRequestAuth, HmacMd5("sec"), "sec"));
}

TEST(ReplyCheck, RefusesForgedOrMissingMessageAuthenticators) {
  auto good =
      server_reply(kRadiusAccessAccept, 5, kRequestAuth, "sec", {{kRadiusAttrEapMessage, kEapSuccess}}, true);
  EXPECT_FALSE(decode_reply(good, kRequestAuth, HmacMd5("other"), "other"));
  Digest other_request = kRequestAuth;
  other_request[0] ^= 0x80;
  EXPECT_FALSE(decode_reply(good, other_request, HmacMd5("sec"), "sec"));
  auto tampered = good;
  tampered[22] ^= 1;  // inside the EAP-Message
  EXPECT_FALSE(decode_reply(tampered, kRequestAuth, HmacMd5("sec"), "sec"));
  auto unsigned_eap = server_reply(kRadiusAccessAccept, 5, kRequestAuth, "sec",
                                   {{kRadiusAttrEapMessage, kEapSuccess}}, false);
  EXPECT_FALSE(decode_reply(unsigned_eap, kRequestAuth, HmacMd5("sec"), "sec"));
}

TEST(ReplyCheck, RefusesMalformedPackets) {
  auto good =
      server_reply(kRadiusAccessAccept, 5, kRequestAuth, "sec", {{kRadiusAttrEapMessage, kEapSuccess}}, true);
  auto shorter = good;
  shorter.pop_back();
  EXPECT_FALSE(decode_reply(shorter, kRequestAuth, HmacMd5("sec"), "sec"))
      << "length field differs from size";
  EXPECT_FALSE(reply_identifier(std::vector<std::uint8_t>{2, 1, 0, 19}));
  auto overrun = good;
  overrun[21] = 200;  // attribute length beyond the packet
  EXPECT_FALSE(decode_reply(overrun, kRequestAuth, HmacMd5("sec"), "sec"));
  auto zero_length = good;
  zero_length[21] = 0;
  EXPECT_FALSE(decode_reply(zero_length, kRequestAuth, HmacMd5("sec"), "sec"));
  auto long_state = server_reply(kRadiusAccessChallenge, 5, kRequestAuth, "sec",
                                 {{kRadiusAttrEapMessage, kEapSuccess},
                                  {kRadiusAttrState, std::vector<std::uint8_t>(20, 1)},
                                  {kRadiusAttrState, std::vector<std::uint8_t>(20, 2)}},
                                 true);
  EXPECT_FALSE(decode_reply(long_state, kRequestAuth, HmacMd5("sec"), "sec"));
}
