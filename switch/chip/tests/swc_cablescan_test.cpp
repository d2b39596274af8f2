// CableScan on the in-process chip model: the PHY's echo canceller shows the cable the test describes,
// and the engine, polled as port management polls it, finds what was described.
#include <gtest/gtest.h>

#include "chip_fixture.h"
#include "phy_echo.h"
#include "phy_model.h"
#include "swc_cablescan.h"
#include "swc_phy.h"

namespace {

class CableScan : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    map_board_ports();
    swgenio_set_recording(false);
  }

  swchip::PhyModel &phy(unsigned port) { return port == 6 ? chip.phy(1, 3) : chip.phy(0, port - 1); }

  void reset(unsigned port) {
    const SwcPhyResetSetup r{port == 6 ? kSwcIfRgmii : kSwcIfInternal, 0, 0, 0, 0};
    ASSERT_EQ(swc_phy_reset(port, &r), 0);
  }

  void describe(unsigned port, const std::string &text) {
    swchip::CableDescription cable;
    ASSERT_EQ(swchip::parse_cable_description(text, cable), "");
    phy(port).describe_cable(cable);
  }

  // Polls the test until it ends, letting 5 ms pass between polls; the final code.
  swc_rc run(unsigned port, SwcPhyCablescanResult &result, unsigned *polls = nullptr) {
    EXPECT_EQ(swc_phy_cablescan_start(port), 0);
    swc_rc rc = kSwcRcRunning;
    unsigned n = 0;
    for (; n < 100000 && rc == kSwcRcRunning; ++n) {
      clock.advance_us(5000);
      rc = swc_phy_cablescan_get(port, &result);
    }
    if (polls) *polls = n;
    return rc;
  }
};

// PHY identities of the families (register 2, register 3 with revision 1).
constexpr uint16_t kFamily4[2] = {0x000F, 0xC581};
constexpr uint16_t kFamily5[2] = {0x0007, 0x0681};
constexpr uint16_t kFamily8[2] = {0x0007, 0x0501};
constexpr uint16_t kFamily9[2] = {0x0007, 0x0551};
constexpr uint16_t kFamily6[2] = {0x0007, 0x0421};
constexpr uint16_t kFamily1[2] = {0x000F, 0xC411};

TEST_F(CableScan, FaultsAndGoodPairsOfAFamilySevenPort) {
  reset(1);
  describe(1, "30 B=open@12 C=short@20");
  SwcPhyCablescanResult r{};
  ASSERT_EQ(run(1, r), 0);
  EXPECT_EQ(r.valid, 1u);
  EXPECT_EQ(r.status[0], 0u);
  EXPECT_EQ(r.status[1], 2u);
  EXPECT_EQ(r.status[2], 1u);
  EXPECT_EQ(r.status[3], 0u);
  EXPECT_EQ(r.length[0], 30u);
  EXPECT_EQ(r.length[1], 12u);
  EXPECT_EQ(r.length[2], 20u);
  EXPECT_EQ(r.length[3], 30u);
}

TEST_F(CableScan, EachFamilyFindsOpenShortAndCableEnd) {
  struct Case {
    const char *name;
    const uint16_t *id;
    unsigned port;
    uint32_t mac_interface;
  };
  const Case cases[] = {{"family 4", kFamily4, 6, kSwcIfRgmii},
                        {"family 5", kFamily5, 2, kSwcIfSgmii},
                        {"family 8", kFamily8, 3, kSwcIfInternal},
                        {"family 9", kFamily9, 4, kSwcIfInternal}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    phy(c.port) = swchip::PhyModel(c.id[0], c.id[1]);
    const SwcPhyResetSetup r{c.mac_interface, 0, 0, 0, 0};
    ASSERT_EQ(swc_phy_reset(c.port, &r), 0);
    describe(c.port, "45 A=short@3 C=open@33");
    SwcPhyCablescanResult result{};
    ASSERT_EQ(run(c.port, result), 0);
    EXPECT_EQ(result.valid, 1u);
    const uint16_t status[4] = {1, 0, 2, 0};
    const uint16_t length[4] = {3, 45, 33, 45};
    for (unsigned pair = 0; pair < 4; ++pair) {
      EXPECT_EQ(result.status[pair], status[pair]) << pair;
      EXPECT_EQ(result.length[pair], length[pair]) << pair;
    }
    // The PHY is left as it was found: test ended, TR window closed, standard page.
    EXPECT_FALSE(phy(c.port).cable_test_running());
    EXPECT_EQ(phy(c.port).peek(swchip::kPageTest, 8) & 0x200, 0);
    EXPECT_EQ(phy(c.port).tr(0x0F86) & 0x300000u, 0u);
    EXPECT_EQ(phy(c.port).read(31), 0);
  }
}

