// Runs the built pvmgmt as a user does, against a management peer of the test's own on loopback that
// answers every request with result 0, and checks what reached the peer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "le.h"
#include "process_util.h"

namespace {

using namespace std::chrono_literals;

// The most a datagram holds over IPv4 less the object header: the largest +N and HEXDATA.
constexpr size_t kLargestData = 65507 - 16;

struct Outcome {
  int status = -1;
  std::string output;
  std::optional<std::vector<uint8_t>> sent;  // the datagram the peer received
};

class PvmgmtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer_fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(peer_fd_, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(peer_fd_, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(peer_fd_, reinterpret_cast<sockaddr *>(&address), &length), 0);
    port = std::to_string(ntohs(address.sin_port));
  }
  void TearDown() override { close(peer_fd_); }

  // Runs pvmgmt with `args`, answering what reaches the peer, until it exits.
  Outcome run(const std::vector<std::string> &args) {
    std::vector<std::string> argv{std::getenv("PVMGMT_BIN")};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv, {});
    Outcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (outcome.status < 0 && std::chrono::steady_clock::now() < deadline) {
      pollfd p{peer_fd_, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) answer(outcome);
      outcome.status = child.wait_exit(0ms);
    }
    // A datagram sent just before the exit.
    pollfd p{peer_fd_, POLLIN, 0};
    if (poll(&p, 1, 0) > 0) answer(outcome);
    outcome.output = child.output();
    return outcome;
  }

  // Runs pvmgmt against the peer: `--port <peer> args...`.
  Outcome run_to_peer(const std::vector<std::string> &args) {
    std::vector<std::string> all{"--port", port};
    all.insert(all.end(), args.begin(), args.end());
    return run(all);
  }

  // pvmgmt refused the command line: a usage error that names the bad text, and nothing was sent.
  static void expect_refused(const Outcome &outcome, const std::string &bad_text) {
    EXPECT_EQ(outcome.status, 2) << outcome.output;
    EXPECT_NE(outcome.output.find("\"" + bad_text + "\""), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("usage: pvmgmt"), std::string::npos) << outcome.output;
    EXPECT_FALSE(outcome.sent.has_value());
  }

  std::string port;

 private:
  void answer(Outcome &outcome) {
    std::vector<uint8_t> datagram(65535);
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n =
        recvfrom(peer_fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&from), &length);
    if (n < 0) return;
    datagram.resize(static_cast<size_t>(n));
    outcome.sent = datagram;
    if (datagram.size() >= 16) le_store32(&datagram[8], 0);
    sendto(peer_fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&from), length);
  }

  int peer_fd_ = -1;
};

TEST_F(PvmgmtTest, ZeroFillRunsUpToWhatOneDatagramCarries) {
  for (const size_t count : {size_t{0}, size_t{1}, kLargestData}) {
    SCOPED_TRACE(count);
    Outcome outcome = run_to_peer({"3001", "get", "+" + std::to_string(count)});
    EXPECT_EQ(outcome.status, 0) << outcome.output.substr(0, 200);
    ASSERT_TRUE(outcome.sent.has_value());
    EXPECT_EQ(outcome.sent->size(), 16 + count);
    EXPECT_EQ(le_load16(&(*outcome.sent)[14]), 16 + count);
    EXPECT_EQ(outcome.output.rfind(count == 0 ? "res=0\n" : "res=0 data=00", 0), 0u);
  }
  expect_refused(run_to_peer({"3001", "get", "+" + std::to_string(kLargestData + 1)}),
                 std::to_string(kLargestData + 1));
}

TEST_F(PvmgmtTest, ZeroFillCountThatIsNoCountIsRefused) {
  for (const std::string count :
       {"99999999999999", "-1", "18446744073709551615", "18446744073709551616", "", "12x", " 1", "0x10"}) {
    SCOPED_TRACE(count);
    expect_refused(run_to_peer({"3001", "get", "+" + count}), count);
  }
}

TEST_F(PvmgmtTest, HexDataIsPairsOfHexDigits) {
  Outcome bytes = run_to_peer({"3", "set", "00ff7F"});
  EXPECT_EQ(bytes.status, 0);
  ASSERT_TRUE(bytes.sent.has_value());
  EXPECT_EQ(std::vector<uint8_t>(bytes.sent->begin() + 16, bytes.sent->end()),
            (std::vector<uint8_t>{0x00, 0xff, 0x7f}));

  Outcome empty = run_to_peer({"3", "set", ""});
  EXPECT_EQ(empty.status, 0);
  ASSERT_TRUE(empty.sent.has_value());
  EXPECT_EQ(empty.sent->size(), 16u);

  for (const std::string data : {"-1", " 1", "1 ", "0x", "zz", "abc"}) {
    SCOPED_TRACE(data);
    expect_refused(run_to_peer({"3", "set", data}), data);
  }
  const std::string too_long((kLargestData + 1) * 2, '0');
  Outcome over = run_to_peer({"3", "set", too_long});
  EXPECT_EQ(over.status, 2);
  EXPECT_NE(over.output.find(std::to_string(kLargestData)), std::string::npos) << over.output.substr(0, 200);
  EXPECT_FALSE(over.sent.has_value());
}

TEST_F(PvmgmtTest, ObjectIdIsA32BitNumber) {
  for (const auto &[text, id] :
       {std::pair<std::string, uint32_t>{"0", 0}, {"3001", 3001}, {"4294967295", 4294967295u}}) {
    SCOPED_TRACE(text);
    Outcome outcome = run_to_peer({text, "get", "+4"});
    EXPECT_EQ(outcome.status, 0);
    ASSERT_TRUE(outcome.sent.has_value());
    EXPECT_EQ(le_load32(outcome.sent->data()), id);
  }
  for (const std::string text : {"abc", "", "3001x", "4294967296", "-1", "+5", " 5"}) {
    SCOPED_TRACE(text);
    expect_refused(run_to_peer({text, "get", "+4"}), text);
  }
}

TEST_F(PvmgmtTest, PortAndWaitAreNumbersInTheirRanges) {
  for (const std::string text : {"abc", "", "28x", "0", "65536", "-1", "4294967324"}) {
    SCOPED_TRACE(text);
    expect_refused(run({"--port", text, "3001", "get", "+4"}), text);
  }
  for (const std::string text : {"abc", "", "2x", "0", "601", "-1"}) {
    SCOPED_TRACE(text);
    expect_refused(run_to_peer({"--wait", text, "3001", "get", "+4"}), text);
  }
  // The highest port is taken; nobody answers there.
  Outcome highest = run({"--port", "65535", "3001", "get", "+4"});
  EXPECT_EQ(highest.status, 1);
  EXPECT_NE(highest.output.find("no answer from 127.0.0.1:65535"), std::string::npos) << highest.output;
}

TEST_F(PvmgmtTest, RequestThatCannotBeSentIsReportedSo) {
  // Broadcast needs a permission this socket does not ask for, so the send itself fails.
  Outcome outcome = run({"--host", "255.255.255.255", "--port", port, "3001", "get", "+4"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.output.find("pvmgmt: cannot send to 255.255.255.255:" + port), std::string::npos)
      << outcome.output;
}

}  // namespace
