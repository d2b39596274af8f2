// Port management in-process: the module started on the switch API over an in-process chip model, with
// the configuration store on a fresh work directory; links changed through the model's PHYs.
#include "conf.h"
#include "conf_file_image.h"
#include "loop.h"
#include "mgmt.h"
#include "port.h"
#include "process_util.h"
#include "trace.h"

#include "daemon_on_chip.h"
#include "swc_mac.h"
#include "swc_qos_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using swchip::kAbility1000Full;
using swchip::kAbility100Full;
using swchip::kAbility100Half;

class PortModule : public DaemonOnChip {
 protected:
  void SetUp() override {
    DaemonOnChip::SetUp();
    conf_module_reg(kConfModulePort, port_conf);
    mgmt_module_reg(3, port_mgmt);
  }
  // The daemon's start: the store (defaults on a first start), then the port module.
  void start() {
    conf_init();
    port_init();
  }
  // One full polling round: every port's status read once.
  void poll_round() {
    for (unsigned i = 0; i < kPortCount; ++i) port_status_poll(0, 0, 33);
  }
  swchip::PhyModel &phy(unsigned port) { return port == 6 ? chip.phy(1, 3) : chip.phy(0, port - 1); }
  uint32_t chip_stp_state(unsigned port) {
    uint32_t stp = 99;
    EXPECT_EQ(swc_port_stp_state_get(port, &stp), 0);
    return stp;
  }
  // A table object with `count` entries whose first u32 is the port; returns it after processing.
  std::vector<uint8_t> table(uint32_t obj_id, uint32_t cmd, std::vector<std::vector<uint32_t>> entries,
                             size_t entry_size) {
    std::vector<uint8_t> d(20 + entries.size() * entry_size, 0);
    le_store32(&d[0], obj_id);
    le_store32(&d[4], cmd);
    le_store16(&d[14], static_cast<uint16_t>(d.size()));
    le_store16(&d[16], static_cast<uint16_t>(entries.size()));
    le_store16(&d[18], static_cast<uint16_t>(entry_size));
    for (size_t i = 0; i < entries.size(); ++i)
      for (size_t w = 0; w < entries[i].size(); ++w)
        le_store32(&d[20 + i * entry_size + 4 * w], entries[i][w]);
    EXPECT_EQ(mgmt_process(d.data(), d.size()), d.size());
    return d;
  }
  static uint32_t res(const std::vector<uint8_t> &d) { return le_load32(&d[8]); }
  static uint32_t word(const std::vector<uint8_t> &d, size_t entry, size_t entry_size, size_t w) {
    return le_load32(&d[20 + entry * entry_size + 4 * w]);
  }
};

TEST_F(PortModule, FirstStartStoresDefaultsAndBringsAllSixPortsUpAt1GFull) {
  testing::internal::CaptureStdout();
  trace_option_apply("port", "info");
  start();
  poll_round();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Detected Chip: NVC7385 \"Corvex-G5\" revision A."), std::string::npos) << out;
  EXPECT_GE(clock.slept_ms(), 1000u);
  for (unsigned port = 1; port <= kPortCount; ++port) {
    EXPECT_EQ(swc_os_get_linkstate(port), 1) << port;
    EXPECT_EQ(swc_os_get_linkspeed(port), 1000u) << port;
    EXPECT_EQ(swc_os_get_linkduplex(port), 1) << port;
    EXPECT_EQ(chip_stp_state(port), SWC_STP_STATE_FORWARDING) << port;
    EXPECT_EQ(port_current_config(port).max_length, 1518u);
  }
  uint32_t size = 0;
  const uint8_t *block = conf_open(kPortConfBlock, &size);
  ASSERT_NE(block, nullptr);
  ASSERT_EQ(size, 168u);
  EXPECT_EQ(le_load32(block), 0u);  // placeholder entry
  const uint32_t defaults[6] = {1, 3, 1, 3, 1, 1518};
  for (unsigned port = 1; port <= kPortCount; ++port)
    for (unsigned w = 0; w < 6; ++w)
      EXPECT_EQ(le_load32(block + port * 24 + w * 4), defaults[w]) << port << "/" << w;
  conf_close(kPortConfBlock);
}

