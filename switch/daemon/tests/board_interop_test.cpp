// portvisor on the simulated board: the chip simulator and the daemon in a network namespace of their
// own with an "eth0", reached over UDP port 28. Needs root (namespaces, tap device, port 28).
#include "simulated_board.h"

#include <arpa/inet.h>

namespace {

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new BoardNamespace);

TEST_F(SimulatedBoard, DaemonStartsOnTheSimulatorAndIsManagedOverPort28) {
  auto pv = start_portvisor();
  ASSERT_TRUE(wait_ready()) << pv->output();
  EXPECT_TRUE(pv->wait_for_output("SwGenIO driver version: swchipd simulated SwGenIO 1.0.", 5s))
      << pv->output();
  EXPECT_TRUE(pv->wait_for_output("portvisor/mgmt/mgmt_init(", 5s)) << pv->output();
  EXPECT_EQ(pv->output().find("/emerg:"), std::string::npos) << pv->output();

  uint32_t res = 99;
  auto mac = client.object(11, 0, std::vector<uint8_t>(6), res, 1s);
  ASSERT_TRUE(mac);
  EXPECT_EQ(res, 0u);
  EXPECT_EQ(*mac, (std::vector<uint8_t>{0x02, 0x11, 0x22, 0x44, 0x55, 0x00}));

  ASSERT_TRUE(client.object(10, 1, u32_data(1), res, 1s));
  ASSERT_TRUE(pv->wait_for_output("Pause execution", 5s));
  auto paused = client.object(10, 0, u32_data(0), res, 1s);
  ASSERT_TRUE(paused);
  EXPECT_EQ(le_load32(paused->data()), 1u);
  ASSERT_TRUE(client.object(10, 1, u32_data(0), res, 1s));
  ASSERT_TRUE(pv->wait_for_output("Resume execution", 5s));

  ASSERT_TRUE(client.object(5, 1, {}, res, 1s));
  EXPECT_EQ(res, 0u);
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

TEST_F(SimulatedBoard, RestartReadsTheSavedConfiguration) {
  auto first = start_portvisor();
  ASSERT_TRUE(wait_ready()) << first->output();
  uint32_t res = 99;
  std::vector<uint8_t> block(100, 0x42);
  ASSERT_TRUE(client.object(6, 1, block, res, 1s));
  ASSERT_EQ(res, 0u);
  ASSERT_TRUE(client.object(5, 1, {}, res, 1s)) << first->output();
  ASSERT_EQ(first->wait_exit(10s), 0) << first->output();

  auto second = start_portvisor();
  ASSERT_TRUE(wait_ready()) << second->output();
  EXPECT_TRUE(second->wait_for_output("File read success", 5s)) << second->output();
  auto read = client.object(6, 0, std::vector<uint8_t>(100), res, 1s);
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, block);
  kill(second->pid(), SIGTERM);
  EXPECT_EQ(second->wait_exit(10s), 0);
}

TEST_F(SimulatedBoard, WithoutEth0TheBoardReportsAndManagementStillWorks) {
  ASSERT_TRUE(run("ip link del eth0"));
  auto pv = start_portvisor();
  ASSERT_TRUE(wait_ready()) << pv->output();
  EXPECT_TRUE(pv->wait_for_output("/emerg: SIOCGIFHWADDR(eth0): ", 5s)) << pv->output();
  kill(pv->pid(), SIGTERM);
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

// Another host joined to the board by a veth pair, 10.0.0.2 on its side and 10.0.0.1 on the board's.
class ForeignHost {
 public:
  ForeignHost() {
    ok_ = run("ip netns add " + ns_) && run("ip link add mgv0 type veth peer name mgv1") &&
          run("ip link set mgv1 netns " + ns_) &&
          run("ip addr add 10.0.0.1/24 dev mgv0 && ip link set mgv0 up") &&
          run("ip netns exec " + ns_ +
              " sh -c 'ip link set lo up && ip addr add 10.0.0.2/24 dev mgv1 && "
              "ip link set mgv1 up'");
  }
  ~ForeignHost() {
    run("ip link del mgv0 2>/dev/null");
    run("ip netns del " + ns_);
  }
  bool ok() const { return ok_; }
  // pvmgmt's exit status from the other host: 0 answered, 1 no answer.
  int pvmgmt(const std::string &arguments) const {
    const int status = std::system(
        ("ip netns exec " + ns_ + " " + std::getenv("PVMGMT_BIN") + " " + arguments + " >/dev/null 2>&1")
            .c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::string ns_ = "mgmt-foreign-" + std::to_string(getpid());
  bool ok_ = false;
};

// A datagram to 127.0.0.1:28 whose source is the board's own non-loopback address; true when answered.
bool answered_from(const char *source, const std::vector<uint8_t> &datagram) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source, &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(28);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool answered = false;
  if (bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) == 0 &&
      sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) > 0) {
    pollfd p{fd, POLLIN, 0};
    answered = poll(&p, 1, 1000) > 0;
  }
  close(fd);
  return answered;
}

TEST_F(SimulatedBoard, ManagementAnswersTheBoxItselfOnly) {
  ForeignHost foreign;
  ASSERT_TRUE(foreign.ok());
  auto pv = start_portvisor();
  ASSERT_TRUE(wait_ready()) << pv->output();

  // From the other host: neither a read nor terminate gets through.
  EXPECT_EQ(foreign.pvmgmt("--host 10.0.0.1 8 get +8"), 1);
  EXPECT_EQ(foreign.pvmgmt("--host 10.0.0.1 5 set"), 1);

  // On the box, from an address that is not loopback: dropped and counted.
  std::vector<uint8_t> terminate(16, 0);
  le_store32(&terminate[0], 5);
  le_store32(&terminate[4], 1);  // SET
  le_store16(&terminate[14], 16);
  EXPECT_FALSE(answered_from("10.0.0.1", terminate));
  EXPECT_TRUE(pv->wait_for_output("Dropping message from a non-local sender (1 dropped)", 5s))
      << pv->output();

  uint32_t res = 99;
  auto count = client.object(8, 0, std::vector<uint8_t>(8), res, 1s);
  ASSERT_TRUE(count) << "the daemon must still run and answer on loopback";
  EXPECT_EQ(res, 0u);
  EXPECT_EQ(le_load32(count->data()), 6u);
  kill(pv->pid(), SIGTERM);
  EXPECT_EQ(pv->wait_exit(10s), 0);
}

}  // namespace

// The run command's board: Ctrl-C reaches every process of the terminal's foreground group at once, as
// the interrupt to the group here does. The daemon must end while the simulator still answers, so its
// stop traces no failed register read or frame poll.
TEST(RunCommandBoard, CtrlCStopsTheDaemonBeforeTheSimulator) {
  const std::string bin_dir = std::getenv("RUN_BOARD_BIN_DIR");
  ChildProcess board({"/usr/bin/setsid", "/bin/bash", std::getenv("RUN_BOARD_SCRIPT"), bin_dir}, {});
  ASSERT_TRUE(board.wait_for_output("Port 6 changed state", 20s)) << board.output();
  ASSERT_EQ(kill(-board.pid(), SIGINT), 0);
  EXPECT_EQ(board.wait_exit(20s), 0) << board.output();
  const std::string out = board.output();
  const size_t stop = out.find("Terminating on signal 2");
  ASSERT_NE(stop, std::string::npos) << out;
  EXPECT_EQ(out.find("/error:", stop), std::string::npos) << out.substr(stop);
  EXPECT_NE(out.find("=== portvisor ended with status 0", stop), std::string::npos) << out.substr(stop);
}
