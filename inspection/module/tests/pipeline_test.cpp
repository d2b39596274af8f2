// Received packets through the hook, the engine model and the interrupt handler: verdicts, events,
// repetition counting, header conditions, PPPoE and malformed frames.
#include <gtest/gtest.h>

#include "packet_builder.h"
#include "vorn_engine.h"
#include "vorn_engine_format.h"
#include "vorn_fixture.h"
#include "vorn_log.h"
#include "vorn_pipeline.h"
#include "vorn_verdict.h"
#include "vorn_sigc.h"
#include "vorn_tracker.h"

namespace vorn_test {
namespace {

using namespace vorn;

Signature sig(uint16_t rule_id, const std::string &pattern, bool nocase, uint8_t category) {
  Signature s;
  s.rule_id = rule_id;
  s.pattern = pattern;
  s.nocase = nocase;
  s.category = category;
  return s;
}

class Pipeline : public VornTest {
 protected:
  // Compiles the signatures into the basic image, downloads it and switches inspection on.
  void install(SignatureCompiler &compiler, EngineImage image = basic_image()) {
    compiler.compile(&image);
    install_image(image);
  }
  void install_one(const std::string &pattern, uint16_t rule_id = 7, uint8_t app = 0) {
    SignatureCompiler compiler;
    Signature s;
    s.rule_id = rule_id;
    s.pattern = pattern;
    s.category = 2;
    s.app_id = app;
    compiler.add(s);
    install(compiler);
  }
  // A rule that counts: it hits only after 2 hits within 10 seconds of the first counted one.
  void install_counted_rule() {
    SignatureCompiler compiler;
    Signature s = sig(13, "brute", false, 3);
    s.threshold = 2;
    s.duration = 10;
    compiler.add(s);
    install(compiler);
  }
};

TEST_F(Pipeline, SignatureInTcpPayloadIsDroppedAndLogged) {
  install_one("/etc/passwd", 42);
  kern::clock_set(1700000123);
  send(Packet()
           .from("192.168.1.9", 40000)
           .to("10.0.0.2", 80)
           .carrying("GET /../../etc/passwd HTTP/1.0")
           .bytes());
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(last().fate, kern::Fate::kDropped);
  EXPECT_TRUE(last().inspected);
  auto log = events();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].source, address_as_stored("192.168.1.9"));
  EXPECT_EQ(log[0].attack_id, 42u);
  EXPECT_EQ(log[0].category, 2u);
  EXPECT_EQ(log[0].time, 1700000123u);
}

TEST_F(Pipeline, CleanPacketsPass) {
  install_one("/etc/passwd");
  send(Packet().carrying("GET /index.html HTTP/1.0").bytes());
  send(Packet().udp().to("10.0.0.2", 53).carrying("etc passwd").bytes());
  ASSERT_EQ(deliveries.size(), 2u);
  EXPECT_EQ(deliveries[0].fate, kern::Fate::kDelivered);
  EXPECT_TRUE(deliveries[0].inspected);
  EXPECT_EQ(deliveries[1].fate, kern::Fate::kDelivered);
  EXPECT_TRUE(events().empty());
}

TEST_F(Pipeline, PatternsMatchUdpAndIcmpPayloadsAcrossCase) {
  SignatureCompiler compiler;
  Signature nocase = sig(9, "EvilCommand", true, 2);
  Signature exact = sig(10, "ExactCase", false, 3);
  compiler.add(nocase);
  compiler.add(exact);
  install(compiler);
  send(Packet().udp().carrying("xx evilcommand yy").bytes());
  EXPECT_TRUE(dropped());
  send(Packet().icmp().carrying("ping EVILCOMMAND").bytes());
  EXPECT_TRUE(dropped());
  send(Packet().udp().carrying("exactcase").bytes());
  EXPECT_FALSE(dropped());
  send(Packet().udp().carrying("..ExactCase..").bytes());
  EXPECT_TRUE(dropped());
  auto log = events();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[2].attack_id, 10u);
}

