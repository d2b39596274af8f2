// The integrity check of every IPv4 packet and the anomaly checks of FTP, RPC, HTTP and Telnet,
// through the packet hook: verdicts and the attack ids of their events (base 1000 + offset).
#include <gtest/gtest.h>

#include "packet_builder.h"
#include "vorn_checks.h"
#include "vorn_engine.h"
#include "vorn_fixture.h"
#include "vorn_sigc.h"
#include "vorn_tracker.h"

namespace vorn_test {
namespace {

using namespace vorn;
using Bytes = std::vector<unsigned char>;

constexpr uint32_t kBase = 1000;

// An IPv4 header carrying `options` (padded to whole words) in front of the packet's transport part.
Bytes with_options(const Packet &packet, Bytes options) {
  while (options.size() % 4) options.push_back(0);
  Bytes b = packet.bytes();
  b.insert(b.begin() + 20, options.begin(), options.end());
  b[0] = static_cast<unsigned char>(0x40 | ((20 + options.size()) / 4));
  uint16_t total = static_cast<uint16_t>(b.size());
  b[2] = static_cast<unsigned char>(total >> 8);
  b[3] = static_cast<unsigned char>(total);
  return b;
}

Bytes with_fragment_field(Bytes b, uint16_t field) {
  b[6] = static_cast<unsigned char>(field >> 8);
  b[7] = static_cast<unsigned char>(field);
  return b;
}

Packet igmp(size_t size) {
  Packet p;
  p.protocol = 2;
  p.payload.assign(size, 'i');
  return p;
}

class Checks : public VornTest {
 protected:
  void SetUp() override {
    VornTest::SetUp();
    EngineImage image = basic_image();
    image.set_app(kAnomalyHttp, 0, 1, "HTTP");
    image.set_app(kAnomalyFtp, 1, 1, "FTP");
    image.set_app(kAnomalyTelnet, 2, 1, "Telnet");
    image.set_app(kAnomalyRpc, 3, 1, "RPC");
    SignatureCompiler compiler;
    Signature passwd;
    passwd.rule_id = 30;
    passwd.pattern = "/etc/passwd";
    passwd.category = 11;
    compiler.add(passwd);
    Signature root;
    root.rule_id = 31;
    root.pattern = "login root";
    root.category = 3;
    compiler.add(root);
    compiler.compile(&image);
    install_image(image);
  }
  // Sends a packet: the offset of its event from the base when it was dropped, 0 when it passed
  // without an event.
  long outcome(const Bytes &bytes) {
    send(bytes);
    auto log = events();
    if (!dropped()) {
      EXPECT_TRUE(log.empty());
      return 0;
    }
    EXPECT_EQ(log.size(), 1u);
    if (log.empty()) return -1;
    EXPECT_EQ(log[0].category, 6u);
    return static_cast<long>(log[0].attack_id) - kBase;
  }
};

// ---- IP -----------------------------------------------------------------------------------------
TEST_F(Checks, ReservedFlagAndTrailingDataAreLogged) {
  EXPECT_EQ(outcome(with_fragment_field(Packet().carrying("x").bytes(), 0x8000)), kIpReserved);
  Bytes padded = Packet().carrying(std::string(60, 'p')).bytes();
  padded.resize(padded.size() + 513, 0);
  EXPECT_EQ(outcome(padded), kIpTrailing);
  padded.resize(padded.size() - 1);
  EXPECT_EQ(outcome(padded), 0);
}

TEST_F(Checks, FragmentsPassWithoutFurtherInspection) {
  Bytes attack = Packet().carrying("GET /etc/passwd").bytes();
  EXPECT_EQ(outcome(with_fragment_field(attack, 1)), 0);       // fragment offset 1
  EXPECT_EQ(outcome(with_fragment_field(attack, 0x2000)), 0);  // more fragments
  EXPECT_EQ(module().Tcp_currentconn, 0u);
  send(with_fragment_field(attack, 0x4000));  // don't fragment: a whole packet, inspected
  EXPECT_TRUE(dropped());
  auto log = events();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].attack_id, 30u);
}

