// Cost of one report tick in its worst case: the ring is full, so each of the 1023 new events (the
// most the module's ring holds) expires an old one, and every event has a source of its own. The
// module is the in-process stand-in of the tests, so the figure is the library's own work.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "fake_module.h"
#include "records.h"
#include "rpt_agent.h"

namespace {

using namespace vornagent;

void BM_TickFullRingDistinctSources(benchmark::State &state) {
  setenv("VORNAGENT_NET_DEV", "/nonexistent/net_dev", 1);
  testing::FakeModule module;
  testing::FakeDevice device(module);
  std::vector<uint32_t> report(rpt::kWords);
  reset_report(report.data(), 0);
  empty_source_tree();
  uint32_t source = 0;
  auto log_batch = [&] {
    for (int i = 0; i < 1023; ++i, ++source) module.log_event(source, 1, 1 + source % 9);
  };
  for (int i = 0; i < 9; ++i) {  // fill the ring
    log_batch();
    RptRawEventRetrive(report.data());
  }
  for (auto _ : state) {
    state.PauseTiming();
    log_batch();
    state.ResumeTiming();
    RptRawEventRetrive(report.data());
  }
  state.counters["events_per_tick"] = 1023;
  state.counters["sources"] = static_cast<double>(source_count());
}
BENCHMARK(BM_TickFullRingDistinctSources)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
