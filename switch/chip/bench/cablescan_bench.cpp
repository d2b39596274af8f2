// CableScan on the simulator: how long a test takes per port, and how long its longest step holds
// the caller (the daemon's main loop), through the access layer's socket back end against the
// simulator's server on a thread of this process.
//   build/host/bin/cablescan_bench [PORT...]      (ports 1..6, default 1 and 6)
// Prints, per port: the test's duration, the number of steps, the time spent inside steps, the
// longest step, and the PHY register accesses of the test.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "chip_model.h"
#include "control.h"
#include "driver.h"
#include "server.h"
#include "swc_api.h"
#include "swc_cablescan.h"
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
  std::string device = "/tmp/cablescan-bench-" + std::to_string(getpid()) + ".dev";
  std::string control_path = "/tmp/cablescan-bench-" + std::to_string(getpid()) + ".ctl";

  SimulatorThread() {
    std::string error;
    if (!server.listen(device, control_path, error)) {
      std::fprintf(stderr, "simulator: %s\n", error.c_str());
      std::exit(1);
    }
    thread = std::thread([this] { server.run(stop, nullptr); });
  }
  ~SimulatorThread() {
    stop = 1;
    const int fd = swgenio_open(device.c_str(), O_RDWR);
    swgenio_close(fd);
    thread.join();
    unlink(device.c_str());
    unlink(control_path.c_str());
  }
};

using ClockType = std::chrono::steady_clock;

double ms_since(ClockType::time_point t) {
  return std::chrono::duration<double, std::milli>(ClockType::now() - t).count();
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<uint32_t> ports;
  for (int i = 1; i < argc; ++i) ports.push_back(static_cast<uint32_t>(std::atoi(argv[i])));
  if (ports.empty()) ports = {1, 6};

  SimulatorThread sim;
  auto state = std::make_unique<SwcApiState>();
  std::vector<unsigned char> phy_state(swc_phy_sizeof_al(6));
  SwcPhyContext phy{0, reinterpret_cast<SwcPhyState *>(phy_state.data())};
  SwcContext context{swgenio_open(sim.device.c_str(), O_RDWR), state.get(), &phy};
  swc_select_context(&context);
  const SwcInitSetup setup{1, 1, 0, -1, 0};
  if (swc_init(&setup) != 0) return 1;
  const SwcPortMap map[7] = {{-1, 0, 0}, {0, 0, 0}, {1, 0, 1}, {2, 0, 2}, {3, 0, 3}, {4, 0, 4}, {6, 1, 3}};
  swc_port_map_set(map);

  std::printf("%-5s %12s %7s %14s %16s %13s\n", "port", "test ms", "steps", "in steps ms", "longest step ms",
              "PHY accesses");
  for (uint32_t port : ports) {
    if (port < 1 || port > 6) continue;
    const SwcPhyResetSetup r{port == 6 ? kSwcIfRgmii : kSwcIfInternal, 0, 0, 0, 0};
    if (swc_phy_reset(port, &r) != 0) return 1;
    swchip::PhyModel &model = port == 6 ? sim.chip.phy(1, 3) : sim.chip.phy(0, port - 1);
    swchip::CableDescription cable;
    swchip::parse_cable_description("40 B=open@12 C=short@25", cable);
    model.describe_cable(cable);
    const unsigned accesses_before = sim.chip.miim_transfers();
    const auto start = ClockType::now();
    swc_phy_cablescan_start(port);
    SwcPhyCablescanResult result{};
    swc_rc rc = kSwcRcRunning;
    unsigned steps = 0;
    double in_steps = 0, longest = 0;
    while (rc == kSwcRcRunning) {
      const unsigned transfers_before = sim.chip.miim_transfers();
      const auto step_start = ClockType::now();
      rc = swc_phy_cablescan_get(port, &result);
      const double took = ms_since(step_start);
      if (sim.chip.miim_transfers() != transfers_before) {  // a step that did work
        ++steps;
        in_steps += took;
        if (took > longest) longest = took;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::printf("%-5u %12.0f %7u %14.0f %16.1f %13u   rc %d, B %u/%u m, C %u/%u m\n", port, ms_since(start),
                steps, in_steps, longest, sim.chip.miim_transfers() - accesses_before, rc, result.status[1],
                result.length[1], result.status[2], result.length[2]);
  }
  swc_select_context(nullptr);
  swgenio_close(context.fd);
  return 0;
}