TEST_F(PortModule, PulledCableIsSeenWithinOneRoundAndTheChipStopsForwarding) {
  start();
  poll_round();
  phy(4).unplug();
  poll_round();
  EXPECT_EQ(swc_os_get_linkstate(4), 0);
  EXPECT_EQ(swc_os_get_linkspeed(4), 0u);
  EXPECT_EQ(chip_stp_state(4), SWC_STP_STATE_DISABLED);
  EXPECT_EQ(swc_os_get_linkstate(3), 1);
}

TEST_F(PortModule, TimersRebuildTheMacShadowSoWalksFindWhatTheChipLearned) {
  start();
  ASSERT_EQ(chip.learn_addresses(2, 1, 0x020000000010, 3), 3u);
  SwcVidMac at{};
  SwcMacEntry entry{};
  EXPECT_EQ(swc_mac_table_get_next(&at, &entry), kSwcRcNotFound);
  // Nine seconds of the loop's timers: the one-second step has gone over all eight blocks.
  for (uint32_t now = 100; now <= 9000; now += 100) timer_dispatch(now);
  std::vector<uint8_t> last_bytes;
  while (swc_mac_table_get_next(&at, &entry) == 0) {
    last_bytes.push_back(entry.vid_mac.mac[5]);
    EXPECT_EQ(entry.destination[3], 1u) << "learned on chip port 2: port 3";
    at = entry.vid_mac;
  }
  EXPECT_EQ(last_bytes, (std::vector<uint8_t>{0x10, 0x11, 0x12}));
}

TEST_F(PortModule, SpeedAndDuplexFollowThePartner) {
  start();
  poll_round();
  phy(2).unplug();
  poll_round();
  phy(2).plug(kAbility100Half);
  poll_round();
  int link = 0;
  uint32_t speed = 0, fdx = 9;
  port_get_link_state(2, &link, &speed, &fdx);
  EXPECT_EQ(link, 1);
  EXPECT_EQ(speed, kSwcSpeed100M);
  EXPECT_EQ(fdx, 0u);
  EXPECT_EQ(swc_os_get_linkduplex(2), 0);
  EXPECT_EQ(swc_os_make_key(2, 0x1234), 0x3402u);  // key << 8 | speed code, 16 bits
}

TEST_F(PortModule, LinkThatDropsAndReturnsBetweenPollsIsCycled) {
  start();
  poll_round();
  testing::internal::CaptureStdout();
  trace_option_apply("port", "debug");
  phy(1).unplug();
  phy(1).plug(kAbility1000Full | kAbility100Full);
  port_status_update(1);
  std::string out = testing::internal::GetCapturedStdout();
  size_t down = out.find("Link down on port 1");
  size_t up = out.find("Link up on port 1: 1G-f");
  ASSERT_NE(down, std::string::npos) << out;
  ASSERT_NE(up, std::string::npos) << out;
  EXPECT_LT(down, up);
  EXPECT_EQ(swc_os_get_linkstate(1), 1);
}

TEST_F(PortModule, MissingPhyReadsDownOnInternalPortsAndUpAt1GOnTheRgmiiPort) {
  chip.phy(0, 2).mounted = false;  // port 3
  chip.phy(1, 3).mounted = false;  // port 6
  testing::internal::CaptureStdout();
  trace_option_apply("port", "warn");
  start();
  poll_round();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("PHY on port 3 is not mounted"), std::string::npos) << out;
  EXPECT_EQ(swc_os_get_linkstate(3), 0);
  EXPECT_EQ(swc_os_get_linkstate(6), 1);
  EXPECT_EQ(swc_os_get_linkspeed(6), 1000u);
  EXPECT_EQ(swc_os_get_linkduplex(6), 1);
}

TEST_F(PortModule, GigabitWithoutAutonegotiationStillNegotiatesAdvertisingOnly1000Full) {
  start();
  poll_round();
  auto reply = table(3000, kMgmtCmdSet, {{5, 1, 0, 0, kSwcSpeed1G, 1, 1518}}, 28);
  EXPECT_EQ(res(reply), 0u);
  EXPECT_EQ(phy(5).peek(0, 4) & 0x1E0, 0u);   // no 10/100 abilities
  EXPECT_EQ(phy(5).peek(0, 4) & 0xC00, 0u);   // flow control off: no pause
  EXPECT_NE(phy(5).peek(0, 9) & 0x200, 0u);   // 1000 full
  EXPECT_NE(phy(5).peek(0, 0) & 0x1000, 0u);  // aneg enabled
  EXPECT_EQ(swc_os_get_linkstate(5), 0);      // taken down for the new settings ...
  poll_round();
  EXPECT_EQ(swc_os_get_linkspeed(5), 1000u);  // ... and up again at the next poll
}