TEST_F(Checks, OptionsAreWalkedAndMalformedOnesLogged) {
  Packet p = Packet().carrying("x");
  EXPECT_EQ(outcome(with_options(p, {7, 7, 4, 0, 0, 0, 0})), 0);                         // record route
  EXPECT_EQ(outcome(with_options(p, {1, 1, 130, 10, 0, 0, 0, 0, 0, 0, 0})), kIpOption);  // security needs 11
  EXPECT_EQ(outcome(with_options(p, {131, 40, 0, 0})), kIpOption);  // runs past the header
  EXPECT_EQ(outcome(with_options(p, {68, 1, 0, 0})), kIpOption);    // cannot hold itself
  EXPECT_EQ(outcome(with_options(p, {0, 130, 1, 1})), 0);           // end of list first
  EXPECT_EQ(outcome(with_options(p, {99, 200, 0, 0})), 0);          // unknown type ends the walk
}

TEST(IpOptions, WalkReportsTheTypesSeen) {
  uint32_t seen = 0;
  const unsigned char options[] = {1, 68, 4, 0, 1, 0};
  EXPECT_EQ(ParseIPOption(options, sizeof options, &seen), 1);
  EXPECT_EQ(seen, (1u << 1) | (1u << (68 & 31)) | 1u);
  const unsigned char cut[] = {1, 1, 7};
  EXPECT_EQ(ParseIPOption(cut, sizeof cut, &seen), -1);  // no room for the length byte
  const unsigned char zero[] = {7, 0, 130, 3};
  EXPECT_EQ(ParseIPOption(zero, sizeof zero, &seen), 1);  // a length 0 ends the walk
}

// ---- TCP, UDP, ICMP, IGMP -----------------------------------------------------------------------
TEST_F(Checks, TcpFlagCombinations) {
  auto flags = [](uint8_t f) { return Packet().from("10.0.0.1", 40000 + f).flags(f).bytes(); };
  EXPECT_EQ(outcome(flags(kSyn | kFin)), kTcpFlags);
  EXPECT_EQ(outcome(flags(kSyn | kRst)), kTcpFlags);
  EXPECT_EQ(outcome(flags(kFin | kRst)), kTcpFlags);
  EXPECT_EQ(outcome(flags(0)), kTcpFlags);
  EXPECT_EQ(outcome(flags(kPsh)), kTcpFlags);
  EXPECT_EQ(outcome(flags(kFin | kUrg)), kTcpFlags);
  EXPECT_EQ(outcome(flags(kSyn)), 0);
  EXPECT_EQ(outcome(flags(kFin | kAck)), 0);
  EXPECT_EQ(outcome(flags(kSyn | kFin | kAck)), 0);  // ACK set passes whatever else is set
  EXPECT_EQ(outcome(flags(kRst)), 0);
}

TEST_F(Checks, TcpLandAndReservedAddresses) {
  EXPECT_EQ(outcome(Packet().from("10.0.0.2", 80).to("10.0.0.2", 80).bytes()), kTcpLand);
  EXPECT_EQ(outcome(Packet().from("10.0.0.2", 81).to("10.0.0.2", 80).bytes()), 0);
  EXPECT_EQ(outcome(Packet().from("10.1.255.255", 81).bytes()), kTcpAddress);
  EXPECT_EQ(outcome(Packet().to("192.168.0.0", 80).bytes()), kTcpAddress);
  EXPECT_EQ(outcome(Packet().to("192.168.0.255", 80).bytes()), 0);
}

TEST_F(Checks, UdpChecks) {
  EXPECT_EQ(outcome(Packet().udp().from("10.0.0.2", 53).to("10.0.0.2", 53).bytes()), kUdpLand);
  EXPECT_EQ(outcome(Packet().udp().to("10.0.255.255", 7).bytes()), kUdpBroadcast);
  EXPECT_EQ(outcome(Packet().udp().from("10.0.0.0", 5).to("10.0.0.2", 53).bytes()), kUdpBroadcast);
  EXPECT_EQ(outcome(Packet().udp().to("10.0.255.255", 1234).bytes()), 0);
}

