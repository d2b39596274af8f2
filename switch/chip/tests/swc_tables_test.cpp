// MAC and VLAN table commands against the chip model, and their bounded waits.
#include <gtest/gtest.h>

#include <cstring>

#include "ar.h"
#include "chip_fixture.h"
#include "swc_ll.h"

namespace {

class Tables : public ChipFixture {
 protected:
  static SwcMacEntry entry(uint32_t vid, std::initializer_list<uint8_t> mac, bool locked = false) {
    SwcMacEntry e{};
    e.vid_mac.vid = vid;
    std::copy(mac.begin(), mac.end(), e.vid_mac.mac);
    e.locked = locked ? 1 : 0;
    return e;
  }
};

TEST_F(Tables, LearnedEntryIsFoundInItsBucketWithItsPort) {
  const SwcMacEntry e = entry(10, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, true);
  ASSERT_EQ(swc_ll_mac_table_learn(&e, 6), 0);
  SwcMacEntry found = entry(10, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
  uint32_t pgid = 0;
  ASSERT_EQ(swc_ll_mac_table_lookup(&found, &pgid), 0);
  EXPECT_EQ(pgid, 6u);
  EXPECT_EQ(found.locked, 1u);
  EXPECT_EQ(found.copy_to_cpu, 0u);
  // The chip stored chip port 6 (port 6) as the destination, in the bucket the model computes.
  const unsigned bucket = swchip::ChipModel::mac_bucket(10, e.vid_mac.mac);
  bool seen = false;
  for (unsigned slot = 0; slot < 4; ++slot) {
    const auto &m = chip.mac_entry(bucket * 4 + slot);
    if (m.valid) seen = ((m.flags >> 3) & 0x3F) == 6;
  }
  EXPECT_TRUE(seen);
  // Read back by its 1-based index.
  SwcMacEntry by_index{};
  uint32_t index_pgid = 0;
  for (unsigned slot = 0; slot < 4; ++slot) {
    if (swc_ll_mac_table_read(bucket * 4 + slot + 1, &by_index, &index_pgid) == 0) break;
  }
  EXPECT_EQ(std::memcmp(by_index.vid_mac.mac, e.vid_mac.mac, 6), 0);
  EXPECT_EQ(by_index.vid_mac.vid, 10u);
}

TEST_F(Tables, ForgottenAndUnknownAddressesAreNotFound) {
  const SwcMacEntry e = entry(1, {0x02, 0, 0, 0, 0, 1});
  ASSERT_EQ(swc_ll_mac_table_learn(&e, 2), 0);
  ASSERT_EQ(swc_ll_mac_table_forget_vid_mac(&e.vid_mac), 0);
  SwcMacEntry probe = e;
  uint32_t pgid;
  EXPECT_EQ(swc_ll_mac_table_lookup(&probe, &pgid), kSwcRcNotFound);
  probe = entry(2, {0x02, 0, 0, 0, 0, 1});  // same MAC, other VLAN
  EXPECT_EQ(swc_ll_mac_table_lookup(&probe, &pgid), kSwcRcNotFound);
  EXPECT_EQ(swc_ll_mac_table_read(0, &probe, &pgid), kSwcRcIllegal);
  EXPECT_EQ(swc_ll_mac_table_read(8193, &probe, &pgid), kSwcRcIllegal);
  EXPECT_EQ(swc_ll_mac_table_read(8192, &probe, &pgid), kSwcRcNotFound);
}

TEST_F(Tables, IpMulticastEntryCarriesItsPortsInline) {
  state->pgid[0].member[2] = 1;
  state->pgid[0].member[6] = 1;
  const SwcMacEntry e = entry(5, {0x01, 0x00, 0x5E, 0x01, 0x02, 0x03});
  ASSERT_EQ(swc_ll_mac_table_learn(&e, 0), 0);
  state->pgid[0] = SwcPgidEntry{};
  state->pgid[0].member[8] = 1;
  SwcMacEntry found = entry(5, {0x01, 0x00, 0x5E, 0x01, 0x02, 0x03});
  uint32_t pgid = 99;
  ASSERT_EQ(swc_ll_mac_table_lookup(&found, &pgid), 0);
  EXPECT_EQ(pgid, 0u);
  EXPECT_EQ(found.locked, 1u);
  EXPECT_EQ(found.aged, 1u);
  const uint32_t expected[10] = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  for (int p = 0; p < 10; ++p) EXPECT_EQ(state->pgid[0].member[p], expected[p]) << p;
}

TEST_F(Tables, AgeingTwiceRemovesDynamicEntriesOfThePortOnly) {
  const SwcMacEntry a = entry(1, {0x02, 0, 0, 0, 0, 0xA});
  const SwcMacEntry b = entry(1, {0x02, 0, 0, 0, 0, 0xB});
  const SwcMacEntry locked = entry(1, {0x02, 0, 0, 0, 0, 0xC}, true);
  ASSERT_EQ(swc_ll_mac_table_learn(&a, 3), 0);
  ASSERT_EQ(swc_ll_mac_table_learn(&b, 4), 0);
  ASSERT_EQ(swc_ll_mac_table_learn(&locked, 3), 0);
  uint32_t status[4];
  ASSERT_EQ(swc_ll_mac_table_status_get(status), 0);
  EXPECT_EQ(status[0], 1u);  // learned
  ASSERT_EQ(swc_ll_mac_table_status_get(status), 0);
  EXPECT_EQ(status[0], 0u);  // cleared by the previous read

  ASSERT_EQ(swc_ll_mac_table_forget(1, 3, 1, 1), 0);
  EXPECT_EQ(writes_of(accesses()).back(), std::make_tuple(2u, 0u, 0xB0u, 3u));
  EXPECT_EQ(chip.peek(2, 0, 9), 0x80000000u | 2u << 16 | 0x8000u | 1u);
  uint32_t pgid;
  SwcMacEntry probe = a;
  EXPECT_EQ(swc_ll_mac_table_lookup(&probe, &pgid), kSwcRcNotFound);
  probe = b;
  EXPECT_EQ(swc_ll_mac_table_lookup(&probe, &pgid), 0);
  probe = locked;
  EXPECT_EQ(swc_ll_mac_table_lookup(&probe, &pgid), 0);
  ASSERT_EQ(swc_ll_mac_table_status_get(status), 0);
  EXPECT_EQ(status[3], 1u);  // aged out
}

TEST_F(Tables, StuckMacCommandEndsWithAnError) {
  swgenio_set_recording(false);
  chip.stuck.mac_busy = true;
  const SwcMacEntry e = entry(1, {0x02, 0, 0, 0, 0, 1});
  EXPECT_EQ(swc_ll_mac_table_learn(&e, 1), kSwcRcReadFailed);
}

TEST_F(Tables, VlanEntryRewriteKeepsItsFlags) {
  chip.write(2, 0, 0xE0, 100);
  chip.write(2, 0, 0xD0, 2 | 0x7Cu | 5u << 28);
  const uint32_t members[7] = {0, 1, 0, 0, 0, 0, 1};
  ASSERT_EQ(swc_ll_vlan_port_members_set(100, members), 0);
  EXPECT_EQ(chip.vlan_entry(100).mask, 0x41u);
  EXPECT_EQ(chip.vlan_entry(100).flags, 5u);
}

TEST_F(Tables, EgressMirroredMemberBringsTheMonitorPort) {
  state->mirror_egress[2] = 1;
  state->mirror_monitor_port = 5;
  const uint32_t members[7] = {0, 0, 1, 0, 0, 0, 0};
  ASSERT_EQ(swc_ll_vlan_port_members_set(7, members), 0);
  EXPECT_EQ(chip.vlan_entry(7).mask, 0x2u | 0x10u);
  ASSERT_EQ(swc_ll_pgid_table_write(2, members), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x41), 0x12u);  // PGID 2 is port 2's own entry, chip port 1
  // The mirrored port's own source mask does not send to the monitor.
  const uint32_t all[7] = {0, 1, 1, 1, 1, 1, 1};
  ASSERT_EQ(swc_ll_src_table_write(2, all), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x81), 0x5Fu & ~0x10u);
}

