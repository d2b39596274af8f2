// The L2 tables of portvisor on the simulated board, through the management protocol: static MAC
// entries reach the simulator's MAC table and come back from switch.conf into a fresh chip after a
// restart; VLANs reach the simulator's VLAN table.
#include "simulated_board.h"

namespace {

std::vector<uint8_t> mac_table(uint32_t vid, std::vector<uint8_t> mac,
                               std::initializer_list<uint32_t> ports) {
  std::vector<uint8_t> d(4 + 40, 0);
  le_store16(&d[0], 1);
  le_store16(&d[2], 40);
  le_store32(&d[4], vid);
  std::copy(mac.begin(), mac.end(), d.begin() + 8);
  for (uint32_t p : ports) le_store32(&d[4 + 16 + 4 * (p - 1)], 1);
  return d;
}

class L2OnBoard : public SimulatedBoard {
 protected:
  // The simulator's own view of one of its tables ("mac" or "vlan").
  std::string chip_dump(const char *table) {
    ChildProcess dump({std::getenv("SWCHIPCTL_BIN"), "--control", dir.path() + "/ctl", "dump", table}, {});
    EXPECT_EQ(dump.wait_exit(5s), 0);
    return dump.output();
  }
};

TEST_F(L2OnBoard, StaticMacEntryReachesTheChipAndReturnsAfterARestart) {
  auto first = start_portvisor({});
  ASSERT_TRUE(wait_ready()) << first->output();
  uint32_t res = 99;
  ASSERT_TRUE(client.object(4000, 2, mac_table(3, {0x00, 0x11, 0x22, 0x33, 0x44, 0x66}, {2, 4}), res, 10s));
  ASSERT_EQ(res, 0u);
  EXPECT_NE(chip_dump("mac").find("vid 3 mac 001122334466"), std::string::npos);
  ASSERT_TRUE(client.object(5, 1, {}, res, 10s));
  ASSERT_EQ(first->wait_exit(10s), 0);

  // A fresh chip: only switch.conf knows the entry now.
  stop_simulator();
  start_simulator();
  auto second = start_portvisor({});
  ASSERT_TRUE(wait_ready()) << second->output();
  EXPECT_NE(chip_dump("mac").find("vid 3 mac 001122334466"), std::string::npos) << second->output();
  auto walk = client.object(4000, 0, mac_table(0, {0, 0, 0, 0, 0, 0}, {}), res, 10s);
  ASSERT_TRUE(walk);
  EXPECT_EQ(le_load16(walk->data()), 1u);
  EXPECT_EQ(le_load32(walk->data() + 4), 3u);
  EXPECT_EQ(le_load32(walk->data() + 4 + 16 + 4 * 3), 1u);  // port 4
  kill(second->pid(), SIGTERM);
  EXPECT_EQ(second->wait_exit(10s), 0);
}

// The status object over a full chip table: its 8,192 index reads reach the simulator in batches, so the
// request holds the daemon's loop for a few exchanges instead of tens of thousands.
TEST_F(L2OnBoard, StatusOfAFullTableIsReadInBatches) {
  auto pv = start_portvisor({});
  ASSERT_TRUE(wait_ready()) << pv->output();
  ASSERT_EQ(ctl("learn 1 1 02:00:00:00:00:00 8192"), "ok 8192");
  const unsigned long before = std::stoul(ctl("exchanges"));
  std::vector<uint8_t> d(4 + 128 * 44, 0);
  le_store16(&d[0], 128);
  le_store16(&d[2], 44);
  uint32_t res = 99;
  auto status = client.object(4001, 0, d, res, 30s);
  const unsigned long during = std::stoul(ctl("exchanges")) - before;
  ASSERT_TRUE(status);
  EXPECT_EQ(res, 0u);
  EXPECT_EQ(le_load16(status->data()), 128u);
  EXPECT_EQ(le_load32(status->data() + 4), 1u);  // VID 1, the lowest key first
  // One exchange per index would be over 40,000; the loop's own polls add some thousands at most.
  EXPECT_LT(during, 8192u);
  kill(pv->pid(), SIGTERM);
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

// The learned counts per port over a full chip table come in batches as the status object does.
TEST_F(L2OnBoard, LearnedCountsOfAFullTableAreReadInBatches) {
  auto pv = start_portvisor({});
  ASSERT_TRUE(wait_ready()) << pv->output();
  ASSERT_EQ(ctl("learn 1 1 02:00:00:00:00:00 8192"), "ok 8192");
  const unsigned long before = std::stoul(ctl("exchanges"));
  uint32_t res = 99;
  auto counts = client.object(4016, 0, std::vector<uint8_t>(7 * 4, 0), res, 30s);
  const unsigned long during = std::stoul(ctl("exchanges")) - before;
  ASSERT_TRUE(counts);
  EXPECT_EQ(res, 0u);
  EXPECT_EQ(le_load32(counts->data() + 4 * 2), 8192u) << "learned on chip port 1, which is port 2";
  EXPECT_EQ(le_load32(counts->data() + 4 * 1), 0u);
  EXPECT_LT(during, 8192u);
  kill(pv->pid(), SIGTERM);
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

TEST_F(L2OnBoard, VlanAddedOverManagementIsInTheChip) {
  auto pv = start_portvisor({});
  ASSERT_TRUE(wait_ready()) << pv->output();
  std::vector<uint8_t> d(4 + 32, 0);
  le_store16(&d[0], 1);
  le_store16(&d[2], 32);
  le_store32(&d[4], 44);
  le_store32(&d[4 + 4 + 4 * 1], 1);
  le_store32(&d[4 + 4 + 4 * 6], 1);
  uint32_t res = 99;
  ASSERT_TRUE(client.object(4004, 2, d, res, 5s));
  EXPECT_EQ(res, 0u);
  auto status = client.object(4005, 0, d, res, 5s);
  ASSERT_TRUE(status);
  EXPECT_EQ(res, 0u);
  EXPECT_EQ(le_load32(status->data() + 4 + 4 + 4 * 6), 1u);
  EXPECT_EQ(le_load32(status->data() + 4 + 4 + 4 * 2), 0u);
  // The simulator's own VLAN table holds VLAN 44 with ports 1 and 6 (chip ports 0 and 6).
  EXPECT_NE(chip_dump("vlan").find("44 mask 0x41 "), std::string::npos);
  kill(pv->pid(), SIGTERM);
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

}  // namespace
