// Runs the built swchipctl as a user does, against control sockets of the test's own that answer, stay
// silent, or never take the connection.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "emulator.h"

namespace {

using namespace std::chrono_literals;

struct Outcome {
  int status = -1;  // -1: still running when the test gave up on it
  std::string output;
};

// swchipctl running with its standard output and error on one pipe.
class Client {
 public:
  explicit Client(const std::vector<std::string> &args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      dup2(fds[1], 2);
      std::vector<std::string> command{std::getenv("SWCHIPCTL_BIN")};
      command.insert(command.end(), args.begin(), args.end());
      command = rt_testing::emulated_argv(command);
      std::vector<char *> argv;
      for (const std::string &word : command) argv.push_back(const_cast<char *>(word.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(fds[1]);
    out_fd_ = fds[0];
  }
  ~Client() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
  }
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;

  // Collects the output until swchipctl ends, or gives up on it after `limit`.
  Outcome finish(std::chrono::seconds limit) {
    Outcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[4096];
    for (;;) {
      pollfd p{out_fd_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        const ssize_t n = read(out_fd_, buffer, sizeof buffer);
        if (n > 0) {
          outcome.output.append(buffer, static_cast<size_t>(n));
          continue;
        }
        break;  // every writer is gone: swchipctl ended
      }
      if (std::chrono::steady_clock::now() > deadline) return outcome;
    }
    int wstatus = 0;
    waitpid(pid_, &wstatus, 0);
    pid_ = -1;
    outcome.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return outcome;
  }

 private:
  pid_t pid_ = -1;
  int out_fd_ = -1;
};

class SwchipctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/swchipctl_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path = dir_ + "/ctl";
  }
  void TearDown() override {
    for (int fd : fds_) close(fd);
    std::filesystem::remove_all(dir_);
  }

  // A control socket at `path` that takes `backlog` connections without accepting them.
  int listen_at_path(int backlog) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = address_of_path();
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    EXPECT_EQ(listen(fd, backlog), 0);
    fds_.push_back(fd);
    return fd;
  }
  int connect_to_path() {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = address_of_path();
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    fds_.push_back(fd);
    return fd;
  }
  // Takes the next client and reads its command line.
  int accept_command(int listener, std::string &line) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    EXPECT_GE(fd, 0);
    fds_.push_back(fd);
    char c = 0;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    return fd;
  }

  std::string path;

 private:
  sockaddr_un address_of_path() const {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
  }

  std::string dir_;
  std::vector<int> fds_;
};

// Far beyond swchipctl's own limit; only a swchipctl that waits forever reaches it.
constexpr std::chrono::seconds kGiveUp = 60s;

TEST_F(SwchipctlTest, AnswerIsPrintedAndARejectionExitsOne) {
  const int listener = listen_at_path(4);
  for (const std::string answer : {"0x00007385\n", "error: unknown command\n"}) {
    SCOPED_TRACE(answer);
    Client client({"--control", path, "read", "1", "2", "0x3"});
    std::string line;
    const int connection = accept_command(listener, line);
    EXPECT_EQ(line, "read 1 2 0x3");
    // In two pieces: the answer is the whole stream up to its end.
    ASSERT_EQ(write(connection, answer.data(), 3), 3);
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(write(connection, answer.data() + 3, answer.size() - 3),
              static_cast<ssize_t>(answer.size() - 3));
    shutdown(connection, SHUT_WR);
    Outcome outcome = client.finish(kGiveUp);
    EXPECT_EQ(outcome.status, answer.rfind("error: ", 0) == 0 ? 1 : 0);
    EXPECT_EQ(outcome.output, answer);
  }
}

TEST_F(SwchipctlTest, SimulatorThatAcceptsButNeverAnswersIsGivenUpOn) {
  const int listener = listen_at_path(4);
  Client client({"--control", path, "dump", "mac"});
  std::string line;
  accept_command(listener, line);
  EXPECT_EQ(line, "dump mac");
  Outcome outcome = client.finish(kGiveUp);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.output, "swchipctl: no answer from " + path + " within 5 s\n");
}

TEST_F(SwchipctlTest, SimulatorThatNeverTakesTheConnectionIsGivenUpOn) {
  // A backlog of none holds one waiting connection; the next one waits for room.
  listen_at_path(0);
  connect_to_path();
  Client client({"--control", path, "exchanges"});
  Outcome outcome = client.finish(kGiveUp);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.output, "swchipctl: no answer from " + path + " within 5 s\n");
}

TEST_F(SwchipctlTest, MissingSimulatorIsReported) {
  Client client({"--control", path, "exchanges"});
  Outcome outcome = client.finish(kGiveUp);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.output, "swchipctl: " + path + ": No such file or directory\n");
}

}  // namespace
