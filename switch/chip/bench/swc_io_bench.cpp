// Register accesses per second through the access layer's socket back end, against the simulator's
// server running on a thread of this process.
//   build/host/bin/swc_io_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <vector>
#include <string>
#include <thread>

#include "chip_model.h"
#include "control.h"
#include "driver.h"
#include "server.h"
#include "swc_api.h"
#include "swc_io.h"
#include "swc_phy.h"
#include "swgenio.h"

namespace {

struct SimulatorThread {
  swchip::ChipModel chip;
  swchip::Driver driver{chip};
  swchip::Control control{chip, driver};
  swchip::Server server{driver, control};
  volatile std::sig_atomic_t stop = 0;
  std::thread thread;
  std::string device = "/tmp/swc-bench-" + std::to_string(getpid()) + ".dev";
  std::string control_path = "/tmp/swc-bench-" + std::to_string(getpid()) + ".ctl";

  SimulatorThread() {
    std::string error;
    if (!server.listen(device, control_path, error)) std::abort();
    thread = std::thread([this] { server.run(stop, nullptr); });
  }
  ~SimulatorThread() {
    stop = 1;
    // Wake the server with one last connection.
    const int fd = swgenio_open(device.c_str(), O_RDWR);
    swgenio_close(fd);
    thread.join();
  }
};

SimulatorThread& simulator() {
  static SimulatorThread sim;
  return sim;
}

void run_accesses(benchmark::State& bench, bool serial, bool read) {
  SimulatorThread& sim = simulator();
  swc_api_state state{};
  swc_context context{swgenio_open(sim.device.c_str(), O_RDWR), &state, nullptr};
  swc_select_context(&context);
  state.serial = serial ? 1 : 0;
  uint32_t value = 0;
  for (auto _ : bench) {
    const swc_rc rc = read ? (serial ? swc_io_si_rd(2, 0, 0x40, &value) : swc_io_pi_rd(2, 0, 0x40, &value))
                           : (serial ? swc_io_si_wr(2, 0, 0x40, 1) : swc_io_pi_wr(2, 0, 0x40, 1));
    if (rc != 0) bench.SkipWithError("register access failed");
    benchmark::DoNotOptimize(value);
  }
  bench.counters["accesses_per_second"] = benchmark::Counter(static_cast<double>(bench.iterations()),
                                                             benchmark::Counter::kIsRate);
  swc_select_context(nullptr);
  swgenio_close(context.fd);
}

// The whole chip start-up (reset, memories, all 4096 VLAN entries, VLAN 1, capture, PHY state) over
// the socket, its 84 ms of chip settling time included.
void BM_ChipStartUp(benchmark::State& bench) {
  SimulatorThread& sim = simulator();
  auto state = std::make_unique<swc_api_state>();
  std::vector<unsigned char> phy_state(swc_phy_sizeof_al(6));
  swc_phy_context phy{0, reinterpret_cast<swc_phy_state*>(phy_state.data())};
  swc_context context{swgenio_open(sim.device.c_str(), O_RDWR), state.get(), &phy};
  swc_select_context(&context);
  const swc_init_setup setup{1, 1, 0, -1, 0};
  for (auto _ : bench) {
    if (swc_init(&setup) != 0) bench.SkipWithError("start-up failed");
  }
  swc_select_context(nullptr);
  swgenio_close(context.fd);
}
BENCHMARK(BM_ChipStartUp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SpiRead(benchmark::State& s) { run_accesses(s, true, true); }
void BM_SpiWrite(benchmark::State& s) { run_accesses(s, true, false); }
void BM_ParallelIndirectRead(benchmark::State& s) { run_accesses(s, false, true); }
BENCHMARK(BM_SpiRead)->UseRealTime();
BENCHMARK(BM_SpiWrite)->UseRealTime();
BENCHMARK(BM_ParallelIndirectRead)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
