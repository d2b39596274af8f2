#include "process_util.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "emulator.h"

ChildProcess::ChildProcess(const std::vector<std::string> &argv, const std::vector<std::string> &env) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) < 0) throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    for (const std::string &e : env) putenv(const_cast<char *>(e.c_str()));
    const std::vector<std::string> command = rt_testing::emulated_argv(argv);
    std::vector<char *> args;
    for (const std::string &a : command) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  out_fd_ = fds[0];
  reader_ = std::thread([this] { drain(); });
}

ChildProcess::~ChildProcess() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  // A daemonised grandchild may hold the pipe open: the reader stops on the flag, not on its end.
  stop_ = true;
  reader_.join();
  close(out_fd_);
}

void ChildProcess::drain() {
  char buf[4096];
  while (!stop_) {
    pollfd p{out_fd_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    const ssize_t n = read(out_fd_, buf, sizeof buf);
    std::lock_guard lock(mutex_);
    if (n <= 0) {
      output_ended_ = true;
      grown_.notify_all();
      return;
    }
    output_.append(buf, static_cast<size_t>(n));
    grown_.notify_all();
  }
}

std::string ChildProcess::output() const {
  std::lock_guard lock(mutex_);
  return output_;
}

bool ChildProcess::wait_for_output(const std::string &text, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return grown_.wait_for(lock, timeout, [&] {
    return output_.find(text) != std::string::npos || output_ended_;
  }) && output_.find(text) != std::string::npos;
}

int ChildProcess::wait_exit(std::chrono::milliseconds timeout) {
  int status = wait_child_exit(pid_, timeout);
  if (status >= 0) {
    reaped_ = true;
    // What the child wrote before it ended is in the output once the pipe is drained.
    std::unique_lock lock(mutex_);
    grown_.wait_for(lock, std::chrono::milliseconds(500), [&] { return output_ended_; });
  }
  return status;
}

int wait_child_exit(pid_t pid, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    if (r < 0 || std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/pv_test.XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string read_text_file(const std::string &path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

bool run(const std::string &command) {
  return std::system(command.c_str()) == 0;
}

std::string output_of(const std::string &command) {
  std::string text;
  if (FILE *pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
  }
  return text;
}

bool wait_for_path(const std::string &path, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!std::filesystem::exists(path)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
