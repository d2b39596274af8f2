// Port QoS in-process: the port module started on the switch API over an in-process chip model, its
// QoS settings read from the configuration store, changed through management objects and checked where
// they land: the stored blocks, the API's records and the chip's classification of frames.
#include "conf.h"
#include "loop.h"
#include "mgmt.h"
#include "port.h"
#include "port_qos.h"
#include "process_util.h"
#include "trace.h"

#include "daemon_on_chip.h"
#include "swc_qos_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

class PortQos : public DaemonOnChip {
 protected:
  void SetUp() override {
    DaemonOnChip::SetUp();
    conf_module_reg(kConfModulePort, port_conf);
    mgmt_module_reg(3, port_mgmt);
  }
  void start() {
    conf_init();
    port_init();
  }
  // A second start of the daemon on the same work directory and the same chip.
  void restart() {
    conf_reset();
    timer_reg_init();
    start();
  }
  static unsigned chip_port(unsigned port) { return port == 6 ? 6 : port - 1; }
  unsigned queue(unsigned port, const std::vector<uint8_t> &frame) {
    return chip.classify_queue(chip_port(port), frame);
  }
  static std::vector<uint8_t> tagged(unsigned user_priority) {
    std::vector<uint8_t> f(64, 0);
    f[0] = 0x02, f[6] = 0x02, f[11] = 1;
    f[12] = 0x81, f[13] = 0x00, f[14] = static_cast<uint8_t>(user_priority << 5), f[15] = 1;
    f[16] = 0x88, f[17] = 0xB5;
    return f;
  }
  // An IPv4 frame with the DSCP, tagged with the user priority when it is 0..7.
  static std::vector<uint8_t> ipv4(unsigned dscp, int user_priority = -1) {
    std::vector<uint8_t> f(64, 0);
    f[0] = 0x02, f[6] = 0x02, f[11] = 1;
    size_t at = 12;
    if (user_priority >= 0) {
      f[12] = 0x81, f[13] = 0x00, f[14] = static_cast<uint8_t>(user_priority << 5), f[15] = 1;
      at = 16;
    }
    f[at] = 0x08, f[at + 1] = 0x00, f[at + 2] = 0x45, f[at + 3] = static_cast<uint8_t>(dscp << 2);
    return f;
  }
  // A table object with one entry per word list; returns it after processing.
  std::vector<uint8_t> table(uint32_t obj_id, uint32_t cmd, const std::vector<std::vector<uint32_t>> &entries,
                             size_t entry_size) {
    std::vector<uint8_t> d(20 + entries.size() * entry_size, 0);
    le_store32(&d[0], obj_id);
    le_store32(&d[4], cmd);
    le_store32(&d[8], 77);  // a result the handler must overwrite
    le_store16(&d[14], static_cast<uint16_t>(d.size()));
    le_store16(&d[16], static_cast<uint16_t>(entries.size()));
    le_store16(&d[18], static_cast<uint16_t>(entry_size));
    for (size_t i = 0; i < entries.size(); ++i)
      for (size_t w = 0; w < entries[i].size(); ++w)
        le_store32(&d[20 + i * entry_size + 4 * w], entries[i][w]);
    EXPECT_EQ(mgmt_process(d.data(), d.size()), d.size());
    return d;
  }
  // A fixed object carrying the words.
  std::vector<uint8_t> words(uint32_t obj_id, uint32_t cmd, const std::vector<uint32_t> &data) {
    std::vector<uint8_t> d(16 + 4 * data.size(), 0);
    le_store32(&d[0], obj_id);
    le_store32(&d[4], cmd);
    le_store32(&d[8], 77);
    le_store16(&d[14], static_cast<uint16_t>(d.size()));
    for (size_t i = 0; i < data.size(); ++i) le_store32(&d[16 + 4 * i], data[i]);
    EXPECT_EQ(mgmt_process(d.data(), d.size()), d.size());
    return d;
  }
  static uint32_t res(const std::vector<uint8_t> &d) { return le_load32(&d[8]); }
  static uint32_t at(const std::vector<uint8_t> &d, size_t offset) { return le_load32(&d[offset]); }
  SwcPortQos api_record(unsigned port) {
    SwcPortQos q{};
    EXPECT_EQ(swc_port_qos_get(port, &q), 0);
    return q;
  }
  std::vector<uint8_t> block(uint32_t id) {
    uint32_t size = 0;
    const uint8_t *b = conf_open(id, &size);
    std::vector<uint8_t> copy;
    if (b) copy.assign(b, b + size);
    if (b) conf_close(id);
    return copy;
  }
};

