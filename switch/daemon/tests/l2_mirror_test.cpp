// The mirror part of the L2 module: monitor port and the ingress and egress tables, what the chip gets,
// the configuration blocks 11, 12 and 19 and the management objects 4009, 4010 and 4013.
#include "l2_fixture.h"
#include "l2_mirror.h"
#include "mgmt_client.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> record(uint32_t port, uint32_t enabled) {
  std::vector<uint8_t> r(kL2MirrorRecordSize);
  l2_mirror_record_store(r.data(), L2MirrorEntry{port, enabled});
  return r;
}

class L2Mirror : public L2Fixture {
 protected:
  static std::vector<uint8_t> block(uint32_t id) {
    uint32_t size = 0;
    const uint8_t *b = conf_open(id, &size);
    return b ? std::vector<uint8_t>(b, b + size) : std::vector<uint8_t>{};
  }
  // The enabled word saved for a port in block 12 or 19.
  static uint32_t saved_enabled(uint32_t id, uint32_t port) {
    const auto b = block(id);
    EXPECT_EQ(b.size(), 52u);
    return b.size() == 52 ? le_load32(&b[4 + (port - 1) * 8 + 4]) : 99;
  }
  // The daemon's next start: the switch API starts from power-on values again.
  void restart_daemon() {
    const SwcInitSetup setup{1, 1, 0, -1, 0};
    swc_init_state(&setup);
    map_board_ports();
    restart();
  }
  std::vector<uint8_t> set_table(uint32_t obj, const std::vector<std::vector<uint8_t>> &entries) {
    return request(obj, kMgmtCmdSet, table(8, entries));
  }
};

TEST_F(L2Mirror, FirstStartWritesTheDefaultBlocksAndTheChipsDestinationMasks) {
  const auto monitor = block(kL2MirrorConfMonitor);
  ASSERT_EQ(monitor.size(), 4u);
  EXPECT_EQ(le_load32(monitor.data()), 1u);
  for (uint32_t id : {kL2MirrorConfIngress, kL2MirrorConfEgress}) {
    const auto b = block(id);
    ASSERT_EQ(b.size(), 52u);
    EXPECT_EQ(le_load16(&b[0]), 6u);
    EXPECT_EQ(le_load16(&b[2]), 8u);
    for (uint32_t p = 1; p <= 6; ++p) {
      EXPECT_EQ(le_load32(&b[4 + (p - 1) * 8]), p);
      EXPECT_EQ(le_load32(&b[4 + (p - 1) * 8 + 4]), 0u);
    }
  }
  EXPECT_EQ(state->mirror_monitor_port, 1u);
  // A learned address points at its port's destination entry: ports 2 and 6 are chip ports 1 and 6.
  EXPECT_EQ(chip.peek(2, 0, 0x41), 1u << 1);
  EXPECT_EQ(chip.peek(2, 0, 0x46), 1u << 6);
}

TEST_F(L2Mirror, MonitorPortIsSetSavedAndIllegalPortsRefused) {
  EXPECT_EQ(res(request(4009, kMgmtCmdSet, u32_data(3))), 0u);
  EXPECT_EQ(chip.peek(2, 0, 0xF0) & 0x1F, 2u);  // port 3 is chip port 2
  EXPECT_EQ(le_load32(block(kL2MirrorConfMonitor).data()), 3u);
  for (uint32_t bad : {0u, 7u, 0xFFFFFFFFu})
    EXPECT_EQ(res(request(4009, kMgmtCmdSet, u32_data(bad))), 1u) << bad;
  const auto reply = request(4009, kMgmtCmdGet, u32_data(0));
  EXPECT_EQ(res(reply), 0u);
  EXPECT_EQ(le_load32(&reply[16]), 3u);
  EXPECT_EQ(le_load32(block(kL2MirrorConfMonitor).data()), 3u);
  EXPECT_EQ(res(request(4009, kMgmtCmdAdd, u32_data(3))), 1u);
  EXPECT_EQ(res(request(4009, kMgmtCmdGet, {})), 1u) << "no room for the port";
}

TEST_F(L2Mirror, IngressOnPort3ThenPort5LeavesBoth) {
  EXPECT_EQ(res(set_table(4010, {record(3, 1)})), 0u);
  EXPECT_EQ(res(set_table(4010, {record(5, 1)})), 0u);
  EXPECT_EQ(state->mirror_ingress[3], 1u);
  EXPECT_EQ(state->mirror_ingress[5], 1u);
  EXPECT_EQ(chip.peek(2, 0, 0x80 + 2) >> 26 & 1, 1u);
  EXPECT_EQ(chip.peek(2, 0, 0x80 + 4) >> 26 & 1, 1u);
  EXPECT_EQ(saved_enabled(kL2MirrorConfIngress, 3), 1u);
  EXPECT_EQ(saved_enabled(kL2MirrorConfIngress, 5), 1u);
  const auto reply = request(4010, kMgmtCmdGet, table(8, {record(5, 0), record(4, 7), record(3, 0)}));
  ASSERT_EQ(count(reply), 3u);
  EXPECT_EQ(le_load32(&reply[20 + 4]), 1u);
  EXPECT_EQ(le_load32(&reply[28 + 4]), 0u);
  EXPECT_EQ(le_load32(&reply[36 + 4]), 1u);
  EXPECT_EQ(res(set_table(4010, {record(3, 0)})), 0u);
  EXPECT_EQ(state->mirror_ingress[3], 0u);
  EXPECT_EQ(state->mirror_ingress[5], 1u);
}

