// Two portvisor aggregation modules, each with its LACP engine, cabled back to back on a virtual clock.
#include "aggr_test_services.h"
#include "conf.h"
#include "le.h"
#include "loop.h"
#include "mgmt.h"
#include "process_util.h"
#include "trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace lacp;
using namespace lacp_test;

namespace {

class TwoSwitches : public ::testing::Test {
 protected:
  void SetUp() override {
    a.init();
    b.init();
    for (unsigned p = 1; p <= kPortCount; ++p) {
      a.engine().set_portconfig(p, port_config(1).data());
      b.engine().set_portconfig(p, port_config(1).data());
    }
  }
  void link(unsigned port, int up) {
    sa.link[port] = sb.link[port] = up;
    a.engine().linkstate_changed(port, up);
    b.engine().linkstate_changed(port, up);
  }
  void deliver() {
    while (na < sa.sent.size() || nb < sb.sent.size()) {
      for (; na < sa.sent.size(); ++na)
        b.engine().receive(sa.sent[na].port, sa.sent[na].bytes.data(), sa.sent[na].bytes.size());
      for (; nb < sb.sent.size(); ++nb)
        a.engine().receive(sb.sent[nb].port, sb.sent[nb].bytes.data(), sb.sent[nb].bytes.size());
    }
  }
  // The main loop: the 500-ms timer drives the ticks, every pass steps one port.
  void run_ms(uint32_t ms) {
    for (uint32_t end = now + ms; now < end;) {
      now += 500;
      last_a = a.tick(now, last_a, now - last_a);
      last_b = b.tick(now, last_b, now - last_b);
      for (unsigned pass = 0; pass < kPortCount; ++pass) {
        a.engine().more_work();
        b.engine().more_work();
        deliver();
      }
    }
  }
  std::vector<uint8_t> status(AggrModule &m) {
    std::vector<uint8_t> bytes(kMgmtHeaderSize + kLacpStatusSize, 0);
    le_store32(bytes.data(), kObjLacpStatus);
    le_store16(bytes.data() + 14, static_cast<uint16_t>(bytes.size()));
    MgmtObject obj{bytes.data(), static_cast<uint16_t>(bytes.size())};
    m.mgmt_lacp_status(obj);
    EXPECT_EQ(le_load32(bytes.data() + 8), 0u);
    return std::vector<uint8_t>(bytes.begin() + kMgmtHeaderSize, bytes.end());
  }

