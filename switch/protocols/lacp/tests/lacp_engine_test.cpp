#include "lacp_test_host.h"
#include "trace.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace lacp;
using namespace lacp_test;

namespace {

class LacpPair : public ::testing::Test {
 protected:
  void SetUp() override { trace_option_apply("lacp", "noise"); }
  void TearDown() override { trace_reset_levels(); }

  // Ports 1 and 2 of both systems up with key 1: one aggregation of two ports on each side.
  void form_two_port_aggregation() {
    net.configure_all(1);
    net.link(1, 1);
    net.link(2, 1);
    net.seconds(8);
  }
  static bool has(const std::vector<std::string> &events, const std::string &e) {
    return std::find(events.begin(), events.end(), e) != events.end();
  }

  BackToBack net;
};

TEST_F(LacpPair, TwoLinkedPortsFormOneAggregationOnBothSides) {
  form_two_port_aggregation();
  for (Engine *e : {&net.a, &net.b}) {
    const Port &p1 = e->port(1), &p2 = e->port(2);
    EXPECT_EQ(p1.mux_state, kMuxCollectingDistributing);
    EXPECT_EQ(p2.mux_state, kMuxCollectingDistributing);
    EXPECT_EQ(p1.selected_aggregator, p2.selected_aggregator);
    EXPECT_EQ(p1.actor_state & (kStateSync | kStateCollecting | kStateDistributing), 0x38);
    EXPECT_TRUE(e->get_aggr_status(p1.selected_aggregator, nullptr));
  }
  unsigned aid = net.a.port(1).selected_aggregator;
  EXPECT_TRUE(has(net.host_a.events, "set " + std::to_string(aid) + " 1"));
  EXPECT_TRUE(has(net.host_a.events, "set " + std::to_string(aid) + " 2"));
  EXPECT_EQ(net.a.port(1).partner_oper.system, net.host_b.system_mac());
  EXPECT_EQ(net.a.port(2).partner_oper.port, 2);
}

TEST_F(LacpPair, AggregatorListsNewestPortFirst) {
  form_two_port_aggregation();
  const Aggregator &agg = net.a.aggregator(net.a.port(1).selected_aggregator);
  EXPECT_EQ(agg.port_count, 2);
  unsigned first = agg.first_port;
  EXPECT_EQ(net.a.port(first).next_in_aggregator, first == 1 ? 2u : 1u);
}

TEST_F(LacpPair, AggregationStatusRecord) {
  form_two_port_aggregation();
  unsigned aid = net.a.port(1).selected_aggregator;
  uint8_t rec[kAggrStatusSize];
  ASSERT_TRUE(net.a.get_aggr_status(aid, rec));
  EXPECT_EQ(rec[0], aid);
  Mac partner;
  std::copy(rec + 4, rec + 10, partner.begin());
  EXPECT_EQ(partner, net.host_b.system_mac());
  EXPECT_EQ(rec[12] | rec[13] << 8, 32768);
  EXPECT_EQ(rec[14] | rec[15] << 8, 0x0103);
  EXPECT_EQ(rec[20], 1);
  EXPECT_EQ(rec[21], 1);
  EXPECT_EQ(rec[22], 0);
  uint32_t age_then = rec[16];
  net.seconds(5);
  net.a.get_aggr_status(aid, rec);
  EXPECT_EQ(rec[16], age_then + 5);
}

TEST_F(LacpPair, PortLeavingByLinkDownClearsItsHardwareMembership) {
  form_two_port_aggregation();
  unsigned aid = net.a.port(1).selected_aggregator;
  net.host_a.events.clear();
  net.link(2, 0);
  net.seconds(2);
  EXPECT_TRUE(has(net.host_a.events, "clear " + std::to_string(aid) + " 2"));
  EXPECT_EQ(net.a.port(2).rx_state, kRxPortDisabled);
  EXPECT_EQ(net.a.port(1).mux_state, kMuxCollectingDistributing);
  EXPECT_FALSE(net.a.get_aggr_status(net.a.port(1).selected_aggregator, nullptr));
  // Back up: the port rejoins the same aggregation.
  net.link(2, 1);
  net.seconds(8);
  EXPECT_EQ(net.a.port(2).selected_aggregator, net.a.port(1).selected_aggregator);
  EXPECT_EQ(net.a.port(2).mux_state, kMuxCollectingDistributing);
}

TEST_F(LacpPair, SilentPartnerExpiresThenDefaultsAndTheAggregationGoes) {
  form_two_port_aggregation();
  net.host_a.events.clear();
  net.mute_b[1] = true;
  net.seconds(3);
  EXPECT_EQ(net.a.port(1).rx_state, kRxExpired);
  EXPECT_TRUE(net.a.port(1).actor_state & kStateExpired);
  net.seconds(3);
  EXPECT_EQ(net.a.port(1).rx_state, kRxDefaulted);
  EXPECT_TRUE(net.a.port(1).actor_state & kStateDefaulted);
  EXPECT_TRUE(is_zero(net.a.port(1).partner_oper.system));
  EXPECT_NE(net.a.port(1).selected_aggregator, net.a.port(2).selected_aggregator);
  EXPECT_EQ(std::count_if(net.host_a.events.begin(), net.host_a.events.end(),
                          [](const std::string &e) { return e.rfind("clear", 0) == 0; }),
            1);
}

TEST_F(LacpPair, DifferentKeysNeverShareAnAggregator) {
  net.configure_all(1);
  net.a.set_portconfig(2, port_config(2).data());
  net.link(1, 1);
  net.link(2, 1);
  net.seconds(10);
  EXPECT_NE(net.a.port(1).selected_aggregator, net.a.port(2).selected_aggregator);
  EXPECT_NE(net.b.port(1).selected_aggregator, net.b.port(2).selected_aggregator);
  // Each link is collecting on its own: no aggregator holds two ports.
  for (unsigned id = 1; id <= kAggregatorCount; ++id) {
    EXPECT_FALSE(net.a.get_aggr_status(id, nullptr));
    EXPECT_FALSE(net.b.get_aggr_status(id, nullptr));
  }
  EXPECT_EQ(net.a.port(2).actor_oper_key, 0x0203);
}

TEST_F(LacpPair, DifferentSpeedsGiveDifferentKeys) {
  net.configure_all(1);
  net.host_a.speed[2] = 100;
  net.host_b.speed[2] = 100;
  net.link(1, 1);
  net.link(2, 1);
  net.seconds(10);
  EXPECT_EQ(net.a.port(1).actor_oper_key, 0x0103);
  EXPECT_EQ(net.a.port(2).actor_oper_key, 0x0102);
  EXPECT_NE(net.a.port(1).selected_aggregator, net.a.port(2).selected_aggregator);
}

TEST_F(LacpPair, HalfDuplexPortIsLacpDisabledWithAnIndividualAggregator) {
  net.configure_all(1);
  net.host_a.duplex[3] = 0;
  net.link(3, 1);
  net.seconds(5);
  const Port &p = net.a.port(3);
  EXPECT_FALSE(p.has(kLacpEnabled));
  EXPECT_EQ(p.rx_state, kRxLacpDisabled);
  ASSERT_NE(p.selected_aggregator, 0u);
  EXPECT_EQ(net.a.aggregator(p.selected_aggregator).individual, 1);
  EXPECT_EQ(net.host_a.sent_lacpdus(3), 0u);
}

TEST_F(LacpPair, ShortTimeoutPartnerKeepsFastPeriodicLongTimeoutSlow) {
  net.configure_all(1);
  net.link(1, 1);
  net.seconds(10);
  size_t before = net.host_a.sent_lacpdus(1);
  net.seconds(20);
  EXPECT_EQ(net.host_a.sent_lacpdus(1) - before, 10u) << "one every 2 s";

  for (unsigned p = 1; p <= kPortCount; ++p) {
    net.a.set_portconfig(p, port_config(1, 1, 0).data());
    net.b.set_portconfig(p, port_config(1, 1, 0).data());
  }
  net.seconds(40);
  before = net.host_a.sent_lacpdus(1);
  net.seconds(90);
  EXPECT_EQ(net.host_a.sent_lacpdus(1) - before, 3u) << "one every 30 s";
  EXPECT_EQ(net.a.port(1).mux_state, kMuxCollectingDistributing) << "90 s partner timeout not hit";
}

TEST_F(LacpPair, PassiveBothEndsSendNothingActiveAgainstPassiveAggregates) {
  for (unsigned p = 1; p <= kPortCount; ++p) {
    net.a.set_portconfig(p, port_config(1, 1, 1, 0).data());
    net.b.set_portconfig(p, port_config(1, 1, 1, 0).data());
  }
  EXPECT_FALSE(net.a.port(1).actor_state & kStateActivity) << "passive can be configured";
  net.link(1, 1);
  net.link(2, 1);
  net.seconds(10);
  size_t quiet = net.host_a.sent_lacpdus(1);
  net.seconds(30);
  EXPECT_EQ(net.host_a.sent_lacpdus(1), quiet) << "no periodic transmission between passive ends";
  EXPECT_EQ(net.a.port(1).periodic_state, kNoPeriodic);

  net.a.set_portconfig(1, port_config(1).data());
  net.a.set_portconfig(2, port_config(1).data());
  net.seconds(10);
  EXPECT_EQ(net.a.port(1).mux_state, kMuxCollectingDistributing);
  EXPECT_EQ(net.b.port(2).mux_state, kMuxCollectingDistributing);
  EXPECT_TRUE(net.b.get_aggr_status(net.b.port(1).selected_aggregator, nullptr));
}

TEST_F(LacpPair, AtMostThreeLacpdusPerPortAndSecond) {
  form_two_port_aggregation();
  net.host_a.sent.clear();
  net.delivered_a = 0;
  auto pdu_from_b = [&](uint16_t key) {
    std::vector<uint8_t> f(kPduLength);
    PortInfo actor{32768, net.host_b.system_mac(), key, 32768, 1, 0x3F};
    PortInfo partner{1, Mac{9, 9, 9, 9, 9, 9}, 0, 0, 0, 0};  // never what A is: A must answer
    encode_lacpdu(net.host_b.port_mac(1), actor, partner, f.data());
    return f;
  };
  net.host_a.traces.clear();
  net.a.tick();
  for (uint16_t k = 0; k < 4; ++k) {
    auto f = pdu_from_b(0x0103);
    net.a.receive(1, f.data(), f.size());
  }
  EXPECT_EQ(net.host_a.sent_lacpdus(1), 3u);
  EXPECT_GE(net.host_a.traces_containing("tx_stev: Port=1 dropped xmit for timelimit"), 1u);
  EXPECT_TRUE(net.a.port(1).ntt);
  net.a.tick();
  EXPECT_EQ(net.host_a.sent_lacpdus(1), 4u) << "the held LACPDU leaves after the next tick";
}

TEST_F(LacpPair, FailedAllocationOrSendKeepsNttForALaterStep) {
  net.configure_all(1);
  net.host_a.alloc_ok = false;
  net.link(1, 1);
  net.seconds(3);
  EXPECT_TRUE(net.a.port(1).ntt);
  EXPECT_EQ(net.a.port(1).counters.lacpdus_sent, 0u);
  net.host_a.alloc_ok = true;
  net.host_a.send_ok = false;
  net.second();
  EXPECT_TRUE(net.a.port(1).ntt);
  EXPECT_GT(net.a.port(1).counters.lacpdus_sent, 0u);
  net.host_a.send_ok = true;
  net.seconds(8);
  EXPECT_EQ(net.a.port(1).mux_state, kMuxCollectingDistributing);
}

// A partner that never reports synchronisation: its actor state lacks the sync bit.
TEST_F(LacpPair, PartnerOutOfSyncForSixtySecondsIsReportedAsChurningOnce) {
  net.configure_all(1);
  net.host_a.link[1] = 1;
  net.a.linkstate_changed(1, 1);
  auto out_of_sync = [&] {
    std::vector<uint8_t> f(kPduLength);
    PortInfo actor{32768, Mac{2, 0, 0, 0, 0xC, 1}, 0x0103, 32768, 1, 0x07};
    encode_lacpdu(Mac{2, 0, 0, 0, 0xC, 1}, actor, PortInfo{}, f.data());
    return f;
  }();
  for (unsigned s = 0; s < 120; ++s) {
    net.a.tick();
    net.a.receive(1, out_of_sync.data(), out_of_sync.size());
    for (unsigned pass = 0; pass < kPortCount; ++pass) net.a.more_work();
  }
  EXPECT_EQ(net.host_a.traces_containing("Port 1 to partner 02-00-00-00-0C-01 (port 1) is churning"), 1u);
  EXPECT_TRUE(net.a.port(1).has(kPartnerChurn));
}

TEST_F(LacpPair, SynchronisedPartnerStopsChurnDetection) {
  form_two_port_aggregation();
  net.seconds(120);
  EXPECT_EQ(net.host_a.traces_containing("is churning"), 0u);
  EXPECT_EQ(net.a.port(1).churn_state, kNoChurn);
}

TEST_F(LacpPair, MarkerRequestIsAnsweredWithTheSameBytesButAddressesAndType) {
  form_two_port_aggregation();
  std::vector<uint8_t> req(kPduLength + 4, 0);
  const Mac b3 = net.host_b.port_mac(3);
  std::copy(kSlowProtocolsMac.begin(), kSlowProtocolsMac.end(), req.begin());
  std::copy(b3.begin(), b3.end(), req.begin() + 6);
  req[12] = 0x88;
  req[13] = 0x09;
  req[14] = kSubtypeMarker;
  req[15] = 1;
  req[16] = kMarkerInformation;
  req[17] = 16;
  req[19] = 3;
  for (size_t i = 20; i < 34; ++i) req[i] = static_cast<uint8_t>(0x40 + i);
  net.host_a.sent.clear();
  net.delivered_a = 0;
  net.a.receive(1, req.data(), req.size());
  ASSERT_EQ(net.host_a.sent.size(), 1u);
  const auto &resp = net.host_a.sent[0].bytes;
  ASSERT_EQ(resp.size(), kPduLength);
  auto expected = std::vector<uint8_t>(req.begin(), req.begin() + kPduLength);
  const Mac a1 = net.host_a.port_mac(1);
  std::copy(a1.begin(), a1.end(), expected.begin() + 6);
  expected[16] = kMarkerResponse;
  EXPECT_EQ(resp, expected);
  EXPECT_EQ(net.a.port(1).counters.markers_received, 1u);
  EXPECT_EQ(net.a.port(1).counters.marker_responses_sent, 1u);

  net.b.receive(1, resp.data(), resp.size());
  EXPECT_EQ(net.b.port(1).counters.marker_responses_received, 1u);
  auto bad = resp;
  bad[16] = 7;
  net.b.receive(1, bad.data(), bad.size());
  EXPECT_EQ(net.b.port(1).counters.illegal, 1u);
  EXPECT_EQ(net.host_b.traces_containing("Ignored bad marker resp from port 1 tvl type 0x7"), 1u);
}

TEST_F(LacpPair, MalformedFramesAreCountedAndDropped) {
  form_two_port_aggregation();
  const Port before = net.a.port(1);
  std::vector<uint8_t> f(kPduLength);
  encode_lacpdu(net.host_b.port_mac(1), PortInfo{1, Mac{7, 7, 7, 7, 7, 7}, 5, 5, 5, 0x3F}, PortInfo{},
                f.data());

  net.a.receive(1, f.data(), 60);
  EXPECT_EQ(net.host_a.traces_containing("Ignoring xxPDU frame from port 1 with short length (60)"), 1u);
  auto unknown = f;
  unknown[kOffSubtype] = 9;
  net.a.receive(1, unknown.data(), unknown.size());
  EXPECT_EQ(net.host_a.traces_containing("with unknown subtype (0x9)"), 1u);
  auto bad_tlv = f;
  bad_tlv[17] = 0xFF;
  net.a.receive(1, bad_tlv.data(), bad_tlv.size());

  const Port &after = net.a.port(1);
  EXPECT_EQ(after.counters.illegal, before.counters.illegal + 2);
  EXPECT_EQ(after.counters.unknown_subtype, before.counters.unknown_subtype + 1);
  EXPECT_EQ(after.counters.lacpdus_received, before.counters.lacpdus_received);
  EXPECT_EQ(after.partner_oper, before.partner_oper) << "nothing of a dropped frame was taken";
}

TEST_F(LacpPair, OwnLacpduLoopedBackIsReportedAndIgnored) {
  net.configure_all(1);
  net.link(1, 1);
  net.seconds(3);
  ASSERT_FALSE(net.host_a.sent.empty());
  auto own = net.host_a.sent.back().bytes;
  ASSERT_EQ(own[kOffSubtype], kSubtypeLacp);
  const PortInfo partner_before = net.a.port(1).partner_oper;
  net.a.receive(1, own.data(), own.size());
  EXPECT_EQ(net.host_a.traces_containing("An illegal loopback occurred on port 1"), 1u);
  EXPECT_EQ(net.a.port(1).partner_oper, partner_before);
}

TEST_F(LacpPair, EmptiedAggregatorKeepsItsIdentifierAndIsReused) {
  form_two_port_aggregation();
  unsigned aid = net.a.port(1).selected_aggregator;
  net.link(1, 0);
  net.link(2, 0);
  net.seconds(3);
  EXPECT_NE(net.a.port(1).selected_aggregator, net.a.port(2).selected_aggregator);
  for (unsigned id = 1; id <= kAggregatorCount; ++id) EXPECT_EQ(net.a.aggregator(id).id, id);
  (void)aid;
  for (unsigned id = 1; id <= kAggregatorCount; ++id)
    EXPECT_FALSE(net.a.get_aggr_status(id, nullptr)) << "the identifier check holds for every aggregator";
  net.link(1, 1);
  net.link(2, 1);
  net.seconds(8);
  EXPECT_EQ(net.a.port(1).mux_state, kMuxCollectingDistributing);
  EXPECT_TRUE(net.a.get_aggr_status(net.a.port(1).selected_aggregator, nullptr));
}

TEST_F(LacpPair, SystemConfigChangeRestartsPortsAndZeroMacKeepsTheCurrentOne) {
  form_two_port_aggregation();
  uint8_t sys[kSystemConfigSize];
  net.a.get_config(sys);
  EXPECT_EQ(sys[0] | sys[1] << 8, 32768);
  Mac own;
  std::copy(sys + 4, sys + 10, own.begin());
  EXPECT_EQ(own, net.host_a.system_mac());

  encode_system_config(SystemConfig{100, Mac{}}, sys);
  net.host_a.events.clear();
  net.a.set_config(sys);
  net.seconds(1);
  EXPECT_EQ(net.a.system().priority, 100);
  EXPECT_EQ(net.a.system().mac, own);
  EXPECT_EQ(net.host_a.events.size(), 2u) << "both ports left their hardware aggregation";
  net.seconds(8);
  EXPECT_EQ(net.b.port(1).partner_oper.system_priority, 100);
  EXPECT_EQ(net.b.port(1).mux_state, kMuxCollectingDistributing);
}

TEST_F(LacpPair, PortStatusRecordLayout) {
  form_two_port_aggregation();
  uint8_t rec[kPortStatusSize];
  net.a.get_port_status(2, rec);
  EXPECT_EQ(rec[0] | rec[1] << 8, 2);
  EXPECT_EQ(rec[2], 1);
  EXPECT_EQ(rec[3], 1);
  EXPECT_EQ(rec[4] | rec[5] << 8, 0x0103);
  EXPECT_EQ(rec[6] | rec[7] << 8, 1);
  EXPECT_EQ(rec[8] | rec[9] << 8, net.a.port(2).selected_aggregator);
  EXPECT_EQ(rec[10] | rec[11] << 8, 32768);
  EXPECT_EQ(rec[12] | rec[13] << 8, 2);
  auto counter = [&](unsigned i) {
    const uint8_t *c = rec + 16 + 4 * i;
    return static_cast<uint32_t>(c[0] | c[1] << 8 | c[2] << 16 | c[3] << 24);
  };
  EXPECT_EQ(counter(0), net.a.port(2).counters.lacpdus_sent);
  EXPECT_EQ(counter(1), net.a.port(2).counters.lacpdus_received);
  EXPECT_GT(counter(1), 0u);
  EXPECT_EQ(counter(2), 0u);
}

TEST_F(LacpPair, SweepAdvancesOnePortPerPassAndApiCallsFinishIt) {
  net.configure_all(1);
  for (unsigned p = 1; p <= kPortCount; ++p) net.cut[p] = true;
  net.link(2, 1);
  net.link(6, 1);
  net.seconds(2);
  ASSERT_EQ(net.a.port(2).rx_state, kRxExpired);
  ASSERT_EQ(net.a.port(2).current_while, 3);
  ASSERT_EQ(net.a.port(6).current_while, 3);

  net.a.tick();  // steps port 1 only
  EXPECT_EQ(net.a.port(2).current_while, 3);
  net.a.more_work();  // port 2
  EXPECT_EQ(net.a.port(2).current_while, 2);
  EXPECT_EQ(net.a.port(6).current_while, 3);
  uint8_t rec[kPortStatusSize];
  net.a.get_port_status(1, rec);  // finishes the sweep: ports 3..6
  EXPECT_EQ(net.a.port(6).current_while, 2);
  for (unsigned pass = 0; pass < kPortCount; ++pass) net.a.more_work();
  EXPECT_EQ(net.a.port(2).current_while, 2) << "no port is stepped twice in one second";
  EXPECT_EQ(net.a.port(6).current_while, 2);
}

}  // namespace
