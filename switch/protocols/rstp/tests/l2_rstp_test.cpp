// The module glue: block 21, objects 4019-4021 and the timer-driven entry points on the daemon's store.
#include "l2_rstp.h"
#include "rstp_net.h"

#include "conf.h"
#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "process_util.h"
#include "trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace rstp::test {
namespace {

class Glue : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("PORTVISOR_WORKDIR", dir.path().c_str(), 1);
    process_state() = DaemonState{};
    timer_reg_init();
    loop_hooks_init();
    conf_reset();
    host.link[1] = host.link[2] = true;
    l2_rstp_services_set(&host);
    l2_rstp_init();
  }
  void TearDown() override {
    l2_rstp_services_set(nullptr);
    conf_reset();
    loop_hooks_init();
    timer_reg_init();
    unsetenv("PORTVISOR_WORKDIR");
  }
  std::vector<uint8_t> object(uint32_t id, uint32_t cmd, size_t data) {
    std::vector<uint8_t> o(kMgmtHeaderSize + data, 0);
    le_store32(o.data(), id);
    le_store32(o.data() + 4, cmd);
    le_store32(o.data() + 8, 0xFF);
    le_store16(o.data() + 14, uint16_t(o.size()));
    return o;
  }
  uint32_t run(void (*handler)(MgmtObject &), std::vector<uint8_t> &o) {
    MgmtObject obj{o.data(), uint16_t(o.size())};
    handler(obj);
    return obj.res();
  }
  TempDir dir;
  FakeHost host{1};
};

TEST_F(Glue, FreshConfigurationSwitchesTheProtocolOffOnEveryPort) {
  l2_rstp_conf(1);
  uint32_t size = 0;
  const uint8_t *block = conf_open(kConfBlock, &size);
  ASSERT_NE(block, nullptr);
  ASSERT_EQ(size, kConfigSize);
  Config c = decode_config(block);
  EXPECT_EQ(c.bridge, BridgeConfig{});
  for (const PortConfig &p : c.ports) EXPECT_EQ(p.enabled, 0);
  EXPECT_EQ(host.stp[1], kStpEnabled);
  EXPECT_EQ(host.stp[4], kStpEnabled);
}

TEST_F(Glue, ConfigObjectSetAppliesSavesAndRejectsUnusableTimes) {
  l2_rstp_conf(1);
  Config c;
  c.bridge.priority = 4096;
  c.ports[2].admin_cost = 77;
  auto set = object(4019, kMgmtCmdSet, kConfigSize);
  encode_config(c, set.data() + kMgmtHeaderSize);
  EXPECT_EQ(run(l2_rstp_config, set), kMgmtResOk);
  EXPECT_EQ(l2_rstp_engine()->config().priority, 4096);
  uint32_t size = 0;
  EXPECT_EQ(decode_config(conf_open(kConfBlock, &size)).ports[2].admin_cost, 77u);

  c.bridge.hello_time = 0;
  encode_config(c, set.data() + kMgmtHeaderSize);
  EXPECT_EQ(run(l2_rstp_config, set), kMgmtResFail);
  EXPECT_EQ(l2_rstp_engine()->config().hello_time, 2);

  auto get = object(4019, kMgmtCmdGet, kConfigSize);
  EXPECT_EQ(run(l2_rstp_config, get), kMgmtResOk);
  EXPECT_EQ(le_load16(get.data() + kMgmtHeaderSize), 4096);

  auto short_get = object(4019, kMgmtCmdGet, kConfigSize - 1);
  EXPECT_EQ(run(l2_rstp_config, short_get), kMgmtResFail);
}