TEST_F(Checks, IcmpChecks) {
  Packet echo = Packet().icmp();
  echo.payload.assign(1025, 'e');  // 1033 bytes of ICMP message
  EXPECT_EQ(outcome(echo.bytes()), kIcmpLarge);
  echo.payload.resize(1024);
  EXPECT_EQ(outcome(echo.bytes()), 0);
  echo.icmp_type = 0;  // a large reply is no ping of death
  echo.payload.resize(1400);
  EXPECT_EQ(outcome(echo.bytes()), 0);
  EXPECT_EQ(outcome(Packet().icmp().to("10.0.255.255", 0).bytes()), kIcmpAddress);
  Bytes short_icmp = Packet().icmp().bytes();
  short_icmp.resize(27);
  short_icmp[3] = 27;
  EXPECT_EQ(outcome(short_icmp), kIcmpShort);
}

TEST_F(Checks, IgmpLengths) {
  EXPECT_EQ(outcome(igmp(8).bytes()), 0);
  EXPECT_EQ(outcome(igmp(40).bytes()), 0);
  EXPECT_EQ(outcome(igmp(41).bytes()), kIgmpLength);
  EXPECT_EQ(outcome(igmp(4).bytes()), kIgmpLength);
}

// ---- FTP and RPC --------------------------------------------------------------------------------
TEST_F(Checks, FtpPortCommandToAnotherHostIsABounce) {
  Packet port = Packet().to("10.0.0.2", 21).carrying("PORT 10,0,0,5,4,1\r\n");
  EXPECT_EQ(outcome(port.from("10.0.0.5", 40000).bytes()), 0);
  EXPECT_EQ(outcome(port.from("10.0.0.6", 40001).bytes()), kFtpAnomaly);
  EXPECT_EQ(outcome(port.from("10.0.0.6", 40002).carrying("PORT 10,0,0,256,4,1\r\n").bytes()),
            0);  // no address
  EXPECT_EQ(outcome(port.from("10.0.0.6", 40003).carrying("PORT 0100,0100,0100,0100,4,1\r\n").bytes()),
            0);  // too long
  EXPECT_EQ(outcome(port.from("10.0.0.6", 40005).carrying("PORT 10,0,0,7      ").bytes()),
            0);  // no fourth comma
}

TEST_F(Checks, FtpCommandWithByteFFIsLogged) {
  EXPECT_EQ(outcome(Packet().to("10.0.0.2", 21).carrying("USER \xff\xf4").bytes()), kFtpAnomaly);
  EXPECT_EQ(outcome(Packet().from("10.0.0.1", 40001).to("10.0.0.2", 21).carrying("USER anna\r\n").bytes()),
            0);
}

TEST_F(Checks, RpcRecordMarks) {
  auto rpc = [](uint16_t port, uint32_t mark, size_t size) {
    std::string payload(size, '\0');
    for (int i = 0; i < 4; ++i) payload[i] = static_cast<char>(mark >> (24 - 8 * i));
    return Packet()
        .from("10.0.0.1", static_cast<uint16_t>(port + size))
        .to("10.0.0.2", port)
        .carrying(payload)
        .bytes();
  };
  EXPECT_EQ(outcome(rpc(111, 0x80000024, 40)), 0);
  EXPECT_EQ(outcome(rpc(111, 0x80000020, 40)), kRpcAnomaly);
  EXPECT_EQ(outcome(rpc(32771, 0x00000024, 40)), kRpcAnomaly);  // not the last fragment
  EXPECT_EQ(outcome(rpc(32770, 0x00000024, 40)), 0);            // not an RPC port
  EXPECT_EQ(outcome(rpc(111, 0x00000024, 31)), 0);              // too short to examine
}