TEST_F(Pipeline, OverlappingPatternsAllReport) {
  SignatureCompiler compiler;
  compiler.add(sig(1, "abcd", false, 2));
  compiler.add(sig(2, "bc", false, 3));
  compiler.add(sig(3, "cde", false, 4));
  install(compiler);
  send(Packet().carrying("xabcdex").bytes());
  EXPECT_TRUE(dropped());
  EXPECT_EQ(events().size(), 3u);
}

TEST_F(Pipeline, PatternWithHeaderRuleNeedsTheRightPort) {
  SignatureCompiler compiler;
  Signature s = sig(11, "USER root", false, 3);
  s.header_rule = make_header_rule(0, 0, 0, 0, 0, engine_format::kPortInside, 21, 21);
  compiler.add(s);
  install(compiler);
  send(Packet().to("10.0.0.2", 2121).carrying("USER root").bytes());
  EXPECT_FALSE(dropped());
  send(Packet().to("10.0.0.2", 21).carrying("USER root").bytes());
  EXPECT_TRUE(dropped());
}

TEST_F(Pipeline, HitOfAnApplicationSwitchedOffIsIgnored) {
  install_one("msnp", 12, 2);  // app 2 (MSN) has action 0
  send(Packet().carrying("VER 1 msnp8").bytes());
  EXPECT_FALSE(dropped());
  EXPECT_TRUE(events().empty());
  IM_P2P_AD_Status on{0, 1, 2};
  ASSERT_EQ(ioctl(VORN_IOC_SET_IM_ACTION, &on), 0);
  send(Packet().carrying("VER 1 msnp8").bytes());
  EXPECT_TRUE(dropped());
}

TEST_F(Pipeline, RuleCountsHitsWithinItsDuration) {
  install_counted_rule();
  auto hit = Packet().carrying("brute").bytes();
  send(hit);
  EXPECT_FALSE(dropped());
  kern::clock_advance_ms(4000);
  send(hit);
  EXPECT_FALSE(dropped());
  kern::clock_advance_ms(4000);
  send(hit);
  EXPECT_TRUE(dropped());
  EXPECT_EQ(events().size(), 1u);
}

TEST_F(Pipeline, HitAfterTheDurationRestartsTheCount) {
  install_counted_rule();
  auto hit = Packet().carrying("brute").bytes();
  send(hit);
  send(hit);
  kern::clock_advance_ms(11000);
  send(hit);  // restarts the count without counting itself
  EXPECT_FALSE(dropped());
  send(hit);
  send(hit);
  EXPECT_FALSE(dropped());
  send(hit);
  EXPECT_TRUE(dropped());
}

TEST_F(Pipeline, HeaderOnlyRuleLogsWithItsBase) {
  SignatureCompiler compiler;
  for (uint16_t port : {1000, 1001, 1002, 31337}) {
    HeaderOnlySignature h;
    h.group = EngineImage::Group::kUdp;
    h.rule = make_header_rule(0, 0, 0, 0, 0, engine_format::kPortInside, port, port);
    h.category = 5;
    compiler.add(h);
  }
  install(compiler);  // header-rule base 500
  ASSERT_EQ(compiler.header_index(3), 3);
  send(Packet().udp().to("10.0.0.2", 31337).carrying("x").bytes());
  EXPECT_TRUE(dropped());
  auto log = events();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].attack_id, 503u);
  EXPECT_EQ(log[0].category, 5u);
  send(Packet().to("10.0.0.2", 31337).carrying("x").bytes());  // TCP group has no rules
  EXPECT_FALSE(dropped());
}

TEST_F(Pipeline, TcpFlagsSubsetRule) {
  SignatureCompiler compiler;
  HeaderOnlySignature h;
  h.group = EngineImage::Group::kTcp;
  h.rule = make_header_rule(engine_format::kFlagsInSet, kFin | kPsh | kUrg, 0, 0, 0, 0, 0, 0);  // Xmas flags
  compiler.add(h);
  install(compiler);
  send(Packet().flags(kFin | kPsh | kUrg).to("10.0.0.2", 7).bytes());
  EXPECT_TRUE(dropped());
  send(Packet().flags(kAck).to("10.0.0.2", 8).bytes());
  EXPECT_FALSE(dropped());
}

