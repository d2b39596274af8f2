// The main loop while the MAC table shadow is rebuilt from a full table: the simulated chip learns 8192
// addresses, and a steady stream of management requests (one outstanding at a time, object 8) measures
// from outside how long the loop keeps a request waiting, before the learning (idle loop) and while the
// one-second timer rebuilds the shadow block by block. The daemon's own "update start" / "update done"
// trace lines (api_hl at debug, millisecond stamps) give the length of each rebuild step. Last, GETs of
// the MAC status object 4001, which reads all 8192 table indexes in one loop pass, each while another
// client requests object 8 back to back: that stream's longest wait is the longest loop pass.
// Targets: no loop pass over 50 ms, management p99 under 1 ms while the shadow is rebuilt.
//
// Run as root (it makes a network namespace of its own):
//   build/<preset>/bin/pv_shadow_bench [seconds [portvisor binary]]
// The second argument measures another build of the daemon against the same simulator.
#include "mgmt_client.h"
#include "process_util.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using ClockType = std::chrono::steady_clock;

namespace {

std::string control_path;

std::string ctl(const std::string &command) {
  std::string line = std::string(SWCHIPCTL_PATH) + " --control " + control_path + " " + command;
  std::string out;
  if (FILE *pipe = popen(line.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe)) out += buf;
    pclose(pipe);
  }
  return out;
}

struct StreamFigures {
  size_t requests = 0;
  size_t lost = 0;
  double p50_us = 0, p99_us = 0, p999_us = 0, max_us = 0;
};

// Requests object 8 back to back for `duration`.
StreamFigures request_stream(MgmtClient &client, std::chrono::milliseconds duration) {
  std::vector<uint8_t> request(24, 0);
  le_store32(&request[0], 8);
  le_store16(&request[14], 24);
  std::vector<double> us;
  StreamFigures f;
  for (auto end = ClockType::now() + duration; ClockType::now() < end;) {
    auto start = ClockType::now();
    auto reply = client.request(request, 2s);
    if (!reply) {
      ++f.lost;
      continue;
    }
    us.push_back(std::chrono::duration<double, std::micro>(ClockType::now() - start).count());
  }
  if (us.empty()) return f;
  std::sort(us.begin(), us.end());
  f.requests = us.size();
  f.p50_us = us[us.size() / 2];
  f.p99_us = us[us.size() * 99 / 100];
  f.p999_us = us[us.size() * 999 / 1000];
  f.max_us = us.back();
  return f;
}

void print(const char *what, const StreamFigures &f) {
  std::printf("%s: %zu requests (%zu lost), p50 %.0f us, p99 %.0f us, p99.9 %.0f us, max %.2f ms\n", what,
              f.requests, f.lost, f.p50_us, f.p99_us, f.p999_us, f.max_us / 1000);
}

// Milliseconds of the day of a trace line's stamp "YYYY/MM/DD HH:MM:SS.mmm".
long stamp_ms(const std::string &line) {
  int h = 0, m = 0, s = 0, ms = 0;
  if (line.size() < 23 || std::sscanf(line.c_str() + 11, "%d:%d:%d.%d", &h, &m, &s, &ms) != 4) return -1;
  return ((h * 60L + m) * 60 + s) * 1000 + ms;
}

// Lengths of the rebuild steps in the daemon's output.
std::vector<long> step_lengths(const std::string &output) {
  std::vector<long> lengths;
  std::istringstream lines(output);
  long started = -1;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("update start, index:") != std::string::npos)
      started = stamp_ms(line);
    else if (line.find("update done, index:") != std::string::npos && started >= 0)
      lengths.push_back(stamp_ms(line) - started), started = -1;
  }
  return lengths;
}

// One GET of the MAC status object 4001 (128 entries from the lowest key): the daemon reads all 8192
// chip indexes for it.
double mac_status_ms(MgmtClient &client) {
  std::vector<uint8_t> data(4 + 128 * 44, 0);
  le_store16(&data[0], 128);
  le_store16(&data[2], 44);
  uint32_t res = 99;
  auto start = ClockType::now();
  auto reply = client.object(4001, 0, data, res, 30s);
  return reply && res == 0 ? std::chrono::duration<double, std::milli>(ClockType::now() - start).count() : -1;
}

