// Captures of real traffic (curl and a web server, nmap, hping3, ping; made by
// captures/make_captures.sh) replayed through the pipeline on a clock that follows their stamps.
#include <gtest/gtest.h>

#include "packet_builder.h"
#include "pcap_file.h"
#include "vorn_engine_format.h"
#include "vorn_fixture.h"
#include "vorn_sigc.h"
#include "vorn_tracker.h"

namespace vorn_test {
namespace {

using namespace vorn;

class Capture : public VornTest {
 protected:
  void SetUp() override {
    VornTest::SetUp();
    SignatureCompiler compiler;
    add(compiler, 20, "/etc/passwd", true, 11);
    add(compiler, 21, "cmd.exe", true, 2);
    add(compiler, 22, "attack", true, 6);
    HeaderOnlySignature xmas;
    xmas.group = EngineImage::Group::kTcp;
    xmas.rule = make_header_rule(engine_format::kFieldEqual, kFin | kPsh | kUrg, 0, 0, 0, 0, 0, 0);
    xmas.category = 4;
    compiler.add(xmas);
    EngineImage image = basic_image();
    compiler.compile(&image);
    ASSERT_EQ(download(image), 0);
    ParamtVornStatus on{1, 0};
    ASSERT_EQ(ioctl(VORN_IOC_SET_STATUS, &on), 0);
  }
  static void add(SignatureCompiler &compiler, uint16_t id, const std::string &pattern, bool nocase,
                  uint8_t category) {
    Signature s;
    s.rule_id = id;
    s.pattern = pattern;
    s.nocase = nocase;
    s.category = category;
    compiler.add(s);
  }
};

TEST_F(Capture, HttpRequestForPasswdDropsTheRestOfItsConnection) {
  auto fates = replay("http_passwd.pcap");
  ASSERT_EQ(fates.size(), 12u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(fates[i], kern::Fate::kDelivered) << i;  // the handshake
  for (size_t i = 3; i < fates.size(); ++i) EXPECT_EQ(fates[i], kern::Fate::kDropped) << i;
  auto log = events();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].source, address_as_stored("10.77.0.1"));
  EXPECT_EQ(log[0].attack_id, 20u);
  EXPECT_EQ(log[0].category, 11u);
}

// FIN+PSH+URG without ACK is no flag combination a TCP stack sends: the integrity check drops each
// probe before the header-only rule sees it, and the target's resets pass.
TEST_F(Capture, NmapXmasProbesFailTheFlagCheck) {
  auto frames = pcap::read_file(std::string(VORN_CAPTURES) + "/nmap_xmas.pcap");
  auto fates = replay("nmap_xmas.pcap");
  size_t probes = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    PacketView view;
    ASSERT_TRUE(parse_ipv4(frames[i].payload.data(), frames[i].payload.size(), &view));
    bool probe = view.tcp_flags() == (kFin | kPsh | kUrg);
    probes += probe;
    EXPECT_EQ(fates[i], probe ? kern::Fate::kDropped : kern::Fate::kDelivered) << i;
  }
  EXPECT_EQ(probes, 10u);
  auto log = events();
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[0].attack_id, 1024u);  // base 1000 + bad flag combination
  EXPECT_EQ(log[0].category, 6u);
  EXPECT_EQ(log[0].source, address_as_stored("10.77.0.1"));
}

TEST_F(Capture, NmapSynScanLeavesNoConnectionBehind) {
  auto fates = replay("nmap_syn.pcap");
  for (auto fate : fates) EXPECT_EQ(fate, kern::Fate::kDelivered);
  EXPECT_EQ(module().Tcp_currentconn, 0u);  // every probe was answered with a reset
  EXPECT_TRUE(events().empty());
}

// The port-unreachable errors quote the whole datagram, so they carry the pattern too.
TEST_F(Capture, Hping3UdpPayloadIsDropped) {
  auto fates = replay("hping3_udp.pcap");
  ASSERT_EQ(fates.size(), 10u);
  for (auto fate : fates) EXPECT_EQ(fate, kern::Fate::kDropped);
  auto log = events();
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[0].attack_id, 21u);
  EXPECT_EQ(log[1].source, address_as_stored("10.77.0.2"));
}

TEST_F(Capture, PingWithAPatternIsDroppedBothWays) {
  auto fates = replay("ping_pattern.pcap");
  ASSERT_EQ(fates.size(), 6u);
  for (auto fate : fates) EXPECT_EQ(fate, kern::Fate::kDropped);
  auto log = events();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[0].source, address_as_stored("10.77.0.1"));
  EXPECT_EQ(log[1].source, address_as_stored("10.77.0.2"));
}

}  // namespace
}  // namespace vorn_test
