// Network namespaces and processes for the protocol peers (Open vSwitch, the Linux bridge, hosts) that
// the interop tests start: each namespace is named after this test process, so parallel runs never meet,
// and everything started here is gone when its owner is destroyed, also when the test fails.
#pragma once

#include "packet_socket.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace peers {

// The exit status and the output (stdout and stderr) of a shell command.
struct CommandResult {
  int status = -1;
  std::string output;
  bool ok() const { return status == 0; }
};
CommandResult shell(const std::string &command);
std::string quote(const std::string &word);

// A named network namespace "<prefix>-<pid>-<n>" with loopback up; deleted at destruction. Namespaces of
// the same prefix left behind by a test process that no longer lives are deleted first.
class Netns {
 public:
  explicit Netns(const std::string &prefix);
  ~Netns();
  Netns(const Netns &) = delete;
  Netns &operator=(const Netns &) = delete;

  const std::string &name() const { return name_; }
  // The shell command line that runs `command` (itself a shell command line) inside.
  std::string inside(const std::string &command) const;
  CommandResult run(const std::string &command) const { return shell(inside(command)); }
  // Moves an interface of the caller's namespace in here, brings it up and keeps IPv6 off it, so the
  // peer's own stack sends nothing that a test could take for protocol traffic.
  bool adopt(const std::string &ifname) const;
  // The same for a port of a bridge in here: the namespace's own IPv4 stack also keeps off it, so it
  // never answers an ARP request for a bridge address with the port's MAC.
  bool adopt_bridge_port(const std::string &ifname) const;

 private:
  std::string name_;
};

// A process started in the background with its output in a log file. It is killed when this test
// process dies (even by a crash), and stopped with SIGTERM, then SIGKILL, at destruction.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string> &argv, const std::string &log_path);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess &) = delete;
  BackgroundProcess &operator=(const BackgroundProcess &) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // SIGTERM, then SIGKILL when it has not ended within `grace`; true when it ended on SIGTERM.
  bool stop(std::chrono::milliseconds grace);

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// Polls `done` every `step` until it holds or `timeout` passed; the last result.
template <typename Done>
bool eventually(Done done, std::chrono::milliseconds timeout,
                std::chrono::milliseconds step = std::chrono::milliseconds(50));

}  // namespace peers

#include <thread>

template <typename Done>
bool peers::eventually(Done done, std::chrono::milliseconds timeout, std::chrono::milliseconds step) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(step);
  }
}

namespace peers {

// A raw socket on an interface of a namespace: whole Ethernet frames in and out.
class RawSocket : public PacketSocket {
 public:
  RawSocket(const Netns &ns, const std::string &ifname) : PacketSocket(ifname, ns.name()) {}
};

// Sends `frame` every `step` until `moved()` holds (a link may still be coming up, a counter may still be
// read before the frame arrived); false when it did not within `timeout`.
template <typename Moved>
bool send_until(const RawSocket &socket, const std::vector<uint8_t> &frame, Moved moved,
                std::chrono::milliseconds timeout = std::chrono::seconds(10),
                std::chrono::milliseconds step = std::chrono::milliseconds(200)) {
  return eventually(
      [&] {
        if (moved()) return true;
        socket.send(frame);
        return false;
      },
      timeout, step);
}

// tshark capturing on interfaces of a namespace into a file; stopped at destruction.
class Capture {
 public:
  Capture(const Netns &ns, const std::vector<std::string> &ifnames, const std::string &file,
          const std::string &filter);
  ~Capture() { stop(); }
  // Ends the capture; the file is complete afterwards.
  void stop();
  const std::string &file() const { return file_; }

 private:
  std::string file_;
  std::unique_ptr<BackgroundProcess> tshark_;
};

// tshark reading a capture: the frames that match `display_filter`, and those of them with a dissector
// warning, error or malformed mark ("number,source,expert messages" each).
std::vector<std::string> dissect(const std::string &file, const std::string &display_filter,
                                 const std::string &fields);
std::vector<std::string> dissector_problems(const std::string &file, const std::string &display_filter);

}  // namespace peers