TEST_F(Checks, SwitchedOffChecksLetAnomaliesPass) {
  IM_P2P_AD_Status off{1, 0, kAnomalyFtp};
  ASSERT_EQ(ioctl(VORN_IOC_SET_ANOMALY_ACTION, &off), 0);
  EXPECT_EQ(outcome(Packet().to("10.0.0.2", 21).carrying("USER \xff\xf4").bytes()), 0);
}

// ---- HTTP and Telnet copies ---------------------------------------------------------------------
TEST(HttpNormalisation, RequestLineBecomesHostAndDecodedPath) {
  auto normalise = [](const std::string &request, size_t capacity = 1024) {
    unsigned char out[1024];
    size_t n = normalise_http_request(reinterpret_cast<const unsigned char *>(request.data()), request.size(),
                                      out, capacity);
    return std::string(reinterpret_cast<char *>(out), n);
  };
  EXPECT_EQ(normalise("GET /a/./b/../c%41 HTTP/1.0\r\nHost: h\r\n\r\n"), "h/a/ca");
  EXPECT_EQ(normalise("  post \\x\\\\y//z HTTP/1.1\r\nAccept: */*\r\n  HOST:   example.org  \r\n"),
            "example.org/x/y/z");
  EXPECT_EQ(normalise("GET /../../etc/passwd\r\n"), "/etc/passwd");
  EXPECT_EQ(normalise("GET /%2e%2e/x%C1%9c HTTP/1.0\r\n"), "/x\xff\xff");  // decoded before the dots resolve
  EXPECT_EQ(normalise("GET /a%4"), "/a%4");                                // a cut-off escape stays as it is
  EXPECT_EQ(normalise("FETCH /x HTTP/1.0\r\n"), "");
  EXPECT_EQ(normalise("GET\r\n"), "");
  EXPECT_EQ(normalise("GET /abcdef HTTP/1.0\r\nHost: h\r\n", 4), "h/ab");
  std::string long_host(100, 'h');
  EXPECT_EQ(normalise("GET / HTTP/1.0\r\nHost: " + long_host + "\r\n"), std::string(63, 'h') + "/");
}

TEST(HttpNormalisation, EscapesAboveSevenBitGiveFF) {
  EXPECT_EQ(OneByteUTF8('4', '1'), 0x41);
  EXPECT_EQ(OneByteUTF8('7', 'f'), -1);
  EXPECT_EQ(OneByteUTF8('8', '0'), -1);
  EXPECT_EQ(OneByteUTF8('g', '0'), -1);
}

TEST_F(Checks, EncodedHttpPathIsMatchedThroughTheCopy) {
  send(Packet().carrying("GET /%65tc/./x/../passwd HTTP/1.0\r\nHost: victim\r\n\r\n").bytes());
  EXPECT_TRUE(dropped());  // the copy's hit marks the connection, so the original drops too
  auto log = events();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].attack_id, 30u);
}

// One host fills the slots it can work out for a victim's connection with bare ACKs before the
// victim sends its encoded request. The connection must still get a record, so that the copy's hit
// drops the request and the rest of the connection.
TEST_F(Checks, ConnectionIsTrackedAfterAFloodAimedAtItsSlot) {
  Packet victim = Packet().from("192.168.1.9", 40000).to("10.0.0.2", 80);
  std::vector<Packet> flood = acks_summing_like(victim, "10.66.0.1", kTcpProbeLimit);
  for (const Packet &ack : flood) {
    ASSERT_EQ(summed_slot(ack), summed_slot(victim));
    send(ack.bytes());
  }
  ASSERT_EQ(module().Tcp_currentconn, kTcpProbeLimit);

  send(Packet(victim).carrying("GET /%65tc/passwd HTTP/1.0\r\n").bytes());
  EXPECT_TRUE(dropped());
  auto log = events();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].attack_id, 30u);
  send(Packet(victim).carrying("Host: victim\r\n\r\n").bytes());
  EXPECT_TRUE(dropped());
}