TEST_F(L2Mirror, SecondEgressOnlyPortIsRefusedAndNotKept) {
  EXPECT_EQ(res(set_table(4013, {record(2, 1)})), 0u);
  EXPECT_EQ(res(set_table(4013, {record(4, 1)})), 1u);
  EXPECT_EQ(state->mirror_egress[4], 0u);
  EXPECT_EQ(saved_enabled(kL2MirrorConfEgress, 4), 0u) << "the file never holds what the chip refused";
  auto reply = request(4013, kMgmtCmdGet, table(8, {record(4, 0)}));
  EXPECT_EQ(le_load32(&reply[20 + 4]), 0u);
  // Mirrored on ingress too, port 4 does not count toward the single egress port.
  EXPECT_EQ(res(set_table(4010, {record(4, 1)})), 0u);
  EXPECT_EQ(res(set_table(4013, {record(4, 1)})), 0u);
  EXPECT_EQ(state->mirror_egress[2], 1u);
  EXPECT_EQ(state->mirror_egress[4], 1u);
  EXPECT_EQ(saved_enabled(kL2MirrorConfEgress, 4), 1u);
}

TEST_F(L2Mirror, BadRequestsAndPortsAreRefused) {
  EXPECT_EQ(res(set_table(4010, {record(0, 1)})), 1u);
  EXPECT_EQ(res(set_table(4013, {record(7, 1)})), 1u);
  EXPECT_EQ(res(request(4010, kMgmtCmdAdd, table(8, {record(1, 1)}))), 1u);
  EXPECT_EQ(res(request(4013, kMgmtCmdDel, table(8, {record(1, 1)}))), 1u);
  EXPECT_EQ(res(request(4010, kMgmtCmdGet, table(8, std::vector<std::vector<uint8_t>>(7, record(1, 0))))),
            1u);
  EXPECT_EQ(res(request(4010, kMgmtCmdGet, table(4, {{1, 0, 0, 0}}))), 1u);
  // A bad port cuts a GET's count there.
  const auto reply = request(4013, kMgmtCmdGet, table(8, {record(6, 0), record(9, 0), record(1, 0)}));
  EXPECT_EQ(res(reply), 0u);
  EXPECT_EQ(count(reply), 1u);
  for (uint32_t p = 1; p <= 6; ++p) {
    EXPECT_EQ(state->mirror_ingress[p], 0u);
    EXPECT_EQ(state->mirror_egress[p], 0u);
  }
}

TEST_F(L2Mirror, ConfigurationComesBackAfterARestart) {
  request(4009, kMgmtCmdSet, u32_data(3));
  set_table(4010, {record(1, 1)});
  set_table(4013, {record(1, 1), record(6, 1)});
  restart_daemon();
  EXPECT_EQ(state->mirror_monitor_port, 3u);
  EXPECT_EQ(state->mirror_ingress[1], 1u);
  EXPECT_EQ(state->mirror_egress[1], 1u);
  EXPECT_EQ(state->mirror_egress[6], 1u);
  EXPECT_EQ(chip.peek(2, 0, 0xF0) & 0x1F, 2u);
  // Port 1 is egress-mirrored: its destination entry also sends to the monitor port.
  EXPECT_EQ(chip.peek(2, 0, 0x40), 1u | 1u << 2);
}

TEST_F(L2Mirror, MissingBlocksAreSkippedButTheChipStillGetsItsMasks) {
  for (uint32_t id : {kL2MirrorConfMonitor, kL2MirrorConfIngress, kL2MirrorConfEgress}) conf_create(id, 0);
  const SwcInitSetup setup{1, 1, 0, -1, 0};
  swc_init_state(&setup);
  map_board_ports();
  chip.write(2, 0, 0x42, 0);
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_TRUE(block(kL2MirrorConfMonitor).empty());
  EXPECT_EQ(chip.peek(2, 0, 0x42), 1u << 2);
}

TEST_F(L2Mirror, BlockWithTooManyEntriesIsReadAsFarAsItReaches) {
  uint8_t *b = conf_create(kL2MirrorConfIngress, 52);
  ASSERT_NE(b, nullptr);
  le_store16(b, 500);
  le_store32(b + 4 + 5 * 8, 6);
  le_store32(b + 4 + 5 * 8 + 4, 1);
  conf_close(kL2MirrorConfIngress);
  l2_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(state->mirror_ingress[6], 1u);
}

TEST_F(L2Mirror, DebugFlagLeavesTheConfigurationAlone) {
  request(4009, kMgmtCmdSet, u32_data(4));
  process_state().debug_flags[kL2DebugDisableMirror] = 1;
  restart_daemon();
  EXPECT_EQ(state->mirror_monitor_port, 1u);
  uint32_t port = 0;
  mirror_monitor_get(port);
  EXPECT_EQ(port, 1u);
  // Nor are defaults written.
  l2_conf(ConfAction{kConfActionCreate, 0});
  EXPECT_EQ(le_load32(block(kL2MirrorConfMonitor).data()), 4u);
}

}  // namespace