TEST_F(PortQos, FirstStartStoresTheDefaultsAndTheChipClassifiesByThem) {
  start();
  std::vector<uint8_t> general = block(kQosGenConfBlock);
  ASSERT_EQ(general.size(), 20u);
  EXPECT_EQ(at(general, 0), 4u);
  for (size_t w = 1; w < 5; ++w) EXPECT_EQ(at(general, 4 * w), 0u);
  std::vector<uint8_t> ports = block(kQosPortConfBlock);
  ASSERT_EQ(ports.size(), 2020u);
  EXPECT_EQ(le_load16(&ports[0]), 6u);
  EXPECT_EQ(le_load16(&ports[2]), 336u);
  const uint32_t head[11] = {6, 1, 4, 2, 1, 1, 2, 3, 3, 4, 4};
  for (size_t w = 0; w < 11; ++w) EXPECT_EQ(at(ports, 4 + 5 * 336 + 4 * w), head[w]) << w;  // port 6's record
  EXPECT_EQ(at(ports, 4 + 11 * 4), 4u);                                                     // group 0
  EXPECT_EQ(at(ports, 4 + 19 * 4), 1u);                                                     // DSCP 0
  EXPECT_EQ(at(ports, 4 + 83 * 4), 0u);                                                     // last field

  for (unsigned port = 1; port <= kPortCount; ++port) {
    // Mode 1: every DSCP through its group to priority 4, queue 3; tags are not looked at.
    EXPECT_EQ(queue(port, ipv4(0)), 3u) << port;
    EXPECT_EQ(queue(port, ipv4(46, 0)), 3u) << port;
    EXPECT_EQ(queue(port, tagged(6)), 3u) << port;  // the default priority 4
    SwcPortQos q = api_record(port);
    EXPECT_EQ(q.dscp_enable, 1u);
    EXPECT_EQ(q.second_enable, 0u);
    EXPECT_EQ(q.tag_prio[0], 2u);
    EXPECT_EQ(q.tag_prio[6], 4u);
  }
  SwcQosSetup setup{};
  swc_qos_setup_get(&setup);
  EXPECT_EQ(setup.word[0], -1);
  EXPECT_EQ(setup.word[1], -1);
}

TEST_F(PortQos, ModeDecidesWhetherTagsOrDscpClassifyAndTheFullMapTakesOverInModeTwo) {
  start();
  // Mode 0: user priority 6 -> priority 4 (queue 3), 0 -> 2 (queue 1), DSCP off.
  EXPECT_EQ(res(table(3014, kMgmtCmdSet, {{2, 0}}, 8)), 0u);
  EXPECT_EQ(queue(2, tagged(6)), 3u);
  EXPECT_EQ(queue(2, tagged(0)), 1u);
  EXPECT_EQ(queue(2, ipv4(46, 0)), 1u);
  EXPECT_EQ(queue(2, ipv4(46)), 3u);  // untagged: the default priority
  EXPECT_EQ(api_record(2).dscp_enable, 0u);
  EXPECT_EQ(api_record(2).second_enable, 1u);

  // Mode 2 with the full map: DSCP 46 -> 1, DSCP 10 -> 2, everything else stays 1.
  std::vector<uint32_t> map(65, 1);
  map[0] = 2;
  map[1 + 10] = 2;
  map[1 + 46] = 3;
  EXPECT_EQ(res(table(3006, kMgmtCmdSet, {map}, 260)), 0u);
  EXPECT_EQ(queue(2, ipv4(46)), 3u);  // map stored, mode still 0: the default priority
  EXPECT_EQ(res(table(3014, kMgmtCmdSet, {{2, 2}}, 8)), 0u);
  EXPECT_EQ(queue(2, ipv4(46, 7)), 2u);
  EXPECT_EQ(queue(2, ipv4(10)), 1u);
  EXPECT_EQ(queue(2, ipv4(11)), 0u);
  EXPECT_EQ(api_record(2).dscp_prio[46], 3u);
  EXPECT_EQ(api_record(2).dscp_prio[47], 1u);

  // Back to mode 1: the groups rule again, the full map is kept. The chip has seven exception
  // slots: DSCP 40..46 of group 5 get theirs, 47 falls to the common queue.
  EXPECT_EQ(res(table(3005, kMgmtCmdSet, {{2, 4, 4, 4, 4, 4, 3, 4, 4}}, 36)), 0u);
  EXPECT_EQ(res(table(3014, kMgmtCmdSet, {{2, 1}}, 8)), 0u);
  EXPECT_EQ(queue(2, ipv4(46)), 2u);
  EXPECT_EQ(queue(2, ipv4(47)), 3u);
  EXPECT_EQ(queue(2, ipv4(8)), 3u);
  EXPECT_EQ(port_qos_record(2)[kQosWDscp + 46], 3u);
  // Other ports untouched.
  EXPECT_EQ(queue(3, ipv4(46)), 3u);
}

