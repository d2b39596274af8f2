// Measures how long a link change in the chip simulator takes to show: (1) in a port status reply of
// management object 3001, asked for again and again right after the change; (2) in the daemon's own
// link handling, done by the 33-ms status poll alone (its "Link down/up on port" trace line), with no
// management request in between. Target: within one polling round of six ports (about 200 ms).
//
// Run as root (it makes a network namespace of its own): build/<preset>/bin/pv_link_latency [cycles]
#include "mgmt_client.h"
#include "process_util.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using ClockType = std::chrono::steady_clock;

namespace {

std::string control_path;

bool ctl(const std::string &command) {
  std::string line =
      std::string(SWCHIPCTL_PATH) + " --control " + control_path + " " + command + " >/dev/null";
  return std::system(line.c_str()) == 0;
}

// Link bit of port `port` in a 3001 reply, or -1 without a reply.
int reply_link(MgmtClient &client, uint32_t port) {
  std::vector<uint8_t> data(4 + 64, 0);
  le_store16(&data[0], 1);
  le_store16(&data[2], 64);
  le_store32(&data[4], port);
  uint32_t res = 99;
  auto reply = client.object(3001, 0, data, res, 1s);
  return reply && res == 0 ? static_cast<int>(le_load32(&(*reply)[4 + 8])) : -1;
}

// Takes in what the daemon printed in the meantime.
void read_more(ChildProcess &pv) {
  pv.wait_for_output("\x01", 2ms);  // never printed: waits for new output at most 2 ms
}

void drain(ChildProcess &pv) {
  for (size_t before = 0; before != pv.output().size();) {
    before = pv.output().size();
    read_more(pv);
  }
}

double ms_since(ClockType::time_point start) {
  return std::chrono::duration<double, std::milli>(ClockType::now() - start).count();
}

void report(const char *what, std::vector<double> samples) {
  if (samples.empty()) {
    std::printf("%s: no samples\n", what);
    return;
  }
  std::sort(samples.begin(), samples.end());
  std::printf("%s: n=%zu min %.1f ms, median %.1f ms, max %.1f ms\n", what, samples.size(), samples.front(),
              samples[samples.size() / 2], samples.back());
}

// Cable commands of front port 1..6 (controller and address of its PHY).
std::string cable(unsigned port, const char *action) {
  return port == 6 ? std::string("cable 1 3 ") + action
                   : "cable 0 " + std::to_string(port - 1) + " " + action;
}

}  // namespace

int main(int argc, char **argv) {
  int cycles = argc > 1 ? std::atoi(argv[1]) : 12;
  if (unshare(CLONE_NEWNET) != 0) {
    std::fprintf(stderr, "needs root for a network namespace\n");
    return 1;
  }
  if (std::system("ip link set lo up && ip tuntap add eth0 mode tap && "
                  "ip link set eth0 address 00:11:22:33:44:55 && ip link set eth0 up") != 0)
    return 1;
  TempDir dir;
  control_path = dir.path() + "/ctl";
  std::string device = dir.path() + "/swgenio";
  ChildProcess simulator({SWCHIPD_PATH, "--device", device, "--control", control_path}, {});
  struct stat st {};
  for (int i = 0; i < 500 && stat(control_path.c_str(), &st) != 0; ++i) std::this_thread::sleep_for(10ms);
  ChildProcess pv({PORTVISOR_PATH, "--trace", "port", "debug"},
                  {"PORTVISOR_WORKDIR=" + dir.path() + "/work", "PORTVISOR_PIDFILE=" + dir.path() + "/pid",
                   "PORTVISOR_SWITCH_DEVICE=" + device});
  if (!pv.wait_for_output("Link up on port 6", 20s)) {
    std::fprintf(stderr, "ports did not come up\n%s", pv.output().c_str());
    return 1;
  }
  MgmtClient client(MGMT_PORT_NUMBER);
  std::vector<double> by_reply, by_poll;
  for (int i = 0; i < cycles; ++i) {
    unsigned port = 1 + static_cast<unsigned>(i) % 6;
    for (const char *action : {"unplug", "plug"}) {
      int wanted = action[0] == 'u' ? 0 : 1;
      // Through the poll alone: no request reaches the daemon until its trace line shows.
      std::string line =
          std::string(wanted ? "Link up on port " : "Link down on port ") + std::to_string(port);
      drain(pv);
      size_t seen = pv.output().size();
      ctl(cable(port, action));  // the simulator has made the change when the command returns
      auto start = ClockType::now();
      while (pv.output().find(line, seen) == std::string::npos && ms_since(start) < 2000) read_more(pv);
      by_poll.push_back(ms_since(start));
      // Back, then through the status object: asked again until the reply shows the change.
      ctl(cable(port, wanted ? "unplug" : "plug"));
      for (auto settle = ClockType::now(); ms_since(settle) < 300;) read_more(pv);
      ctl(cable(port, action));
      start = ClockType::now();
      while (reply_link(client, port) != wanted && ms_since(start) < 2000)
        read_more(pv);  // the daemon must never wait on a full pipe
      by_reply.push_back(ms_since(start));
    }
  }
  report("link change -> port status reply (object 3001)", by_reply);
  report("link change -> handled by the status poll", by_poll);
  kill(pv.pid(), SIGTERM);
  pv.wait_exit(10s);
  kill(simulator.pid(), SIGTERM);
  simulator.wait_exit(5s);
  return 0;
}
