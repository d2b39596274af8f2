// PHY layer against the chip's PHY models: identification, reset, set-up and link status.
#include <gtest/gtest.h>

#include "chip_fixture.h"
#include "phy_model.h"
#include "swc_phy.h"

namespace {

class Phys : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    map_board_ports();
  }

  static SwcPhyResetSetup reset_setup(uint32_t interface_type) { return {interface_type, 0, 0, 0, 0}; }

  static SwcPhySetup aneg_all() { return {kSwcPhyModeAneg, 0, 0, 1, 1, 1, 1, 1, 1, 1}; }

  // Resets an internal PHY, starts autonegotiation advertising everything and reads past the drop the
  // restart latches; the status of the second read.
  SwcPortStatus bring_up(uint32_t port_no) {
    const auto r = reset_setup(kSwcIfInternal);
    EXPECT_EQ(swc_phy_reset(port_no, &r), 0);
    const auto s = aneg_all();
    EXPECT_EQ(swc_phy_setup(port_no, &s), 0);
    SwcPortStatus st{};
    swc_port_status_get(port_no, &st);
    EXPECT_EQ(swc_port_status_get(port_no, &st), 0);
    return st;
  }

  // PHY register writes (controller, address, register, value) of the recorded MIIM commands.
  std::vector<std::tuple<unsigned, unsigned, unsigned, unsigned>> phy_writes() const {
    std::vector<std::tuple<unsigned, unsigned, unsigned, unsigned>> out;
    for (const auto &[b, s, r, v] : writes_of(accesses())) {
      if (b == 3 && s < 2 && r == 1 && !(v & 0x4000000))
        out.emplace_back(s, (v >> 21) & 31, (v >> 16) & 31, v & 0xFFFF);
    }
    return out;
  }
};

TEST_F(Phys, InternalPhyResetsAsFamilySeven) {
  const auto r = reset_setup(kSwcIfInternal);
  ASSERT_EQ(swc_phy_reset(1, &r), 0);
  EXPECT_EQ(swc_phy_port(1)->family, 7u);
  EXPECT_EQ(swc_phy_port(1)->part, 7385u);
  EXPECT_EQ(swc_phy_port(1)->revision, 1u);
  const auto &phy = chip.phy(0, 0);
  EXPECT_EQ(phy.peek(swchip::kPageTest, 12) & 0x300, 0x200);
  EXPECT_EQ(phy.peek(swchip::kPageTest, 22) & 0xFC0, 0x240);
  EXPECT_EQ(phy.peek(1, 20) & 0xE000, 0x6000);
  EXPECT_EQ(phy.tr(0x168A), (0x3u << 16) | 0xA2u);
  EXPECT_EQ(chip.phy(0, 0).read(31), 0);  // back on page 0
}

TEST_F(Phys, ExternalRgmiiPhyIsFamilyFourAndGetsItsSkewWord) {
  SwcPhyResetSetup r{kSwcIfRgmii, 0, 1500, 2000, 0};
  ASSERT_EQ(swc_phy_reset(6, &r), 0);
  EXPECT_EQ(swc_phy_port(6)->family, 4u);
  EXPECT_EQ(swc_phy_port(6)->part, 8224u);
  const auto w = phy_writes();
  ASSERT_FALSE(w.empty());
  EXPECT_EQ(w[0], std::make_tuple(1u, 3u, 23u, 2u << 10 | 1u << 8 | 0x1000u | 4u | 0x20u));
  EXPECT_EQ(w[1], std::make_tuple(1u, 3u, 0u, 0x8000u));
  EXPECT_EQ(chip.phy(1, 3).peek(swchip::kPageTest, 3), 0xF082);
  EXPECT_EQ(chip.phy(1, 3).tr(0xFA4), 0x000F492Au);
  r.mac_interface = kSwcIfGmii;
  EXPECT_EQ(swc_phy_reset(6, &r), kSwcRcIllegal);
}

TEST_F(Phys, ModelEightIsInternalOrSgmiiByTheMacInterface) {
  chip.phy(0, 2) = swchip::PhyModel(0x0007, 0x0481);
  auto r = reset_setup(kSwcIfInternal);
  ASSERT_EQ(swc_phy_reset(3, &r), 0);
  EXPECT_EQ(swc_phy_port(3)->family, 7u);
  EXPECT_EQ(swc_phy_port(3)->part, 7388u);
  r = reset_setup(kSwcIfSgmii);
  ASSERT_EQ(swc_phy_reset(3, &r), 0);
  EXPECT_EQ(swc_phy_port(3)->family, 5u);
  EXPECT_EQ(swc_phy_port(3)->part, 8538u);
}

