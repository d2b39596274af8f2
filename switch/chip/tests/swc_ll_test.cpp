// Start-up, identification, port set-up, QoS and GPIO of the low-level and chip family layers,
// checked against recorded register sequences and the chip model.
#include <gtest/gtest.h>

#include "ar.h"
#include "chip_fixture.h"
#include "swc_ll.h"

namespace {

using W = std::tuple<unsigned, unsigned, unsigned, uint32_t>;
constexpr unsigned kChipPortOf[7] = {0, 0, 1, 2, 3, 4, 6};

class LowLevel : public ChipFixture {
 protected:
  SwcInitSetup setup{1, 1, 0, -1, 0};
};

TEST_F(LowLevel, StartUpRegisterSequence) {
  ASSERT_EQ(swc_ll_init(&setup), 0);
  const auto w = writes_of(accesses());
  // CPU interface, soft reset 1, CPU interface again, soft reset 2.
  const std::vector<W> head{{7, 0, 0, 0x99999999}, {7, 0, 0x30, 0xF20}, {7, 0, 1, 0}, {7, 0, 0x14, 1},
                            {7, 0, 0, 0x99999999}, {7, 0, 0x30, 0xF20}, {7, 0, 1, 0}, {7, 0, 0x14, 2}};
  ASSERT_GE(w.size(), head.size());
  EXPECT_EQ(std::vector<W>(w.begin(), w.begin() + 8), head);
  // Memories 0..15 except 6 and 7, then the table clears.
  std::vector<W> memories;
  for (uint32_t id = 0; id < 16; ++id) {
    if (id != 6 && id != 7) memories.emplace_back(3, 2, 0, 0x1010400 | id);
  }
  memories.emplace_back(2, 0, 0xB0, 5);
  memories.emplace_back(2, 0, 0xD0, 3);
  EXPECT_EQ(std::vector<W>(w.begin() + 8, w.begin() + 8 + 16), memories);
  for (uint32_t p = 1; p <= 6; ++p) EXPECT_EQ(w[24 + p - 1], W(1, kChipPortOf[p], 0x24, 0x2));
  // Every VLAN written empty.
  for (uint32_t vid = 0; vid < 4096; vid += 1365) {
    EXPECT_EQ(w[30 + 2 * vid], W(2, 0, 0xE0, vid));
    EXPECT_EQ(w[31 + 2 * vid], W(2, 0, 0xD0, 2));
  }
  const std::vector<W> tail_expected{{7, 0, 0x14, 2}};
  size_t at = 30 + 2 * 4096;
  EXPECT_EQ(w[at++], W(7, 0, 0x14, 2));
  for (uint32_t p = 1; p <= 6; ++p) {
    EXPECT_EQ(w[at++], W(1, kChipPortOf[p], 0x6E, 0));
    EXPECT_EQ(w[at++], W(1, kChipPortOf[p], 0x6E, 0x40));
    EXPECT_EQ(w[at++], W(1, kChipPortOf[p], 0x58, 0x39B909B9));
  }
  const std::vector<W> tail{
      {7, 0, 0x31, 0x400}, {4, 7, 0xFF, 0}, {2, 0, 4, 0x5F}, {2, 0, 0x10, 0x5F}, {2, 0, 3, 0x20000000}};
  EXPECT_EQ(std::vector<W>(w.begin() + static_cast<long>(at), w.end()), tail);
  EXPECT_EQ(clock.slept_ms(), 84u);
  EXPECT_EQ(state->g5e, 0u);
}

TEST_F(LowLevel, StartUpWithoutResetIsRefusedBeforeAnyAccess) {
  setup.reset = 0;
  EXPECT_EQ(swc_init(&setup), kSwcRcUnsupported);
  EXPECT_TRUE(accesses().empty());
}

TEST_F(LowLevel, StartUpOnTheG5eVariant) {
  chip.set_chip_id(0x073950E9);
  ASSERT_EQ(swc_ll_init(&setup), 0);
  EXPECT_EQ(state->g5e, 1u);
  EXPECT_EQ(chip.peek(7, 0, 0x31), 0x500u);
}

TEST_F(LowLevel, FailingWriteEndsStartUpWithItsCode) {
  driver.add_fault({swchip::AccessKind::kSpiWrite, 3, -1});
  EXPECT_EQ(swc_ll_init(&setup), kSwcRcWriteFailed);
  EXPECT_EQ(chip.peek(2, 0, 4), 0u);
}

TEST_F(LowLevel, FullInitConfiguresVlanOneFloodGroupAndCapture) {
  ASSERT_EQ(swc_init(&setup), 0);
  EXPECT_EQ(chip.vlan_entry(1).mask, 0x5Fu);
  EXPECT_EQ(state->vlan[1].in_use, 1u);
  EXPECT_EQ(chip.peek(2, 0, 0x48), 0x5Fu);
  EXPECT_EQ(chip.peek(2, 0, 0xA0), 0x10000u);
  for (uint32_t p = 1; p <= 6; ++p) {
    EXPECT_EQ(chip.peek(1, kChipPortOf[p], 0x7A), 1u);
    EXPECT_EQ(chip.peek(1, kChipPortOf[p], 0x24), 0x12u);
  }
}

TEST_F(LowLevel, RejectedArgumentsStoreNothing) {
  const uint32_t members[7] = {0, 1, 1, 0, 0, 0, 0};
  EXPECT_EQ(swc_vlan_port_members_set(4096, members), kSwcRcIllegal);
  const SwcVlanPortMode mode{1, 5, 5, 0, 0};
  EXPECT_EQ(swc_vlan_port_mode_set(7, &mode), kSwcRcIllegal);
  EXPECT_EQ(swc_vlan_port_mode_set(0, &mode), kSwcRcIllegal);
  EXPECT_EQ(swc_pgid_table_write(64), kSwcRcIllegal);
  EXPECT_TRUE(accesses().empty());
  for (const auto &m : state->vlan_port_mode) EXPECT_EQ(m.port_vid, 0u);
  // A members write the chip refuses is not stored either.
  driver.add_fault({swchip::AccessKind::kSpiWrite, 2, -1});
  EXPECT_EQ(swc_vlan_port_members_set(9, members), kSwcRcWriteFailed);
  EXPECT_EQ(state->vlan[9].in_use, 0u);
}

TEST_F(LowLevel, DestinationMaskCoversTheWholeAggregation) {
  state->port_to_poag[2] = 7;
  state->port_to_poag[3] = 7;
  state->pgid[20].member[2] = 1;
  state->pgid[20].references = 1;
  ASSERT_EQ(swc_pgid_table_write(20), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x40 + 20), 0x6u);  // ports 2 and 3: chip ports 1 and 2
  state->unmapped[4] = 1;
  EXPECT_EQ(swc_pgid_table_write(4), 0);  // skipped
  EXPECT_EQ(chip.peek(2, 0, 0x40 + 3), 0u);
}