TEST_F(Pipeline, RuleForOtherProtocolsComparesTheProtocolNumber) {
  SignatureCompiler compiler;
  HeaderOnlySignature h;
  h.group = EngineImage::Group::kOther;
  h.rule = make_header_rule(engine_format::kFieldEqual, 47, 0, 0, 0, 0, 0, 0);  // GRE
  compiler.add(h);
  install(compiler);
  Packet gre;
  gre.protocol = 47;
  send(gre.carrying("tunnelled").bytes());
  EXPECT_EQ(descriptor_at(0)[kDescResultCount], 1);
  EXPECT_EQ(load16(descriptor_at(0) + kDescResults), 0x8000);
  // The engine reports the rule, but header conditions never match protocols other than TCP, UDP
  // and ICMP, so the hit is not counted.
  EXPECT_FALSE(dropped());
  Packet esp;
  esp.protocol = 50;
  send(esp.carrying("tunnelled").bytes());
  EXPECT_EQ(descriptor_at(1)[kDescResultCount], 0);
}

TEST_F(Pipeline, DroppedConnectionDropsItsLaterPackets) {
  install_one("attack");
  Packet client = Packet().from("10.0.0.1", 41000).to("10.0.0.2", 80);
  send(client.flags(kSyn).bytes());
  send(client.reply().flags(kSyn | kAck).bytes());
  send(client.flags(kAck).bytes());
  send(client.flags(kPsh | kAck).carrying("an attack").bytes());
  EXPECT_TRUE(dropped());
  size_t before = deliveries.size();
  int code = send(client.reply().flags(kAck).carrying("innocent").bytes());
  EXPECT_TRUE(dropped());
  EXPECT_EQ(deliveries.size(), before + 1);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(events().size(), 1u);
}

TEST_F(Pipeline, FullKernelRingLosesTheEventButKeepsTheVerdict) {
  install_one("attack");
  for (int i = 0; i < 1023; ++i) send(Packet().udp().carrying("attack").bytes());
  ParamtVornNeededLogsNum waiting{};
  ASSERT_EQ(ioctl(VORN_IOC_GET_LOGS_LEN, &waiting), 0);
  EXPECT_EQ(waiting.count, 1023u);
  kern::printk_clear();
  send(Packet().udp().carrying("attack").bytes());
  EXPECT_TRUE(dropped());
  EXPECT_TRUE(printed("Kernel Result Queue is FULL\n"));
  ASSERT_EQ(ioctl(VORN_IOC_GET_LOGS_LEN, &waiting), 0);
  EXPECT_EQ(waiting.count, 1023u);
}

TEST_F(Pipeline, TrafficMessagesAreRateLimited) {
  install_one("attack");
  for (int i = 0; i < 1023; ++i) send(Packet().udp().carrying("attack").bytes());
  kern::printk_clear();
  for (int i = 0; i < 100; ++i) send(Packet().udp().carrying("attack").bytes());
  auto lines = kern::printk_lines();
  EXPECT_LE(lines.size(), 10u);
}

// ---- bypass and framing --------------------------------------------------------------------------
TEST_F(Pipeline, InspectionOffPassesWithCodeMinus9) {
  ASSERT_EQ(download(basic_image()), 0);  // the enable word in force (0) is kept
  EXPECT_EQ(send(Packet().carrying("x").bytes()), -9);
  EXPECT_EQ(last().fate, kern::Fate::kDelivered);
  EXPECT_TRUE(last().inspected);
}