TEST_F(Checks, WithTheHttpCheckOffOnlyTheRawRequestIsMatched) {
  IM_P2P_AD_Status off{0, 0, kAnomalyHttp};
  ASSERT_EQ(ioctl(VORN_IOC_SET_ANOMALY_ACTION, &off), 0);
  send(Packet().carrying("GET /%65tc/passwd HTTP/1.0\r\n").bytes());
  EXPECT_FALSE(dropped());
  EXPECT_TRUE(events().empty());
}

// The payload the engine is handed for a descriptor.
std::string queued_payload(const unsigned char *d) {
  uint32_t length =
      d[kDescPayloadLength] | (d[kDescPayloadLength + 1] << 8) | (d[kDescPayloadLength + 2] << 16);
  const unsigned char *bytes = kern::bus_to_virt(load32(d + kDescPayloadAddress) - kQxBusOffset, length);
  return bytes ? std::string(reinterpret_cast<const char *>(bytes), length) : std::string("(unmapped)");
}

// The private copies the engine scans: the HTTP copy is the normalised text followed by the rest of
// the original payload, the Telnet copy the stream without its commands and no more. Both are queued
// before the original, marked, and carry the original's header fields.
TEST_F(Checks, PrivateCopiesHoldTheDecodedPayload) {
  device->set_auto_run(false);
  std::string request = "GET /a/../%62 HTTP/1.0\r\nHost: h\r\n\r\n";
  send(Packet().carrying(request).bytes());
  const unsigned char *copy = descriptor_at(0);
  EXPECT_EQ(copy[kDescMark], kPrivateCopyMark);
  EXPECT_EQ(load16(copy + kDescDestinationPort), 80);
  EXPECT_EQ(queued_payload(copy), "h/b" + request.substr(3));
  EXPECT_EQ(queued_payload(descriptor_at(1)), request);
  device->run();

  std::string stream = "ro\xff\xfb\x01ot\r\n";
  send(Packet().from("10.0.0.1", 40001).to("10.0.0.2", 23).carrying(stream).bytes());
  EXPECT_EQ(queued_payload(descriptor_at(2)), "root\r\n");
  EXPECT_EQ(descriptor_at(2)[kDescMark], kPrivateCopyMark);
  EXPECT_EQ(queued_payload(descriptor_at(3)), stream);
  device->run();
}

TEST(TelnetCommands, AreStrippedFromTheStream) {
  auto strip = [](const std::string &stream) {
    unsigned char out[1536];
    size_t n = strip_telnet_commands(reinterpret_cast<const unsigned char *>(stream.data()), stream.size(),
                                     out, sizeof out);
    return std::string(reinterpret_cast<char *>(out), n);
  };
  EXPECT_EQ(strip("ro\xff\xfb\x01ot"), "root");  // WILL ECHO: three bytes
  EXPECT_EQ(strip("a\xff\xff"
                  "b"),
            "a\xff"
            "b");                              // an escaped 255
  EXPECT_EQ(strip("rooX\xff\xf7t"), "root");   // erase character
  EXPECT_EQ(strip("\xff\xf7\xff\xf7x"), "x");  // nothing to erase at the start
  EXPECT_EQ(strip("a\xff\xf1"
                  "b"),
            "ab");  // NOP
  EXPECT_EQ(strip("a\xff\xfa\x18\x01\xff\xf0"
                  "b"),
            "ab");                             // subnegotiation up to SE
  EXPECT_EQ(strip("a\xff\xfa\x18\x01"), "a");  // subnegotiation running off the end
  EXPECT_EQ(strip("ab\xff"), "ab");            // a command cut off
}

TEST_F(Checks, TelnetLoginHiddenByCommandsIsMatchedThroughTheCopy) {
  send(Packet().to("10.0.0.2", 23).carrying("login r\xff\xfb\x01oot\r\n").bytes());
  EXPECT_TRUE(dropped());
  auto log = events();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].attack_id, 31u);
  send(Packet().from("10.0.0.1", 40001).to("10.0.0.2", 23).carrying("login anna\r\n").bytes());
  EXPECT_FALSE(dropped());
}

}  // namespace
}  // namespace vorn_test