TEST_F(LowLevel, ChipIdDecoding) {
  SwcChipId id{};
  ASSERT_EQ(swc_ll_chipid_get(&id), 0);
  EXPECT_EQ(id.part, 0x7385);
  EXPECT_EQ(id.revision, 1u);
  chip.set_chip_id(3);
  ASSERT_EQ(swc_ll_chipid_get(&id), 0);
  EXPECT_EQ(id.part, 0x7301);
  EXPECT_EQ(id.revision, 3u);
  id = {};
  chip.set_chip_id(0);
  EXPECT_EQ(swc_ll_chipid_get(&id), kSwcRcBadChip);
  chip.set_chip_id(0xFFFFFFFF);
  EXPECT_EQ(swc_ll_chipid_get(&id), kSwcRcBadChip);
  chip.set_chip_id(0x12345678);
  EXPECT_EQ(swc_ll_chipid_get(&id), kSwcRcNotNow);
  EXPECT_EQ(id.part, 0);  // written only on success
  EXPECT_EQ(swc_ll_chipid_get(nullptr), kSwcRcNotNow);
}

TEST_F(LowLevel, QueueEnableOpensPortAndLearnsByStpState) {
  state->stp_state[3] = SWC_STP_STATE_LEARNING;
  chip.write(5, 0, 14, 0x7F);
  ASSERT_EQ(swc_ll_port_queue_enable(3, 1), 0);
  EXPECT_EQ(chip.peek(5, 0, 14), 0x7Bu);
  EXPECT_EQ(chip.peek(1, 2, 0), (1u << 16) | (1u << 28));
  EXPECT_EQ(chip.peek(2, 0, 13), 0x4u);
  state->stp_state[3] = SWC_STP_STATE_BLOCKING;
  ASSERT_EQ(swc_ll_port_queue_enable(3, 0), 0);
  EXPECT_EQ(chip.peek(5, 0, 14), 0x7Fu);
  EXPECT_EQ(chip.peek(1, 2, 0), 0u);
  EXPECT_EQ(chip.peek(2, 0, 13), 0u);
}