TEST_F(PortQos, CommitLandsInThePortQosRegisters) {
  start();
  // Port 4 (chip port 3): mode 2, DSCP 0..2 to priority 2, the rest 1, default 3, field 2.
  std::vector<uint32_t> map(65, 1);
  map[0] = 4;
  map[1] = map[2] = map[3] = 2;
  table(3006, kMgmtCmdSet, {map}, 260);
  EXPECT_EQ(res(table(3003, kMgmtCmdSet, {{4, 2, 3, 0, 2}}, 20)), 0u);
  EXPECT_EQ(chip.peek(1, 3, 0x77) >> 21 & 1, 1u);
  EXPECT_EQ(chip.peek(1, 3, 0x6F) >> 28 & 1, 0u);
  // Default queue 0 (61 DSCPs), DSCP 0, 1, 2 as exceptions in slots 0..2 with queue 1.
  EXPECT_EQ(chip.peek(1, 3, 0x60), 0x00000111u);
  EXPECT_EQ(chip.peek(1, 3, 0x61), 0x00020100u);
  EXPECT_EQ(chip.peek(1, 3, 0x62), 0u);
  EXPECT_EQ(chip.peek(1, 3, 0x6F) >> 16 & 3, 2u);  // default priority 3
  EXPECT_EQ(chip.peek(1, 3, 0x7A) >> 12 & 3, 2u);  // last field
  // User priorities 0..7 -> 2,1,1,2,3,3,4,4 -> queues 1,0,0,1,2,2,3,3.
  EXPECT_EQ(chip.peek(1, 3, 0x75), 0x33221001u);
  std::vector<uint8_t> got = table(3003, kMgmtCmdGet, {{4, 0, 0, 0xAB, 0}}, 20);
  EXPECT_EQ(at(got, 24), 2u);
  EXPECT_EQ(at(got, 28), 3u);
  EXPECT_EQ(at(got, 32), 0xABu);  // the unused word is left as sent
  EXPECT_EQ(at(got, 36), 2u);
}

TEST_F(PortQos, GeneralRecordSetsPrioritiesAndLimitsAndADisabledLimitIsOff) {
  start();
  EXPECT_EQ(res(words(3013, kMgmtCmdSet, {0, 5000, 1, 100})), 0u);
  SwcQosSetup setup{};
  swc_qos_setup_get(&setup);
  EXPECT_EQ(setup.word[0], -1);  // limit A disabled, whatever its value
  EXPECT_EQ(setup.word[1], 100);
  uint32_t rates = chip.peek(2, 0, 2);
  EXPECT_EQ(rates >> 30 & 1, 0u);
  EXPECT_EQ(rates >> 31 & 1, 1u);
  EXPECT_EQ(rates >> 16 & 0xFF, 101u);  // 100 x 1000 / 981
  std::vector<uint8_t> limits = words(3013, kMgmtCmdGet, {0, 0, 0, 0});
  EXPECT_EQ(at(limits, 16), 0u);
  EXPECT_EQ(at(limits, 20), 5000u);
  EXPECT_EQ(at(limits, 28), 100u);

  EXPECT_EQ(res(words(3011, kMgmtCmdSet, {2})), 0u);
  EXPECT_EQ(state->qos_priorities, 2u);
  // Two priorities: priority 1 -> queue 1, every other -> queue 3.
  EXPECT_EQ(queue(1, ipv4(0)), 3u);
  EXPECT_EQ(at(words(3011, kMgmtCmdGet, {0}), 16), 2u);
  std::vector<uint8_t> general = block(kQosGenConfBlock);
  ASSERT_EQ(general.size(), 20u);
  const uint32_t stored[5] = {2, 0, 5000, 1, 100};
  for (size_t w = 0; w < 5; ++w) EXPECT_EQ(at(general, 4 * w), stored[w]) << w;
}

