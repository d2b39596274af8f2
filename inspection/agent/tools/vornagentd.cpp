// A minimal inspection daemon, as the router's own would be: it starts the agents, runs the report
// tick whenever the library's alarm has marked one due, and shuts the agents down on SIGTERM or
// SIGINT.
#include <csignal>
#include <cstdio>
#include <initializer_list>

#include "vornagent.h"

namespace {

volatile sig_atomic_t stop_requested = 0;

void onStop(int) { stop_requested = 1; }

}  // namespace

int main() {
  // The three signals are only taken while the loop waits, so every handler runs there.
  sigset_t handled, waiting;
  sigemptyset(&handled);
  for (int signal_number : {SIGTERM, SIGINT, SIGALRM}) sigaddset(&handled, signal_number);
  sigprocmask(SIG_BLOCK, &handled, &waiting);
  for (int signal_number : {SIGTERM, SIGINT}) sigdelset(&waiting, signal_number);
  sigdelset(&waiting, SIGALRM);
  struct sigaction stop {};
  stop.sa_handler = onStop;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);

  if (kaStartup() != 0) {
    std::fprintf(stderr, "vornagentd: start-up failed\n");
    return 1;
  }
  std::printf("vornagentd: running\n");
  std::fflush(stdout);

  while (!stop_requested) {
    sigsuspend(&waiting);
    kaTick();
  }
  int result = kaShutDown();
  std::printf("vornagentd: stopped\n");
  return result == 0 ? 0 : 1;
}
