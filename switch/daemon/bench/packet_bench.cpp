// CPU frames per second that the packet module takes from the chip's receive queues, hands over and
// returns to its pools: the daemon's own cost per frame, with the chip model answering in process.
//   build/host/bin/pv_packet_bench
// Each frame costs one frame-ready read, two header reads for the length, two more with the data
// words and the release write; over the simulator's socket multiply those accesses by the round trip
// that swc_io_bench measures.
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

void release(packet_buffer *buffer) {
    packet_free(buffer);
}

void FramesThroughThePools(benchmark::State &bench) {
    swchip::ChipModel chip;
    swchip::Driver driver{chip};
    swgenio_attach_in_process([&driver](uint32_t code, std::span<uint8_t> record) { return driver.handle(code, record); });
    swgenio_set_recording(false);
    swc_api_state state{};
    std::vector<unsigned char> phy_state(swc_phy_sizeof_al(6));
    swc_phy_context phy{0, reinterpret_cast<swc_phy_state *>(phy_state.data())};
    swc_context context{swgenio_open("/dev/swgenio", 2), &state, &phy};
    swc_select_context(&context);
    const swc_init_setup setup{1, 1, 0, -1, 0};
    swc_init_state(&setup);
    packet_buffer_init();
    packet_l2_receiver_set(release);

    std::vector<uint8_t> frame(static_cast<size_t>(bench.range(0)), 0x5A);
    const uint8_t bridge_group[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x00};
    std::copy(bridge_group, bridge_group + 6, frame.begin());
    frame[12] = 0x88;
    frame[13] = 0x09;
    for (auto _ : bench) {
        chip.inject_cpu_frame(1, 0, frame, 1);
        packet_poll();
        packet_queue();
    }
    if (packet_rx_count(1) != bench.iterations())
        bench.SkipWithError("a frame was not taken");
    bench.SetItemsProcessed(bench.iterations());
    swc_select_context(nullptr);
    swgenio_close(context.fd);
    swgenio_detach_in_process();
}
BENCHMARK(FramesThroughThePools)->Arg(60)->Arg(512)->Arg(1514)->Arg(2036);

} // namespace

BENCHMARK_MAIN();
