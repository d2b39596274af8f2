// Frames sent from the CPU: to a port, an aggregation, a VLAN, with the egress mirror copy.
#include <gtest/gtest.h>

#include "chip_fixture.h"
#include "swc_cpu.h"
#include "swc_qos_state.h"

namespace {

class CpuTransmit : public ChipFixture {
 protected:
  void SetUp() override {
    ChipFixture::SetUp();
    frame.assign(60, 0x11);
    for (int i = 0; i < 6; ++i) frame[i] = static_cast<uint8_t>(0x02 + i);
    const uint32_t all[kSwcPortSlots] = {0, 1, 1, 1, 1, 1, 1};
    ASSERT_EQ(swc_vlan_port_members_set(1, all), 0);
  }
  size_t sent(uint32_t port_no) {
    const unsigned c = port_no == 6 ? 6 : port_no - 1;
    const auto frames = chip.take_transmitted(c);
    for (const auto &f : frames) last[port_no] = f;
    return frames.size();
  }
  std::vector<uint8_t> frame;
  std::map<uint32_t, std::vector<uint8_t>> last;
};

TEST_F(CpuTransmit, RawFrameGoesToABlockingPortButNotToADisabledOne) {
  EXPECT_EQ(swc_cpu_tx_raw_frame(3, frame.data(), frame.size()), kSwcRcNotNow);
  ASSERT_EQ(swc_port_stp_state_set(3, SWC_STP_STATE_BLOCKING), 0);
  ASSERT_EQ(swc_cpu_tx_raw_frame(3, frame.data(), frame.size()), 0);
  ASSERT_EQ(sent(3), 1u);
  EXPECT_EQ(last[3], frame);
}

TEST_F(CpuTransmit, RawFrameToAnAggregationTakesItsFirstForwardingMember) {
  state->port_to_poag[2] = 8;
  state->port_to_poag[4] = 8;
  EXPECT_EQ(swc_cpu_tx_raw_frame(8, frame.data(), frame.size()), kSwcRcNotNow);
  ASSERT_EQ(swc_port_stp_state_set(2, SWC_STP_STATE_BLOCKING), 0);
  ASSERT_EQ(swc_port_stp_state_set(4, SWC_STP_STATE_FORWARDING), 0);
  ASSERT_EQ(swc_cpu_tx_raw_frame(8, frame.data(), frame.size()), 0);
  EXPECT_EQ(sent(2), 0u);
  EXPECT_EQ(sent(4), 1u);
}

TEST_F(CpuTransmit, VlanFloodReachesEveryForwardingMemberOnceWithItsTagRule) {
  for (uint32_t p : {1u, 2u, 3u, 6u}) ASSERT_EQ(swc_port_stp_state_set(p, SWC_STP_STATE_FORWARDING), 0);
  ASSERT_EQ(swc_port_auth_state_set(3, SWC_AUTH_STATE_NONE), 0);
  const SwcVlanPortMode trunk{1, 1, 0, 0, 0};  // aware, every frame tagged
  ASSERT_EQ(swc_vlan_port_mode_set(6, &trunk), 0);
  ASSERT_EQ(swc_cpu_tx_vlan_frame(1, frame.data(), frame.size()), 0);
  EXPECT_EQ(sent(1), 1u);
  EXPECT_EQ(sent(2), 1u);
  EXPECT_EQ(sent(3), 0u) << "unauthorised";
  EXPECT_EQ(sent(4), 0u) << "disabled";
  ASSERT_EQ(sent(6), 1u);
  ASSERT_EQ(last[6].size(), frame.size() + 4);
  EXPECT_EQ(last[6][12], 0x81);
  EXPECT_EQ(last[6][15], 0x01);
  EXPECT_EQ(last[1], frame);
}

TEST_F(CpuTransmit, EgressMirroredPortAlsoSendsOnTheMonitorOnce) {
  for (uint32_t p : {1u, 2u, 5u}) ASSERT_EQ(swc_port_stp_state_set(p, SWC_STP_STATE_FORWARDING), 0);
  state->mirror_monitor_port = 5;
  state->mirror_egress[2] = 1;
  ASSERT_EQ(swc_cpu_tx_raw_frame(2, frame.data(), frame.size()), 0);
  EXPECT_EQ(sent(2), 1u);
  EXPECT_EQ(sent(5), 1u);
  ASSERT_EQ(swc_cpu_tx_vlan_frame(1, frame.data(), frame.size()), 0);
  EXPECT_EQ(sent(5), 1u) << "the monitor was a member already";
}

TEST_F(CpuTransmit, ArgumentsThatWouldReadOutsideTheFrameOrTablesAreRefused) {
  ASSERT_EQ(swc_port_stp_state_set(1, SWC_STP_STATE_FORWARDING), 0);
  EXPECT_EQ(swc_cpu_tx_vlan_frame(4096, frame.data(), frame.size()), kSwcRcIllegal);
  EXPECT_EQ(swc_cpu_tx_vlan_frame(1, frame.data(), 5), kSwcRcIllegal);
  EXPECT_EQ(swc_cpu_tx_raw_frame(1, frame.data(), 0), kSwcRcIllegal);
  EXPECT_EQ(sent(1), 0u);
  const uint32_t map[kSwcPortSlots] = {1, 2, 1, 3, 1, 1, 1};
  EXPECT_EQ(swc_cpu_rx_queue_map_set(map), kSwcRcIllegal);
  EXPECT_EQ(swc_cpu_rx_frameready(0), kSwcRcIllegal);
}

}  // namespace
