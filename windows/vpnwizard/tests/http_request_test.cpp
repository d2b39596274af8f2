#include "http_request.h"

#include <gtest/gtest.h>

namespace tunmira {
namespace {

TEST(Base64, EncodesTheStandardVectors) {
  EXPECT_EQ(Base64Encode("", 128), "");
  EXPECT_EQ(Base64Encode("f", 128), "Zg==");
  EXPECT_EQ(Base64Encode("fo", 128), "Zm8=");
  EXPECT_EQ(Base64Encode("foo", 128), "Zm9v");
  EXPECT_EQ(Base64Encode("foob", 128), "Zm9vYg==");
  EXPECT_EQ(Base64Encode("foobar", 128), "Zm9vYmFy");
  EXPECT_EQ(Base64Encode("\xfb\xff", 128), "+/8=");
}

TEST(Base64, CredentialsUpToTheirLimitStayOnOneLine) {
  const std::string longest(93, 'a');
  const std::string encoded = Base64Encode(longest, 128);
  EXPECT_EQ(encoded.size(), 124u);
  EXPECT_EQ(encoded.find('\r'), std::string::npos);
}

TEST(Base64, BreaksALineThatGrewPastTheLength) {
  const std::string encoded = Base64Encode(std::string(96, 'a'), 128);
  EXPECT_EQ(encoded.size(), 130u);
  EXPECT_TRUE(encoded.ends_with("\r\n"));
  EXPECT_EQ(Base64Encode("abcdefghi", 8), "YWJjZGVm\r\nZ2hp");
}

TEST(RequestLines, TheRefererNamesTheSelectionOnlyWhenTheReplyIsRead) {
  EXPECT_EQ(referer_line("10.0.0.1", "HQ link", true),
            "Referer: https://10.0.0.1/vpn_main.htm&h_ipsec_select=HQ link\r\n");
  EXPECT_EQ(referer_line("10.0.0.1", "HQ link", false),
            "Referer: https://10.0.0.1/vpn_main.htm&h_ipsec_select=$\r\n");
}

TEST(RequestLines, LinesBeyondTheirLimitsAreNotBuilt) {
  const std::string host(59, 'h');
  const std::size_t room = kMaxRefererLine -
                           std::string("Referer: https:///vpn_main.htm&h_ipsec_select=\r\n").size() -
                           host.size();
  EXPECT_TRUE(referer_line(host, std::string(room, 's'), true));
  EXPECT_FALSE(referer_line(host, std::string(room + 1, 's'), true));
  EXPECT_FALSE(referer_line("h", "a\r\nX-Injected: 1", true)) << "a selection cannot add a header";
  // The longest tunnel name the entry page takes fits beside the longest router name it can reach.
  const std::string longest_host(kMaxHostLength, 'r');
  EXPECT_TRUE(referer_line(longest_host, std::string(kMaxTunnelName, 'n'), true));
  EXPECT_FALSE(referer_line(longest_host, std::string(kMaxTunnelName + 1, 'n'), true));
  EXPECT_TRUE(authorization_line(std::string(46, 'u'), std::string(46, 'p')));
  EXPECT_FALSE(authorization_line(std::string(47, 'u'), std::string(46, 'p')));
  EXPECT_EQ(authorization_line("admin", "pw"), "Authorization: Basic YWRtaW46cHc=\r\n");
}

TEST(RequestLines, APostAddsItsSevenHeadersInOrder) {
  const auto headers = post_headers("r1", "T", false, "admin", "pw", 1481);
  ASSERT_TRUE(headers);
  ASSERT_EQ(headers->size(), 7u);
  EXPECT_TRUE((*headers)[0].text.starts_with("Accept: image/gif"));
  EXPECT_EQ((*headers)[0].flags, kHeaderReplace);
  EXPECT_EQ((*headers)[1].text, "Referer: https://r1/vpn_main.htm&h_ipsec_select=$\r\n");
  EXPECT_EQ((*headers)[1].flags, kHeaderReplaceOrAdd);
  EXPECT_EQ((*headers)[2].text, "Accept-Language: zh-cn\r\n");
  EXPECT_EQ((*headers)[3].text, "Content-Type: application/x-www-form-urlencoded\r\n");
  EXPECT_EQ((*headers)[4].text, "Accept-Encoding: gzip, deflate\r\n");
  EXPECT_EQ((*headers)[5].text, "Authorization: Basic YWRtaW46cHc=\r\n");
  EXPECT_EQ((*headers)[6].text, "Content-Length: 1481\r\n");
  EXPECT_EQ((*headers)[6].flags, kHeaderAddIfNew);
}

TEST(RequestLines, AGetAddsFourHeaders) {
  const auto headers = get_headers("admin", "");
  ASSERT_TRUE(headers);
  ASSERT_EQ(headers->size(), 4u);
  EXPECT_NE((*headers)[0].text.find("application/x-shockwave-flash"), std::string::npos);
  EXPECT_EQ((*headers)[3].text, "Authorization: Basic YWRtaW46\r\n");
  EXPECT_FALSE(get_headers(std::string(100, 'u'), ""));
}

TEST(Urls, SecureSchemeIgnoresCase) {
  EXPECT_TRUE(is_secure_url("https://r1/"));
  EXPECT_TRUE(is_secure_url("HTTPS://r1/"));
  EXPECT_FALSE(is_secure_url("http://r1/"));
  EXPECT_FALSE(is_secure_url("http"));
}

TEST(Urls, OnlyPlainHostNamesAndAddressesAreUsable) {
  EXPECT_TRUE(is_usable_host("192.168.1.1"));
  EXPECT_TRUE(is_usable_host("router-2.example.net"));
  EXPECT_TRUE(is_usable_host(std::string(59, 'a')));
  EXPECT_FALSE(is_usable_host(std::string(60, 'a')));
  EXPECT_FALSE(is_usable_host(""));
  EXPECT_FALSE(is_usable_host("evil.example@10.0.0.1"));
  EXPECT_FALSE(is_usable_host("10.0.0.1:8443"));
  EXPECT_FALSE(is_usable_host("10.0.0.1/x"));
}

TEST(PostResult, OnlyASuccessStatusMeansTheRouterTookTheForm) {
  EXPECT_EQ(post_result_for_status(200), kHttpOk);
  EXPECT_EQ(post_result_for_status(204), kHttpOk);
  EXPECT_EQ(post_result_for_status(401), kHttpUnauthorized);
  EXPECT_EQ(post_result_for_status(500), kHttpNoConnection);
  EXPECT_EQ(post_result_for_status(302), kHttpNoConnection);
}

}  // namespace
}  // namespace tunmira