TEST_F(PortModule, ForcedModeComesUpAtTheConfiguredSpeed) {
  start();
  poll_round();
  EXPECT_EQ(res(table(3000, kMgmtCmdSet, {{2, 1, 3, 0, kSwcSpeed10M, 1, 1518}}, 28)), 0u);
  EXPECT_EQ(phy(2).peek(0, 0) & 0x1000, 0u);  // aneg off
  poll_round();
  EXPECT_EQ(swc_os_get_linkspeed(2), 10u);
  EXPECT_EQ(swc_os_get_linkduplex(2), 1);
}

TEST_F(PortModule, DisabledPortIsPoweredDownAndStaysDown) {
  start();
  poll_round();
  EXPECT_EQ(res(table(3000, kMgmtCmdSet, {{3, 0, 3, 1, 3, 1, 1518}}, 28)), 0u);
  EXPECT_NE(phy(3).peek(0, 0) & 0x800, 0u);
  poll_round();
  EXPECT_EQ(swc_os_get_linkstate(3), 0);
}

TEST_F(PortModule, ConfigurationSetCapsMaxLengthAndIsSavedAndReadBack) {
  start();
  auto set = table(3000, kMgmtCmdSet, {{1, 1, 2, 1, 3, 1, 12000}}, 28);
  EXPECT_EQ(res(set), 0u);
  EXPECT_EQ(port_current_config(1).max_length, 9600u);
  auto get = table(3000, kMgmtCmdGet, {{1}, {6}}, 28);
  EXPECT_EQ(res(get), 0u);
  EXPECT_EQ(word(get, 0, 28, 2), 2u);
  EXPECT_EQ(word(get, 0, 28, 6), 9600u);
  EXPECT_EQ(word(get, 1, 28, 0), 6u);
  EXPECT_EQ(word(get, 1, 28, 6), 1518u);
  uint32_t size = 0;
  const uint8_t *block = conf_open(kPortConfBlock, &size);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(le_load32(block + 24 + 20), 9600u);
  conf_close(kPortConfBlock);
}

TEST_F(PortModule, ConfigurationRequestsAreCheckedBeforeUse) {
  start();
  // A port outside 1..6 stops the walk; the entry before it is served.
  auto bad_port = table(3000, kMgmtCmdSet, {{2, 1, 3, 1, 3, 1, 2000}, {7, 1, 3, 1, 3, 1, 2000}}, 28);
  EXPECT_EQ(res(bad_port), 1u);
  EXPECT_EQ(port_current_config(2).max_length, 2000u);
  // Settings out of range change nothing.
  for (auto entry : std::vector<std::vector<uint32_t>>{{3, 2, 3, 1, 3, 1, 1518},
                                                       {3, 1, 4, 1, 3, 1, 1518},
                                                       {3, 1, 3, 7, 3, 1, 1518},
                                                       {3, 1, 3, 1, 0, 1, 1518},
                                                       {3, 1, 3, 1, 4, 1, 1518},
                                                       {3, 1, 3, 1, 3, 2, 1518}}) {
    EXPECT_EQ(res(table(3000, kMgmtCmdSet, {entry}, 28)), 1u);
    EXPECT_EQ(port_current_config(3).flow_control, 3u);
    EXPECT_EQ(port_current_config(3).speed, 3u);
  }
  // A count beyond the object's size serves nothing.
  auto d = table(3000, kMgmtCmdGet, {{1}}, 28);
  le_store16(&d[16], 40);
  le_store32(&d[8], 0);
  ASSERT_EQ(mgmt_process(d.data(), d.size()), d.size());
  EXPECT_EQ(res(d), 1u);
  EXPECT_EQ(res(table(3000, kMgmtCmdAdd, {{1}}, 28)), 1u);
}

