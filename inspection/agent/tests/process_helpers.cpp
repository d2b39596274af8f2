#include "process_helpers.h"

#include <poll.h>

#include <chrono>

#include "emulator.h"

namespace vornagent::testing {

namespace {

pid_t spawn(const std::string &program, const std::vector<std::string> &args,
            const std::vector<std::string> &environment, int &out, bool with_errors = false) {
  int pipefd[2];
  if (pipe(pipefd) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], STDOUT_FILENO);
    if (with_errors) dup2(pipefd[1], STDERR_FILENO);
    close(pipefd[0]);
    close(pipefd[1]);
    for (const std::string &assignment : environment) putenv(const_cast<char *>(assignment.c_str()));
    std::vector<std::string> command{program};
    command.insert(command.end(), args.begin(), args.end());
    command = rt_testing::emulated_argv(command);
    std::vector<char *> argv;
    for (const std::string &a : command) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipefd[1]);
  out = pipefd[0];
  return pid;
}

int wait_exit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Output run_to_end(const std::string &program, const std::vector<std::string> &args,
                  const std::vector<std::string> &environment, bool with_errors) {
  Output result;
  int out = -1;
  pid_t pid = spawn(program, args, environment, out, with_errors);
  if (pid < 0) return result;
  char buffer[4096];
  ssize_t n;
  while ((n = read(out, buffer, sizeof buffer)) > 0) result.text.append(buffer, static_cast<std::size_t>(n));
  close(out);
  result.status = wait_exit(pid);
  return result;
}

}  // namespace

Output run_program(const std::string &program, const std::vector<std::string> &args,
                   const std::vector<std::string> &environment) {
  return run_to_end(program, args, environment, false);
}

Output run_program_with_errors(const std::string &program, const std::vector<std::string> &args,
                               const std::vector<std::string> &environment) {
  return run_to_end(program, args, environment, true);
}

BackgroundProgram::BackgroundProgram(const std::string &program, const std::vector<std::string> &args,
                                     const std::vector<std::string> &environment) {
  pid_ = spawn(program, args, environment, out_);
}

BackgroundProgram::~BackgroundProgram() {
  if (pid_ > 0) stop();
}

bool BackgroundProgram::wait_for(const std::string &text, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (output_.find(text) == std::string::npos) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[1024];
    ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

int BackgroundProgram::stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = wait_exit(pid_);
  pid_ = -1;
  char buffer[1024];
  ssize_t n;
  while ((n = read(out_, buffer, sizeof buffer)) > 0) output_.append(buffer, static_cast<std::size_t>(n));
  close(out_);
  out_ = -1;
  return status;
}

}  // namespace vornagent::testing
