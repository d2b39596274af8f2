// Management round trips on loopback: a running portvisor (its timers ticking in the main loop) answers
// a small GET; reports round trips per second and the 99th-percentile latency.
#include "mgmt_client.h"
#include "process_util.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <csignal>
#include <memory>

using namespace std::chrono_literals;

namespace {

struct DaemonUnderTest {
  TempDir dir;
  uint16_t port = free_udp_port();
  std::unique_ptr<ChildProcess> process;
  DaemonUnderTest() {
    process = std::make_unique<ChildProcess>(
        std::vector<std::string>{PORTVISOR_PATH},
        std::vector<std::string>{"PORTVISOR_WORKDIR=" + dir.path() + "/work",
                                 "PORTVISOR_PIDFILE=" + dir.path() + "/pid",
                                 "PORTVISOR_MGMT_PORT=" + std::to_string(port),
                                 "PORTVISOR_SWITCH_DEVICE=" + dir.path() + "/no-device"});
  }
  ~DaemonUnderTest() {
    kill(process->pid(), SIGTERM);
    process->wait_exit(5s);
  }
};

void BM_ManagementGetRoundTrip(benchmark::State &state) {
  DaemonUnderTest daemon;
  MgmtClient client(daemon.port);
  std::vector<uint8_t> request(24, 0);
  le_store32(&request[0], 8);  // port count, GET
  le_store16(&request[14], 24);
  while (!client.request(request, 50ms)) {}
  std::vector<double> latencies_us;
  latencies_us.reserve(1 << 20);
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    auto reply = client.request(request, 1s);
    auto end = std::chrono::steady_clock::now();
    if (!reply) {
      state.SkipWithError("no reply");
      break;
    }
    latencies_us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  if (latencies_us.empty()) return;
  std::sort(latencies_us.begin(), latencies_us.end());
  state.counters["round_trips_per_s"] =
      benchmark::Counter(static_cast<double>(latencies_us.size()), benchmark::Counter::kIsRate);
  state.counters["p50_us"] = latencies_us[latencies_us.size() / 2];
  state.counters["p99_us"] = latencies_us[latencies_us.size() * 99 / 100];
}
BENCHMARK(BM_ManagementGetRoundTrip)->MinTime(5.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
