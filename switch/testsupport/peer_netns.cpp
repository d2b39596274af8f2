#include "peer_netns.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace peers {

CommandResult shell(const std::string &command) {
  CommandResult result;
  FILE *pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer{};
  size_t n = 0;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string quote(const std::string &word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

namespace {

// "<prefix>-<pid>-<n>" of a process that is gone: left behind by a test that crashed.
bool stale(const std::string &name, const std::string &prefix) {
  if (name.rfind(prefix + "-", 0) != 0) return false;
  const std::string rest = name.substr(prefix.size() + 1);
  const pid_t owner = static_cast<pid_t>(std::strtol(rest.c_str(), nullptr, 10));
  return owner > 0 && kill(owner, 0) != 0 && errno == ESRCH;
}

void remove_stale(const std::string &prefix) {
  std::error_code ignored;
  for (const auto &entry : std::filesystem::directory_iterator("/var/run/netns", ignored)) {
    const std::string name = entry.path().filename().string();
    if (stale(name, prefix)) shell("ip netns del " + quote(name));
  }
}

std::atomic<unsigned> namespaces_made{0};

}  // namespace

Netns::Netns(const std::string &prefix) {
  remove_stale(prefix);
  name_ = prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(namespaces_made++);
  const CommandResult made = shell("ip netns add " + quote(name_));
  if (!made.ok()) throw std::runtime_error("ip netns add " + name_ + ": " + made.output);
  const CommandResult lo = run("ip link set lo up");
  if (!lo.ok()) throw std::runtime_error("loopback in " + name_ + ": " + lo.output);
}

Netns::~Netns() {
  shell("ip netns del " + quote(name_));
}

std::string Netns::inside(const std::string &command) const {
  return "ip netns exec " + quote(name_) + " sh -c " + quote(command);
}

bool Netns::adopt(const std::string &ifname) const {
  return shell("ip link set " + quote(ifname) + " netns " + quote(name_)).ok() &&
         run("sysctl -qw net.ipv6.conf." + ifname + ".disable_ipv6=1").ok() &&
         run("ip link set " + quote(ifname) + " up").ok();
}

bool Netns::adopt_bridge_port(const std::string &ifname) const {
  return adopt(ifname) && run("ip link set " + quote(ifname) + " arp off").ok();
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string> &argv, const std::string &log_path) {
  const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) throw std::runtime_error("cannot open " + log_path);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) {
    close(log);
    throw std::runtime_error("fork");
  }
  if (pid_ == 0) {
    // Dies with the test; the check closes the race with a parent that ended before prctl.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(log);
}

BackgroundProcess::~BackgroundProcess() {
  stop(std::chrono::seconds(5));
}

bool BackgroundProcess::running() {
  if (reaped_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

bool BackgroundProcess::stop(std::chrono::milliseconds grace) {
  if (!running()) return false;
  kill(pid_, SIGTERM);
  if (eventually([this] { return !running(); }, grace, std::chrono::milliseconds(10))) return true;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  reaped_ = true;
  return false;
}

Capture::Capture(const Netns &ns, const std::vector<std::string> &ifnames, const std::string &file,
                 const std::string &filter)
    : file_(file) {
  std::vector<std::string> argv = {"ip", "netns", "exec", ns.name(), "tshark", "-Q",
                                   "-n", "-f",    filter, "-w",      file};
  for (const std::string &i : ifnames) argv.insert(argv.end(), {"-i", i});
  tshark_ = std::make_unique<BackgroundProcess>(argv, file + ".log");
  // Capturing only starts once dumpcap has opened the interface and written the file's header.
  eventually([&] { return std::filesystem::exists(file) && std::filesystem::file_size(file) > 0; },
             std::chrono::seconds(20));
}

void Capture::stop() {
  if (tshark_) tshark_->stop(std::chrono::seconds(10));
  tshark_.reset();
}

namespace {

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

}  // namespace

std::vector<std::string> dissect(const std::string &file, const std::string &display_filter,
                                 const std::string &fields) {
  // tshark's notes on stderr (running as root and the like) stay out of the fields.
  return lines(shell("(tshark -n -r " + quote(file) + " -Y " + quote(display_filter) +
                     " -T fields -E separator=, " + fields + " 2>/dev/null)")
                   .output);
}

std::vector<std::string> dissector_problems(const std::string &file, const std::string &display_filter) {
  return dissect(file, "(" + display_filter + ") && (_ws.expert.severity >= warning || _ws.malformed)",
                 "-e frame.number -e eth.src -e _ws.expert.message");
}

}  // namespace peers