TEST_F(Pipeline, OtherEtherTypesAndLoopbackPass) {
  install_one("attack");
  EXPECT_EQ(send({1, 2, 3, 4}, 0x86dd), -8);
  EXPECT_EQ(last().fate, kern::Fate::kDelivered);
  EXPECT_EQ(send({1, 2, 3, 4, 5, 6, 7, 8}, ETH_P_PPP_DISC), 0);
  EXPECT_EQ(last().fate, kern::Fate::kDelivered);
  send(Packet().carrying("attack").bytes(), ETH_P_IP, "lo");
  EXPECT_EQ(last().fate, kern::Fate::kDelivered);
  EXPECT_TRUE(events().empty());
}

TEST_F(Pipeline, PppoeSessionsAreInspected) {
  install_one("attack");
  auto ip = Packet().udp().carrying("an attack").bytes();
  send(pppoe(ip, true), ETH_P_PPP_SES);
  EXPECT_TRUE(dropped());
  send(pppoe(ip, false), ETH_P_PPP_SES);
  EXPECT_TRUE(dropped());
  send(pppoe(Packet().udp().carrying("fine").bytes(), false), ETH_P_PPP_SES);
  EXPECT_FALSE(dropped());
  send(pppoe(ip, false, 0x0057), ETH_P_PPP_SES);  // IPv6 inside: not inspected
  EXPECT_FALSE(dropped());
  EXPECT_EQ(events().size(), 2u);
}

TEST_F(Pipeline, ShortOrForeignPppoeFramesPass) {
  install_one("attack");
  kern::printk_clear();
  send({0x11, 0, 0, 1, 0}, ETH_P_PPP_SES);
  EXPECT_TRUE(printed("Not enough data to process a pppoe header\n"));
  send({0x11, 0, 0, 1, 0, 2, 0x00}, ETH_P_PPP_SES);              // two-byte protocol cut after one byte
  send({0x11, 0, 0, 1, 0, 2, 0x21, 0x45, 0, 0}, ETH_P_PPP_SES);  // IP header cut short
  auto coded = pppoe(Packet().carrying("attack").bytes(), true);
  coded[1] = 7;
  send(coded, ETH_P_PPP_SES);
  EXPECT_TRUE(printed("0!=pPPPoE_Header->code\n"));
  ASSERT_EQ(deliveries.size(), 4u);
  for (const auto &d : deliveries) EXPECT_EQ(d.fate, kern::Fate::kDelivered);
}

TEST_F(Pipeline, SharedBufferIsInspectedThroughAPrivateClone) {
  install_one("attack");
  sk_buff *skb = frame(Packet().carrying("attack").bytes());
  ++skb->users;  // someone else still holds it
  kern::receive(skb);
  EXPECT_TRUE(dropped());
  EXPECT_EQ(skb->users, 1);
  kfree_skb(skb);
}

TEST_F(Pipeline, FailedCloneFinishesTheOriginal) {
  install_one("attack");
  sk_buff *skb = frame(Packet().carrying("attack").bytes());
  ++skb->users;
  kern::fail_next(kern::Alloc::kKmalloc);
  EXPECT_EQ(kern::receive(skb), -11);
  EXPECT_EQ(last().fate, kern::Fate::kDelivered);
  EXPECT_EQ(skb->users, 1);
  kfree_skb(skb);
}