TEST_F(PortQos, RequestsWithBadValuesAreRefusedAndChangeNothing) {
  start();
  std::vector<uint8_t> before = block(kQosPortConfBlock);
  EXPECT_EQ(res(words(3011, kMgmtCmdSet, {3})), 1u);
  EXPECT_EQ(port_qos_general().prios, 4u);
  EXPECT_EQ(res(words(3013, kMgmtCmdSet, {2, 10, 0, 0})), 1u);
  EXPECT_EQ(res(words(3013, kMgmtCmdSet, {1, 0x80000000u, 0, 0})), 1u);
  EXPECT_EQ(port_qos_general().limit_a_enabled, 0u);
  EXPECT_EQ(res(words(3011, kMgmtCmdSet, {})), 1u);  // no room for the value

  EXPECT_EQ(res(table(3014, kMgmtCmdSet, {{1, 3}}, 8)), 1u);
  EXPECT_EQ(res(table(3015, kMgmtCmdSet, {{1, 0}}, 8)), 1u);
  EXPECT_EQ(res(table(3015, kMgmtCmdSet, {{1, 5}}, 8)), 1u);
  EXPECT_EQ(res(table(3004, kMgmtCmdSet, {{1, 1, 1, 1, 9, 1, 1, 1, 1}}, 36)), 1u);
  EXPECT_EQ(res(table(3017, kMgmtCmdSet, {{1, 4}}, 8)), 1u);
  EXPECT_EQ(port_qos_record(1), qos_port_default(1));
  EXPECT_EQ(block(kQosPortConfBlock), before);

  // A port outside 1..6 stops the walk; the entries before it are served.
  std::vector<uint8_t> walk = table(3015, kMgmtCmdSet, {{1, 2}, {7, 2}, {3, 2}}, 8);
  EXPECT_EQ(res(walk), 1u);
  EXPECT_EQ(port_qos_record(1)[kQosWDefault], 2u);
  EXPECT_EQ(port_qos_record(3)[kQosWDefault], 4u);
  EXPECT_EQ(at(block(kQosPortConfBlock), 4 + 2 * 4), 2u);  // saved after the SET
  EXPECT_EQ(res(table(3014, kMgmtCmdGet, {{0}}, 8)), 1u);

  // The table check: entry size, count and object size.
  EXPECT_EQ(res(table(3014, kMgmtCmdGet, {{1}}, 12)), 1u);
  EXPECT_EQ(res(table(3014, kMgmtCmdGet, {{1}, {2}, {3}, {4}, {5}, {6}, {1}}, 8)), 1u);
  std::vector<uint8_t> short_object = table(3014, kMgmtCmdGet, {{1}}, 8);
  le_store16(&short_object[16], 2);  // claims two entries in room for one
  mgmt_process(short_object.data(), short_object.size());
  EXPECT_EQ(res(short_object), 1u);
}

TEST_F(PortQos, ObjectsWithoutMeaningAnswerFailureAndOtherCommandsAreRefused) {
  start();
  for (uint32_t id : {3007u, 3008u, 3009u, 3010u, 3016u}) {
    EXPECT_EQ(res(words(id, kMgmtCmdGet, {0})), 1u) << id;
    EXPECT_EQ(res(words(id, kMgmtCmdSet, {0})), 1u) << id;
  }
  EXPECT_EQ(res(words(3012, kMgmtCmdGet, {0})), 2u);
  EXPECT_EQ(res(table(3014, kMgmtCmdAdd, {{1, 0}}, 8)), 1u);
  EXPECT_EQ(res(words(3011, kMgmtCmdDel, {2})), 1u);
  EXPECT_EQ(port_qos_record(1)[kQosWMode], 1u);
  EXPECT_EQ(port_qos_general().prios, 4u);
}

