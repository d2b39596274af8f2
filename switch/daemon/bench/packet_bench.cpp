// CPU frames per second that the packet module takes from the chip's receive queues, hands over and
// returns to its pools: the daemon's own cost per frame, with the chip model answering in process.
//   build/host/bin/pv_packet_bench
// accesses_per_frame counts the register accesses of one frame (both queues' ready bits, the header
// twice, the data words, the release); over the simulator's socket each costs the round trip that
// swc_io_bench measures.
#include "chip_model.h"
#include "driver.h"
#include "packet.h"
#include "swc_api.h"
#include "swc_phy.h"
#include "swgenio.h"
#include "trace.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void release(PacketBuffer *buffer) {
  packet_free(buffer);
}

void frames_through_the_pools(benchmark::State &bench) {
  swchip::ChipModel chip;
  swchip::Driver driver{chip};
  swgenio_attach_in_process(
      [&driver](uint32_t code, std::span<uint8_t> record) { return driver.handle(code, record); });
  SwcApiState state{};
  std::vector<unsigned char> phy_state(swc_phy_sizeof_al(6));
  SwcPhyContext phy{0, reinterpret_cast<SwcPhyState *>(phy_state.data())};
  SwcContext context{swgenio_open("/dev/swgenio", 2), &state, &phy};
  swc_select_context(&context);
  const SwcInitSetup setup{1, 1, 0, -1, 0};
  swc_init_state(&setup);
  packet_buffer_init();
  packet_l2_receiver_set(release);

  std::vector<uint8_t> frame(static_cast<size_t>(bench.range(0)), 0x5A);
  const uint8_t bridge_group[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x00};
  std::copy(bridge_group, bridge_group + 6, frame.begin());
  frame[12] = 0x88;
  frame[13] = 0x09;
  // Register accesses of one frame, for the estimate over the simulator's socket.
  swgenio_clear_recorded();
  chip.inject_cpu_frame(1, 0, frame, 1);
  packet_poll();
  packet_queue();
  const size_t accesses = swgenio_recorded().size();
  swgenio_set_recording(false);
  for (auto _ : bench) {
    chip.inject_cpu_frame(1, 0, frame, 1);
    packet_poll();
    packet_queue();
  }
  if (packet_rx_count(1) != bench.iterations() + 1) bench.SkipWithError("a frame was not taken");
  bench.SetItemsProcessed(bench.iterations());
  bench.counters["accesses_per_frame"] = static_cast<double>(accesses);
  swc_select_context(nullptr);
  swgenio_close(context.fd);
  swgenio_detach_in_process();
}
BENCHMARK(frames_through_the_pools)->Arg(60)->Arg(512)->Arg(1514)->Arg(2036);

}  // namespace

BENCHMARK_MAIN();
