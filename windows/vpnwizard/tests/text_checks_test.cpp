#include "text_checks.h"

#include <gtest/gtest.h>

namespace tunmira {
namespace {

TEST(TunnelNameCheck, RefusesEveryCharacterTheFormsCannotCarry) {
  for (char c : std::string("\"'`*+,./:;<=>?[\\]|")) {
    EXPECT_EQ(IsValidName(std::string("ab") + c), 0) << c;
  }
  EXPECT_EQ(IsValidName(""), 0);
}

TEST(TunnelNameCheck, AcceptsBlanksAmpersandsAndOtherPunctuation) {
  EXPECT_EQ(IsValidName("HQ & branch (2)"), 1);
  EXPECT_EQ(IsValidName("a-b_c%d!"), 1);
}

TEST(OctetCheck, AcceptsDigitsBelow256Only) {
  EXPECT_EQ(IsValidOctet("0"), 1);
  EXPECT_EQ(IsValidOctet("255"), 1);
  EXPECT_EQ(IsValidOctet("007"), 1);
  EXPECT_EQ(IsValidOctet("256"), 0);
  EXPECT_EQ(IsValidOctet(""), 0);
  EXPECT_EQ(IsValidOctet("1a"), 0);
  EXPECT_EQ(IsValidOctet("-1"), 0);
  EXPECT_EQ(IsValidOctet("4294967297"), 0) << "a value that wraps a 32-bit counter must stay too large";
  EXPECT_EQ(AreValidOctets("10", "0", "0", "1"), 1);
  EXPECT_EQ(AreValidOctets("10", "0", "", "1"), 0);
}

TEST(AddressCheck, NeedsThreeDotsAndPiecesUpTo255) {
  EXPECT_EQ(IsValidIpAddress("192.168.1.1"), 1);
  EXPECT_EQ(IsValidIpAddress("1..2.3"), 1) << "empty pieces are skipped";
  EXPECT_EQ(IsValidIpAddress("1.2.3"), 0);
  EXPECT_EQ(IsValidIpAddress("1.2.3.256"), 0);
  EXPECT_EQ(IsValidIpAddress("1.2.3.4.5"), 0);
  EXPECT_EQ(IsValidIpAddress(""), 0);
  EXPECT_EQ(IsValidIpAddress("1.2.3.x"), 0);
  EXPECT_EQ(IsValidIpAddress("1.2.3. 4"), 0);
  EXPECT_EQ(IsValidIpAddress("99999999999999999999999.1.1.1"), 0);
}

TEST(SubnetCheck, ComparesTheMaskedNetworks) {
  EXPECT_EQ(SameSubnet({192, 168, 1, 1}, {255, 255, 255, 0}, {192, 168, 1, 200}, {255, 255, 255, 0}), 1);
  EXPECT_EQ(SameSubnet({192, 168, 1, 1}, {255, 255, 255, 0}, {192, 168, 2, 1}, {255, 255, 255, 0}), 0);
  EXPECT_EQ(SameSubnet({10, 1, 2, 3}, {255, 0, 0, 0}, {10, 9, 9, 9}, {255, 0, 0, 0}), 1);
}

}  // namespace
}  // namespace tunmira
