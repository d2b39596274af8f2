// The RADIUS client against a real FreeRADIUS on loopback, running EAP-MD5 to an Access-Accept for a
// user with the right password and to an Access-Reject for one with a wrong password.
#include "freeradius_peer.h"
#include "process_util.h"
#include "radius_client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace dot1x;
using namespace dot1x::test;
using namespace std::chrono_literals;

namespace {

class FreeRadiusTest : public ::testing::Test {
 protected:
  FreeRadiusTest()
      : client({nullptr,
                [](Digest &d) {
                  for (auto &b : d) b = static_cast<std::uint8_t>(std::rand());
                },
                [] { return 0xc0000201u; }}) {}

  void SetUp() override {
    ASSERT_TRUE(run("command -v freeradius > /dev/null")) << "freeradius is not installed";
    ASSERT_TRUE(server.wait_ready()) << server.log();
    client.set_secret(kSecret);
    ASSERT_TRUE(client.open(0x7f000001, server.port()));
  }

  // Sends the EAP response and waits (bounded) for the server's verified answer.
  std::optional<RadiusReply> exchange(unsigned port, const std::vector<std::uint8_t> &eap,
                                      const std::string &user) {
    client.send_request(
        port, {eap, {}, user, 0, 0, {2, 0, 0, 0, 0, static_cast<std::uint8_t>(port)}, {2, 0, 0, 0, 0, 0x10}});
    // The server delays a Reject by one second.
    for (int i = 0; i < 30; ++i) {
      pollfd p{client.fd(), POLLIN, 0};
      if (poll(&p, 1, 100) == 1) {
        auto delivered = client.check_rx();
        if (!delivered) return std::nullopt;
        EXPECT_EQ(delivered->port, port);
        return delivered->reply;
      }
    }
    return std::nullopt;
  }

  static std::vector<std::uint8_t> identity(std::uint8_t id, const std::string &user) {
    std::vector<std::uint8_t> e{2, id, 0, static_cast<std::uint8_t>(5 + user.size()), 1};
    e.insert(e.end(), user.begin(), user.end());
    return e;
  }

  // The EAP-MD5 answer to a server's MD5-Challenge request.
  static std::vector<std::uint8_t> md5_response(const std::vector<std::uint8_t> &request,
                                                const std::string &password) {
    EXPECT_GE(request.size(), 6u);
    EXPECT_EQ(request[4], 4) << "EAP-MD5 challenge expected";
    std::uint8_t id = request[1];
    std::size_t value_size = request[5];
    std::vector<std::uint8_t> input{id};
    input.insert(input.end(), password.begin(), password.end());
    input.insert(input.end(), request.begin() + 6,
                 request.begin() + 6 + static_cast<std::ptrdiff_t>(value_size));
    Digest d = md5(input);
    std::vector<std::uint8_t> e{2, id, 0, 22, 4, 16};
    e.insert(e.end(), d.begin(), d.end());
    return e;
  }

  void authenticate(unsigned port, const std::string &user, const std::string &password, std::uint8_t code,
                    std::uint8_t eap_code) {
    auto challenge = exchange(port, identity(1, user), user);
    ASSERT_TRUE(challenge) << server.log();
    ASSERT_EQ(challenge->code, kRadiusAccessChallenge) << server.log();
    EXPECT_FALSE(challenge->state.empty());
    ASSERT_EQ(challenge->eap.at(0), 1);
    auto final_reply = exchange(port, md5_response(challenge->eap, password), user);
    ASSERT_TRUE(final_reply) << server.log();
    EXPECT_EQ(final_reply->code, code);
    ASSERT_FALSE(final_reply->eap.empty());
    EXPECT_EQ(final_reply->eap[0], eap_code);
  }

  FreeRadius server;
  RadiusClient client;
};

}  // namespace

TEST_F(FreeRadiusTest, RightPasswordIsAccepted) {
  authenticate(1, "alice", "wonderland", kRadiusAccessAccept, 3);
}

TEST_F(FreeRadiusTest, WrongPasswordIsRejected) {
  authenticate(2, "bob", "not-the-builder", kRadiusAccessReject, 4);
}

TEST_F(FreeRadiusTest, WrongSharedSecretGetsNoUsableReply) {
  client.set_secret("not-the-secret");
  EXPECT_FALSE(exchange(3, identity(1, "alice"), "alice"));
}

// A User-Name attribute holds at least one character: an empty identity cannot be carried, so nothing
// goes to the server for it, and the port's next request is served as usual.
TEST_F(FreeRadiusTest, EmptyIdentityIsNeverSentAndTheNextRequestIsServed) {
  EXPECT_FALSE(
      client.send_request(4, {identity(1, ""), {}, "", 0, 0, {2, 0, 0, 0, 0, 4}, {2, 0, 0, 0, 0, 0x10}}));
  EXPECT_EQ(client.outstanding_identifier(4), 0) << "no request is waiting for an answer";
  authenticate(4, "alice", "wonderland", kRadiusAccessAccept, 3);
  const std::string log = server.log();
  EXPECT_EQ(log.find("Malformed"), std::string::npos) << log;
  std::size_t requests = 0;
  for (auto at = log.find("Received Access-Request"); at != std::string::npos;
       at = log.find("Received Access-Request", at + 1))
    ++requests;
  EXPECT_EQ(requests, 2u) << "alice's identity and her MD5 answer alone\n" << log;
}
