// The VLAN table of the L2 module: defaults, the VLAN-aware switch, the chip's VLAN entries and port
// modes, the configuration blocks and management objects 4004-4006 and 4012.
#include "conf_file_image.h"
#include "l2_fixture.h"
#include "l2_vlan.h"

#include <gtest/gtest.h>

namespace {

L2VlanEntry vlan_of(uint32_t vid, std::initializer_list<uint32_t> ports) {
  L2VlanEntry e{};
  e.vid = vid;
  for (uint32_t p : ports) e.member[p] = 1;
  return e;
}

std::vector<uint8_t> record(const L2VlanEntry &e) {
  std::vector<uint8_t> r(kL2VlanRecordSize);
  l2_vlan_record_store(r.data(), e);
  return r;
}

std::vector<uint8_t> port_record(const L2VlanPort &p) {
  std::vector<uint8_t> r(kL2VlanPortRecordSize);
  l2_vlan_port_record_store(r.data(), p);
  return r;
}

class L2Vlan : public L2Fixture {
 protected:
  // Chip port bits of the chip's VLAN entry (ports 1..5 on chip ports 0..4, port 6 on chip port 6).
  uint32_t chip_mask(uint32_t vid) const { return chip.vlan_entry(vid).mask; }
  static constexpr uint32_t kAllPorts = 0x5F;
};

TEST_F(L2Vlan, FirstStartAppliesTheDefaultVlansAndPortModes) {
  EXPECT_EQ(vlan_aware(), 1u);
  ASSERT_EQ(vlan_config_count(), 3u);
  L2VlanEntry e{};
  ASSERT_EQ(vlan_config_get(e, true), 0);
  EXPECT_EQ(e.vid, 1u);
  EXPECT_EQ(chip_mask(1), 0x41u);  // ports 1 and 6
  EXPECT_EQ(chip_mask(2), 0x5Eu);  // ports 2..6
  EXPECT_EQ(chip_mask(6), 0x5Eu);
  EXPECT_EQ(state->vlan_port_mode[1].port_vid, 1u);
  EXPECT_EQ(state->vlan_port_mode[3].port_vid, 2u);
  EXPECT_EQ(state->vlan_port_mode[3].untagged_vid, 2u);
  EXPECT_EQ(state->vlan_port_mode[6].aware, 1u);
  EXPECT_EQ(state->vlan_port_mode[6].frame_type, 1u);
  EXPECT_EQ(vlan_port_pvid(4), 2u);
  EXPECT_EQ(vlan_port_pvid(7), 0u);
}

TEST_F(L2Vlan, SwitchOffKeepsChipVlan1WithAllPortsButWritesOtherVlans) {
  EXPECT_EQ(res(request(4012, kMgmtCmdSet, {0, 0, 0, 0})), 0u);
  EXPECT_EQ(chip_mask(1), kAllPorts);
  for (uint32_t p = 1; p <= 6; ++p) {
    EXPECT_EQ(state->vlan_port_mode[p].aware, 0u);
    EXPECT_EQ(state->vlan_port_mode[p].port_vid, 1u);
  }
  EXPECT_EQ(vlan_config_add(vlan_of(1, {2})), 0);
  EXPECT_EQ(chip_mask(1), kAllPorts);
  EXPECT_GE(vlan_config_add(vlan_of(5, {3, 4})), 0);
  EXPECT_EQ(chip_mask(5), 0xCu);
  // Port records changed while off are kept and applied when the switch comes back on.
  EXPECT_EQ(vlan_port_config_set(L2VlanPort{2, 1, 5, 0, 0}), 1);
  EXPECT_EQ(state->vlan_port_mode[2].port_vid, 1u);
  EXPECT_EQ(res(request(4012, kMgmtCmdSet, {1, 0, 0, 0})), 0u);
  EXPECT_EQ(chip_mask(1), 0x2u);  // the table's VLAN 1: port 2
  EXPECT_EQ(state->vlan_port_mode[2].port_vid, 5u);
  EXPECT_EQ(state->vlan_port_mode[2].aware, 1u);
}

TEST_F(L2Vlan, SwitchOnWithoutVlan1EntryKeepsAllPortsInVlan1) {
  request(4012, kMgmtCmdSet, {0, 0, 0, 0});
  ASSERT_GE(vlan_config_del(1), 0);
  request(4012, kMgmtCmdSet, {1, 0, 0, 0});
  EXPECT_EQ(chip_mask(1), kAllPorts);
  // The switch itself is not saved.
  EXPECT_EQ(le_load32(conf_open(kL2VlanConfGeneral, nullptr)), 1u);
  request(4012, kMgmtCmdSet, {0, 0, 0, 0});
  EXPECT_EQ(le_load32(conf_open(kL2VlanConfGeneral, nullptr)), 1u);
  auto reply = request(4012, kMgmtCmdGet, {9, 9, 9, 9});
  EXPECT_EQ(le_load32(&reply[16]), 0u);
  EXPECT_EQ(res(request(4012, kMgmtCmdSet, {2, 0, 0, 0})), 1u);
  EXPECT_EQ(res(request(4012, kMgmtCmdAdd, {1, 0, 0, 0})), 1u);
}

TEST_F(L2Vlan, DeletedVlanLeavesTheChipAlsoWhileTheSwitchIsOff) {
  ASSERT_GE(vlan_config_add(vlan_of(9, {1, 2})), 0);
  request(4012, kMgmtCmdSet, {0, 0, 0, 0});
  ASSERT_GE(vlan_config_del(9), 0);
  EXPECT_EQ(chip_mask(9), 0u);
}

TEST_F(L2Vlan, TableObjectAddWalkDeleteAndUnknownVlan) {
  auto reply =
      request(4004, kMgmtCmdAdd, table(32, {record(vlan_of(10, {0, 1, 2})), record(vlan_of(3, {4}))}));
  EXPECT_EQ(res(reply), 0u);
  EXPECT_EQ(chip_mask(10), 0x3u);
  EXPECT_EQ(le_load16(conf_open(kL2VlanConfTable, nullptr)), 5u);
  // Walk from VID 2 (present): 2, 3, 6, 10, then the count is cut.
  reply = request(4004, kMgmtCmdGet, table(32, std::vector<std::vector<uint8_t>>(6, record(vlan_of(2, {})))));
  EXPECT_EQ(res(reply), 0u);
  ASSERT_EQ(count(reply), 4u);
  EXPECT_EQ(le_load32(&reply[20]), 2u);
  EXPECT_EQ(le_load32(&reply[20 + 32]), 3u);
  EXPECT_EQ(le_load32(&reply[20 + 32 + 4 + 16]), 1u);  // VLAN 3 member port 4
  EXPECT_EQ(le_load32(&reply[20 + 96]), 10u);
  EXPECT_EQ(res(request(4004, kMgmtCmdDel, table(32, {record(vlan_of(3, {}))}))), 0u);
  EXPECT_EQ(chip_mask(3), 0u);
  EXPECT_EQ(res(request(4004, kMgmtCmdDel, table(32, {record(vlan_of(3, {}))}))), 1u);
  EXPECT_EQ(res(request(4004, kMgmtCmdAdd, table(32, {record(vlan_of(4096, {1}))}))), 1u);
  EXPECT_EQ(res(request(4004, kMgmtCmdSet, table(32, {}))), 1u);
  EXPECT_EQ(res(request(4004, kMgmtCmdAdd, table(31, {std::vector<uint8_t>(31)}))), 1u);
}

TEST_F(L2Vlan, StatusObjectReadsTheChipMembersAndStopsAtAnIllegalVid) {
  auto reply =
      request(4005, kMgmtCmdGet,
              table(32, {record(vlan_of(2, {})), record(vlan_of(5000, {})), record(vlan_of(1, {}))}));
  EXPECT_EQ(res(reply), 0u);
  ASSERT_EQ(count(reply), 1u);
  for (uint32_t p = 2; p <= 6; ++p) EXPECT_EQ(le_load32(&reply[20 + 4 + 4 * p]), 1u);
  EXPECT_EQ(le_load32(&reply[20 + 4 + 4]), 0u);
  EXPECT_EQ(res(request(4005, kMgmtCmdAdd, table(32, {}))), 1u);
}

TEST_F(L2Vlan, PortObjectSetsSavesAndStopsAtABadPort) {
  auto reply = request(4006, kMgmtCmdSet, table(20, {port_record({3, 1, 7, 2, 1})}));
  EXPECT_EQ(res(reply), 0u);
  EXPECT_EQ(state->vlan_port_mode[3].port_vid, 7u);
  EXPECT_EQ(state->vlan_port_mode[3].frame_type, 2u);
  EXPECT_EQ(state->vlan_port_mode[3].ingress_filter, 1u);
  uint32_t size = 0;
  const uint8_t *block = conf_open(kL2VlanConfPorts, &size);
  ASSERT_EQ(size, 124u);
  EXPECT_EQ(le_load16(block), 6u);
  EXPECT_EQ(le_load32(block + 4 + 2 * 20 + 8), 7u);
  reply = request(
      4006, kMgmtCmdGet,
      table(20, {port_record({3, 0, 0, 0, 0}), port_record({0, 0, 0, 0, 0}), port_record({1, 0, 0, 0, 0})}));
  ASSERT_EQ(count(reply), 1u);
  EXPECT_EQ(le_load32(&reply[20 + 8]), 7u);
  EXPECT_EQ(res(request(4006, kMgmtCmdSet, table(20, {port_record({7, 1, 1, 0, 0})}))), 1u);
  EXPECT_EQ(res(request(4006, kMgmtCmdAdd, table(20, {}))), 1u);
  EXPECT_EQ(res(request(4006, kMgmtCmdGet,
                        table(20, std::vector<std::vector<uint8_t>>(7, std::vector<uint8_t>(20))))),
            1u);
}

TEST_F(L2Vlan, OnlyTheFirst32VlansSurviveARestart) {
  for (uint32_t vid = 100; vid < 140; ++vid)
    request(4004, kMgmtCmdAdd, table(32, {record(vlan_of(vid, {1}))}));
  EXPECT_EQ(vlan_config_count(), 43u);
  restart();
  EXPECT_EQ(vlan_config_count(), 32u);
  L2VlanEntry probe{};
  probe.vid = 128;
  EXPECT_EQ(vlan_config_get(probe, true), 31);
  probe.vid = 129;
  EXPECT_EQ(vlan_config_get(probe, true), -1);
}

// A table block that is missing, shorter than its head or of a foreign entry size is no VLAN table: the
// next start takes the default table, saves it, and the chip keeps the VLANs the defaults name instead
// of losing them all.
TEST_F(L2Vlan, DamagedTableBlockGivesTheDefaultVlansAtTheNextStart) {
  struct Damage {
    const char *name;
    void (*apply)(ConfFileImage &image);
  };
  const Damage damages[] = {
      {"foreign entry size", [](ConfFileImage &i) { le_store16(i.blocks[kL2VlanConfTable].data() + 2, 36); }},
      {"shorter than its head", [](ConfFileImage &i) { i.blocks[kL2VlanConfTable].resize(2); }},
      {"missing", [](ConfFileImage &i) { i.blocks.erase(kL2VlanConfTable); }},
  };
  for (const Damage &damage : damages) {
    SCOPED_TRACE(damage.name);
    ASSERT_EQ(res(request(4004, kMgmtCmdAdd, table(32, {record(vlan_of(1, {2, 3}))}))), 0u);
    ASSERT_EQ(chip_mask(1), 0x6u);
    ConfFileImage image = ConfFileImage::read();
    damage.apply(image);
    image.write();
    restart();
    EXPECT_EQ(vlan_config_count(), 3u);
    EXPECT_EQ(chip_mask(1), 0x41u);  // ports 1 and 6
    EXPECT_EQ(chip_mask(2), 0x5Eu);
    EXPECT_EQ(chip_mask(6), 0x5Eu);
    uint32_t size = 0;
    const uint8_t *block = conf_open(kL2VlanConfTable, &size);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(size, 1028u);
    EXPECT_EQ(le_load16(block), 3u);
    EXPECT_EQ(le_load16(block + 2), 32u);
    EXPECT_EQ(ConfFileImage::read().blocks[kL2VlanConfTable], std::vector<uint8_t>(block, block + size));
  }
}

TEST_F(L2Vlan, EveryVidFitsAndNoMore) {
  for (uint32_t vid = 0; vid <= 4095; ++vid) ASSERT_GE(vlan_config_add(vlan_of(vid, {1})), 0);
  EXPECT_EQ(vlan_config_count(), kL2VlanTableMax);
  EXPECT_EQ(vlan_config_add(vlan_of(4096, {1})), -1);
}

TEST_F(L2Vlan, DebugFlagLeavesTheConfigurationAlone) {
  process_state().debug_flags[kL2DebugDisableVlan] = 1;
  ASSERT_GE(vlan_config_add(vlan_of(77, {1})), 0);
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(vlan_config_count(), 4u);
}

}  // namespace
