#include "radius_client.h"
#include "radius_test_util.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace dot1x;
using dot1x::test::server_reply;

namespace {

// A UDP socket on loopback standing in for the server.
class FakeServer {
 public:
  FakeServer() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~FakeServer() { close(fd_); }
  std::uint16_t port() const { return port_; }
  // The next request, waiting at most two seconds for it.
  std::vector<std::uint8_t> receive() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 2000) != 1) return {};
    std::vector<std::uint8_t> b(4096);
    socklen_t len = sizeof peer_;
    ssize_t n = recvfrom(fd_, b.data(), b.size(), 0, reinterpret_cast<sockaddr *>(&peer_), &len);
    b.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return b;
  }
  bool pending() {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
  }
  void reply(const std::vector<std::uint8_t> &packet) {
    sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&peer_), sizeof peer_);
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
  sockaddr_in peer_{};
};

class RadiusClientTest : public ::testing::Test {
 protected:
  RadiusClientTest()
      : client({[this](unsigned level, const char *, const std::string &text) {
                  if (level == 0) emergencies.push_back(text);
                },
                [this](Digest &d) { d.fill(++random); }, [] { return 0x7f000001u; }}) {
    client.set_secret("sec");
    EXPECT_TRUE(client.open(0x7f000001, server.port()));
  }
  std::vector<std::uint8_t> request(unsigned port) {
    std::vector<std::uint8_t> eap{2, 1, 0, 5, 1};
    client.send_request(port, {eap, {}, "user", 0, 0, {}, {}});
    return server.receive();
  }
  static Digest auth_of(const std::vector<std::uint8_t> &request) {
    Digest d{};
    std::copy(request.begin() + 4, request.begin() + 20, d.begin());
    return d;
  }
  // Waits for the client's socket to hold the server's datagram, then reads it.
  std::optional<RadiusClient::Delivery> poll_client() {
    pollfd p{client.fd(), POLLIN, 0};
    poll(&p, 1, 2000);
    return client.check_rx();
  }

  FakeServer server;
  std::uint8_t random = 0;
  std::vector<std::string> emergencies;
  RadiusClient client;
};

}  // namespace

TEST_F(RadiusClientTest, IdentifiersSkipZeroAfter255) {
  std::vector<int> ids;
  for (int i = 0; i < 257; ++i) ids.push_back(request(1).at(1));
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[254], 255);
  EXPECT_EQ(ids[255], 1);
}

TEST_F(RadiusClientTest, RepliesReachOnlyThePortTheyAnswer) {
  auto r2 = request(2);
  auto r5 = request(5);
  ASSERT_NE(r2.at(1), r5.at(1));
  server.reply(server_reply(kRadiusAccessReject, r5[1], auth_of(r5), "sec", {}, false));
  auto delivered = poll_client();
  ASSERT_TRUE(delivered);
  EXPECT_EQ(delivered->port, 5u);
  EXPECT_EQ(client.outstanding_identifier(5), 0);
  EXPECT_EQ(client.outstanding_identifier(2), r2[1]);
}

TEST_F(RadiusClientTest, RepliesFromAnotherPortChangeNothing) {
  auto r = request(2);
  const auto reply = server_reply(kRadiusAccessAccept, r[1], auth_of(r), "sec", {}, false);
  sockaddr_in client_addr{};
  socklen_t len = sizeof client_addr;
  getsockname(client.fd(), reinterpret_cast<sockaddr *>(&client_addr), &len);
  client_addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&client_addr), sizeof client_addr);
  close(fd);
  EXPECT_FALSE(poll_client());
  EXPECT_EQ(client.outstanding_identifier(2), r[1]) << "the request stays open for the server";
  server.reply(reply);
  auto delivered = poll_client();
  ASSERT_TRUE(delivered);
  EXPECT_EQ(delivered->port, 2u);
}

TEST_F(RadiusClientTest, ASecondReplyWithTheSameIdentifierFindsNoPort) {
  auto r = request(1);
  auto reply = server_reply(kRadiusAccessAccept, r[1], auth_of(r), "sec", {}, false);
  EXPECT_TRUE(client.datagram_received(reply));
  EXPECT_FALSE(client.datagram_received(reply));
}

TEST_F(RadiusClientTest, ARefusedRequestSendsNothingAndClosesTheOneBefore) {
  auto earlier = request(1);
  ASSERT_FALSE(earlier.empty());
  EXPECT_FALSE(client.send_request(1, {earlier, {}, "", 0, 0, {}, {}})) << "an empty user name";
  EXPECT_EQ(client.outstanding_identifier(1), 0);
  client.retransmit(1);
  EXPECT_FALSE(server.pending()) << "nothing sent, nothing kept to send again";
  auto late = server_reply(kRadiusAccessAccept, earlier[1], auth_of(earlier), "sec", {}, false);
  EXPECT_FALSE(client.datagram_received(late)) << "a late answer to the earlier request";
  EXPECT_EQ(request(1).at(1), earlier[1] + 1) << "the refused request took no identifier";
}

TEST_F(RadiusClientTest, AForgedReplyLeavesTheRequestOpenForTheRealOne) {
  auto r = request(3);
  auto real = server_reply(kRadiusAccessAccept, r[1], auth_of(r), "sec", {}, false);
  auto forged = server_reply(kRadiusAccessReject, r[1], auth_of(r), "guess", {}, false);
  EXPECT_FALSE(client.datagram_received(forged));
  EXPECT_EQ(client.outstanding_identifier(3), r[1]);
  auto delivered = client.datagram_received(real);
  ASSERT_TRUE(delivered);
  EXPECT_EQ(delivered->reply.code, kRadiusAccessAccept);
}

TEST_F(RadiusClientTest, TheChallengeStateGoesBackUntilForgotten) {
  auto r = request(4);
  std::vector<std::uint8_t> state{0xde, 0xad};
  ASSERT_TRUE(client.datagram_received(
      server_reply(kRadiusAccessChallenge, r[1], auth_of(r), "sec",
                   {{kRadiusAttrEapMessage, {1, 2, 0, 4}}, {kRadiusAttrState, state}}, true)));
  auto next = request(4);
  ASSERT_GT(next.size(), 20u + next[21]);
  std::size_t at = 20 + next[21];
  EXPECT_EQ(next[at], kRadiusAttrState);
  EXPECT_EQ(std::vector<std::uint8_t>(next.begin() + at + 2, next.begin() + at + 4), state);
  client.forget_state(4);
  auto fresh = request(4);
  EXPECT_NE(fresh[20 + fresh[21]], kRadiusAttrState);
}

TEST_F(RadiusClientTest, RetransmitsTheSameRequestThreeTimesAtMost) {
  auto r = request(6);
  for (int i = 0; i < 3; ++i) {
    client.retransmit(6);
    EXPECT_EQ(server.receive(), r);
  }
  client.retransmit(6);
  EXPECT_FALSE(server.pending()) << "loopback delivers at once, so a fourth copy would be here";
  EXPECT_TRUE(emergencies.empty());
}

TEST_F(RadiusClientTest, SendingWithoutASocketIsReportedAsAnEmergency) {
  client.close();
  client.send_request(1, {{}, {}, "u", 0, 0, {}, {}});
  ASSERT_EQ(emergencies.size(), 1u);
  EXPECT_NE(emergencies[0].find("Error transmitting RADIUS frame"), std::string::npos);
}
