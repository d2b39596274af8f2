// Port set-up, 64-bit counters and MIIM access of the switch API.
#include <gtest/gtest.h>

#include "chip_fixture.h"
#include "swc_phy.h"
#include "swc_port.h"

#include <set>

namespace {

class Ports : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    map_board_ports();
  }
  // Sets chip counter register 0x50 + index of a chip port.
  void counter(unsigned chip_port, unsigned index, uint32_t value) {
    chip.write(1, chip_port, 0x50 + index, value);
  }
};

TEST_F(Ports, CountersWrapAtTheirWidth) {
  counter(2, 3, 0xFFFFF0);    // register 0x53: word 2, 24 bits
  counter(2, 0, 0xFFFFFFF0);  // register 0x50: word 0, 32 bits
  ASSERT_EQ(swc_port_counters_update(3), 0);
  counter(2, 3, 0x10);
  counter(2, 0, 0x10);
  ASSERT_EQ(swc_port_counters_update(3), 0);
  EXPECT_EQ(state->counters[3][2], 0xFFFFF0u + 0x20u);
  EXPECT_EQ(state->counters[3][0], uint64_t{0xFFFFFFF0u} + 0x20u);
  EXPECT_EQ(swc_port_counters_update(7), kSwcRcIllegal);
}

TEST_F(Ports, AggregationMembersAddToBothTotals) {
  state->port_to_poag[2] = 7;
  state->port_to_poag[4] = 7;
  counter(1, 1, 100);
  counter(3, 1, 50);
  SwcPoagCounters c{};
  c.field[6] = 0xABCD;
  ASSERT_EQ(swc_poag_counters_get(7, &c), 0);
  EXPECT_EQ(c.field[4], 150u);
  EXPECT_EQ(c.field[10], 150u);
  EXPECT_EQ(c.field[6], 0xABCDu);  // not written
  EXPECT_EQ(state->counters[2][1], 100u);
  ASSERT_EQ(swc_poag_counters_clear(7), 0);
  EXPECT_EQ(state->counters[7][1], 0u);
  EXPECT_EQ(state->counters[2][1], 100u);
}

TEST_F(Ports, ClearingAnEmptyAggregationKeepsItsTotals) {
  state->counters[8][0] = 77;
  EXPECT_EQ(swc_poag_counters_clear(8), 0);
  EXPECT_EQ(state->counters[8][0], 77u);
  EXPECT_EQ(swc_poag_counters_clear(10), kSwcRcIllegal);
  EXPECT_EQ(swc_poag_counters_clear(0), kSwcRcIllegal);
}

TEST_F(Ports, FieldNineIsTheExcessOfFramesOverUnicast) {
  counter(0, 3, 10);  // word 2
  counter(0, 4, 4);   // word 6
  SwcPoagCounters c{};
  ASSERT_EQ(swc_poag_counters_get(1, &c), 0);
  EXPECT_EQ(c.field[9], 0u);
  EXPECT_EQ(c.field[0], 10u);
  EXPECT_EQ(c.field[8], 10u);
  counter(0, 4, 25);
  ASSERT_EQ(swc_poag_counters_get(1, &c), 0);
  EXPECT_EQ(c.field[9], 15u);
}

SwcPortSetup internal_port(uint32_t max_length) {
  SwcPortSetup s{};
  s.interface_type = kSwcIfInternal;
  s.speed = kSwcSpeed1G;
  s.full_duplex = 1;
  s.max_length = max_length;
  return s;
}

TEST_F(Ports, MaximumFrameLengthLimit) {
  SwcPortSetup s = internal_port(9600);
  ASSERT_EQ(swc_port_setup(2, &s), 0);
  EXPECT_EQ(state->max_length[2], 9600u);
  EXPECT_EQ(state->jumbo, 1u);
  s.max_length = 9601;
  EXPECT_EQ(swc_port_setup(2, &s), kSwcRcIllegal);
  EXPECT_EQ(state->max_length[2], 9600u);
  EXPECT_EQ(swc_port_setup(0, &s), kSwcRcIllegal);
}

TEST_F(Ports, FirstJumboPortReappliesFlowControlOnTheOthers) {
  SwcPortSetup s = internal_port(1523);
  ASSERT_EQ(swc_port_setup(3, &s), 0);
  std::set<unsigned> reapplied;
  for (const auto &a : accesses()) {
    if (a.kind == K::kSpiWrite && a.block == 1 && a.reg == 0xDF) reapplied.insert(a.subblock);
  }
  EXPECT_EQ(reapplied, (std::set<unsigned>{0, 1, 2, 3, 4, 6}));
  swgenio_clear_recorded();
  s.max_length = 2000;  // still jumbo: nothing to re-apply elsewhere
  ASSERT_EQ(swc_port_setup(3, &s), 0);
  for (const auto &a : accesses()) {
    if (a.kind == K::kSpiWrite && a.reg == 0xDF) {
      EXPECT_EQ(a.subblock, 2u);
    }
  }
}

TEST_F(Ports, CountersResetByReconfigurationAreNotCountedAsWrap) {
  counter(1, 4, 1000);
  ASSERT_EQ(swc_port_counters_update(2), 0);
  // The chip clears the counters during the set-up: the next reading starts from the new values.
  int reads = 0;
  override_read(1, 1, 0x54, [&](unsigned, unsigned, unsigned) { return ++reads == 1 ? 1000u : 3u; });
  SwcPortSetup s = internal_port(1518);
  ASSERT_EQ(swc_port_setup(2, &s), 0);
  EXPECT_EQ(state->last_counters[2].word[6], 3u);
  ASSERT_EQ(swc_port_counters_update(2), 0);
  EXPECT_EQ(state->counters[2][6], 1000u);
}

TEST_F(Ports, MiimRangeChecks) {
  uint16_t v;
  EXPECT_EQ(swc_miim_phy_read(2, 0, 0, &v), kSwcRcIllegal);
  EXPECT_EQ(swc_miim_phy_read(0, 32, 0, &v), kSwcRcIllegal);
  EXPECT_EQ(swc_miim_phy_write(0, 0, 32, 1), kSwcRcIllegal);
  EXPECT_EQ(swc_miim_phy_writemasked(0xFFFFFFFF, 0, 0, 1, 1), kSwcRcIllegal);
  EXPECT_TRUE(accesses().empty());
  ASSERT_EQ(swc_miim_phy_read(0, 1, 3, &v), 0);
  EXPECT_EQ(v, 0x0451);
  ASSERT_EQ(swc_miim_phy_writemasked(0, 1, 4, 0x0000, 0x0C00), 0);
  ASSERT_EQ(swc_miim_phy_read(0, 1, 4, &v), 0);
  EXPECT_EQ(v, 0x01E1);
}

TEST_F(Ports, RawPhyAccessByAddressSelectsAndRestoresThePage) {
  uint16_t v = 0;
  ASSERT_EQ(swc_phy_addr_writemasked(1, 3, swc_phy_paged(kSwcPhyPageTest, 12), 0x200, 0x300), 0);
  ASSERT_EQ(swc_phy_addr_read(1, 3, swc_phy_paged(kSwcPhyPageTest, 12), &v), 0);
  EXPECT_EQ(v, 0x200);
  EXPECT_EQ(chip.phy(1, 3).peek(kSwcPhyPageTest, 12), 0x200);
  EXPECT_EQ(chip.phy(1, 3).read(31), 0);
}

}  // namespace
