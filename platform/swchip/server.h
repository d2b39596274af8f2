// The simulator's socket service: the device socket (one SOCK_SEQPACKET connection per open of the
// device, one datagram per driver request) and the control socket (one SOCK_STREAM connection per
// command line, answered and closed).
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "control.h"
#include "driver.h"

namespace swchip {

class Server {
 public:
  Server(Driver &driver, Control &control) : driver_(driver), control_(control) {}
  ~Server();
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // Binds both sockets (replacing stale socket files). False with a message on failure.
  bool listen(const std::string &device_path, const std::string &control_path, std::string &error);

  // Serves until `stop` becomes non-zero. `wait_mask` is the signal mask in force while waiting, so
  // that a blocked SIGTERM is delivered only there.
  void run(volatile std::sig_atomic_t &stop, const sigset_t *wait_mask);

  // A further descriptor to watch (the front ports); `on_readable` runs when it has data.
  void add_source(int fd, std::function<void()> on_readable) {
    sources_.push_back({fd, std::move(on_readable)});
  }
  // Work to do after every wake-up that served something (the front ports' carriers).
  void add_after_wakeup(std::function<void()> hook) { after_wakeup_.push_back(std::move(hook)); }

 private:
  void accept_device_client();
  void serve_device_client(size_t index);
  void serve_control_client();
  // The reply to one datagram of a device client: a single request or a batch.
  std::vector<uint8_t> answer(std::span<const uint8_t> datagram);

  Driver &driver_;
  Control &control_;
  int device_listener_ = -1;
  int control_listener_ = -1;
  std::string device_path_;
  std::string control_path_;
  std::vector<int> clients_;
  struct Source {
    int fd;
    std::function<void()> on_readable;
  };
  std::vector<Source> sources_;
  std::vector<std::function<void()>> after_wakeup_;
};

// Bound Unix socket of the given type; -1 with errno on failure.
int listen_unix(const std::string &path, int type);

}  // namespace swchip