SwcPortSetup gigabit_rgmii() {
  SwcPortSetup s{};
  s.interface_type = kSwcIfRgmii;
  s.speed = kSwcSpeed1G;
  s.full_duplex = 1;
  s.pause_mac[5] = 0x06;
  s.max_length = 1518;
  return s;
}

TEST_F(LowLevel, PortSetupSequenceForGigabitRgmii) {
  const SwcPortSetup s = gigabit_rgmii();
  state->port_setup[6] = s;
  ASSERT_EQ(ar_port_setup(6, &s), 0);
  const uint32_t v = 1 | 6u << 6 | 1u << 17 | 1u << 18 | 6u << 19;
  const auto w = writes_of(accesses());
  ASSERT_GE(w.size(), 7u);
  EXPECT_EQ(w[0], W(1, 6, 0, v | 0x28000030));
  EXPECT_EQ(w[1], W(5, 0, 14, 0));
  EXPECT_EQ(w[2], W(1, 6, 0, v | 0x08000000));
  EXPECT_EQ(w[3], W(1, 6, 0, v));
  EXPECT_EQ(w[4], W(1, 6, 2, 6 | 8 << 4 | 0x200 | 0x8000));
  EXPECT_EQ(w[5], W(1, 6, 0x19, 0x2C));
  EXPECT_EQ(w[6], W(1, 6, 0x10, 1518));
  EXPECT_EQ(chip.peek(1, 6, 4), 0u);  // flow control off
}

TEST_F(LowLevel, PortSetupRefusesInterfacesThePortCannotTake) {
  SwcPortSetup s{};
  s.interface_type = kSwcIfInternal;
  s.speed = kSwcSpeed1G;
  EXPECT_EQ(ar_port_setup(6, &s), kSwcRcIllegal);
  s.interface_type = kSwcIfGmii;
  EXPECT_EQ(ar_port_setup(3, &s), kSwcRcIllegal);
  EXPECT_TRUE(accesses().empty());
}

TEST_F(LowLevel, FlowControlRowsSwitchBetween1522And1523) {
  SwcPortSetup s{};
  s.max_length = 1522;
  ASSERT_EQ(ar_setup_flowcontrol(1, &s), 0);
  EXPECT_EQ(chip.peek(1, 0, 0xDE), 20u << 8 | 20u);
  EXPECT_EQ(chip.peek(1, 0, 0xE0), 0u << 24 | 21u << 16 | 0u << 8 | 24u);
  s.max_length = 1523;
  ASSERT_EQ(ar_setup_flowcontrol(1, &s), 0);
  EXPECT_EQ(chip.peek(1, 0, 0xDE), 18u << 8 | 18u);
  s.flow_obey = 1;
  s.flow_generate = 1;
  s.pause_mac[0] = 0x02;
  s.pause_mac[5] = 0x66;
  ASSERT_EQ(ar_setup_flowcontrol(1, &s), 0);
  EXPECT_EQ(chip.peek(1, 0, 4), 0x10000u | 0x20000u | 0xFF);
  EXPECT_EQ(chip.peek(1, 0, 0xDF), 1u);
  EXPECT_EQ(chip.peek(1, 0, 0xDE), 6u << 8 | 2u);
  EXPECT_EQ(chip.peek(1, 0, 8), 0x020000u);
  EXPECT_EQ(chip.peek(1, 0, 0xC), 0x66u);
  state->g5e = 1;
  state->qos_setup.word[2] = 1;
  s.flow_obey = s.flow_generate = 0;
  ASSERT_EQ(ar_setup_flowcontrol(1, &s), 0);
  EXPECT_EQ(chip.peek(1, 0, 0xDF), 0x80000000u | 4u << 1);  // G5e mode 3 row
}