// One 4001 GET while a second client streams object 8 from 200 ms before it to 200 ms after it.
void mac_status_during_stream(MgmtClient &client, int run) {
  MgmtClient status_client(MGMT_PORT_NUMBER);
  std::atomic<bool> done{false};
  StreamFigures stream;
  std::thread streamer([&] {
    StreamFigures total;
    while (!done) {
      const StreamFigures part = request_stream(client, 100ms);
      total.requests += part.requests;
      total.lost += part.lost;
      total.max_us = std::max(total.max_us, part.max_us);
    }
    stream = total;
  });
  std::this_thread::sleep_for(200ms);
  const double status_ms = mac_status_ms(status_client);
  std::this_thread::sleep_for(200ms);
  done = true;
  streamer.join();
  std::printf(
      "object 4001 with the full table, run %d: %.0f ms; object 8 meanwhile: %zu requests (%zu lost), "
      "longest wait %.1f ms\n",
      run, status_ms, stream.requests, stream.lost, stream.max_us / 1000);
}

}  // namespace

int main(int argc, char **argv) {
  const int seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 20;
  if (unshare(CLONE_NEWNET) != 0) {
    std::fprintf(stderr, "needs root for a network namespace\n");
    return 1;
  }
  if (std::system("ip link set lo up && ip tuntap add eth0 mode tap && "
                  "ip link set eth0 address 00:11:22:33:44:55 && ip link set eth0 up") != 0)
    return 1;
  TempDir dir;
  control_path = dir.path() + "/ctl";
  const std::string device = dir.path() + "/swgenio";
  ChildProcess simulator({SWCHIPD_PATH, "--device", device, "--control", control_path}, {});
  struct stat st {};
  for (int i = 0; i < 500 && stat(control_path.c_str(), &st) != 0; ++i) std::this_thread::sleep_for(10ms);
  const std::string daemon = argc > 2 ? argv[2] : PORTVISOR_PATH;
  ChildProcess pv({daemon, "--trace", "api_hl", "debug", "--trace", "port", "info"},
                  {"PORTVISOR_WORKDIR=" + dir.path() + "/work", "PORTVISOR_PIDFILE=" + dir.path() + "/pid",
                   "PORTVISOR_SWITCH_DEVICE=" + device});
  MgmtClient client(MGMT_PORT_NUMBER);
  std::vector<uint8_t> probe(8, 0);
  uint32_t res = 99;
  bool ready = false;
  for (int i = 0; i < 600 && !ready; ++i) ready = client.object(8, 0, probe, res, 50ms).has_value();
  if (!ready) {
    std::fprintf(stderr, "portvisor did not answer\n%s", pv.output().c_str());
    return 1;
  }
  // The daemon must never wait on a full pipe: its output is read on a thread of its own.
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) pv.wait_for_output("\x01", 50ms);
  });

  // Settle after start-up (its first shadow pass over the empty table included), then the idle loop.
  std::this_thread::sleep_for(10s);
  const StreamFigures idle = request_stream(client, 5s);

  const std::string learned = ctl("learn 0 1 02:00:00:00:00:00 8192");
  const auto rebuilding = request_stream(client, std::chrono::seconds(seconds));
  stop = true;
  reader.join();

  std::printf("simulated chip: %s", learned.c_str());
  print("idle loop", idle);
  print("shadow rebuilt from 8192 entries", rebuilding);
  auto lengths = step_lengths(pv.output());
  if (!lengths.empty()) {
    std::sort(lengths.begin(), lengths.end());
    std::printf("rebuild steps (1024 chip indexes each): n=%zu, median %ld ms, max %ld ms\n", lengths.size(),
                lengths[lengths.size() / 2], lengths.back());
  }
  for (int run = 1; run <= 5; ++run) mac_status_during_stream(client, run);
  kill(pv.pid(), SIGTERM);
  pv.wait_exit(10s);
  kill(simulator.pid(), SIGTERM);
  simulator.wait_exit(5s);
  return 0;
}
