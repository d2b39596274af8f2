// Starts swchipd on unique socket paths for one test and stops it afterwards.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulator.h"

extern char **environ;

class SimulatorProcess {
 public:
  SimulatorProcess() {
    static int serial = 0;
    const std::string base = "/tmp/swc-sim-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
    device = base + ".dev";
    control = base + ".ctl";
  }
  ~SimulatorProcess() { stop(); }

  bool start() {
    const char *bin = std::getenv("SWCHIPD_BIN");
    if (!bin) return false;
    std::vector<std::string> command =
        rt_testing::emulated_argv({bin, "--device", device, "--control", control});
    std::vector<char *> argv;
    for (std::string &word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    // Bounded wait for the process to bind both sockets.
    for (int i = 0; i < 500; ++i) {
      struct stat st;
      if (::stat(control.c_str(), &st) == 0 && ::stat(device.c_str(), &st) == 0) return true;
      usleep(10000);
    }
    return false;
  }

  // Sends SIGTERM and returns the exit status (-1 if it did not exit normally).
  int stop() {
    if (pid <= 0) return -1;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Runs swchipctl with the given command; returns its output and sets `exit_status`.
  std::string ctl(const std::string &command, int *exit_status = nullptr) const {
    const char *bin = std::getenv("SWCHIPCTL_BIN");
    if (!bin) return "no SWCHIPCTL_BIN";
    const std::string line =
        rt_testing::emulated_command(std::string(bin) + " --control " + control + " " + command);
    FILE *pipe = ::popen(line.c_str(), "r");
    std::string out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
    const int status = ::pclose(pipe);
    if (exit_status) *exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
  }

  std::string device;
  std::string control;
  pid_t pid = -1;
};
