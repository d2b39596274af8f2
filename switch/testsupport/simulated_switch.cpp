#include "simulated_switch.h"

#include "le.h"
#include "mgmt_client.h"

#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace peers {

namespace {

std::string program(const char *variable) {
  const char *path = std::getenv(variable);
  if (!path) throw std::runtime_error(std::string(variable) + " is not set");
  return path;
}

std::string make_folder() {
  char tmpl[] = "/tmp/pv_switch.XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
  return tmpl;
}

}  // namespace

void isolate_network() {
  if (unshare(CLONE_NEWNET) != 0) throw std::runtime_error("a network namespace needs root");
  for (const char *command :
       {"ip link set lo up", "ip tuntap add eth0 mode tap", "ip link set eth0 address 00:11:22:33:44:55 up"})
    if (!shell(command).ok()) throw std::runtime_error(command);
}

SimulatedSwitch::SimulatedSwitch(std::vector<std::string> daemon_options)
    : folder_(make_folder()), options_(std::move(daemon_options)) {
  try {
    simulator_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{program("SWCHIPD_BIN"), "--device", folder_ + "/swgenio", "--control",
                                 folder_ + "/ctl", "--front-ports", "swp"},
        folder_ + "/swchipd.log");
    if (!eventually([&] { return std::filesystem::exists(folder_ + "/swgenio"); }, std::chrono::seconds(10)))
      throw std::runtime_error("the chip simulator did not start");
    start_daemon();
  } catch (...) {
    daemon_.reset();
    simulator_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    throw;
  }
}

SimulatedSwitch::~SimulatedSwitch() {
  daemon_.reset();
  simulator_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void SimulatedSwitch::start_daemon() {
  std::vector<std::string> argv = {
      "env", "PORTVISOR_WORKDIR=" + folder_ + "/work", "PORTVISOR_PIDFILE=" + folder_ + "/pid",
      "PORTVISOR_SWITCH_DEVICE=" + folder_ + "/swgenio", program("PORTVISOR_BIN")};
  argv.insert(argv.end(), options_.begin(), options_.end());
  daemon_ = std::make_unique<BackgroundProcess>(argv, folder_ + "/portvisor.log");
  // Starting the chip through the simulator's socket takes seconds on a loaded machine.
  uint32_t res = 99;
  if (!eventually(
          [&] {
            return object(8, 0, std::vector<uint8_t>(8), res, std::chrono::milliseconds(100)).has_value();
          },
          std::chrono::seconds(60)) ||
      res != 0)
    throw std::runtime_error("portvisor did not answer: " + daemon_log());
}

bool SimulatedSwitch::stop_daemon() {
  const bool clean = daemon_ && daemon_->stop(std::chrono::seconds(10));
  daemon_.reset();
  return clean;
}

std::string SimulatedSwitch::ctl(const std::string &command) const {
  std::string out =
      shell(quote(program("SWCHIPCTL_BIN")) + " --control " + quote(folder_ + "/ctl") + " " + command).output;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

bool SimulatedSwitch::cable(unsigned port, bool plugged) const {
  // Ports 1..5 hang on MIIM controller 0 at addresses 0..4, port 6 on controller 1 at address 3.
  const std::string phy = port <= 5 ? "0 " + std::to_string(port - 1) : "1 3";
  return ctl("cable " + phy + (plugged ? " plug" : " unplug")) == "ok";
}

std::optional<std::vector<uint8_t>> SimulatedSwitch::object(uint32_t id, uint32_t cmd,
                                                            const std::vector<uint8_t> &data, uint32_t &res,
                                                            std::chrono::milliseconds timeout) const {
  // A client of its own each time, so a late answer to an earlier request is never taken for this one.
  MgmtClient client{28};
  return client.object(id, cmd, data, res, timeout);
}

std::optional<std::vector<uint8_t>> SimulatedSwitch::get(uint32_t id, size_t length) const {
  uint32_t res = 99;
  auto answer = object(id, 0, std::vector<uint8_t>(length), res);
  if (!answer || res != 0 || answer->size() != length) return std::nullopt;
  return answer;
}

bool SimulatedSwitch::set(uint32_t id, const std::vector<uint8_t> &data) const {
  uint32_t res = 99;
  return object(id, 1, data, res).has_value() && res == 0;
}

std::string SimulatedSwitch::daemon_log() const {
  std::ifstream in(folder_ + "/portvisor.log");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::optional<size_t> SimulatedSwitch::wait_for_log(const std::string &text,
                                                    std::chrono::milliseconds timeout, size_t from) const {
  size_t found = std::string::npos;
  eventually(
      [&] {
        const std::string log = daemon_log();
        found = from <= log.size() ? log.find(text, from) : std::string::npos;
        return found != std::string::npos;
      },
      timeout, std::chrono::milliseconds(20));
  if (found == std::string::npos) return std::nullopt;
  return found + text.size();
}

}  // namespace peers
