// The inspection daemon and its clients as separate processes, each test in its own IPC namespace.
#include <gtest/gtest.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include <poll.h>

#include "ipc_namespace.h"
#include "process_helpers.h"
#include "vornagent.h"

namespace vornagent::testing {
namespace {

constexpr key_t kKeys[] = {13668, 13666, 13671, 13682, 13672};

int count_segments() {
  int count = 0;
  for (key_t key : kKeys) count += shmget(key, 0, 0) >= 0;
  return count;
}

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(enter_fresh_ipc_namespace()); }
  std::string daemon_path = program_path("VORNAGENTD_BIN");
};

TEST_F(DaemonTest, StartAndShutDownLeaveNoSegmentsAndNoSemaphore) {
  BackgroundProgram daemon(daemon_path, {});
  ASSERT_TRUE(daemon.wait_for("running")) << daemon.output();
  EXPECT_NE(daemon.output().find("vorn daemon version 1.6\n"), std::string::npos);
  EXPECT_EQ(count_segments(), 4);
  EXPECT_GE(semget(14610, 1, 0), 0);
  EXPECT_EQ(daemon.stop(), 0);
  EXPECT_EQ(count_segments(), 0);
  EXPECT_LT(semget(14610, 1, 0), 0);
}

TEST_F(DaemonTest, ASecondDaemonFailsAndLeavesTheFirstOnesObjects) {
  BackgroundProgram first(daemon_path, {});
  ASSERT_TRUE(first.wait_for("running"));
  int semaphore = semget(14610, 1, 0);
  int mirror = shmget(13668, 0, 0);

  Output second = run_program(daemon_path, {});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.text.find("kaCmdAgnt(309) : Out of Space"), std::string::npos);
  EXPECT_EQ(semget(14610, 1, 0), semaphore);
  EXPECT_EQ(semctl(semaphore, 0, GETVAL), 1);
  EXPECT_EQ(shmget(13668, 0, 0), mirror);
  EXPECT_EQ(count_segments(), 4);
  EXPECT_EQ(first.stop(), 0);
}

TEST_F(DaemonTest, ADaemonKilledWithoutShutDownCanBeStartedAgain) {
  {
    BackgroundProgram crashed(daemon_path, {});
    ASSERT_TRUE(crashed.wait_for("running"));
    kill(crashed.pid(), SIGKILL);
  }
  BackgroundProgram next(daemon_path, {});
  EXPECT_TRUE(next.wait_for("running")) << next.output();
  EXPECT_EQ(next.stop(), 0);
}

// Runs `body` in a child process; returns its pid.
template <typename Body>
pid_t child(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int exit_status(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(DaemonTest, ClientsSerialiseOnTheSemaphoreAndADeadHolderGivesItBack) {
  BackgroundProgram daemon(daemon_path, {});
  ASSERT_TRUE(daemon.wait_for("running"));
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);

  // The holder takes the lock, says so, and dies inside its bracket when told to.
  pid_t holder = child([&] {
    int id = kaGetKey();
    if (id < 0 || kaSemWait(id) != 0) return 1;
    char c = 'h';
    if (write(ready[1], &c, 1) != 1 || read(release[0], &c, 1) != 1) return 2;
    return 0;  // exits without kaSemSignal
  });
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);

  int acquired[2];
  ASSERT_EQ(pipe(acquired), 0);
  pid_t waiter = child([&] {
    int id = kaGetKey();
    if (id < 0 || kaSemWait(id) != 0) return 1;
    char a = 'a';
    if (write(acquired[1], &a, 1) != 1) return 2;
    return kaSemSignal(id) == 0 ? 0 : 3;
  });
  pollfd got{acquired[0], POLLIN, 0};
  EXPECT_EQ(poll(&got, 1, 300), 0) << "the second client did not wait for the first";

  ASSERT_EQ(write(release[1], "x", 1), 1);
  EXPECT_EQ(exit_status(holder), 0);
  EXPECT_EQ(read(acquired[0], &c, 1), 1);
  EXPECT_EQ(exit_status(waiter), 0);
  EXPECT_EQ(semctl(semget(14610, 1, 0), 0, GETVAL), 1);
  EXPECT_EQ(daemon.stop(), 0);
}

TEST_F(DaemonTest, AClientWithoutDaemonGetsAFreeSemaphoreAndTheDaemonStillStarts) {
  pid_t client = child([] {
    int id = kaGetKey();
    return id >= 0 && kaSemWait(id) == 0 && kaSemSignal(id) == 0 ? 0 : 1;
  });
  EXPECT_EQ(exit_status(client), 0);
  BackgroundProgram daemon(daemon_path, {});
  EXPECT_TRUE(daemon.wait_for("running"));
  EXPECT_EQ(daemon.stop(), 0);
}

}  // namespace
}  // namespace vornagent::testing
