// The private-VLAN table of the L2 module: defaults, what the chip gets, block 17 (including blocks
// that hold more than the table takes) and management object 4011.
#include "l2_fixture.h"
#include "l2_pvlan.h"

#include <gtest/gtest.h>

namespace {

L2PvlanEntry pvlan_of(uint32_t number, std::initializer_list<uint32_t> ports) {
  L2PvlanEntry e{};
  e.pvlan_no = number;
  for (uint32_t p : ports) e.member[p] = 1;
  return e;
}

std::vector<uint8_t> record(const L2PvlanEntry &e) {
  std::vector<uint8_t> r(kL2PvlanRecordSize);
  l2_pvlan_record_store(r.data(), e);
  return r;
}

class L2Pvlan : public L2Fixture {
 protected:
  // The chip's members of a private VLAN as a bit per port 1..6 (bit p).
  uint32_t chip_members(uint32_t number) const {
    uint32_t bits = 0;
    for (uint32_t p = 1; p <= 6; ++p) bits |= (state->pvlan_member[number][p] ? 1u : 0u) << p;
    return bits;
  }
  static constexpr uint32_t kAll = 0x7E;
  // Block 17 as the numbers it holds.
  static std::vector<uint32_t> saved_numbers() {
    uint32_t size = 0;
    const uint8_t *b = conf_open(kL2PvlanConfTable, &size);
    std::vector<uint32_t> numbers;
    if (!b || size != 228) return numbers;
    EXPECT_EQ(le_load16(b + 2), 32u);
    for (uint16_t i = 0; i < le_load16(b); ++i) numbers.push_back(le_load32(b + 4 + 32 * i));
    return numbers;
  }
  void restart_daemon() {
    const SwcInitSetup setup{1, 1, 0, -1, 0};
    swc_init_state(&setup);
    map_board_ports();
    restart();
  }
  std::vector<uint8_t> add(const std::vector<L2PvlanEntry> &entries) {
    std::vector<std::vector<uint8_t>> records;
    for (const auto &e : entries) records.push_back(record(e));
    return request(4011, kMgmtCmdAdd, table(32, records));
  }
};

TEST_F(L2Pvlan, FirstStartHasPrivateVlan1WithAllPorts) {
  EXPECT_EQ(saved_numbers(), std::vector<uint32_t>{1});
  uint32_t size = 0;
  const uint8_t *b = conf_open(kL2PvlanConfTable, &size);
  ASSERT_EQ(size, 228u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(le_load32(b + 8 + 4 * i), 1u) << "member word " << i;
  ASSERT_EQ(pvlan_config_count(), 1u);
  EXPECT_EQ(chip_members(1), kAll);
}

TEST_F(L2Pvlan, WithoutBlock17TheDefaultIsRecreatedAndWrittenAtReadTime) {
  ASSERT_GE(pvlan_config_del(1), 0);
  EXPECT_EQ(chip_members(1), 0u);
  conf_create(kL2PvlanConfTable, 0);
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(chip_members(1), kAll);
  EXPECT_EQ(pvlan_config_count(), 1u);
  EXPECT_EQ(saved_numbers(), std::vector<uint32_t>{1});
}

TEST_F(L2Pvlan, AddKeepsNumberOrderAndUpdatesInPlace) {
  EXPECT_EQ(pvlan_config_add(pvlan_of(4, {1, 2})), 1);
  EXPECT_EQ(pvlan_config_add(pvlan_of(3, {3})), 1);
  EXPECT_EQ(pvlan_config_add(pvlan_of(4, {5, 6})), 2);
  EXPECT_EQ(pvlan_config_count(), 3u);
  EXPECT_EQ(chip_members(4), 1u << 5 | 1u << 6);
  EXPECT_EQ(chip_members(3), 1u << 3);
  for (uint32_t bad : {0u, 7u, 9u}) EXPECT_EQ(pvlan_config_add(pvlan_of(bad, {1})), -1) << bad;
  EXPECT_EQ(pvlan_config_count(), 3u);
  EXPECT_EQ(pvlan_config_del(5), -1);
  EXPECT_EQ(pvlan_config_del(3), 1);
  EXPECT_EQ(chip_members(3), 0u);
}

TEST_F(L2Pvlan, GetOfAMissingPrivateVlanAnswersNumberZero) {
  add({pvlan_of(2, {2, 3})});
  const auto reply =
      request(4011, kMgmtCmdGet, table(32, {record(pvlan_of(9, {})), record(pvlan_of(2, {}))}));
  EXPECT_EQ(res(reply), 0u);
  ASSERT_EQ(count(reply), 2u);
  EXPECT_EQ(le_load32(&reply[20]), 0u);
  L2PvlanEntry got{};
  l2_pvlan_record_load(&reply[52], got);
  EXPECT_EQ(got.pvlan_no, 2u);
  EXPECT_EQ(got.member[2], 1u);
  EXPECT_EQ(got.member[1], 0u);
}

TEST_F(L2Pvlan, SeventhPrivateVlanOfARequestIsRefusedAndTheRestSaved) {
  std::vector<L2PvlanEntry> seven;
  for (uint32_t n = 1; n <= 7; ++n) seven.push_back(pvlan_of(n, {n <= 6 ? n : 1}));
  EXPECT_EQ(res(add(seven)), 1u);
  EXPECT_EQ(pvlan_config_count(), 6u);
  EXPECT_EQ(saved_numbers(), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
  // The table is full: nothing new, but updates still go in.
  EXPECT_EQ(res(add({pvlan_of(3, {3, 4})})), 0u);
  EXPECT_EQ(chip_members(3), 1u << 3 | 1u << 4);
  const std::vector<std::vector<uint8_t>> eight(8, record(pvlan_of(1, {})));
  EXPECT_EQ(res(request(4011, kMgmtCmdGet, table(32, eight))), 1u);
  EXPECT_EQ(res(request(4011, kMgmtCmdSet, table(32, {record(pvlan_of(1, {}))}))), 1u);
}

TEST_F(L2Pvlan, DelSavesAndUnknownNumbersFail) {
  add({pvlan_of(2, {1, 2})});
  EXPECT_EQ(res(request(4011, kMgmtCmdDel, table(32, {record(pvlan_of(1, {}))}))), 0u);
  EXPECT_EQ(saved_numbers(), std::vector<uint32_t>{2});
  EXPECT_EQ(chip_members(1), 0u);
  EXPECT_EQ(res(request(4011, kMgmtCmdDel, table(32, {record(pvlan_of(1, {}))}))), 1u);
}

TEST_F(L2Pvlan, BlockWithSevenEntriesTakesSixAndRefusesTheSeventh) {
  uint8_t *b = conf_create(kL2PvlanConfTable, 228);
  ASSERT_NE(b, nullptr);
  le_store16(b, 7);
  le_store16(b + 2, 32);
  // Six distinct numbers, then a seventh entry with a number the chip does not have.
  for (uint32_t i = 0; i < 7; ++i)
    l2_pvlan_record_store(b + 4 + 32 * i, pvlan_of(i < 6 ? 6 - i : 7, {i < 6 ? 6 - i : 1}));
  conf_close(kL2PvlanConfTable);
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(pvlan_config_count(), 6u);
  EXPECT_EQ(chip_members(1), 1u << 1) << "the block's entry replaces the default";
  EXPECT_EQ(chip_members(6), 1u << 6);
  // A count beyond the block's room is read as far as the block reaches.
  b = conf_create(kL2PvlanConfTable, 228);
  le_store16(b, 0xFFFF);
  conf_close(kL2PvlanConfTable);
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(pvlan_config_count(), 6u);
}

TEST_F(L2Pvlan, ForeignEntrySizeIsTakenAsAMissingBlock) {
  add({pvlan_of(2, {1, 2})});
  uint8_t *b = conf_create(kL2PvlanConfTable, 228);
  le_store16(b + 2, 40);
  conf_close(kL2PvlanConfTable);
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(chip_members(1), kAll);
  EXPECT_EQ(saved_numbers(), std::vector<uint32_t>{1});
}

TEST_F(L2Pvlan, ReadingTheBlockDeletesPrivateVlansItLacksFromTheChip) {
  ASSERT_GE(pvlan_config_add(pvlan_of(3, {3, 4})), 0);  // in the table, not in the block
  EXPECT_EQ(chip_members(3), 1u << 3 | 1u << 4);
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(chip_members(3), 0u);
  EXPECT_EQ(pvlan_config_count(), 1u);
}

// The chip starts every run with private VLAN 1 holding all ports; a configuration without it must not
// get it back.
TEST_F(L2Pvlan, ConfigurationComesBackAfterARestartWithoutTheChipsDefault) {
  add({pvlan_of(2, {1, 2}), pvlan_of(3, {3, 4})});
  request(4011, kMgmtCmdDel, table(32, {record(pvlan_of(1, {}))}));
  restart_daemon();
  EXPECT_EQ(pvlan_config_count(), 2u);
  EXPECT_EQ(chip_members(1), 0u);
  EXPECT_EQ(chip_members(2), 1u << 1 | 1u << 2);
  EXPECT_EQ(chip_members(3), 1u << 3 | 1u << 4);
}

TEST_F(L2Pvlan, DebugFlagLeavesTheConfigurationAlone) {
  ASSERT_GE(pvlan_config_del(1), 0);
  process_state().debug_flags[kL2DebugDisablePvlan] = 1;
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(pvlan_config_count(), 0u);
  EXPECT_EQ(chip_members(1), 0u);
  conf_create(kL2PvlanConfTable, 0);
  l2_conf(ConfAction{kConfActionCreate, 0});
  uint32_t size = 0;
  EXPECT_EQ(conf_open(kL2PvlanConfTable, &size), nullptr);
}

}  // namespace
