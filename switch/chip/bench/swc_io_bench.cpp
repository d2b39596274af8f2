// Register accesses per second through the access layer's socket back end, against the simulator's
// server running on a thread of this process, and a MAC shadow rebuild step over it against a full
// table, batched and one read at a time.
//   build/host/bin/swc_io_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
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
#include "swc_ll.h"
#include "swc_mac.h"
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

SimulatorThread &simulator() {
  static SimulatorThread sim;
  return sim;
}

void run_accesses(benchmark::State &bench, bool serial, bool read) {
  SimulatorThread &sim = simulator();
  SwcApiState state{};
  SwcContext context{swgenio_open(sim.device.c_str(), O_RDWR), &state, nullptr};
  swc_select_context(&context);
  state.serial = serial ? 1 : 0;
  uint32_t value = 0;
  for (auto _ : bench) {
    const swc_rc rc = read ? (serial ? swc_io_si_rd(2, 0, 0x40, &value) : swc_io_pi_rd(2, 0, 0x40, &value))
                           : (serial ? swc_io_si_wr(2, 0, 0x40, 1) : swc_io_pi_wr(2, 0, 0x40, 1));
    if (rc != 0) bench.SkipWithError("register access failed");
    benchmark::DoNotOptimize(value);
  }
  bench.counters["accesses_per_second"] =
      benchmark::Counter(static_cast<double>(bench.iterations()), benchmark::Counter::kIsRate);
  swc_select_context(nullptr);
  swgenio_close(context.fd);
}

// The whole chip start-up (reset, memories, all 4096 VLAN entries, VLAN 1, capture, PHY state) over
// the socket, its 84 ms of chip settling time included.
void BM_ChipStartUp(benchmark::State &bench) {
  SimulatorThread &sim = simulator();
  auto state = std::make_unique<SwcApiState>();
  std::vector<unsigned char> phy_state(swc_phy_sizeof_al(6));
  SwcPhyContext phy{0, reinterpret_cast<SwcPhyState *>(phy_state.data())};
  SwcContext context{swgenio_open(sim.device.c_str(), O_RDWR), state.get(), &phy};
  swc_select_context(&context);
  const SwcInitSetup setup{1, 1, 0, -1, 0};
  for (auto _ : bench) {
    if (swc_init(&setup) != 0) bench.SkipWithError("start-up failed");
  }
  swc_select_context(nullptr);
  swgenio_close(context.fd);
}
BENCHMARK(BM_ChipStartUp)->Unit(benchmark::kMillisecond)->UseRealTime();

// Sends one command line to the simulator's control socket.
void control_command(const std::string &path, const std::string &line) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) std::abort();
  const std::string text = line + "\n";
  if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) std::abort();
  char reply[256];
  while (::recv(fd, reply, sizeof reply, 0) > 0) {}
  ::close(fd);
}

// The switch API on the simulator thread's chip with a full MAC table (8192 learned entries).
struct FullTable {
  std::unique_ptr<SwcApiState> state = std::make_unique<SwcApiState>();
  SwcContext context{};
  FullTable() {
    SimulatorThread &sim = simulator();
    control_command(sim.control_path, "learn 0 1 02:00:00:00:00:00 8192");
    context = {swgenio_open(sim.device.c_str(), O_RDWR), state.get(), nullptr};
    swc_select_context(&context);
    const SwcInitSetup setup{1, 1, 0, -1, 0};
    swc_init_state(&setup);
  }
  ~FullTable() {
    swc_select_context(nullptr);
    swgenio_close(context.fd);
  }
};

// One step of the MAC shadow rebuild (1024 chip indexes) against a full table, as the daemon's
// one-second timer runs it.
void BM_MacShadowStep(benchmark::State &bench) {
  FullTable table;
  for (auto _ : bench) {
    // Every step works: a new pass is started whenever the last one ended.
    if (table.state->mac_walk_position == 0) table.state->mac_events_optimize.flag[1] = 1;
    if (swc_mac_table_optimize() != 0) bench.SkipWithError("rebuild step failed");
  }
}
BENCHMARK(BM_MacShadowStep)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same 1024 indexes read one at a time, each access its own exchange with the simulator.
void BM_MacBlockOneReadAtATime(benchmark::State &bench) {
  FullTable table;
  for (auto _ : bench) {
    for (uint32_t index = 1; index <= 1024; ++index) {
      SwcMacEntry entry{};
      uint32_t pgid = 0;
      benchmark::DoNotOptimize(swc_ll_mac_table_read(index, &entry, &pgid));
    }
  }
}
BENCHMARK(BM_MacBlockOneReadAtATime)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SpiRead(benchmark::State &s) {
  run_accesses(s, true, true);
}
void BM_SpiWrite(benchmark::State &s) {
  run_accesses(s, true, false);
}
void BM_ParallelIndirectRead(benchmark::State &s) {
  run_accesses(s, false, true);
}
BENCHMARK(BM_SpiRead)->UseRealTime();
BENCHMARK(BM_SpiWrite)->UseRealTime();
BENCHMARK(BM_ParallelIndirectRead)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
