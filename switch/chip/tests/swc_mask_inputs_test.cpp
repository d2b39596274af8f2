// Private VLAN, aggregation and mirror inputs, and the chip masks recomputed from them, on the
// in-process chip model.
#include <gtest/gtest.h>

#include "chip_fixture.h"
#include "swc_groups.h"
#include "swc_masks.h"

namespace {

class MaskInputs : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    map_board_ports();
    for (uint32_t p = 1; p <= 6; ++p) state->stp_state[p] = SWC_STP_STATE_FORWARDING;
  }
  static std::vector<uint32_t> ports(std::initializer_list<uint32_t> list) {
    std::vector<uint32_t> flags(kSwcPortSlots, 0);
    for (uint32_t p : list) flags[p] = 1;
    return flags;
  }
  // Chip port bit of a front port on this board.
  static uint32_t bit(uint32_t port) { return 1u << (port == 6 ? 6 : port - 1); }
  uint32_t aggregation_mask(uint32_t code) const { return chip.peek(2, 0, 0x2F + code); }
  uint32_t source_mask(uint32_t port) const {
    return chip.peek(2, 0, 0x80 + (port == 6 ? 6 : port - 1)) & 0x5F;
  }
};

TEST_F(MaskInputs, AggregationMembersShareTheSixteenCodes) {
  ASSERT_EQ(swc_aggr_port_members_set(7, ports({2, 5}).data()), 0);
  for (uint32_t code = 1; code <= 16; ++code) {
    const uint32_t m = aggregation_mask(code);
    EXPECT_EQ((m & bit(2)) != 0, code % 2 == 1) << code;
    EXPECT_EQ((m & bit(5)) != 0, code % 2 == 0) << code;
    EXPECT_NE(m & bit(1), 0u);  // a lone port carries every code
  }
  EXPECT_EQ(swc_aggr_port_member_get(5), 7);
  uint32_t members[kSwcPortSlots];
  ASSERT_EQ(swc_aggr_port_members_get(7, members), 0);
  EXPECT_EQ(members[2] + members[5], 2u);
  // With port 5 blocked, port 2 carries all sixteen.
  state->stp_state[5] = SWC_STP_STATE_BLOCKING;
  ASSERT_EQ(swc_update_masks(1, 0, 1), 0);
  for (uint32_t code = 1; code <= 16; ++code) EXPECT_NE(aggregation_mask(code) & bit(2), 0u);
  // Frames from an aggregation never go back into it.
  EXPECT_EQ(source_mask(2) & bit(5), 0u);
  EXPECT_NE(source_mask(2) & bit(1), 0u);
}

TEST_F(MaskInputs, PortPoagMustNameExactlyItself) {
  EXPECT_EQ(swc_aggr_port_members_set(3, ports({3}).data()), 0);
  EXPECT_EQ(state->port_to_poag[3], 3u);
  EXPECT_EQ(swc_aggr_port_members_set(3, ports({}).data()), kSwcRcAggrInconsistent);
  EXPECT_EQ(swc_aggr_port_members_set(3, ports({3, 4}).data()), kSwcRcAggrInconsistent);
  EXPECT_EQ(swc_aggr_port_members_set(10, ports({1}).data()), kSwcRcIllegal);
  EXPECT_EQ(swc_aggr_port_member_set(2, 3), kSwcRcIllegal);
  EXPECT_EQ(swc_aggr_port_member_set(2, 8), 0);
  EXPECT_EQ(swc_aggr_port_member_get(2), 8);
  // Leaving the aggregation: the port is its own poag again.
  ASSERT_EQ(swc_aggr_port_members_set(8, ports({}).data()), 0);
  EXPECT_EQ(swc_aggr_port_member_get(2), 2);
}

TEST_F(MaskInputs, PgidNamingAnAggregationSendsToAllItsPorts) {
  ASSERT_EQ(swc_aggr_port_members_set(7, ports({2, 5}).data()), 0);
  uint32_t members[kSwcPoagSlots] = {};
  members[7] = 1;
  uint32_t pgid = 0;
  ASSERT_EQ(swc_pgid_alloc(&pgid, 0, members), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x40 + pgid), bit(2) | bit(5));
}

TEST_F(MaskInputs, PrivateVlansLimitTheSourceMasks) {
  ASSERT_EQ(swc_pvlan_port_members_set(1, ports({1, 2}).data()), 0);
  ASSERT_EQ(swc_pvlan_port_members_set(2, ports({3, 4, 5, 6}).data()), 0);
  EXPECT_EQ(source_mask(1), bit(2));
  EXPECT_EQ(source_mask(3), bit(4) | bit(5) | bit(6));
  uint32_t members[kSwcPortSlots];
  ASSERT_EQ(swc_pvlan_port_members_get(2, members), 0);
  EXPECT_EQ(members[3], 1u);
  EXPECT_EQ(swc_pvlan_port_members_set(7, ports({1}).data()), kSwcRcIllegal);
  EXPECT_EQ(swc_pvlan_port_members_get(0, members), kSwcRcIllegal);
}

TEST_F(MaskInputs, OnlyOneEgressOnlyMirroredPort) {
  EXPECT_EQ(swc_mirror_egress_ports_set(ports({2, 3}).data()), kSwcRcIllegal);
  EXPECT_EQ(state->mirror_egress[2], 0u);
  ASSERT_EQ(swc_mirror_ingress_ports_set(ports({2}).data()), 0);
  EXPECT_NE(chip.peek(2, 0, 0x80 + 1) & (1u << 26), 0u);
  EXPECT_EQ(swc_mirror_egress_ports_set(ports({2, 3}).data()), 0);
  EXPECT_EQ(state->mirror_egress[3], 1u);
}

TEST_F(MaskInputs, MonitorPortJoinsTheVlansOfEgressMirroredPorts) {
  ASSERT_EQ(swc_vlan_port_members_set(10, ports({3, 4}).data()), 0);
  ASSERT_EQ(swc_mirror_egress_ports_set(ports({3}).data()), 0);
  ASSERT_EQ(swc_mirror_monitor_port_set(6), 0);
  EXPECT_EQ(chip.vlan_entry(10).mask, bit(3) | bit(4) | bit(6));
  EXPECT_EQ(chip.peek(2, 0, 0xF0) & 0x1F, 6u);
  EXPECT_EQ(swc_mirror_monitor_port_set(0), kSwcRcIllegal);
}

}  // namespace