TEST_F(LowLevel, ArbiterThatEmptiesOnTheLastPollStillSucceeds) {
  swgenio_set_recording(false);
  uint32_t polls = 0;
  override_read(5, 0, 12, [&](unsigned, unsigned, unsigned) { return ++polls == 1000000 ? 0x7Fu : 0u; });
  const SwcPortSetup s = gigabit_rgmii();
  EXPECT_EQ(swc_ll_port_speed_mode_tbi_gmii(6, &s), 0);
  EXPECT_EQ(polls, 1000000u);
  EXPECT_EQ(chip.peek(1, 6, 0) & (1u << 16 | 1u << 28), 1u << 16 | 1u << 28);
}

TEST_F(LowLevel, ArbiterThatNeverEmptiesIsFatal) {
  swgenio_set_recording(false);
  chip.stuck.arbiter_full = true;
  const SwcPortSetup s = gigabit_rgmii();
  EXPECT_EQ(swc_ll_port_speed_mode_tbi_gmii(6, &s), kSwcRcArbiter);
  for (uint32_t p = 1; p <= 5; ++p) EXPECT_EQ(chip.peek(1, kChipPortOf[p], 0) & (1u << 16), 0u) << p;
}

TEST_F(LowLevel, ArbiterThatEmptiesLateResetsEveryPort) {
  swgenio_set_recording(false);
  uint32_t polls = 0;
  override_read(5, 0, 12, [&](unsigned, unsigned, unsigned) { return ++polls > 1000000 ? 0x5Fu : 0u; });
  for (uint32_t p = 1; p <= 5; ++p) state->port_setup[p].interface_type = kSwcIfInternal;
  const SwcPortSetup s = gigabit_rgmii();
  ASSERT_EQ(swc_ll_port_speed_mode_tbi_gmii(6, &s), 0);
  for (uint32_t p = 1; p <= 6; ++p) EXPECT_EQ(chip.peek(1, kChipPortOf[p], 0) & (1u << 28), 1u << 28) << p;
  EXPECT_EQ(chip.peek(1, 0, 0) & 7, 4u);
}

SwcPortQos qos_all(uint32_t prio) {
  SwcPortQos q{};
  for (auto &p : q.dscp_prio) p = prio;
  for (auto &p : q.tag_prio) p = prio;
  q.default_prio = prio;
  return q;
}

TEST_F(LowLevel, DscpTableWithOneQueueFillsEveryField) {
  const SwcPortQos q = qos_all(3);
  ASSERT_EQ(swc_ll_port_qos_setup_set(1, &q), 0);
  EXPECT_EQ(chip.peek(1, 0, 0x60), 0x22222222u);
  EXPECT_EQ(chip.peek(1, 0, 0x61), 0u);
  EXPECT_EQ(chip.peek(1, 0, 0x62), 0u);
  EXPECT_EQ(chip.peek(1, 0, 0x75), 0x22222222u);
  EXPECT_EQ(chip.peek(1, 0, 0x6F), 2u << 16);
}

TEST_F(LowLevel, OnlySevenDscpExceptionsGetSlots) {
  SwcPortQos q = qos_all(1);
  for (uint32_t dscp : {5u, 9u, 10u, 20u, 30u, 40u, 50u, 60u}) q.dscp_prio[dscp] = 4;
  ASSERT_EQ(swc_ll_port_qos_setup_set(2, &q), 0);
  EXPECT_EQ(chip.peek(1, 1, 0x60), 0x03333333u);
  EXPECT_EQ(chip.peek(1, 1, 0x61), 20u << 24 | 10u << 16 | 9u << 8 | 5u);
  EXPECT_EQ(chip.peek(1, 1, 0x62), 50u << 16 | 40u << 8 | 30u);
}

TEST_F(LowLevel, HistogramTieChoosesTheLowestQueue) {
  SwcPortQos q{};
  for (uint32_t d = 0; d < 64; ++d) q.dscp_prio[d] = 1 + d % 4;
  q.default_prio = 1;
  ASSERT_EQ(swc_ll_port_qos_setup_set(1, &q), 0);
  EXPECT_EQ(chip.peek(1, 0, 0x60) >> 28, 0u);
  EXPECT_EQ(chip.peek(1, 0, 0x61) & 0xFF, 1u);  // first exception: DSCP 1
}