// Each is caught by the integrity check before anything reads past its headers; one too short to
// hold an IP header is not even pulled.
TEST_F(Pipeline, MalformedPacketsAreDroppedByTheIntegrityCheck) {
  install_one("attack");
  std::vector<std::vector<unsigned char>> bad;
  std::vector<uint32_t> offsets;
  auto good = Packet().carrying("attack").bytes();
  auto v = good;
  v[0] = 0x65;
  bad.push_back(v);
  offsets.push_back(2);  // version 6
  v = good;
  v[0] = 0x44;
  bad.push_back(v);
  offsets.push_back(3);  // header length 16
  v = good;
  v[0] = 0x4f;
  bad.push_back(v);
  offsets.push_back(1);  // header past the packet
  v = good;
  v[2] = 0x10;
  v[3] = 0x00;
  bad.push_back(v);
  offsets.push_back(3);  // total length 4096
  v = good;
  v[2] = 0;
  v[3] = 10;
  bad.push_back(v);
  offsets.push_back(3);  // total length below 20
  v = good;
  v[32] = 0x40;
  bad.push_back(v);
  offsets.push_back(21);  // TCP data offset 4
  v = good;
  v[32] = 0xf0;
  bad.push_back(v);
  offsets.push_back(21);  // data offset past the packet
  v = good;
  v.resize(30);
  v[2] = 0;
  v[3] = 30;
  bad.push_back(v);
  offsets.push_back(21);  // TCP header cut short
  auto u = Packet().udp().bytes();
  u.resize(24);
  u[3] = 24;
  bad.push_back(u);
  offsets.push_back(42);  // UDP cut short
  for (const auto &packet : bad) send(packet);
  ASSERT_EQ(deliveries.size(), bad.size());
  for (const auto &d : deliveries) EXPECT_EQ(d.fate, kern::Fate::kDropped);
  auto log = events();
  ASSERT_EQ(log.size(), offsets.size());
  for (size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(log[i].attack_id, 1000 + offsets[i]) << i;
    EXPECT_EQ(log[i].category, 6u);
  }
  EXPECT_EQ(module().Tcp_currentconn, 0u);
  send({0x45, 0, 0});  // shorter than an IP header
  EXPECT_EQ(last().fate, kern::Fate::kDelivered);
}

TEST_F(Pipeline, TrailingBytesBeyondTheTotalLengthAreNotScanned) {
  install_one("attack");
  auto bytes = Packet().carrying("ok").bytes();
  for (char c : std::string("attack")) bytes.push_back(static_cast<unsigned char>(c));
  send(bytes);
  EXPECT_FALSE(dropped());
}

// ---- results from an engine that cannot be trusted -----------------------------------------------
class ForgedResults : public quorix::Matcher {
 public:
  void match(const quorix::EngineTables &, unsigned char *d) override {
    d[36] = 15;  // more results than a descriptor holds
    for (int i = 0; i < 12; ++i) store16(d + 40 + 2 * i, static_cast<uint16_t>(i == 11 ? 7 : 0x7fff));
  }
};

TEST_F(Pipeline, ResultIdsOutOfRangeAreSkipped) {
  install_one("attack", 7);
  ForgedResults forged;
  device->set_matcher(&forged);
  kern::printk_clear();
  send(Packet().udp().carrying("anything").bytes());
  EXPECT_TRUE(dropped());  // the one valid id (7) among eleven bad ones and three past the descriptor
  EXPECT_TRUE(printed("Result id(0x7FFF) out of range, bypass it\n"));
  auto log = events();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].attack_id, 7u);
}

TEST_F(Pipeline, CategoryZeroIsBypassed) {
  SignatureCompiler compiler;
  compiler.add(sig(14, "zero", false, 0));
  install(compiler);
  send(Packet().udp().carrying("zero").bytes());
  EXPECT_FALSE(dropped());
  EXPECT_TRUE(printed("Rule ERROR Category==0, bypass it\n "));
}

TEST_F(Pipeline, HeldPacketOfAClosedConnectionMarksNoOtherConnection) {
  install_one("attack");
  device->set_auto_run(false);
  Packet a = Packet().from("10.0.0.1", 41000).to("10.0.0.2", 80);
  Packet b = sharing_slot_with(a, 1).front();             // same hash, another key
  send(a.flags(kPsh | kAck).carrying("attack").bytes());  // held by the engine
  send(a.flags(kRst).carrying("").bytes());               // closes A's record meanwhile
  send(b.flags(kSyn).bytes());                            // B takes the freed slot
  auto *slot = static_cast<TcpConnection *>(module().MappingTable_IpsDescriptorToSkb[2]->conn);
  ASSERT_EQ(slot, module().MappingTable_IpsDescriptorToSkb[0]->conn);
  device->set_auto_run(true);
  device->run();
  EXPECT_EQ(deliveries.front().fate, kern::Fate::kDropped);
  EXPECT_EQ(slot->drop, 0);
  send(b.flags(kAck).carrying("fine").bytes());
  EXPECT_FALSE(dropped());
}