TEST_F(PortQos, SettingsSurviveARestart) {
  start();
  table(3014, kMgmtCmdSet, {{5, 0}}, 8);
  table(3004, kMgmtCmdSet, {{5, 4, 4, 4, 4, 1, 1, 1, 1}}, 36);
  words(3013, kMgmtCmdSet, {1, 300, 0, 0});
  chip.power_on();  // nothing of the settings stays in the chip
  restart();
  EXPECT_EQ(port_qos_record(5)[kQosWMode], 0u);
  EXPECT_EQ(queue(5, tagged(0)), 3u);
  EXPECT_EQ(queue(5, tagged(7)), 0u);
  EXPECT_EQ(port_qos_general().limit_a, 300u);
  SwcQosSetup setup{};
  swc_qos_setup_get(&setup);
  EXPECT_EQ(setup.word[0], 300);
}

TEST_F(PortQos, StoredRecordsAreCheckedAndABadOneGivesWayToItsPortsDefaults) {
  start();
  table(3015, kMgmtCmdSet, {{2, 1}, {3, 1}}, 8);
  uint32_t size = 0;
  uint8_t *ports = conf_create(kQosPortConfBlock, kQosPortBlockSize);
  ASSERT_NE(ports, nullptr);
  le_store32(ports + 4 + 0 * 336 + 4, 9);  // port 1: mode 9
  le_store32(ports + 4 + 2 * 336, 5);      // record 2 names port 5
  conf_close(kQosPortConfBlock);
  uint8_t *general = conf_create(kQosGenConfBlock, 20);
  le_store32(general, 3);
  conf_close(kQosGenConfBlock);
  ASSERT_NE(conf_open(kQosPortConfBlock, &size), nullptr);
  conf_close(kQosPortConfBlock);

  testing::internal::CaptureStdout();
  trace_option_apply("port", "warning");
  restart();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Stored QoS record 0 refused: mode must be 0, 1 or 2"), std::string::npos) << out;
  EXPECT_NE(out.find("Stored QoS record 2 refused: record of another port"), std::string::npos) << out;
  EXPECT_NE(out.find("prios must be 1, 2 or 4"), std::string::npos) << out;
  EXPECT_EQ(port_qos_record(1), qos_port_default(1));
  EXPECT_EQ(port_qos_record(2)[kQosWDefault], 1u);  // a good record is kept
  EXPECT_EQ(port_qos_record(3), qos_port_default(3));
  EXPECT_EQ(port_qos_general().prios, 4u);
  // The file now holds what is in force.
  EXPECT_EQ(at(block(kQosPortConfBlock), 4 + 4), 1u);
  EXPECT_EQ(at(block(kQosGenConfBlock), 0), 4u);

  // A truncated block: the records that fit are taken, the rest get defaults.
  ports = conf_create(kQosPortConfBlock, 4 + 336 + 100);
  le_store16(ports, 6);
  le_store16(ports + 2, 336);
  for (size_t w = 0; w < 84; ++w) le_store32(ports + 4 + 4 * w, qos_port_default(1)[w]);
  le_store32(ports + 4 + 8, 2);  // port 1: default priority 2
  conf_close(kQosPortConfBlock);
  restart();
  EXPECT_EQ(port_qos_record(1)[kQosWDefault], 2u);
  EXPECT_EQ(port_qos_record(2), qos_port_default(2));
  EXPECT_EQ(block(kQosPortConfBlock).size(), 2020u);
}

TEST_F(PortQos, DebugWordSixLeavesTheConfigurationAlone) {
  process_state().debug_flags[kQosDebugNoInit] = 1;
  testing::internal::CaptureStdout();
  trace_option_apply("port", "debug");
  start();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Debug option port_disable_qos_init is active. Do nothing."), std::string::npos);
  EXPECT_TRUE(block(kQosGenConfBlock).empty());
  EXPECT_TRUE(block(kQosPortConfBlock).empty());
  // The start state: no record reached the chip.
  EXPECT_EQ(port_qos_general().prios, 0u);
  EXPECT_EQ(port_qos_record(1)[kQosWPort], 1u);
  EXPECT_EQ(port_qos_record(1)[kQosWMode], 0u);
}

}  // namespace
