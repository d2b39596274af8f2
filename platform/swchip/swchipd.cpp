// swchipd: the simulated switch chip behind the switch I/O driver's requests.
//
//   swchipd --device SOCKET --control SOCKET [--front-ports PREFIX]
// With --front-ports the six front ports are TAP devices PREFIX1..PREFIX6 (root). Runs in the foreground until SIGTERM or SIGINT. The chip keeps its registers across client
// disconnects, so a restarted daemon finds the chip as it left it.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "chip_model.h"
#include "control.h"
#include "driver.h"
#include "front_ports.h"
#include "server.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void on_stop(int) {
  g_stop = 1;
}

int usage() {
  std::fprintf(stderr, "usage: swchipd --device SOCKET --control SOCKET [--front-ports PREFIX]\n");
  return 2;
}
}  // namespace

int main(int argc, char **argv) {
  std::string device_path, control_path, front_prefix;
  for (int i = 1; i < argc; ++i) {
    if (i + 1 < argc && std::strcmp(argv[i], "--device") == 0) {
      device_path = argv[++i];
    } else if (i + 1 < argc && std::strcmp(argv[i], "--control") == 0) {
      control_path = argv[++i];
    } else if (i + 1 < argc && std::strcmp(argv[i], "--front-ports") == 0) {
      front_prefix = argv[++i];
    } else {
      return usage();
    }
  }
  if (device_path.empty() || control_path.empty()) return usage();

  // SIGTERM and SIGINT stay blocked except while the server waits, so none is lost between polls.
  sigset_t blocked, wait_mask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  sigprocmask(SIG_BLOCK, &blocked, &wait_mask);
  sigdelset(&wait_mask, SIGTERM);
  sigdelset(&wait_mask, SIGINT);
  struct sigaction action {};
  action.sa_handler = on_stop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  swchip::ChipModel chip;
  swchip::Driver driver(chip);
  swchip::Control control(chip, driver);
  swchip::Server server(driver, control);
  std::string error;
  // The front ports exist before the device socket appears, so whoever waits for the socket finds them.
  swchip::FrontPorts ports(chip);
  if (!front_prefix.empty()) {
    if (!ports.open(front_prefix, error)) {
      std::fprintf(stderr, "swchipd: %s\n", error.c_str());
      return 1;
    }
    for (unsigned i = 0; i < swchip::FrontPorts::kPorts; ++i)
      server.add_source(ports.fd(i), [&ports, i] { ports.receive(i); });
    // Register requests and control commands can change a PHY's link: the TAPs' carriers follow.
    server.add_after_wakeup([&ports] { ports.sync_carriers(); });
  }
  if (!server.listen(device_path, control_path, error)) {
    std::fprintf(stderr, "swchipd: %s\n", error.c_str());
    return 1;
  }
  server.run(g_stop, &wait_mask);
  return 0;
}
