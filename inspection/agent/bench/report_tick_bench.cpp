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
  resetReport(report.data(), 0);
  emptySourceTree();
  uint32_t source = 0;
  auto logBatch = [&] {
    for (int i = 0; i < 1023; ++i, ++source) module.logEvent(source, 1, 1 + source % 9);
  };
  for (int i = 0; i < 9; ++i) {  // fill the ring
    logBatch();
    RptRawEventRetrive(report.data());
  }
  for (auto _ : state) {
    state.PauseTiming();
    logBatch();
    state.ResumeTiming();
    RptRawEventRetrive(report.data());
  }
  state.counters["events_per_tick"] = 1023;
  state.counters["sources"] = static_cast<double>(sourceCount());
}
BENCHMARK(BM_TickFullRingDistinctSources)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
