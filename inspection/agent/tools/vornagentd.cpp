// A minimal inspection daemon, as the router's own would be: it starts the agents, waits for
// signals while the library's alarm runs the report tick, and shuts the agents down on SIGTERM or
// SIGINT.
#include <csignal>
#include <cstdio>

#include "vornagent.h"

namespace {

volatile sig_atomic_t stop_requested = 0;

void on_stop(int) {
  stop_requested = 1;
}

}  // namespace

int main() {
  // The stop signals are taken only while the loop waits, so none can slip in between the check
  // and the wait; SIGALRM stays open throughout.
  sigset_t stops, waiting;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigprocmask(SIG_BLOCK, &stops, &waiting);
  sigdelset(&waiting, SIGTERM);
  sigdelset(&waiting, SIGINT);
  struct sigaction stop {};
  stop.sa_handler = on_stop;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);

  if (kaStartup() != 0) {
    std::fprintf(stderr, "vornagentd: start-up failed\n");
    return 1;
  }
  std::printf("vornagentd: running\n");
  std::fflush(stdout);

  while (!stop_requested) sigsuspend(&waiting);
  int result = kaShutDown();
  std::printf("vornagentd: stopped\n");
  return result == 0 ? 0 : 1;
}
