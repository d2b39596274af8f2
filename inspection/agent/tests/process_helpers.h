// Running the inspection daemon and client programs from tests.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace vornagent::testing {

struct Output {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string text;
};

inline std::string program_path(const char *variable) {
  const char *path = std::getenv(variable);
  return path ? path : "";
}

// Runs a program to its end and collects its standard output.
Output run_program(const std::string &program, const std::vector<std::string> &args,
                   const std::vector<std::string> &environment = {});

// The same, collecting its standard error together with its standard output.
Output run_program_with_errors(const std::string &program, const std::vector<std::string> &args,
                               const std::vector<std::string> &environment = {});

// A program that runs in the background until stopped; its standard output is read line by line.
class BackgroundProgram {
 public:
  BackgroundProgram(const std::string &program, const std::vector<std::string> &args,
                    const std::vector<std::string> &environment = {});
  ~BackgroundProgram();
  BackgroundProgram(const BackgroundProgram &) = delete;
  BackgroundProgram &operator=(const BackgroundProgram &) = delete;

  // Reads output until `text` arrives; false at end of output or when `limit` has passed.
  bool wait_for(const std::string &text, std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Sends SIGTERM and waits; the exit status or -1.
  int stop();
  pid_t pid() const { return pid_; }
  const std::string &output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

}  // namespace vornagent::testing
