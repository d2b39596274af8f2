// State defaults, context and port map of the switch API.
#include <gtest/gtest.h>

#include "chip_fixture.h"

namespace {

class ApiState : public ChipFixture {};

TEST_F(ApiState, SizeIsTheRecordTheCallerAllocates) {
  EXPECT_EQ(swc_sizeof_al(), sizeof(SwcApiState));
}

TEST_F(ApiState, DefaultsMapPortsToChipPortsSkippingFive) {
  const int32_t expected[] = {0, 0, 1, 2, 3, 4, 6};
  for (uint32_t p = 1; p <= 6; ++p) {
    EXPECT_EQ(state->port_to_chip_port[p], expected[p]);
    EXPECT_EQ(state->default_chip_port[p], static_cast<uint32_t>(expected[p]));
    EXPECT_EQ(state->chip_port_to_port[expected[p]], p);
    EXPECT_EQ(state->port_to_poag[p], p);
    EXPECT_EQ(state->stp_state[p], SWC_STP_STATE_DISABLED);
    EXPECT_EQ(state->auth_state[p], SWC_AUTH_STATE_BOTH);
    EXPECT_EQ(state->pvlan_member[1][p], 1u);
  }
  EXPECT_EQ(state->chip_port_to_port[5], 0u);
  EXPECT_EQ(state->mirror_monitor_port, 1u);
  EXPECT_EQ(state->serial, 1u);
}

TEST_F(ApiState, PgidsOneToEightInUseAndNineFirstFree) {
  for (uint32_t n = 1; n <= 8; ++n) EXPECT_EQ(state->pgid[n].references, 1u) << n;
  for (uint32_t n = 1; n <= 6; ++n) {
    for (uint32_t m = 0; m < kSwcPoagSlots; ++m) EXPECT_EQ(state->pgid[n].member[m], m == n ? 1u : 0u);
  }
  for (uint32_t m = 0; m < kSwcPoagSlots; ++m) {
    EXPECT_EQ(state->pgid[7].member[m], 0u);
    EXPECT_EQ(state->pgid[8].member[m], m >= 1 ? 1u : 0u);
  }
  EXPECT_EQ(state->pgid[0].references, 0u);
  EXPECT_EQ(state->pgid[9].references, 0u);
  EXPECT_EQ(state->pgid_count, 64u);
  EXPECT_EQ(state->mac_table_size, 8192u);
}

TEST_F(ApiState, QosDefaults) {
  EXPECT_EQ(state->qos_priorities, 4u);
  for (const auto &qos : state->port_qos) {
    EXPECT_EQ(qos.dscp_enable, 0u);
    EXPECT_EQ(qos.dscp_prio[63], 1u);
    EXPECT_EQ(qos.tag_prio[7], 1u);
    EXPECT_EQ(qos.default_prio, 1u);
  }
  EXPECT_EQ(state->qos_setup.word[0], -1);
  EXPECT_EQ(state->qos_setup.word[1], -1);
  EXPECT_EQ(state->qos_setup.word[2], 0);
}

TEST_F(ApiState, MacShadowFreeListHoldsEveryEntryLastFirst) {
  EXPECT_EQ(state->mac_sorted_head, kSwcMacNone);
  uint32_t count = 0;
  uint32_t expected = kSwcMacTableSize - 1;
  for (uint32_t i = state->mac_free_head; i != kSwcMacNone; i = state->mac_shadow[i].next) {
    ASSERT_EQ(i, expected--);
    ++count;
  }
  EXPECT_EQ(count, kSwcMacTableSize);
}

TEST_F(ApiState, InitStateClearsWhatWasThereBefore) {
  state->jumbo = 1;
  state->vlan[100].in_use = 1;
  SwcInitSetup setup{1, 0, 0, -1, 0};
  swc_init_state(&setup);
  EXPECT_EQ(state->jumbo, 0u);
  EXPECT_EQ(state->vlan[100].in_use, 0u);
  EXPECT_EQ(state->serial, 0u);
}

SwcPortMap board_map[7] = {{0, 0, 0}, {0, 0, 0}, {1, 0, 1}, {2, 0, 2}, {3, 0, 3}, {4, 0, 4}, {6, 1, 3}};

TEST_F(ApiState, PortMapStoresChipPortsAndMiimAddresses) {
  ASSERT_EQ(swc_port_map_set(board_map), 0);
  EXPECT_EQ(state->port_to_chip_port[6], 6);
  EXPECT_EQ(state->miim_controller[6], 1u);
  EXPECT_EQ(state->miim_address[6], 3u);
  for (uint32_t p = 1; p <= 6; ++p) EXPECT_EQ(state->unmapped[p], 0u);
  ASSERT_NE(swc_phy_port(6), nullptr);
  EXPECT_EQ(swc_phy_port(6)->bus, 1);
  EXPECT_EQ(swc_phy_port(6)->address, 3);
}

TEST_F(ApiState, PortWithoutChipPortTakesFirstUnusedDefaultAndStaysUnmapped) {
  SwcPortMap map[7];
  std::copy(std::begin(board_map), std::end(board_map), map);
  map[2].chip_port = -1;  // chip port 1 is then used by nobody
  ASSERT_EQ(swc_port_map_set(map), 0);
  EXPECT_EQ(state->port_to_chip_port[2], 1);
  EXPECT_EQ(state->chip_port_to_port[1], 2u);
  EXPECT_EQ(state->unmapped[2], 1u);
}

TEST_F(ApiState, ChipPortBeyondTheChipIsTreatedAsNone) {
  SwcPortMap map[7];
  std::copy(std::begin(board_map), std::end(board_map), map);
  map[3].chip_port = 40;
  ASSERT_EQ(swc_port_map_set(map), 0);
  EXPECT_EQ(state->unmapped[3], 1u);
  EXPECT_EQ(state->port_to_chip_port[3], 2);
  EXPECT_EQ(state->chip_port_to_port[2], 3u);
}

TEST_F(ApiState, WithoutAContextCallsUseABuiltInStateAndFail) {
  swc_select_context(nullptr);
  ASSERT_NE(swc_state(), nullptr);
  EXPECT_NE(swc_state(), state.get());
  SwcInitSetup setup{1, 1, 0, -1, 0};
  swc_init_state(&setup);  // must not touch the caller's record
  EXPECT_EQ(swc_port_map_set(board_map), 0);
}

// Every layer follows the one installed context: the register I/O its device, the API its state record,
// the PHY layer its PHY state, which counts as uninitialised again until swc_phy_init fills it in.
TEST_F(ApiState, ReinstallingAContextMovesEveryLayerAtOnce) {
  map_board_ports();
  ASSERT_NE(swc_phy_port(1), nullptr);
  uint16_t id = 0;
  ASSERT_EQ(swc_phy_read(1, 2, &id), 0);
  swgenio_clear_recorded();

  SwcApiState other_state{};
  std::vector<unsigned char> other_phy_bytes(swc_phy_sizeof_al(6), 0xA5);
  SwcPhyContext other_phy{0, reinterpret_cast<SwcPhyState *>(other_phy_bytes.data())};
  SwcContext other{-1, &other_state, &other_phy};
  swc_select_context(&other);
  EXPECT_EQ(swc_state(), &other_state);
  EXPECT_EQ(swc_phy_port(1), nullptr);  // the new PHY state still holds its allocation's bytes
  EXPECT_EQ(swc_phy_read(1, 2, &id), kSwcRcIllegal);
  uint32_t value = 0;
  EXPECT_EQ(swc_io_si_rd(7, 0, 0x18, &value), kSwcRcReadFailed);  // no device in the new context
  EXPECT_TRUE(accesses().empty());

  swc_select_context(&context);
  EXPECT_EQ(swc_state(), state.get());
  EXPECT_EQ(swc_phy_port(1), nullptr);
  ASSERT_EQ(swc_phy_init(6), 0);
  ASSERT_NE(swc_phy_port(1), nullptr);
  EXPECT_EQ(swc_io_si_rd(7, 0, 0x18, &value), 0);
  EXPECT_EQ(value, swchip::kChipIdG5RevA);
}

}  // namespace