TEST_F(Phys, UnsupportedAlderRevisionIsRefusedBeforeAnyWrite) {
  chip.phy(0, 1) = swchip::PhyModel(0x000F, 0xC443);  // OUI 0x3F1, model 4, revision 3
  const auto r = reset_setup(kSwcIfRgmii);
  EXPECT_EQ(swc_phy_reset(2, &r), kSwcRcUnsupported);
  EXPECT_EQ(swc_phy_port(2)->family, 2u);
  EXPECT_TRUE(phy_writes().empty());
}

TEST_F(Phys, AlderRevisionSixEndsWithItsInterfaceWord) {
  chip.phy(0, 1) = swchip::PhyModel(0x000F, 0xC446);
  SwcPhyResetSetup r{kSwcIfRgmii, 0, 0, 1000, 0};
  ASSERT_EQ(swc_phy_reset(2, &r), 0);
  const auto w = phy_writes();
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[1], std::make_tuple(0u, 1u, 27u, 0x0114u));
  EXPECT_EQ(w[2], std::make_tuple(0u, 1u, 23u, 0x1000u | 0x100u | 0x14u | 0x200u));
  EXPECT_EQ(w[3], std::make_tuple(0u, 1u, 22u, 0x3000u));
}

TEST_F(Phys, ResetThatNeverCompletesTimesOutAfterFiveSeconds) {
  chip.phy(0, 0).reset_reads = 1000000;
  swgenio_set_recording(false);
  const uint64_t start = clock.now_us();
  const auto r = reset_setup(kSwcIfInternal);
  EXPECT_EQ(swc_phy_reset(1, &r), kSwcRcPhyResetTimeout);
  EXPECT_GE(clock.now_us() - start, 5'000'000u);
  EXPECT_LT(clock.now_us() - start, 5'100'000u);
}