// ---- header conditions --------------------------------------------------------------------------
class HeaderCondition : public Pipeline {
 protected:
  bool matches(const Packet &packet, const std::function<void(unsigned char *)> &set,
               const std::string &dev = "eth0") {
    unsigned char condition[100] = {};
    set(condition);
    auto bytes = packet.bytes();
    sk_buff *skb = frame(bytes, ETH_P_IP, dev);
    PacketView view;
    parse_ipv4(skb->data, skb->len, &view);
    bool result = kkNK_HeaderRuleCheck(skb, view, condition) == 1;
    kfree_skb(skb);
    return result;
  }
};

TEST_F(HeaderCondition, Operators) {
  Packet p = Packet().carrying("12345");
  p.ttl = 30;
  EXPECT_TRUE(matches(p, [](unsigned char *c) {
    c[6] = 1;
    c[14] = 30;
  }));
  EXPECT_FALSE(matches(p, [](unsigned char *c) {
    c[6] = 2;
    c[14] = 30;
  }));
  EXPECT_TRUE(matches(p, [](unsigned char *c) {
    c[6] = 16;
    c[14] = 29;
  }));
  EXPECT_FALSE(matches(p, [](unsigned char *c) {
    c[6] = 32;
    c[14] = 30;
  }));
  EXPECT_TRUE(matches(p, [](unsigned char *c) {
    c[4] = 1;
    store16(c + 24, 45);
  }));  // total length
  EXPECT_TRUE(matches(p, [](unsigned char *c) {
    c[7] = 1;
    store32(c + 32, 20);
  }));  // header length
  EXPECT_TRUE(matches(p, [](unsigned char *c) {
    c[90] = 1;
    store32(c + 60, 25);
  }));  // IP payload
  EXPECT_TRUE(matches(p, [](unsigned char *c) {
    c[92] = 1;
    store32(c + 68, 1000);
  }));  // sequence
  EXPECT_TRUE(matches(p, [](unsigned char *c) {
    c[95] = 32;
    store32(c + 80, 1000);
  }));  // window
  kern::printk_clear();
  EXPECT_FALSE(matches(p, [](unsigned char *c) { c[5] = 3; }));
  EXPECT_TRUE(printed("Unknown OP: 3!\n"));
}

TEST_F(HeaderCondition, ProtocolTestsAndOtherProtocols) {
  EXPECT_TRUE(matches(Packet().udp().carrying("abc"), [](unsigned char *c) {
    c[70] = 1;
    store32(c + 60, 11);
  }));
  EXPECT_TRUE(matches(Packet().icmp().carrying("abc"), [](unsigned char *c) {
    c[64] = 16;
    store32(c + 48, 10);
  }));
  Packet igmp;
  igmp.protocol = 2;
  EXPECT_FALSE(matches(igmp, [](unsigned char *) {}));
}

TEST_F(Pipeline, InterfaceSelectorOfARuleChoosesTheSide) {
  SignatureCompiler compiler;
  compiler.add(sig(15, "wanonly", false, 2));
  EngineImage image = basic_image();
  compiler.compile(&image);
  image.condition(15)[15] = 1;  // devices named e??1 only
  ASSERT_EQ(download(image), 0);
  ParamtVornStatus on{1, 0};
  ASSERT_EQ(ioctl(VORN_IOC_SET_STATUS, &on), 0);
  send(Packet().udp().carrying("wanonly").bytes(), ETH_P_IP, "eth0");
  EXPECT_FALSE(dropped());
  send(Packet().udp().carrying("wanonly").bytes(), ETH_P_IP, "eth1");
  EXPECT_TRUE(dropped());
}

}  // namespace
}  // namespace vorn_test