TEST_F(PortModule, StatusObjectReadsTheChipAndReportsPhyCapabilities) {
  start();
  poll_round();
  phy(6).unplug();
  auto status = table(3001, kMgmtCmdGet, {{6}, {1}}, 64);
  EXPECT_EQ(res(status), 0u);
  EXPECT_EQ(word(status, 0, 64, 2), 0u);  // link
  EXPECT_EQ(word(status, 1, 64, 2), 1u);
  EXPECT_EQ(word(status, 1, 64, 3), kSwcSpeed1G);
  EXPECT_EQ(word(status, 1, 64, 4), 1u);
  for (unsigned w = 7; w < 15; ++w) EXPECT_EQ(word(status, 1, 64, w), 1u);
  EXPECT_EQ(word(status, 1, 64, 15), 0u);
  EXPECT_EQ(res(table(3001, kMgmtCmdGet, {{0}}, 64)), 1u);
}

TEST_F(PortModule, CountersObjectServesPortsAndRefusesUnknownPoags) {
  start();
  poll_round();
  auto counters = table(3002, kMgmtCmdGet, {{1}}, 108);
  EXPECT_EQ(res(counters), 0u);
  EXPECT_EQ(word(counters, 0, 108, 0), 1u);
  EXPECT_EQ(res(table(3002, kMgmtCmdGet, {{1}, {10}}, 108)), 1u);
  EXPECT_EQ(res(table(3002, kMgmtCmdSet, {{2}}, 108)), 0u);
  EXPECT_EQ(res(table(3002, kMgmtCmdDel, {{2}}, 108)), 1u);
}

TEST_F(PortModule, FailedApiCallIsTracedWithFunctionAndSourceUnit) {
  start();
  testing::internal::CaptureStdout();
  EXPECT_EQ(res(table(3002, kMgmtCmdGet, {{10}}, 108)), 1u);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(" portvisor/mgmt_port_counters(port.cpp "), std::string::npos) << out;
  EXPECT_NE(out.find(")/error: swc_poag_counters_get(poag, &counters) swc_rc=-5\n"), std::string::npos)
      << out;
}

TEST_F(PortModule, PortMapObjectIsReadOnly) {
  start();
  auto map = table(3019, kMgmtCmdGet, {{1}, {6}}, 16);
  EXPECT_EQ(res(map), 0u);
  EXPECT_EQ(word(map, 0, 16, 1), 0u);
  EXPECT_EQ(word(map, 1, 16, 1), 6u);
  EXPECT_EQ(word(map, 1, 16, 2), 1u);
  EXPECT_EQ(word(map, 1, 16, 3), 3u);
  EXPECT_EQ(res(table(3019, kMgmtCmdSet, {{1}}, 16)), 1u);
  EXPECT_EQ(res(table(3019, kMgmtCmdGet, {{1}, {9}}, 16)), 1u);
  EXPECT_EQ(res(table(3012, kMgmtCmdGet, {}, 4)), 2u);
}

TEST_F(PortModule, StpStateWhileDownIsOnlyRememberedAndAppliedAtLinkUp) {
  start();
  phy(2).unplug();
  poll_round();
  EXPECT_EQ(res(table(3020, kMgmtCmdSet, {{2, SWC_STP_STATE_BLOCKING}}, 8)), 0u);
  EXPECT_EQ(chip_stp_state(2), SWC_STP_STATE_DISABLED);
  EXPECT_EQ(word(table(3020, kMgmtCmdGet, {{2}}, 8), 0, 8, 1), SWC_STP_STATE_BLOCKING);
  phy(2).plug(swchip::kAbilityAll);
  poll_round();
  EXPECT_EQ(chip_stp_state(2), SWC_STP_STATE_BLOCKING);
  // While the link is up a new state reaches the chip at once.
  EXPECT_EQ(port_set_stp_state(2, SWC_STP_STATE_LEARNING), 0);
  EXPECT_EQ(chip_stp_state(2), SWC_STP_STATE_LEARNING);
}