TEST_F(Phys, ForcedGigabitWritesOnlyTheControlRegister) {
  SwcPhySetup s{kSwcPhyModeForced, kSwcSpeed1G, 1, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(swc_phy_setup(1, &s), 0);
  EXPECT_EQ(phy_writes(),
            (std::vector<std::tuple<unsigned, unsigned, unsigned, unsigned>>{{0, 0, 0, 0x0140}}));
}

TEST_F(Phys, PagedReadSelectsAndRestoresThePageOnlyOffPageZero) {
  uint16_t v;
  ASSERT_EQ(swc_phy_read(1, 2, &v), 0);
  EXPECT_TRUE(phy_writes().empty());
  ASSERT_EQ(swc_phy_read(1, swc_phy_paged(kSwcPhyPageTest, 5), &v), 0);
  EXPECT_EQ(phy_writes(), (std::vector<std::tuple<unsigned, unsigned, unsigned, unsigned>>{{0, 0, 31, 0x2A30},
                                                                                           {0, 0, 31, 0}}));
}

TEST_F(Phys, PortsOutsideThePhyStateAreRefused) {
  SwcPortStatus st{};
  EXPECT_EQ(swc_phy_status_get(7, &st), kSwcRcIllegal);
  EXPECT_EQ(swc_phy_status_get(1000, &st), kSwcRcIllegal);
  uint16_t v;
  EXPECT_EQ(swc_phy_read(0, 1, &v), kSwcRcIllegal);  // the pseudo-port before it is mapped
  const auto r = reset_setup(kSwcIfInternal);
  EXPECT_EQ(swc_phy_reset(9, &r), kSwcRcIllegal);
}

TEST_F(Phys, AutonegotiationFollowsThePartner) {
  SwcPortStatus st = bring_up(2);
  EXPECT_EQ(st.link, 1u);
  EXPECT_EQ(st.link_down_event, 0u);
  EXPECT_EQ(st.speed, kSwcSpeed1G);
  EXPECT_EQ(st.full_duplex, 1u);
  EXPECT_EQ(st.pause_obey, 1u);
  EXPECT_EQ(st.pause_generate, 1u);

  chip.phy(0, 1).plug(swchip::kAbility100Half);
  ASSERT_EQ(swc_port_status_get(2, &st), 0);
  EXPECT_EQ(st.link_down_event, 1u);
  EXPECT_EQ(st.link, 1u);
  EXPECT_EQ(st.speed, kSwcSpeed100M);
  EXPECT_EQ(st.full_duplex, 0u);
  EXPECT_EQ(st.pause_obey, 0u);
}

TEST_F(Phys, CablePulledAndPluggedBack) {
  SwcPortStatus st = bring_up(1);
  ASSERT_EQ(st.link, 1u);

  chip.phy(0, 0).unplug();
  ASSERT_EQ(swc_port_status_get(1, &st), 0);
  EXPECT_EQ(st.link, 0u);
  EXPECT_EQ(st.link_down_event, 1u);
  EXPECT_EQ(chip.phy(0, 0).peek(swchip::kPageTest, 20) & 0x1F00, 0x15u << 8);  // down correction ran
  EXPECT_EQ(swc_phy_port(1)->link, 0u);
  swgenio_clear_recorded();
  ASSERT_EQ(swc_port_status_get(1, &st), 0);
  EXPECT_EQ(st.link, 0u);
  EXPECT_EQ(phy_writes().size(), 0u);  // staying down runs no corrections again

  chip.phy(0, 0).plug(swchip::kAbilityAll | swchip::kAbilityPause);
  ASSERT_EQ(swc_port_status_get(1, &st), 0);
  EXPECT_EQ(st.link, 1u);
  EXPECT_EQ(st.speed, kSwcSpeed1G);
}

TEST_F(Phys, DropThatCameBackRunsBothCorrections) {
  SwcPortStatus st = bring_up(1);
  chip.phy(0, 0).unplug();
  chip.phy(0, 0).plug(swchip::kAbilityAll);
  swgenio_clear_recorded();
  ASSERT_EQ(swc_port_status_get(1, &st), 0);
  EXPECT_EQ(st.link_down_event, 1u);
  EXPECT_EQ(st.link, 1u);
  bool down_correction = false, up_patch = false;
  for (const auto &[c, a, reg, v] : phy_writes()) {
    if (reg == 16 && v == (0xA000u | 0xFF0u)) up_patch = true;
    if (reg == 20) down_correction = true;
  }
  EXPECT_TRUE(down_correction);
  EXPECT_TRUE(up_patch);
}

TEST_F(Phys, PowerDownTakesTheLinkDown) {
  const auto r = reset_setup(kSwcIfInternal);
  ASSERT_EQ(swc_phy_reset(4, &r), 0);
  SwcPhySetup s{kSwcPhyModePowerDown, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(swc_phy_setup(4, &s), 0);
  SwcPortStatus st{};
  ASSERT_EQ(swc_port_status_get(4, &st), 0);
  EXPECT_EQ(st.link, 0u);
  s.mode = 3;
  EXPECT_EQ(swc_phy_setup(4, &s), kSwcRcIllegal);
}

TEST_F(Phys, ForcedHundredFullNeedsAPartnerThatCanDoIt) {
  const auto r = reset_setup(kSwcIfInternal);
  ASSERT_EQ(swc_phy_reset(5, &r), 0);
  SwcPhySetup s{kSwcPhyModeForced, kSwcSpeed100M, 1, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(swc_phy_setup(5, &s), 0);
  EXPECT_EQ(chip.phy(0, 4).tr(0x7FA), 0x00122803u);
  SwcPortStatus st{};
  swc_port_status_get(5, &st);
  ASSERT_EQ(swc_port_status_get(5, &st), 0);
  EXPECT_EQ(st.link, 1u);
  EXPECT_EQ(st.speed, kSwcSpeed100M);
  EXPECT_EQ(st.full_duplex, 1u);
  chip.phy(0, 4).plug(swchip::kAbility10Full);
  swc_port_status_get(5, &st);
  ASSERT_EQ(swc_port_status_get(5, &st), 0);
  EXPECT_EQ(st.link, 0u);
}

TEST_F(Phys, CedarRevisionZeroLoadsItsPackageProgram) {
  chip.phy(0, 0) = swchip::PhyModel(0x0007, 0x0680);  // OUI 0x1C1, model 0x28, revision 0
  const auto r = reset_setup(kSwcIfSgmii);
  ASSERT_EQ(swc_phy_reset(1, &r), 0);
  EXPECT_EQ(swc_phy_port(1)->family, 5u);
  EXPECT_EQ(swc_phy_port(1)->part, 8538u);
  size_t program_bytes = 0;
  for (const auto &[c, a, reg, v] : phy_writes()) {
    if (reg == 12 && (v & 0xFF00) == 0x5000 && v != 0x5000) ++program_bytes;
  }
  EXPECT_EQ(program_bytes, 36u);
  const auto &phy = chip.phy(0, 0);
  EXPECT_EQ(phy.peek(swchip::kPageTr, 17), 0x3D);
  EXPECT_EQ(phy.tr(0x606), 0x3Du);
  EXPECT_EQ(phy.tr(0xE06), 0x3Du);
  EXPECT_EQ(phy.peek(kSwcPhyPageGpio, 0), 0xC099);
  EXPECT_EQ(phy.peek(1, 20) & 0x1800, 0x1800);
  EXPECT_EQ(phy.peek(0, 23), 0u);
  const auto serdes = reset_setup(kSwcIfRgmii);
  EXPECT_EQ(swc_phy_reset(1, &serdes), kSwcRcIllegal);
}

TEST_F(Phys, GenericPhyTakesSpeedFromTheStandardRegisters) {
  chip.phy(0, 2) = swchip::PhyModel(0x0123, 0x4560);  // no known family
  const auto r = reset_setup(kSwcIfInternal);
  ASSERT_EQ(swc_phy_reset(3, &r), 0);
  EXPECT_EQ(swc_phy_port(3)->family, 0u);
  const auto s = aneg_all();
  ASSERT_EQ(swc_phy_setup(3, &s), 0);
  SwcPortStatus st{};
  swc_port_status_get(3, &st);
  ASSERT_EQ(swc_port_status_get(3, &st), 0);
  EXPECT_EQ(st.speed, kSwcSpeed1G);
  chip.phy(0, 2).plug(swchip::kAbility100Half | swchip::kAbility10Full);
  ASSERT_EQ(swc_port_status_get(3, &st), 0);
  EXPECT_EQ(st.speed, kSwcSpeed100M);
  EXPECT_EQ(st.full_duplex, 0u);
}

TEST_F(Phys, BirchLinkDownPowersThePhyDownBriefly) {
  SwcPhyResetSetup r{kSwcIfRgmii, 0, 0, 0, 0};
  ASSERT_EQ(swc_phy_reset(6, &r), 0);
  const auto s = aneg_all();
  ASSERT_EQ(swc_phy_setup(6, &s), 0);
  SwcPortStatus st{};
  swc_port_status_get(6, &st);
  ASSERT_EQ(swc_port_status_get(6, &st), 0);
  ASSERT_EQ(st.link, 1u);
  const uint64_t slept = clock.slept_ms();
  chip.phy(1, 3).unplug();
  ASSERT_EQ(swc_port_status_get(6, &st), 0);
  EXPECT_EQ(clock.slept_ms() - slept, 100u);
  EXPECT_EQ(chip.phy(1, 3).peek(0, 0) & 0x800, 0u);  // restored
}

TEST_F(Phys, TenMegabitLinkUpOnCorvexSetsItsTestField) {
  const auto r = reset_setup(kSwcIfInternal);
  ASSERT_EQ(swc_phy_reset(1, &r), 0);
  chip.phy(0, 0).plug(swchip::kAbility10Full);
  const auto s = aneg_all();
  ASSERT_EQ(swc_phy_setup(1, &s), 0);
  SwcPortStatus st{};
  ASSERT_EQ(swc_port_status_get(1, &st), 0);
  EXPECT_EQ(st.speed, kSwcSpeed10M);
  EXPECT_EQ(chip.phy(0, 0).peek(swchip::kPageTest, 20) & 0x1F00, 0x13u << 8);
}

TEST_F(Phys, RecheckResetsOnlyAForcedAlderRevisionSixWithoutLink) {
  chip.phy(0, 1) = swchip::PhyModel(0x000F, 0xC446);
  const SwcPhyResetSetup r{kSwcIfRgmii, 0, 0, 0, 0};
  ASSERT_EQ(swc_phy_reset(2, &r), 0);
  SwcPhySetup s{kSwcPhyModeForced, kSwcSpeed100M, 1, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(swc_phy_setup(2, &s), 0);
  swgenio_clear_recorded();
  ASSERT_EQ(swc_phy_reset_and_setup(2), 0);
  const auto w = phy_writes();
  ASSERT_FALSE(w.empty());
  EXPECT_EQ(w.front(), std::make_tuple(0u, 1u, 0u, 0x8000u));
  EXPECT_EQ(w.back(), std::make_tuple(0u, 1u, 0u, 0x2100u));
  swc_phy_port(2)->link = 1;
  swgenio_clear_recorded();
  ASSERT_EQ(swc_phy_reset_and_setup(2), 0);
  EXPECT_TRUE(phy_writes().empty());
  swgenio_clear_recorded();
  ASSERT_EQ(swc_phy_reset_and_setup(1), 0);  // family 7: never
  EXPECT_TRUE(accesses().empty());
}

}  // namespace