TEST_F(CableScan, FamilyOneReadsThePackedEchoCancellerAndRestoresItsReprogramming) {
  phy(2) = swchip::PhyModel(kFamily1[0], kFamily1[1]);
  reset(2);
  ASSERT_EQ(swc_phy_port(2)->family, 1u);
  describe(2, "40 A=open@10 B=short@30");
  // Settings the test reprograms and must give back.
  phy(2).write(9, 0x0200);
  phy(2).write(31, swchip::kPageTest);
  phy(2).write(5, 0x0008);
  phy(2).write(31, swchip::kPageTr);
  for (const auto &[address, word] : {std::pair<uint16_t, uint32_t>{0x1680, 0x00155400},
                                      {0x0F86, 0x00123800},
                                      {0x0F82, 0x00000010},
                                      {0x0FA0, 0x00001500}}) {
    phy(2).write(2, static_cast<uint16_t>(word >> 16));
    phy(2).write(1, static_cast<uint16_t>(word));
    phy(2).write(0, static_cast<uint16_t>(0x8000 | address));
  }
  phy(2).write(31, 0);
  const uint16_t control = phy(2).peek(0, 0);
  SwcPhyCablescanResult r{};
  ASSERT_EQ(run(2, r), 0);
  EXPECT_EQ(r.valid, 1u);
  const uint16_t status[4] = {2, 1, 0, 0}, length[4] = {10, 30, 40, 40};
  for (unsigned pair = 0; pair < 4; ++pair) {
    EXPECT_EQ(r.status[pair], status[pair]) << pair;
    EXPECT_EQ(r.length[pair], length[pair]) << pair;
  }
  EXPECT_FALSE(phy(2).cable_test_running());
  EXPECT_EQ(phy(2).peek(0, 0) & ~0x0A00u, control & ~0x0A00u);  // restart and power-down pulse aside
  EXPECT_EQ(phy(2).peek(0, 9) & 0x1800, 0);
  EXPECT_EQ(phy(2).peek(0, 28) & 0x4, 0);
  EXPECT_EQ(phy(2).peek(swchip::kPageTest, 5) & 0x18, 0x08);
  EXPECT_EQ(phy(2).tr(0x1680), 0x00155400u);
  EXPECT_EQ(phy(2).tr(0x0F86), 0x00123800u);
  EXPECT_EQ(phy(2).tr(0x0F82), 0x00000010u);
  EXPECT_EQ(phy(2).tr(0x0FA0), 0x00001500u);
  for (uint16_t cleared : {0x0F8A, 0x0F88, 0x0FA2, 0x0770, 0x1684})
    EXPECT_EQ(phy(2).tr(cleared), 0u) << cleared;
  EXPECT_EQ(phy(2).tr(0x0240) & 0xFF, 0u);
  EXPECT_EQ(phy(2).read(31), 0);
}

// A canceller that sees only noise finds nothing on any pair: every family reports "no reflection",
// never a length made from the empty location.
TEST_F(CableScan, NothingFoundReportsNoReflectionOnEveryFamily) {
  struct Case {
    const char *name;
    const uint16_t *id;  // nullptr: the board's own PHY
    unsigned port;
  };
  const Case cases[] = {{"family 7", nullptr, 1}, {"family 1", kFamily1, 2}, {"family 9", kFamily9, 4}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    if (c.id) phy(c.port) = swchip::PhyModel(c.id[0], c.id[1]);
    reset(c.port);
    SwcPhyCablescanResult r{};
    ASSERT_EQ(run(c.port, r), 0);
    EXPECT_EQ(r.valid, 1u);
    for (unsigned pair = 0; pair < 4; ++pair) {
      EXPECT_EQ(r.status[pair], 0u) << pair;
      EXPECT_EQ(r.length[pair], kSwcCablescanNoReflection) << pair;
    }
  }
}

TEST_F(CableScan, FarFaultsAreFoundThroughTheCoarseSearch) {
  reset(2);
  describe(2, "140 A=open@60 B=short@100 C=open@139");
  SwcPhyCablescanResult r{};
  ASSERT_EQ(run(2, r), 0);
  EXPECT_EQ(r.status[0], 2u);
  EXPECT_EQ(r.status[1], 1u);
  EXPECT_EQ(r.status[2], 2u);
  // 60 m lies on the canceller's noise floor taps; the reflection shows on the first tap after them.
  EXPECT_EQ(swchip::echo::tap_of(60), 0x50u);
  EXPECT_EQ(r.length[0], 64u);
  EXPECT_EQ(r.length[1], 100u);
  EXPECT_EQ(r.length[2], 139u);
  // A good pair of a cable this long shows no reflection the fine search can reach.
  EXPECT_EQ(r.status[3], 0u);
  EXPECT_EQ(r.length[3], 255u);
}