TEST_F(Glue, StatusObjectLaysOutBridgeAndPortRecords) {
  auto st = object(4020, kMgmtCmdGet, kStatusSize);
  ASSERT_EQ(run(l2_rstp_status, st), kMgmtResOk);
  const uint8_t *d = st.data() + kMgmtHeaderSize;
  int slot = l2_rstp_engine()->bridge_of_vid(kDefaultVid);
  const uint8_t *b = d + kBridgeStatusSize * unsigned(slot);
  EXPECT_EQ(le_load16(b), 0x8000);
  EXPECT_EQ(std::vector<uint8_t>(b + 4, b + 10),
            std::vector<uint8_t>(host.macs[1].begin(), host.macs[1].end()));
  EXPECT_EQ(le_load16(b + 38), kDefaultVid);
  EXPECT_EQ(b[42], 1);
  const uint8_t *p7 = d + 312 + kPortStatusSize * 7;
  EXPECT_EQ(le_load16(p7), 7);
  EXPECT_EQ(p7[30], 4);  // aggregation port without members: not running the protocol
  EXPECT_EQ(p7[32], kRoleNonStp);
  const uint8_t *p1 = d + 312 + kPortStatusSize * 1;
  EXPECT_EQ(le_load16(p1), 1);
  EXPECT_EQ(le_load32(p1 + 24), 20000u);
  EXPECT_EQ(p1[31], 1);
  auto short_st = object(4020, kMgmtCmdGet, kStatusSize - 4);
  EXPECT_EQ(run(l2_rstp_status, short_st), kMgmtResFail);
}

TEST_F(Glue, McheckByteZeroForcesTheAggregationPorts) {
  auto m = object(4021, kMgmtCmdSet, kMcheckSize);
  m[kMgmtHeaderSize] = 1;
  EXPECT_EQ(run(l2_rstp_mcheck, m), kMgmtResOk);
  for (unsigned p = 7; p <= 9; ++p) EXPECT_TRUE(l2_rstp_engine()->port(p).mcheck);
  EXPECT_FALSE(l2_rstp_engine()->port(1).mcheck);
}

TEST_F(Glue, AggregationEntryPointsMapTheMembers) {
  const uint32_t members[7] = {0, 1, 1, 0, 0, 0, 0};
  swc_rstp_aggr_add(9, members);
  EXPECT_EQ(l2_rstp_engine()->representative(2), 9u);
  uint8_t ps[kPortStatusSize];
  swc_rstp_get_port_status(2, ps);
  EXPECT_EQ(le_load16(ps + 28), 9);
  swc_rstp_aggr_del(9);
  EXPECT_EQ(l2_rstp_engine()->representative(2), 2u);
}

TEST_F(Glue, TimerConvertsMillisecondsIntoTicks) {
  uint16_t before = l2_rstp_engine()->ticks();
  EXPECT_EQ(rstp_tick(10000, 0, 0), 10000u);
  EXPECT_EQ(rstp_tick(13600, 10000, 3600), 13000u);
  EXPECT_EQ(l2_rstp_engine()->ticks(), before + 4);
  EXPECT_EQ(rstp_tick(38600, 13000, 25600), 38600u);
  EXPECT_EQ(l2_rstp_engine()->ticks(), before + 5);
  EXPECT_TRUE(host.traced("Timer jumped more than 20 ticks: reset"));
}

TEST_F(Glue, EntryPointsRunTheEngine) {
  uint8_t pc[kPortConfigSize] = {};
  swc_rstp_get_portconfig(2, pc);
  EXPECT_EQ(pc[4], 128);
  pc[7] = 0;  // not an edge port
  swc_rstp_set_portconfig(2, pc);
  EXPECT_FALSE(l2_rstp_engine()->port_config(2).admin_edge);
  for (uint32_t now = 1000; now <= 40000; now += 500) {
    timer_dispatch(now);
    for (int pass = 0; pass < 12; ++pass) swc_rstp_more_work();
  }
  EXPECT_EQ(host.stp[2], kStpForwarding);
  uint8_t ps[kPortStatusSize];
  swc_rstp_get_port_status(2, ps);
  EXPECT_EQ(ps[32], kRoleDesignated);
  EXPECT_GT(le_load32(ps + 36 + 8), 0u) << "RST BPDUs sent";
}

}  // namespace
}  // namespace rstp::test
