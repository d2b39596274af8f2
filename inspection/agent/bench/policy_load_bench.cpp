// Time to install a policy file of about 800 KB: decrypt, check, unpack the name tables into shared
// memory and download the rule tables. The device is the in-process module stand-in of the tests
// unless VORN_DEVICE names a running vornkd, so the download's figure includes either its inflate of
// the engine image or the real module's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "fake_module.h"
#include "ipc.h"
#include "ipc_namespace.h"
#include "policy_builder.h"
#include "policy_format.h"
#include "rul_agent.h"
#include "vornagent.h"

namespace {

using namespace vornagent;

// 800 KB: 4000 attack names and a section of incompressible data, plus the engine image.
std::vector<uint8_t> large_policy() {
  builder::PolicySpec spec;
  spec.version = 0x00010001;
  for (int i = 0; i < 4000; ++i) spec.attack_names.push_back("Attack signature number " + std::to_string(i));
  std::mt19937 random(7);
  std::vector<uint8_t> noise(760 * 1024);
  for (auto &b : noise) b = static_cast<uint8_t>(random());
  spec.extra_sections.push_back(noise);
  spec.apps = {{0, 1, 0, 1, "MSN"}};
  spec.rules = {{17, 0, 1, 1000, "SYN flood"}};
  return builder::build_policy_file(spec);
}

void upload_policy(const std::vector<uint8_t> &file) {
  void *segment = nullptr;
  int size = 0;
  if (kaGetSharedMemory(&segment, &size) != 0) std::abort();
  std::memcpy(segment, file.data(), file.size());
  kaReleaseSharedMemory(&segment);
}

void BM_CheckAndUnpack(benchmark::State &state) {
  std::vector<uint8_t> file = large_policy();
  file.resize(kRawPolicySize, 0);
  for (auto _ : state) {
    ParsedPolicy parsed;
    if (parse_policy(file.data(), file.size(), kKeyMaterial, parsed) != PolicyError::kNone) std::abort();
    benchmark::DoNotOptimize(parsed.decompressed.data());
  }
  state.counters["file_bytes"] = static_cast<double>(large_policy().size());
}
BENCHMARK(BM_CheckAndUnpack)->Unit(benchmark::kMillisecond);

void BM_InstallPolicy(benchmark::State &state) {
  if (!enter_fresh_ipc_namespace() || kaStartup() != 0) {
    state.SkipWithError("cannot start the agents in a private IPC namespace");
    return;
  }
  testing::FakeModule module;
  std::unique_ptr<testing::FakeDevice> device;
  if (!std::getenv("VORN_DEVICE")) device = std::make_unique<testing::FakeDevice>(module);
  upload_policy(large_policy());
  for (auto _ : state) {
    if (kaUpdateSig() != 0) {
      state.SkipWithError("policy load failed");
      break;
    }
  }
  kaShutDown();
}
BENCHMARK(BM_InstallPolicy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