TEST_F(LowLevel, PrioritiesOutsideTheRangeStayInsideTheQueues) {
  const SwcPortQos q = qos_all(0);  // the QoS module's start state
  ASSERT_EQ(swc_ll_port_qos_setup_set(1, &q), 0);
  EXPECT_EQ(chip.peek(1, 0, 0x60), 0u);
  EXPECT_EQ(swc_ll_prio_to_queue(9), 3u);
  state->qos_priorities = 2;
  EXPECT_EQ(swc_ll_prio_to_queue(1), 1u);
  EXPECT_EQ(swc_ll_prio_to_queue(2), 3u);
  state->qos_priorities = 3;
  EXPECT_EQ(swc_ll_prio_to_queue(2), 0u);
}

TEST_F(LowLevel, StormRatesAreScaledWithoutWrapping) {
  SwcQosSetup q{{100, -1, 0, 0}};
  ASSERT_EQ(swc_ll_qos_setup_set(&q), 0);
  EXPECT_EQ(chip.peek(2, 0, 2), 1u << 30 | 101u << 8 | 255u << 16);
  q.word[0] = 5000000;  // wraps to a small rate in 32-bit arithmetic
  q.word[1] = 0;
  ASSERT_EQ(swc_ll_qos_setup_set(&q), 0);
  EXPECT_EQ(chip.peek(2, 0, 2), 1u << 31 | 1u << 30 | 255u << 8 | 1u << 16);
}

TEST_F(LowLevel, BusHoldTimeIsBoundedWithoutOverflow) {
  SwcInitSetup s{1, 0, 1, 160, 1};
  ASSERT_EQ(ar_setup_cpu_if(&s), 0);
  EXPECT_EQ(chip.peek(7, 0, 2), 0x0D0D0D0Du);
  EXPECT_EQ(chip.peek(7, 0, 0), 0x81818181u);
  EXPECT_EQ(chip.peek(7, 0, 0x30), 15u << 8);
  s.hold_time_ns = 170;
  EXPECT_EQ(ar_setup_cpu_if(&s), kSwcRcIllegal);
  s.hold_time_ns = 429496730;  // 10 x this wraps to 4 in 32 bits
  EXPECT_EQ(ar_setup_cpu_if(&s), kSwcRcIllegal);
}

TEST_F(LowLevel, CountersLandInTheirRecordWords) {
  for (uint32_t r = 0; r < 8; ++r) chip.write(1, 2, 0x50 + r, 100 + r);
  SwcRawCounters c{};
  for (auto &w : c.word) w = 0xEEEE;
  ASSERT_EQ(swc_ll_port_counters_read(3, &c), 0);
  const uint32_t expected[12] = {100, 101, 103, 102, 0xEEEE, 0xEEEE, 104, 106, 105, 0xEEEE, 0xEEEE, 107};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(c.word[i], expected[i]) << i;
}

TEST_F(LowLevel, AggregationSelectorAndRegistrationBits) {
  const uint32_t none[5] = {0, 0, 0, 0, 0};
  ASSERT_EQ(swc_ll_aggr_mode_set(none), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x20), 5u);
  const uint32_t sa_da[5] = {1, 1, 0, 0, 0};
  ASSERT_EQ(swc_ll_aggr_mode_set(sa_da), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x20), 3u);
  const uint32_t ip[5] = {0, 0, 1, 1, 0};
  ASSERT_EQ(swc_ll_aggr_mode_set(ip), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x20), 5u);
  EXPECT_EQ(chip.peek(1, 6, 0x7B), 3u);
  const uint32_t mixed[5] = {1, 0, 1, 0, 1};
  ASSERT_EQ(swc_ll_aggr_mode_set(mixed), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x20), 4u);

  chip.write(2, 0, 0xA0, 0x00300000 | 0xFFFF);
  SwcCpuRxRegistration reg{};
  reg.flag[0] = 1;
  reg.flag[3] = 1;
  reg.flag[17] = 1;
  reg.flag[18] = 1;
  ASSERT_EQ(swc_ll_cpu_rx_registration_set(&reg), 0);
  EXPECT_EQ(chip.peek(2, 0, 0xA0), 0x00300000u | 1u << 16 | 1u << 2 | 1u << 19 | 1u << 18);
}