TEST_F(CableScan, CrossoverExchangesPairsAAndB) {
  reset(1);
  describe(1, "20 A=open@5 D=short@15");
  phy(1).write(28, static_cast<uint16_t>(1u << 12));  // crossover state 1
  SwcPhyCablescanResult r{};
  ASSERT_EQ(run(1, r), 0);
  EXPECT_EQ(r.status[0], 0u);
  EXPECT_EQ(r.status[1], 2u);
  EXPECT_EQ(r.length[1], 5u);
  EXPECT_EQ(r.status[3], 1u);  // C and D stay
  EXPECT_EQ(r.length[3], 15u);

  phy(1).write(28, static_cast<uint16_t>(0u << 12));  // both exchanges
  ASSERT_EQ(run(1, r), 0);
  EXPECT_EQ(r.status[1], 2u);
  EXPECT_EQ(r.status[2], 1u);
  EXPECT_EQ(r.length[2], 15u);
}

TEST_F(CableScan, PhyThatTakesItsTimeIsWaitedFor) {
  reset(1);
  describe(1, "20 A=open@7");
  phy(1).cable_test_settle_reads = 30;  // 30 checks of register 28, 5 ms apart
  phy(1).tr_busy_reads = 3;             // every TR command polled a few times
  SwcPhyCablescanResult r{};
  ASSERT_EQ(run(1, r), 0);
  EXPECT_EQ(r.status[0], 2u);
  EXPECT_EQ(r.length[0], 7u);
}

TEST_F(CableScan, PhyThatNeverSettlesEndsTheTestAfterFourHundredChecks) {
  reset(1);
  describe(1, "20 A=open@7");
  phy(1).cable_test_settle_reads = 1000000;
  SwcPhyCablescanResult r{};
  const uint64_t start = clock.now_us();
  unsigned polls = 0;
  ASSERT_EQ(run(1, r, &polls), 0);
  // Up to state 3 and then 400 checks 5 ms apart: about 2 s, and nothing found.
  EXPECT_GE(clock.now_us() - start, 2'000'000u);
  EXPECT_LT(clock.now_us() - start, 4'000'000u);
  EXPECT_EQ(r.status[0], 0u);
  EXPECT_FALSE(phy(1).cable_test_running());
}

