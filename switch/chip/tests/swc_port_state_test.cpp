// QoS priorities, STP and authorisation states and the masks they produce, against the chip model.
#include <gtest/gtest.h>

#include <algorithm>

#include "chip_fixture.h"
#include "swc_qos_state.h"

namespace {

class PortStates : public ChipFixture {
 protected:
  uint32_t reg(unsigned b, unsigned s, unsigned r) { return chip.peek(b, s, r); }
};

TEST_F(PortStates, IllegalPriorityCountChangesNothing) {
  EXPECT_EQ(swc_qos_prios_set(3), kSwcRcNotNow);
  EXPECT_EQ(state->qos_priorities, 4u);
  EXPECT_EQ(swc_qos_prios_set(4), 0);
  EXPECT_TRUE(writes_of(accesses()).empty());
  EXPECT_EQ(swc_qos_prios_set(2), 0);
  EXPECT_EQ(state->qos_priorities, 2u);
  EXPECT_FALSE(writes_of(accesses()).empty());
}

TEST_F(PortStates, PriorityChangeStopsAtTheFirstFailedAccess) {
  map_board_ports();
  // The first port register write (port 1's QoS set-up) fails once.
  driver.add_fault({swchip::AccessKind::kSpiWrite, 1, 1});
  swgenio_clear_recorded();
  EXPECT_EQ(swc_qos_prios_set(2), kSwcRcWriteFailed);
  const std::vector<SwgenioAccess> seen = accesses();
  ASSERT_FALSE(seen.empty());
  // Nothing after the failed write: no flow control or queue set-up, no later port.
  EXPECT_EQ(seen.back().kind, K::kSpiWrite);
  EXPECT_EQ(seen.back().block, 1u);
  EXPECT_NE(seen.back().result, 0);
  EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const SwgenioAccess &a) { return a.result != 0; }), 1);
}

TEST_F(PortStates, IllegalStatesAreRefusedAndNothingStored) {
  EXPECT_EQ(swc_port_stp_state_set(1, 6), kSwcRcIllegal);
  EXPECT_EQ(swc_port_stp_state_set(7, SWC_STP_STATE_FORWARDING), kSwcRcIllegal);
  EXPECT_EQ(swc_port_auth_state_set(1, 3), kSwcRcIllegal);
  EXPECT_EQ(swc_port_auth_state_set(0, SWC_AUTH_STATE_NONE), kSwcRcIllegal);
  EXPECT_EQ(state->stp_state[1], SWC_STP_STATE_DISABLED);
  EXPECT_EQ(state->auth_state[1], SWC_AUTH_STATE_BOTH);
  EXPECT_TRUE(accesses().empty());
  uint32_t stp = 99;
  EXPECT_EQ(swc_port_stp_state_get(9, &stp), kSwcRcIllegal);
  EXPECT_EQ(stp, 99u);
}

TEST_F(PortStates, ForwardingPortsSeeEachOtherThroughTheSourceMasks) {
  ASSERT_EQ(swc_port_stp_state_set(1, SWC_STP_STATE_FORWARDING), 0);
  ASSERT_EQ(swc_port_stp_state_set(2, SWC_STP_STATE_FORWARDING), 0);
  EXPECT_EQ(reg(2, 0, 0x80) & 0x5F, 0x5Eu) << "every port of the private VLAN but itself";
  EXPECT_EQ(reg(2, 0, 0x81) & 0x5F, 0x5Du);
  EXPECT_EQ(reg(2, 0, 0x82) & 0x5F, 0u) << "port 3 is disabled";
  EXPECT_TRUE(reg(1, 0, 0) & (1u << 16)) << "queues opened";
  ASSERT_EQ(swc_port_stp_state_set(2, SWC_STP_STATE_BLOCKING), 0);
  EXPECT_EQ(reg(2, 0, 0x81) & 0x5F, 0u);
  EXPECT_EQ(reg(2, 0, 0x80) & 0x5F, 0x5Eu);
  EXPECT_EQ(reg(2, 0, 0x30), 1u << 0) << "only port 1 carries aggregation code 1";
}

TEST_F(PortStates, EgressAuthorisationEmptiesTheSourceMaskButKeepsAggregationCodes) {
  for (uint32_t p = 1; p <= 3; ++p) ASSERT_EQ(swc_port_stp_state_set(p, SWC_STP_STATE_FORWARDING), 0);
  ASSERT_EQ(swc_port_auth_state_set(2, SWC_AUTH_STATE_EGRESS), 0);
  EXPECT_EQ(reg(2, 0, 0x81) & 0x5F, 0u);
  EXPECT_TRUE(reg(2, 0, 0x30) & (1u << 1));
  ASSERT_EQ(swc_port_auth_state_set(2, SWC_AUTH_STATE_NONE), 0);
  EXPECT_FALSE(reg(2, 0, 0x30) & (1u << 1));
  EXPECT_EQ(state->aggr_code1_selected[2], 0u);
}

TEST_F(PortStates, AggregatedPortsTakeTheCodesInTurn) {
  state->port_to_poag[2] = 7;
  state->port_to_poag[5] = 7;
  ASSERT_EQ(swc_port_stp_state_set(2, SWC_STP_STATE_FORWARDING), 0);
  ASSERT_EQ(swc_port_stp_state_set(5, SWC_STP_STATE_FORWARDING), 0);
  for (unsigned code = 1; code <= 16; ++code) {
    const uint32_t mask = reg(2, 0, 0x2F + code);
    EXPECT_EQ(mask, code % 2 ? 1u << 1 : 1u << 4) << "code " << code;
  }
  EXPECT_EQ(reg(2, 0, 0x81) & (1u << 4), 0u) << "no frame back into its own aggregation";
  ASSERT_EQ(swc_port_stp_state_set(5, SWC_STP_STATE_BLOCKING), 0);
  for (unsigned code = 1; code <= 16; ++code) EXPECT_EQ(reg(2, 0, 0x2F + code), 1u << 1);
}

TEST_F(PortStates, RegisterWriteMaskedChangesOnlyTheMaskedBits) {
  ASSERT_EQ(swc_register_write(0x2003, 0xF0F0F0F0), 0);
  ASSERT_EQ(swc_register_writemasked(0x2003, 0x0000FFFF, 0x00FF00FF), 0);
  uint32_t value = 0;
  ASSERT_EQ(swc_register_read(0x2003, &value), 0);
  EXPECT_EQ(value, 0xF000F0FFu);
  EXPECT_EQ(chip.peek(2, 0, 3), 0xF000F0FFu);
}

TEST_F(PortStates, GpioNumbersOutsideTheChipAreRefused) {
  EXPECT_EQ(swc_gpio_direction_set(4, 1), kSwcRcIllegal);
  EXPECT_EQ(swc_gpio_output_write(6, 1), kSwcRcIllegal);
  uint32_t v = 0;
  EXPECT_EQ(swc_gpio_input_read(4, &v), kSwcRcIllegal);
  EXPECT_EQ(swc_gpio_output_write(5, 1), 0);
  SwcChipId id{};
  ASSERT_EQ(swc_chipid_get(&id), 0);
  EXPECT_EQ(id.part, 0x7385);
}

}  // namespace
