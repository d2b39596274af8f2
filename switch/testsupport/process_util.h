// Runs a program as a child with its standard output on a pipe, for tests of real processes. A thread
// drains the pipe all the time, so a child that traces a lot never blocks on a full pipe while the test
// is busy elsewhere.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
 public:
  // Starts `argv` with the extra environment entries ("NAME=value"); stderr joins stdout.
  ChildProcess(const std::vector<std::string> &argv, const std::vector<std::string> &env);
  ~ChildProcess();
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  pid_t pid() const { return pid_; }
  // Waits until the output contains `text`; false on timeout or end of output.
  bool wait_for_output(const std::string &text, std::chrono::milliseconds timeout);
  // The output read so far.
  std::string output() const;
  // Waits for the exit; returns the exit status, 128 + signal when killed, -1 on timeout.
  int wait_exit(std::chrono::milliseconds timeout);

 private:
  void drain();
  pid_t pid_ = -1;
  int out_fd_ = -1;
  bool reaped_ = false;
  mutable std::mutex mutex_;
  std::condition_variable grown_;
  std::string output_;
  bool output_ended_ = false;
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

// Waits for a child of this process (including orphans adopted as subreaper); same codes as above.
int wait_child_exit(pid_t pid, std::chrono::milliseconds timeout);

// A fresh directory under /tmp, removed with its contents at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

std::string read_text_file(const std::string &path);

// Runs a shell command line; true when it exits with 0.
bool run(const std::string &command);
// What a shell command line writes to its standard output.
std::string output_of(const std::string &command);
// Waits until `path` exists; false when it did not come within `timeout`.
bool wait_for_path(const std::string &path, std::chrono::milliseconds timeout);