TEST_F(Tables, MasksAndMirrorRegisters) {
  const uint32_t some[7] = {0, 1, 0, 1, 0, 0, 1};
  chip.write(2, 0, 0x83, 1u << 26 | 0xFF);
  ASSERT_EQ(swc_ll_src_table_write(4, some), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x83), 1u << 26 | 0xA0u | 0x45u);
  ASSERT_EQ(swc_ll_aggr_table_write(16, some), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x3F), 0x45u);
  EXPECT_EQ(swc_ll_aggr_table_write(17, some), kSwcRcIllegal);
  ASSERT_EQ(swc_ll_pgid_table_write(40, some), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x68), 0x45u);
  ASSERT_EQ(swc_ll_ipmc_flood_mask_set(some), 0);
  EXPECT_EQ(chip.peek(2, 0, 4), 0x45u);
  ASSERT_EQ(swc_ll_mirror_monitor_port_set(6), 0);
  EXPECT_EQ(chip.peek(2, 0, 0xF0), 6u);
  ASSERT_EQ(swc_ll_mirror_ingress_port_set(1, 1), 0);
  EXPECT_EQ(chip.peek(2, 0, 0x80), 1u << 26);
  uint32_t v = 0;
  ASSERT_EQ(swc_ll_register_write(0x2F0, 0x5A), 0);
  ASSERT_EQ(swc_ll_register_read(0x2F0, &v), 0);
  EXPECT_EQ(v, 0x5Au);
  EXPECT_EQ(chip.peek(0, 2, 0xF0), 0x5Au);
}

TEST_F(Tables, StuckVlanCommandEndsWithAnError) {
  swgenio_set_recording(false);
  chip.stuck.vlan_busy = true;
  const uint32_t members[7] = {0, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(swc_ll_vlan_port_members_set(1, members), kSwcRcReadFailed);
}

}  // namespace
