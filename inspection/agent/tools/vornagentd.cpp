// A minimal inspection daemon, as the router's own would be: it starts the agents, lets the alarm
// tick run until SIGTERM or SIGINT, and shuts the agents down.
#include <csignal>
#include <cstdio>

#include "vornagent.h"

int main() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigprocmask(SIG_BLOCK, &stop, nullptr);

  if (kaStartup() != 0) {
    std::fprintf(stderr, "vornagentd: start-up failed\n");
    return 1;
  }
  std::printf("vornagentd: running\n");
  std::fflush(stdout);

  int signal_number = 0;
  while (sigwait(&stop, &signal_number) != 0) {
  }
  int result = kaShutDown();
  std::printf("vornagentd: stopped\n");
  return result == 0 ? 0 : 1;
}
