// The real portvisor binary in the foreground and in daemon mode, and the supervisor's restart rule.
#include "mgmt_client.h"
#include "process_util.h"
#include "startup.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

// The daemon sets the host's network parameters at start (the router legs' rp_filter); run as root,
// it gets a network namespace of its own so the machine running the tests is left as it was.
class OwnNetwork : public ::testing::Environment {
 public:
  void SetUp() override {
    if (geteuid() != 0) return;
    ASSERT_EQ(unshare(CLONE_NEWNET), 0);
    ASSERT_EQ(std::system("ip link set lo up"), 0);
  }
};
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new OwnNetwork);

class Portvisor : public ::testing::Test {
 protected:
  std::string pidfile() const { return dir.path() + "/portvisor.pid"; }
  std::vector<std::string> env() const {
    return {"PORTVISOR_WORKDIR=" + dir.path() + "/work", "PORTVISOR_PIDFILE=" + pidfile(),
            "PORTVISOR_MGMT_PORT=" + std::to_string(port),
            "PORTVISOR_SWITCH_DEVICE=" + dir.path() + "/no-device"};
  }
  // Waits until the daemon answers management requests.
  bool wait_ready(MgmtClient &client) {
    for (int i = 0; i < 200; ++i) {
      uint32_t res = 99;
      if (client.object(8, 0, std::vector<uint8_t>(8), res, 50ms)) return res == 0;
    }
    return false;
  }
  uint16_t port = free_udp_port();
  std::vector<std::string> args(std::vector<std::string> extra) const {
    extra.insert(extra.begin(), std::getenv("PORTVISOR_BIN"));
    return extra;
  }
  TempDir dir;
};

TEST_F(Portvisor, ForegroundStartsTracesAndEndsOnSigterm) {
  ChildProcess pv(args({"--trace", "main", "debug"}), env());
  ASSERT_TRUE(pv.wait_for_output(" started", 10s)) << pv.output();
  EXPECT_NE(pv.output().find("portvisor/main/main("), std::string::npos) << pv.output();
  EXPECT_EQ(read_text_file(pidfile()), std::to_string(pv.pid()));
  kill(pv.pid(), SIGTERM);
  EXPECT_EQ(pv.wait_exit(10s), 0);
  EXPECT_NE(pv.output().find("\nTerminating on signal 15\n"), std::string::npos) << pv.output();
  EXPECT_NE(pv.output().find(" ended\n"), std::string::npos) << pv.output();
}

TEST_F(Portvisor, SecondSignalAbortsWithStatus1) {
  ChildProcess pv(args({"--trace", "main", "debug"}), env());
  ASSERT_TRUE(pv.wait_for_output(" started", 10s)) << pv.output();
  // Stopped, the process takes both signals in one go before the loop can notice the first.
  kill(pv.pid(), SIGSTOP);
  kill(pv.pid(), SIGTERM);
  kill(pv.pid(), SIGINT);
  kill(pv.pid(), SIGCONT);
  EXPECT_EQ(pv.wait_exit(10s), 1);
  EXPECT_NE(pv.output().find("Aborting on signal "), std::string::npos) << pv.output();
}

TEST_F(Portvisor, LivingPidRefusesStartAndLeavesFile) {
  std::ofstream(pidfile()) << getpid();
  ChildProcess pv(args({}), env());
  EXPECT_EQ(pv.wait_exit(10s), 1);
  EXPECT_EQ(read_text_file(pidfile()), std::to_string(getpid()));
}

TEST_F(Portvisor, StalePidIsReplaced) {
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  std::ofstream(pidfile()) << gone;
  ChildProcess pv(args({"--trace", "main", "debug"}), env());
  ASSERT_TRUE(pv.wait_for_output(" started", 10s)) << pv.output();
  EXPECT_EQ(read_text_file(pidfile()), std::to_string(pv.pid()));
  kill(pv.pid(), SIGTERM);
  EXPECT_EQ(pv.wait_exit(10s), 0);
}

TEST_F(Portvisor, TraceWithoutArgumentsExits1) {
  ChildProcess pv(args({"--trace"}), env());
  EXPECT_EQ(pv.wait_exit(10s), 1);
  EXPECT_NE(pv.output().find("Trace option: --trace <module> <level>"), std::string::npos);
}

TEST_F(Portvisor, ManagementSuspendResumeAndTerminate) {
  ChildProcess pv(args({"--trace", "mgmt", "note"}), env());
  MgmtClient client(port);
  ASSERT_TRUE(wait_ready(client)) << pv.output();
  uint32_t res = 99;
  ASSERT_TRUE(client.object(10, 1, u32_data(1), res, 1s));
  EXPECT_EQ(res, 0u);
  EXPECT_TRUE(pv.wait_for_output("Pause execution", 5s)) << pv.output();
  auto paused = client.object(10, 0, u32_data(0), res, 1s);  // still answered while paused
  ASSERT_TRUE(paused);
  EXPECT_EQ(le_load32(paused->data()), 1u);
  ASSERT_TRUE(client.object(10, 1, u32_data(0), res, 1s));
  EXPECT_TRUE(pv.wait_for_output("Resume execution", 5s)) << pv.output();
  ASSERT_TRUE(client.object(5, 1, {}, res, 1s));
  EXPECT_EQ(res, 0u);
  EXPECT_EQ(pv.wait_exit(10s), 0);
  EXPECT_NE(pv.output().find("Termination requested"), std::string::npos);
}

