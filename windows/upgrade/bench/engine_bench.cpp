// Engine cost per frame, without any adapter: a 4 MiB transfer against the in-process router peer on
// the virtual clock. The figure bounds what the engine itself adds to a real upgrade.
#include <benchmark/benchmark.h>

#include <cstring>

#include "hl_upgrade.h"
#include "virtual_link.h"

namespace {

void BM_FourMebibyteTransfer(benchmark::State &state) {
  std::vector<std::uint8_t> image(4u << 20, 0x3C);
  std::memcpy(&image[0], upgrade::kHeaderMark, 7);
  std::memcpy(&image[63], upgrade::kHeaderMark, 7);
  std::size_t frames = 0;
  for (auto _ : state) {
    upgrade::testing::VirtualLink link;
    upgrade::peer::RouterPeer router({0x02, 0x5A, 0xC3, 1, 2, 3}, 0x1023);
    link.attach(router);
    upgrade::testing::RecordingHost host;
    upgrade::testing::MemoryImageStore images;
    images.put("image", image);
    upgrade::UpgradeEngine engine(link, link, host, images);
    upgrade::HLupgrade(engine).run("VT010203", "image");
    if (host.reboot_waits != 1) state.SkipWithError("transfer failed");
    frames += link.sent.size() * 2;  // each request and its reply
  }
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FourMebibyteTransfer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