TEST_F(CableScan, TrCommandThatNeverCompletesGivesUpAfterHalfASecond) {
  reset(1);
  phy(1).tr_busy_reads = 1000000;
  uint32_t value = 7;
  const uint64_t start = clock.now_us();
  EXPECT_EQ(swc_phy_cablescan_tr_read(1, 0x0FF0, &value), kSwcRcNotNow);
  EXPECT_GE(clock.now_us() - start, 500'000u);
  EXPECT_LT(clock.now_us() - start, 600'000u);
}

TEST_F(CableScan, DisturbancesOnEveryReadEndTheTestAfterTen) {
  reset(1);
  describe(1, "20 A=open@7 disturbed");
  SwcPhyCablescanResult r{};
  const uint64_t start = clock.now_us();
  ASSERT_EQ(run(1, r), 0);
  // Ten rounds of sub-range programming (500 ms each) and reads, then the clean-up.
  EXPECT_GE(clock.now_us() - start, 5'000'000u);
  EXPECT_LT(clock.now_us() - start, 7'000'000u);
  for (unsigned pair = 0; pair < 4; ++pair) EXPECT_EQ(r.status[pair], 0u) << pair;
  EXPECT_FALSE(phy(1).cable_test_running());
}

TEST_F(CableScan, StepBeforeItsDeadlineLeavesThePhyAlone) {
  reset(1);
  describe(1, "10");
  ASSERT_EQ(swc_phy_cablescan_start(1), 0);
  SwcPhyCablescanResult r{};
  swgenio_set_recording(true);
  swgenio_clear_recorded();
  EXPECT_EQ(swc_phy_cablescan_get(1, &r), kSwcRcRunning);  // the first step is 1 ms away
  EXPECT_TRUE(accesses().empty());
  EXPECT_EQ(r.valid, 0u);
  EXPECT_EQ(r.status[0], 1u);
  EXPECT_EQ(r.length[0], 0u);
  clock.advance_us(1000);
  EXPECT_EQ(swc_phy_cablescan_get(1, &r), kSwcRcRunning);  // state 1 ran, state 2 is 750 ms away
  EXPECT_FALSE(accesses().empty());
  EXPECT_TRUE(phy(1).cable_test_running());
  swgenio_clear_recorded();
  clock.advance_us(749'000);
  EXPECT_EQ(swc_phy_cablescan_get(1, &r), kSwcRcRunning);
  EXPECT_TRUE(accesses().empty());
}

TEST_F(CableScan, FamilyThatCannotRunItNeverStartsAndReportsNoResult) {
  phy(2) = swchip::PhyModel(kFamily6[0], kFamily6[1]);
  reset(2);
  ASSERT_EQ(swc_phy_port(2)->family, 6u);
  swgenio_set_recording(true);
  swgenio_clear_recorded();
  EXPECT_EQ(swc_phy_cablescan_start(2), 0);
  SwcPhyCablescanResult r{};
  EXPECT_EQ(swc_phy_cablescan_get(2, &r), kSwcRcNotNow);
  EXPECT_EQ(r.valid, 0u);
  EXPECT_TRUE(accesses().empty());
  // Ports without a PHY record are refused.
  EXPECT_EQ(swc_phy_cablescan_start(7), kSwcRcIllegal);
  EXPECT_EQ(swc_phy_cablescan_get(0, &r), kSwcRcIllegal);
}

TEST_F(CableScan, PhyThatStopsAnsweringEndsTheTest) {
  reset(3);
  describe(3, "10");
  ASSERT_EQ(swc_phy_cablescan_start(3), 0);
  SwcPhyCablescanResult r{};
  clock.advance_us(1000);
  ASSERT_EQ(swc_phy_cablescan_get(3, &r), kSwcRcRunning);
  chip.phy(0, 2).mounted = false;
  clock.advance_us(1'000'000);
  EXPECT_EQ(swc_phy_cablescan_get(3, &r), kSwcRcPhyNotMounted);
  EXPECT_EQ(swc_phy_port(3)->cablescan.state, 0);
  EXPECT_EQ(swc_phy_cablescan_get(3, &r), kSwcRcNotNow);  // idle, nothing valid
}

TEST_F(CableScan, RestartWhileRunningRestoresThePhysOwnSettings) {
  reset(1);
  describe(1, "10");
  phy(1).write(28, static_cast<uint16_t>(phy(1).peek(0, 28) | 0x40));  // bit 6, cleared during the test
  SwcPhyCablescanResult r{};
  ASSERT_EQ(swc_phy_cablescan_start(1), 0);
  clock.advance_us(1000);
  ASSERT_EQ(swc_phy_cablescan_get(1, &r), kSwcRcRunning);
  EXPECT_EQ(phy(1).peek(0, 28) & 0x40, 0);
  ASSERT_EQ(run(1, r), 0);  // started again while running
  EXPECT_EQ(phy(1).peek(0, 28) & 0x40, 0x40);
}

TEST_F(CableScan, FamilyEightWritesItsResultsIntoThePhy) {
  phy(3) = swchip::PhyModel(kFamily8[0], kFamily8[1]);
  reset(3);
  describe(3, "40 B=open@20");
  phy(3).write(23, 0x40);
  SwcPhyCablescanResult r{};
  ASSERT_EQ(run(3, r), 0);
  EXPECT_EQ(phy(3).peek(1, 26), 0x0200);  // status of B in bits 8-11
  const unsigned location_b = swchip::echo::tap_of(20);
  EXPECT_EQ(phy(3).peek(1, 24) & 0x3F, 20u & 0x3F);  // lengths, as the results carry them
  EXPECT_NE(location_b, 0u);
  EXPECT_EQ(phy(3).peek(0, 23) & 0xC0, 0x40);  // its mode restored
}

TEST_F(CableScan, PhyLeftOnAnotherPageByAnEndedProcessResetsAtOnce) {
  // The external PHY survives a daemon restart; the last process left it on the TR page.
  phy(6).write(31, swchip::kPageTr);
  const uint64_t start = clock.now_us();
  reset(6);
  EXPECT_EQ(swc_phy_port(6)->family, 4u);
  EXPECT_LT(clock.now_us() - start, 1'000'000u);
  EXPECT_EQ(phy(6).read(31), 0);
  // And a test ended half-way by such a restart: the reset clears it, the next test runs.
  describe(6, "20 A=open@10");
  ASSERT_EQ(swc_phy_cablescan_start(6), 0);
  SwcPhyCablescanResult r{};
  clock.advance_us(1000);
  ASSERT_EQ(swc_phy_cablescan_get(6, &r), kSwcRcRunning);
  reset(6);
  EXPECT_EQ(swc_phy_port(6)->cablescan.state, 0);
  ASSERT_EQ(run(6, r), 0);
  EXPECT_EQ(r.status[0], 2u);
  EXPECT_EQ(r.length[0], 10u);
}

TEST_F(CableScan, BulkPhyMapStoresThePairsInRecordOrder) {
  SwcPhyPortMap map{3, {{-1, -1}, {1, 7}, {0, 9}}};
  ASSERT_EQ(swc_phy_port_map_set(&map), 0);
  EXPECT_EQ(swc_phy_port(1)->bus, 1);
  EXPECT_EQ(swc_phy_port(1)->address, 7);
  EXPECT_EQ(swc_phy_port(2)->address, 9);
  EXPECT_EQ(swc_phy_port(3)->address, 2);  // beyond the count: as it was
  map.count = 8;                           // more records than the PHY state has
  EXPECT_EQ(swc_phy_port_map_set(&map), kSwcRcIllegal);
  EXPECT_EQ(swc_phy_port_map_set(nullptr), kSwcRcIllegal);
}

TEST_F(CableScan, LengthFromLocation) {
  EXPECT_EQ(swc_cablescan_length(7, false, 7), 0);
  EXPECT_EQ(swc_cablescan_length(7, false, 0xFF), 0xFF);
  EXPECT_EQ(swc_cablescan_length(7, false, 41), 30);
  EXPECT_EQ(swc_cablescan_length(7, true, 41), 29);
  EXPECT_EQ(swc_cablescan_length(1, false, 41), 29);
  EXPECT_EQ(swc_cablescan_length(1, true, 41), 24);
  // Family 1 with the variant set: locations 8..12 lie at the port, never a negative distance.
  EXPECT_EQ(swc_cablescan_length(1, true, 8), 0);
  EXPECT_EQ(swc_cablescan_length(1, true, 12), 0);
  EXPECT_EQ(swc_cablescan_length(1, true, 14), 1);
}

TEST_F(CableScan, ThresholdsFollowTheTapAndStayInRange) {
  SwcCablescanTask t{};
  swc_phy_cablescan_threshold_set(&t, 68);  // v = 0xFFFE: exponent -1
  EXPECT_EQ(t.threshold1, 255);
  EXPECT_EQ(t.threshold2, 85);
  swc_phy_cablescan_threshold_set(&t, 12);  // v = 446: exponent 1
  EXPECT_EQ(t.threshold1, 892);
  EXPECT_EQ(t.threshold2, 297);
  swc_phy_cablescan_threshold_set(&t, 190);  // far: the floors hold
  EXPECT_EQ(t.threshold1, 23);
  EXPECT_EQ(t.threshold2, 15);
  t.echo_offset = 4000;  // exponent far above 16 bits: saturates, then the cap for taps above 31
  swc_phy_cablescan_threshold_set(&t, 40);
  EXPECT_EQ(t.threshold1, 0xFFFF);
  EXPECT_EQ(t.threshold2, 1012);
  t.echo_offset = -30000;  // exponent far below: the lower bound
  swc_phy_cablescan_threshold_set(&t, 0);
  EXPECT_EQ(t.threshold1, 23);
  t.echo_offset = 0;
  t.flags = kSwcCablescanFlagVariant;
  swc_phy_cablescan_threshold_set(&t, 12);
  EXPECT_EQ(t.threshold2, 446);
  t.flags = 0;
  t.sub_range = 2;
  swc_phy_cablescan_threshold_set(&t, 12);  // 500 lower
  EXPECT_EQ(t.threshold1, 229);
}

TEST_F(CableScan, PackedReadBackFields) {
  // Register 20 first; bit 15 of register 20 is bit offset 0.
  uint16_t regs[17] = {};
  regs[0] = 0xABCD;
  regs[1] = 0x1234;
  EXPECT_EQ(swc_cablescan_packed_field(regs, 17, 0, 16, false), 0xABCD);
  EXPECT_EQ(swc_cablescan_packed_field(regs, 17, 4, 16, false), 0xBCD1);
  EXPECT_EQ(swc_cablescan_packed_field(regs, 17, 0, 20, true), static_cast<int32_t>(0xABCD1 - 0x100000));
  EXPECT_EQ(swc_cablescan_packed_field(regs, 17, 16, 15, false), 0x1234 >> 1);
  EXPECT_EQ(swc_cablescan_packed_field(regs, 17, 12, 30, false), -1);           // three registers
  EXPECT_EQ(swc_cablescan_packed_field(regs, 17, 16 * 16 + 8, 15, false), -1);  // beyond register 4
}

}  // namespace
