// The PHY model's own behaviour: reset, latched link status, negotiation, forced modes, pages, TR.
#include <gtest/gtest.h>

#include "phy_model.h"

namespace swchip {
namespace {

TEST(PhyModel, LinkLossIsLatchedUntilRead) {
  PhyModel phy(0x0007, 0x0451);
  phy.read(1);  // clears the power-on latch
  EXPECT_TRUE(phy.read(1) & 0x4);
  phy.unplug();
  phy.plug(kAbilityAll);
  EXPECT_FALSE(phy.read(1) & 0x4);  // the drop shows once
  EXPECT_TRUE(phy.read(1) & 0x4);
}

TEST(PhyModel, NegotiatesTheHighestCommonMode) {
  PhyModel phy(0x0007, 0x0451);
  EXPECT_EQ(phy.speed(), 3u);
  phy.plug(kAbility100Full | kAbility10Half | kAbilityPause);
  EXPECT_EQ(phy.speed(), 2u);
  EXPECT_TRUE(phy.full_duplex());
  EXPECT_EQ(phy.read(5), 0x0001 | kAbility100Full | kAbility10Half | kAbilityPause);
  EXPECT_EQ(phy.read(28) & 0x38, 0x28);
  phy.write(4, 0x0021);  // advertise 10 half only
  phy.write(0, 0x1200);
  EXPECT_EQ(phy.speed(), 1u);
  EXPECT_FALSE(phy.full_duplex());
  phy.plug(kAbility1000Full);
  phy.write(9, 0);
  phy.write(0, 0x1200);
  EXPECT_FALSE(phy.link());  // nothing in common
}

TEST(PhyModel, ForcedModeAndPowerDown) {
  PhyModel phy(0x0007, 0x0451);
  phy.write(0, 0x2100);  // 100 full, no negotiation
  EXPECT_TRUE(phy.link());
  EXPECT_EQ(phy.speed(), 2u);
  EXPECT_FALSE(phy.read(1) & 0x20);  // no negotiation complete
  phy.write(0, 0x0800);
  EXPECT_FALSE(phy.link());
}

TEST(PhyModel, SoftResetRestoresDefaultsAndMayBeSlow) {
  PhyModel phy(0x0007, 0x0451);
  phy.write(4, 0x0021);
  phy.reset_reads = 2;
  phy.write(0, 0x8000);
  EXPECT_TRUE(phy.read(0) & 0x8000);
  EXPECT_TRUE(phy.read(0) & 0x8000);
  EXPECT_FALSE(phy.read(0) & 0x8000);
  EXPECT_EQ(phy.read(4), 0x0DE1);
  EXPECT_EQ(phy.read(2), 0x0007);
  EXPECT_EQ(phy.read(3), 0x0451);
}

TEST(PhyModel, PagesAndTokenRingRegisters) {
  PhyModel phy(0x000F, 0xC581);
  phy.write(31, kPageTest);
  phy.write(12, 0x0200);
  EXPECT_EQ(phy.read(31), kPageTest);
  phy.write(31, 0);
  EXPECT_EQ(phy.read(12), 0);
  EXPECT_EQ(phy.peek(kPageTest, 12), 0x0200);
  phy.write(31, kPageTr);
  phy.write(18, 0x0012);
  phy.write(17, 0x2803);
  phy.write(16, 0x87FA);
  EXPECT_EQ(phy.tr(0x7FA), 0x00122803u);
  EXPECT_TRUE(phy.read(16) & 0x8000);
  phy.write(17, 0);
  phy.write(16, 0xA7FA);
  EXPECT_EQ(phy.read(17), 0x2803);
  EXPECT_EQ(phy.read(18), 0x0012);
}

}  // namespace
}  // namespace swchip