  DaemonStore store;
  RecordingServices sa{0xA}, sb{0xB};
  AggrModule a{sa, sa}, b{sb, sb};
  size_t na = 0, nb = 0;
  uint32_t now = 100000, last_a = 0, last_b = 0;
};

TEST_F(TwoSwitches, LinkUpFormsAHardwareAggregationOnBothSides) {
  link(1, 1);
  link(2, 1);
  run_ms(10000);
  for (AggrModule *m : {&a, &b}) {
    ASSERT_EQ(m->table_count(), 1u);
    EXPECT_EQ(m->table_entry(0).poag_no, 7u);
    EXPECT_EQ(m->table_entry(0).members, (std::array<uint32_t, 7>{0, 1, 1, 0, 0, 0, 0}));
    EXPECT_NE(m->table_entry(0).aid, 0);
  }
  EXPECT_NE(std::find(sa.calls.begin(), sa.calls.end(), "members 7 12----"), sa.calls.end());
  EXPECT_NE(std::find(sa.calls.begin(), sa.calls.end(), "rstp add 7"), sa.calls.end());

  auto st = status(a);
  EXPECT_EQ(le_load32(st.data()), 1u);
  EXPECT_EQ(le_load16(st.data() + 4), a.table_entry(0).aid);
  EXPECT_EQ(st[4 + 4 + 4], 0x0B) << "partner system MAC of B";
  EXPECT_EQ(st[4 + 20], 1);
  EXPECT_EQ(st[4 + 21], 1);
  const uint8_t *port2 = st.data() + 136 + 48;
  EXPECT_EQ(le_load16(port2), 2);
  EXPECT_EQ(port2[2], 1);
  EXPECT_EQ(port2[3], 1) << "apply flag";
  EXPECT_EQ(le_load16(port2 + 12), 2) << "partner port";
  EXPECT_GT(le_load32(port2 + 16), 0u);
}

TEST_F(TwoSwitches, APortLeavingShrinksAndThenRemovesTheAggregation) {
  for (unsigned p = 1; p <= 3; ++p) link(p, 1);
  run_ms(10000);
  ASSERT_EQ(a.table_count(), 1u);
  EXPECT_EQ(a.table_entry(0).members, (std::array<uint32_t, 7>{0, 1, 1, 1, 0, 0, 0}));
  link(3, 0);
  run_ms(2000);
  EXPECT_EQ(a.table_entry(0).members, (std::array<uint32_t, 7>{0, 1, 1, 0, 0, 0, 0}));
  link(2, 0);
  run_ms(2000);
  EXPECT_EQ(a.table_count(), 0u);
  EXPECT_EQ(sa.calls.back(), "members 7 ------");
}

TEST_F(TwoSwitches, MismatchedKeysGiveNoHardwareAggregation) {
  b.engine().set_portconfig(2, port_config(2).data());
  link(1, 1);
  link(2, 1);
  run_ms(12000);
  EXPECT_EQ(a.table_count(), 0u);
  EXPECT_EQ(b.table_count(), 0u);
  EXPECT_EQ(le_load32(status(a).data()), 0u);
}

TEST_F(TwoSwitches, ConfiguredAggregationKeepsItsNumberAndLacpTakesTheNext) {
  a.config_add(entry(7, {5, 6}));
  link(1, 1);
  link(2, 1);
  run_ms(10000);
  ASSERT_EQ(a.table_count(), 2u);
  EXPECT_EQ(a.table_entry(1).poag_no, 8u);
  EXPECT_EQ(b.table_entry(0).poag_no, 7u);
}

TEST_F(TwoSwitches, ReadingTheConfigurationRebuildsAnAggregationItRemoved) {
  link(1, 1);
  link(2, 1);
  run_ms(10000);
  ASSERT_EQ(a.table_count(), 1u);
  uint8_t *block = conf_create(kConfBlockTable, kTableBlockSize);
  std::fill(block, block + kTableBlockSize, 0);
  le_store16(block + 2, kAggrEntrySize);
  conf_close(kConfBlockTable);
  a.conf(false);
  EXPECT_EQ(a.table_count(), 0u);
  run_ms(10000);
  ASSERT_EQ(a.table_count(), 1u) << "the LACP ports negotiated again and the glue rebuilt the aggregation";
  EXPECT_EQ(a.table_entry(0).members, (std::array<uint32_t, 7>{0, 1, 1, 0, 0, 0, 0}));
}

// The daemon's entry points on the process-wide module, driven by the main loop's timer registry.
TEST(LacpEntryPoints, TimerRegistryDrivesTheEngineThroughTheDaemonNames) {
  DaemonStore store;
  RecordingServices services{0xC};
  services.link[4] = 1;
  lacp::l2_aggr_services_set(&services, &services);
  l2_aggr_init();
  l2_aggr_conf(1);
  uint8_t config[kPortConfigSize];
  encode_port_config(PortConfig{32768, 3, 1, 1, 1}, config);
  swc_lacp_set_portconfig(4, config);
  uint8_t back[kPortConfigSize];
  swc_lacp_get_portconfig(4, back);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 8), std::vector<uint8_t>(config, config + 8));

  for (uint32_t now = 1000; now <= 6000; now += 500) {
    timer_dispatch(now);
    for (int pass = 0; pass < 6; ++pass) swc_lacp_more_work();
  }
  EXPECT_GE(services.sent.size(), 2u) << "LACPDUs leave port 4 every 2 s";
  EXPECT_EQ(services.sent.front().port, 4u);
  uint8_t st[kPortStatusSize];
  swc_lacp_get_port_status(4, st);
  EXPECT_EQ(le_load16(st + 4), 0x0303);
  EXPECT_EQ(le_load32(st + 16), services.sent.size());
  EXPECT_EQ(services.apply[4], 1);

  // A marker request through the dispatch's receiver shape is answered on the same port.
  std::vector<uint8_t> marker(kPduLength, 0);
  marker[kOffSubtype] = kSubtypeMarker;
  marker[kOffMarkerTlv] = kMarkerInformation;
  size_t before = services.sent.size();
  swc_lacp_receive(5, marker.data(), static_cast<uint32_t>(marker.size()));
  ASSERT_EQ(services.sent.size(), before + 1);
  EXPECT_EQ(services.sent.back().port, 5u);
  EXPECT_EQ(services.sent.back().bytes[kOffMarkerTlv], kMarkerResponse);

  lacp::l2_aggr_services_set(nullptr, nullptr);
  swc_lacp_more_work();  // a hook left registered finds no module and does nothing
}

}  // namespace