TEST_F(Portvisor, PausedAtStartServesManagementOnly) {
  ChildProcess pv(args({"--pause_execution"}), env());
  MgmtClient client(port);
  ASSERT_TRUE(wait_ready(client)) << pv.output();
  uint32_t res = 99;
  auto pause = client.object(10, 0, u32_data(0), res, 1s);
  ASSERT_TRUE(pause);
  EXPECT_EQ(le_load32(pause->data()), 1u);
  ASSERT_TRUE(client.object(5, 1, {}, res, 1s));
  EXPECT_EQ(pv.wait_exit(10s), 0);
}

TEST_F(Portvisor, PausedDaemonEndsOnSigterm) {
  ChildProcess pv(args({"--pause_execution"}), env());
  MgmtClient client(port);
  ASSERT_TRUE(wait_ready(client)) << pv.output();
  kill(pv.pid(), SIGTERM);
  EXPECT_EQ(pv.wait_exit(10s), 0);
}

TEST_F(Portvisor, MalformedDatagramGetsNoReplyAndDaemonLives) {
  ChildProcess pv(args({}), env());
  MgmtClient client(port);
  ASSERT_TRUE(wait_ready(client)) << pv.output();
  std::vector<uint8_t> bad(16, 0);
  le_store16(&bad[14], 15);
  EXPECT_FALSE(client.request(bad, 200ms));
  EXPECT_FALSE(client.request(std::vector<uint8_t>(3, 0xFF), 200ms));
  EXPECT_TRUE(wait_ready(client));
  kill(pv.pid(), SIGTERM);
  EXPECT_EQ(pv.wait_exit(10s), 0);
  EXPECT_GT(read_text_file(dir.path() + "/work/switch.conf").size(), 40u);  // defaults written at start
}

pid_t parent_of(pid_t pid) {
  std::string stat = read_text_file("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream in(stat.substr(stat.rfind(')') + 2));
  char state;
  pid_t ppid = -1;
  in >> state >> ppid;
  return ppid;
}

pid_t wait_for_pid_file(const std::string &path) {
  for (int i = 0; i < 1000; ++i) {
    std::string text = read_text_file(path);
    if (!text.empty()) return std::stoi(text);
    std::this_thread::sleep_for(10ms);
  }
  return -1;
}

class DaemonMode : public Portvisor {
 protected:
  void SetUp() override { ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }
  // Starts `portvisor --daemon`; returns {worker, supervisor}.
  std::pair<pid_t, pid_t> start() {
    ChildProcess launcher(args({"--daemon"}), env());
    EXPECT_EQ(launcher.wait_exit(10s), 0);
    pid_t worker = wait_for_pid_file(pidfile());
    pid_t supervisor = worker > 0 ? parent_of(worker) : -1;
    // The supervisor becomes this process's child once the intermediate process of the double fork
    // has exited; collect that one.
    for (int i = 0; i < 1000 && supervisor > 0 && parent_of(supervisor) != getpid(); ++i)
      std::this_thread::sleep_for(5ms);
    while (waitpid(-1, nullptr, WNOHANG) > 0) {}
    return {worker, supervisor};
  }
};

TEST_F(DaemonMode, WorkerEndingWithStatus0EndsSupervisorWith0) {
  auto [worker, supervisor] = start();
  ASSERT_GT(worker, 0);
  ASSERT_NE(supervisor, worker);
  kill(worker, SIGTERM);
  EXPECT_EQ(wait_child_exit(supervisor, 10s), 0);
}

TEST_F(DaemonMode, WorkerKilledBySignalEndsSupervisorWith1) {
  auto [worker, supervisor] = start();
  ASSERT_GT(worker, 0);
  kill(worker, SIGKILL);
  EXPECT_EQ(wait_child_exit(supervisor, 10s), 1);
}

TEST_F(DaemonMode, DescriptorsZeroToTwoAreDevNull) {
  auto [worker, supervisor] = start();
  ASSERT_GT(worker, 0);
  for (int fd = 0; fd <= 2; ++fd) {
    std::string link = "/proc/" + std::to_string(worker) + "/fd/" + std::to_string(fd);
    EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/null") << fd;
  }
  kill(worker, SIGTERM);
  EXPECT_EQ(wait_child_exit(supervisor, 10s), 0);
}

// The supervisor itself, run in a child of the test: each worker appends a line to a file and exits
// with the next status of a script.
int supervise(const std::string &log, std::vector<int> statuses) {
  pid_t supervisor = fork();
  if (supervisor == 0) {
    app_supervisor();
    size_t runs = read_text_file(log).size();
    std::ofstream(log, std::ios::app) << 'w';
    _exit(statuses[std::min(runs, statuses.size() - 1)]);
  }
  return wait_child_exit(supervisor, 10s);
}

TEST_F(Portvisor, SupervisorRestartsWorkerOnStatus2) {
  std::string log = dir.path() + "/runs";
  EXPECT_EQ(supervise(log, {2, 2, 0}), 0);
  EXPECT_EQ(read_text_file(log), "www");
}

TEST_F(Portvisor, SupervisorPassesOtherStatusesThrough) {
  std::string log = dir.path() + "/runs";
  EXPECT_EQ(supervise(log, {2, 1}), 1);
  EXPECT_EQ(read_text_file(log), "ww");
  std::string log2 = dir.path() + "/runs2";
  EXPECT_EQ(supervise(log2, {7}), 7);
}

}  // namespace