TEST_F(PortModule, IllegalStpStateIsRefusedAndNotRemembered) {
  start();
  poll_round();
  EXPECT_EQ(res(table(3020, kMgmtCmdSet, {{1, 9}}, 8)), 1u);
  EXPECT_EQ(port_get_stp_state(1), SWC_STP_STATE_FORWARDING);
  EXPECT_EQ(res(table(3020, kMgmtCmdAdd, {{1, 1}}, 8)), 1u);
  EXPECT_EQ(res(table(3020, kMgmtCmdGet, {{7}}, 8)), 1u);
}

TEST_F(PortModule, StoredBlockOfAnotherSizeIsIgnoredForDefaults) {
  conf_init();
  uint8_t *block = conf_create(kPortConfBlock, 100);
  ASSERT_NE(block, nullptr);
  std::fill(block, block + 100, 0x7F);
  conf_close(kPortConfBlock);
  port_init();
  for (unsigned port = 1; port <= kPortCount; ++port) {
    EXPECT_EQ(port_current_config(port).enabled, 1u);
    EXPECT_EQ(port_current_config(port).max_length, 1518u);
  }
}

// One port's stored record out of range costs that port its settings, not the other five: it alone
// starts from the defaults, and the next save keeps what the others had.
TEST_F(PortModule, StoredRecordOutOfRangeGivesDefaultsToItsPortOnly) {
  start();
  for (uint32_t port = 1; port <= kPortCount; ++port)
    ASSERT_EQ(res(table(3000, kMgmtCmdSet, {{port, 1, 1, 1, 3, 1, 2000 + port}}, 28)), 0u);
  ConfFileImage image = ConfFileImage::read();
  le_store32(image.blocks[kPortConfBlock].data() + 4 * kPortConfigRecordSize + 12, 7);  // port 4's speed
  image.write();
  conf_reset();
  timer_reg_init();
  start();
  for (uint32_t port = 1; port <= kPortCount; ++port) {
    SCOPED_TRACE(port);
    const PortConfig &config = port_current_config(port);
    EXPECT_EQ(config.max_length, port == 4 ? 1518u : 2000 + port);
    EXPECT_EQ(config.flow_control, port == 4 ? 3u : 1u);
  }
  EXPECT_EQ(res(table(3000, kMgmtCmdSet, {{1, 1, 1, 1, 3, 1, 3000}}, 28)), 0u);
  const std::vector<uint8_t> saved = ConfFileImage::read().blocks[kPortConfBlock];
  ASSERT_EQ(saved.size(), kPortConfBlockSize);
  for (uint32_t port = 2; port <= kPortCount; ++port) {
    const PortConfig stored = port_config_decode(saved.data() + port * kPortConfigRecordSize);
    EXPECT_EQ(stored.max_length, port == 4 ? 1518u : 2000 + port) << port;
    EXPECT_EQ(stored.speed, 3u) << port;
  }
}

TEST_F(PortModule, DebugFlagKeepsTheConfigurationAwayFromTheChip) {
  process_state().debug_flags[kPortDebugNoCommit] = 1;
  start();
  EXPECT_EQ(phy(1).peek(0, 4) & 0x1E0, 0x1E0u);  // still the PHY's reset abilities
  poll_round();
}

TEST_F(PortModule, TextsOfTheTraceLines) {
  EXPECT_STREQ(port_speed_text(true, 3, 1), "1G-f");
  EXPECT_STREQ(port_speed_text(true, 1, 0), " 10h");
  EXPECT_STREQ(port_speed_text(true, 9, 1), "????");
  EXPECT_STREQ(port_speed_text(false, 3, 1), "----");
  EXPECT_STREQ(port_interface_name(5), "RGMII");
  EXPECT_STREQ(port_interface_name(11), "????");
  EXPECT_STREQ(port_stp_state_name(2), "listing");
  EXPECT_STREQ(port_stp_state_name(6), "??");
  EXPECT_STREQ(port_chip_name(0x7395), "Corvex-G5e");
  EXPECT_EQ(port_chip_name(0x1234), nullptr);
}

using PortModuleDeath = PortModule;

TEST_F(PortModuleDeath, ArbiterThatNeverEmptiesEndsTheProcessWithStatus2) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  start();
  EXPECT_EXIT(
      {
        chip.stuck.arbiter_full = true;
        port_setup_commit(1, true);
      },
      testing::ExitedWithCode(2), "");
}

}  // namespace
