// The switch under test for the peer tests: the chip simulator with its six front ports on the TAP
// devices swp1..swp6 and portvisor on it, both in this test program's own network namespace (its
// loopback carries management port 28). Tests move front ports into peer namespaces.
#pragma once

#include "peer_netns.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace peers {

// Puts this process into a network namespace of its own with loopback and an "eth0" (the address the
// daemon takes its base MAC from). Called once, before anything else starts.
void isolate_network();

class SimulatedSwitch {
 public:
  // Starts the simulator, then portvisor with the given extra options, and waits until it answers.
  explicit SimulatedSwitch(std::vector<std::string> daemon_options = default_options());
  ~SimulatedSwitch();
  SimulatedSwitch(const SimulatedSwitch &) = delete;
  SimulatedSwitch &operator=(const SimulatedSwitch &) = delete;

  static std::vector<std::string> default_options() {
    return {"--trace", "port", "debug", "--trace", "lacp", "debug", "--trace", "rstp", "debug"};
  }

  // Stops the daemon (SIGTERM); true when it ended on its own. The simulator keeps its chip.
  bool stop_daemon();
  // Starts the daemon again on the same chip and work folder (its switch.conf kept).
  void start_daemon();
  bool daemon_running() { return daemon_ && daemon_->running(); }

  // One command on the simulator's control socket; its answer without the final newline.
  std::string ctl(const std::string &command) const;
  // Plugs or pulls the cable of front port 1..6.
  bool cable(unsigned port, bool plugged) const;

  // One management object {id, cmd, data}; the answer's data, nothing when none came. `res` gets the
  // answer's result.
  std::optional<std::vector<uint8_t>> object(
      uint32_t id, uint32_t cmd, const std::vector<uint8_t> &data, uint32_t &res,
      std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // An object whose answer must have res 0: its data, or nothing.
  std::optional<std::vector<uint8_t>> get(uint32_t id, size_t length) const;
  bool set(uint32_t id, const std::vector<uint8_t> &data) const;

  std::string daemon_log() const;
  // Waits until the daemon's log holds `text` after byte `from` of it; the offset just past it, or
  // nothing on timeout.
  std::optional<size_t> wait_for_log(const std::string &text, std::chrono::milliseconds timeout,
                                     size_t from = 0) const;
  size_t log_size() const { return daemon_log().size(); }
  const std::string &folder() const { return folder_; }

 private:
  std::string folder_;
  std::unique_ptr<BackgroundProcess> simulator_;
  std::unique_ptr<BackgroundProcess> daemon_;
  std::vector<std::string> options_;
};

}  // namespace peers