TEST_F(LowLevel, VlanPortModeRegisterImage) {
  SwcVlanPortMode m{1, 100, 0x1000, 1, 1};
  chip.write(1, 2, 0x24, 0xFFFF0006);
  ASSERT_EQ(swc_ll_vlan_port_mode_set(3, &m), 0);
  EXPECT_EQ(chip.peek(1, 2, 0) & (3u << 14), 1u << 14);
  EXPECT_EQ(chip.peek(1, 2, 0x7A), 100u);
  EXPECT_EQ(chip.peek(1, 2, 0x79), 0u);
  EXPECT_EQ(chip.peek(1, 2, 0x6E), 4u);
  EXPECT_EQ(chip.peek(2, 0, 5), 4u);
  EXPECT_EQ(chip.peek(1, 2, 0x24), 0xFFFF0006u);  // untag-all: no VID, bits 0/3 clear, bit 16 untouched
  m.untagged_vid = 7;
  m.port_vid = 0x1005;  // out of range: cut to 12 bits, the QoS field above stays
  chip.write(1, 2, 0x7A, 2u << 12);
  ASSERT_EQ(swc_ll_vlan_port_mode_set(3, &m), 0);
  EXPECT_EQ(chip.peek(1, 2, 0x24), 0xFFFF0000u | 7u << 4 | 0x6 | 0x1 | 0x8);
  EXPECT_EQ(chip.peek(1, 2, 0x7A), 2u << 12 | 5u);
}

TEST_F(LowLevel, GpioPins) {
  ASSERT_EQ(swc_ll_gpio_direction_set(2, 1), 0);
  ASSERT_EQ(swc_ll_gpio_output_write(2, 1), 0);
  EXPECT_EQ(chip.peek(7, 0, 0x34), 0x44u);
  ASSERT_EQ(swc_ll_gpio_output_write(5, 1), 0);
  EXPECT_EQ(chip.peek(7, 0, 0x30), 0x8u);
  uint32_t v = 0;
  ASSERT_EQ(swc_ll_gpio_input_read(2, &v), 0);
  EXPECT_EQ(v, 1u);
  EXPECT_EQ(swc_ll_gpio_input_read(4, &v), kSwcRcIllegal);
  EXPECT_EQ(swc_ll_gpio_output_write(6, 1), kSwcRcIllegal);
}

TEST_F(LowLevel, MiimAccessAndItsFailures) {
  EXPECT_EQ(swc_ll_miim_read(0, 2, 2), 0x0007);
  EXPECT_EQ(swc_ll_miim_read(1, 3, 3), 0xC581);
  ASSERT_EQ(swc_ll_miim_write(0, 1, 4, 0x1DE1), 0);
  EXPECT_EQ(chip.phy(0, 1).peek(0, 4), 0x1DE1);
  EXPECT_EQ(writes_of(accesses()).back(), W(3, 0, 1, 4u << 16 | 1u << 21 | 0x1DE1));
  EXPECT_EQ(swc_ll_miim_read(1, 4, 2), kSwcRcPhyNotMounted);
  EXPECT_EQ(swc_ll_miim_read(2, 0, 0), kSwcRcIllegal);
  EXPECT_EQ(swc_ll_miim_read(0, 32, 0), kSwcRcIllegal);
  EXPECT_EQ(swc_ll_miim_read(0, 0, 32), kSwcRcIllegal);
  swgenio_set_recording(false);
  chip.stuck.miim_busy = true;
  EXPECT_EQ(swc_ll_miim_read(0, 0, 1), kSwcRcReadFailed);
  chip.stuck.miim_busy = false;
  driver.add_fault({swchip::AccessKind::kSpiRead, 3, 1});
  EXPECT_EQ(swc_ll_miim_read(0, 0, 1), kSwcRcReadFailed);
}

TEST_F(LowLevel, UnmappedPortsAddNoMaskBit) {
  const uint32_t flags[7] = {1, 1, 0, 1, 0, 0, 1};
  EXPECT_EQ(swc_chip_port_bitfield(flags), 0x1u | 0x4u | 0x40u);
  state->unmapped[6] = 1;
  EXPECT_EQ(swc_chip_port_bitfield(flags), 0x5u);
}

}  // namespace
