// The simulated PHY's side of the cable test and of the chip's reset, the cable descriptions of the
// control socket, and the chip's priority classification of frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "chip_model.h"
#include "control.h"
#include "driver.h"
#include "phy_echo.h"
#include "phy_model.h"

namespace swchip {
namespace {

// Reads a TR word the way the cable test does: command, then the two data registers.
uint32_t tr_read(PhyModel &phy, uint16_t address) {
  phy.write(31, kPageTr);
  phy.write(16, static_cast<uint16_t>(0xA000 | address));
  const uint32_t word = uint32_t{phy.read(18)} << 16 | phy.read(17);
  phy.write(31, 0);
  return word;
}

int coefficient(PhyModel &phy, unsigned pair, unsigned tap) {
  int v = static_cast<int>(tr_read(phy, static_cast<uint16_t>(tap * 2 + (pair << 11))) & 0x3FFF);
  return v & 0x2000 ? v - 0x4000 : v;
}

void start_test(PhyModel &phy) {
  phy.write(31, 1);
  phy.write(24, 0x8000);
  phy.write(31, 0);
}

TEST(CableDescription, ParsesPairsAndRefusesWhatCannotBe) {
  CableDescription c;
  EXPECT_EQ(parse_cable_description("30 B=open@12 D=short@0", c), "");
  EXPECT_EQ(c.length_m, 30u);
  EXPECT_EQ(c.pairs[0].fault, PairFault::kGood);
  EXPECT_EQ(c.pairs[1].fault, PairFault::kOpen);
  EXPECT_EQ(c.pairs[1].distance_m, 12u);
  EXPECT_EQ(c.pairs[3].fault, PairFault::kShorted);
  const char *bad[] = {
      "",           "0",           "151",         "-3",         "30 E=open@3", "30 A=open", "30 A=open@31",
      "30 A=cut@3", "30 A=good@3", "30 A=open@x", "30 Aopen@3", "3x"};
  for (const char *text : bad) {
    CableDescription kept = c;
    EXPECT_NE(parse_cable_description(text, kept), "") << text;
    EXPECT_EQ(kept.length_m, 30u) << text;  // untouched
  }
}

TEST(CableTest, CancellerShowsTheCableOnlyWhileTheTestRuns) {
  PhyModel phy(0x0007, 0x0451);
  CableDescription c;
  ASSERT_EQ(parse_cable_description("100 B=open@12 C=short@100", c), "");
  phy.describe_cable(c);
  const unsigned open_tap = echo::tap_of(12);
  EXPECT_LT(std::abs(coefficient(phy, 1, open_tap)), 16);  // not running: the stored word
  start_test(phy);
  EXPECT_TRUE(phy.cable_test_running());
  EXPECT_GT(coefficient(phy, 1, open_tap), 2900);
  EXPECT_GT(coefficient(phy, 1, open_tap - 1), 300);  // the rising edge before it
  // A good pair of a cable this long: noise on every tap the fine search reaches.
  for (unsigned tap = 0; tap < 0x48; ++tap) {
    const int v = coefficient(phy, 0, tap);
    EXPECT_GE(std::abs(v), 4) << tap;
    EXPECT_LE(std::abs(v), 12) << tap;
  }
  CableDescription short_cable;
  ASSERT_EQ(parse_cable_description("30", short_cable), "");
  PhyModel near(0x0007, 0x0451);
  near.describe_cable(short_cable);
  start_test(near);
  EXPECT_GT(coefficient(near, 3, echo::tap_of(30) + 1), 40);  // the partner's port at the end of a good pair
  // A short 100 m away is beyond the fine taps: the coarse search reports it from tap 0x48.
  const uint32_t coarse = tr_read(phy, 0x01C0 + (2 << 11));
  EXPECT_EQ(coarse & 0x80, 0x80u);
  EXPECT_EQ((coarse >> 16 & 0xFF) + 0x48, echo::tap_of(100));
  EXPECT_LT(coefficient(phy, 2, echo::tap_of(100)), -2900);
  // The noise floor taps never carry a reflection.
  for (unsigned tap = echo::kNoiseFloorFirst; tap <= echo::kNoiseFloorLast; ++tap) {
    EXPECT_LE(std::abs(coefficient(phy, 2, tap)), 12);
  }
  // Other sub-ranges look across pairs and show noise only.
  phy.write(31, kPageTr);
  phy.write(18, 0);
  phy.write(17, 0x55u << 13 & 0xFFFF);
  phy.write(16, 0x8188);
  phy.write(31, 0);
  EXPECT_LE(std::abs(coefficient(phy, 1, open_tap)), 12);
  // During the test the PHY settles into the gigabit mode after a few reads; the test's end write stops
  // it.
  PhyModel fresh(0x0007, 0x0451);
  fresh.cable_test_settle_reads = 2;
  start_test(fresh);
  EXPECT_EQ(fresh.read(28) >> 3 & 3, 0);
  EXPECT_EQ(fresh.read(28) >> 3 & 3, 0);
  EXPECT_EQ(fresh.read(28) >> 3 & 3, 2);
  phy.write(31, kPageTest);
  phy.write(12, 1);
  phy.write(31, 0);
  EXPECT_FALSE(phy.cable_test_running());
}

TEST(ChipReset, InternalPhysComeBackOnTheStandardPageAndTheExternalOneKeepsItsPage) {
  ChipModel chip;
  chip.phy(0, 2).write(31, kPageTr);
  chip.phy(0, 2).write(16, 0x8F86);
  chip.phy(1, 3).write(31, kPageTest);
  chip.write(7, 0, 0x14, 1);
  EXPECT_EQ(chip.phy(0, 2).read(31), 0);
  EXPECT_EQ(chip.phy(0, 2).read(2), 0x0007);  // identity readable again
  EXPECT_EQ(chip.phy(1, 3).read(31), kPageTest);
}

TEST(QosClassification, TagDscpAndDefaultQueues) {
  ChipModel chip;
  Driver driver(chip);
  Control control(chip, driver);
  std::vector<uint8_t> tagged(64, 0), ip(64, 0);
  tagged[12] = 0x81, tagged[14] = 5 << 5;
  ip[12] = 0x08, ip[14] = 0x45, ip[15] = 46 << 2;
  chip.write(1, 2, 0x6F, 2u << 16);  // default queue 2, no classification
  EXPECT_EQ(chip.classify_queue(2, tagged), 2u);
  EXPECT_EQ(chip.classify_queue(2, ip), 2u);
  chip.write(1, 2, 0x6F, 1u << 28 | 2u << 16);  // by tag: priority 5 -> queue 1
  chip.write(1, 2, 0x75, 1u << 20);
  EXPECT_EQ(chip.classify_queue(2, tagged), 1u);
  EXPECT_EQ(chip.classify_queue(2, ip), 2u);  // untagged
  chip.write(1, 2, 0x77, 1u << 21);           // by DSCP: 46 in slot 1 -> queue 3, the rest queue 0
  chip.write(1, 2, 0x60, 0x00000030);
  chip.write(1, 2, 0x61, 46u << 8 | 10u);
  EXPECT_EQ(chip.classify_queue(2, ip), 3u);
  ip[15] = 10 << 2;
  EXPECT_EQ(chip.classify_queue(2, ip), 0u);
  ip[15] = 11 << 2;
  EXPECT_EQ(chip.classify_queue(2, ip), 0u);
  EXPECT_EQ(chip.classify_queue(2, tagged), 1u);                      // not IPv4: the tag decides
  EXPECT_EQ(chip.classify_queue(2, std::vector<uint8_t>(5, 0)), 2u);  // runt: the default
  EXPECT_EQ(control.execute("classify 2 " + std::string(128, '0')), "queue 2");
  EXPECT_EQ(control.execute("classify 9 00"), "error: usage: classify CHIPPORT HEXFRAME");
}

TEST(ControlCable, DescribeReachesThePhyAndBadDescriptionsAreRefused) {
  ChipModel chip;
  Driver driver(chip);
  Control control(chip, driver);
  EXPECT_EQ(control.execute("cable 0 1 describe 25 A=short@4"), "ok");
  EXPECT_EQ(chip.phy(0, 1).cable_description().length_m, 25u);
  EXPECT_EQ(chip.phy(0, 1).cable_description().pairs[0].fault, PairFault::kShorted);
  EXPECT_EQ(control.execute("cable 0 1 describe 25 A=short@40").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("cable 2 1 describe 25").rfind("error: ", 0), 0u);
  EXPECT_EQ(control.execute("cable 0 1 describe").rfind("error: ", 0), 0u);
  EXPECT_EQ(chip.phy(0, 1).cable_description().pairs[0].distance_m, 4u);
}

}  // namespace
}  // namespace swchip
