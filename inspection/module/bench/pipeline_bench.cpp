// Packets per second through kkPacketInspect, the engine device model and its software matcher, the
// interrupt handler and the verdict, on one core, with a rule set of a few hundred signatures.
//
//   build/host/bin/vorn_pipeline_bench
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kservices.h"
#include "quorix_device.h"
#include "vorn_image.h"
#include "vorn_matcher.h"
#include "vorn_module.h"
#include "vorn_records.h"
#include "vorn_sigc.h"

namespace {

constexpr int kSignatures = 300;
constexpr int kConnections = 64;

std::string random_pattern(std::mt19937 &random) {
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-%";
  std::string pattern(8 + random() % 9, ' ');
  for (char &c : pattern) c = alphabet[random() % (sizeof alphabet - 1)];
  return pattern;
}

class LoadedModule {
 public:
  LoadedModule() {
    kern::clock_use_real(false);
    device_.set_matcher(&matcher_);
    {
      kern::CpuSection cpu;
      vorn::init_module();
    }
    std::mt19937 random(7);
    vorn::SignatureCompiler compiler;
    for (int i = 0; i < kSignatures; ++i) {
      vorn::Signature s;
      s.rule_id = static_cast<uint16_t>(i + 1);
      s.pattern = random_pattern(random);
      s.nocase = i % 2;
      s.category = 2;
      compiler.add(s);
    }
    vorn::EngineImage image;
    image.set_enable_word(1);
    compiler.compile(&image);
    download(image.packed(1));
    vorn::ParamtVornStatus on{1, 0};
    kern::chrdev_ioctl(vorn::kVornMajor, vorn::VORN_IOC_SET_STATUS, reinterpret_cast<unsigned long>(&on));
    kern::set_delivery_sink([this](const sk_buff &, kern::Fate fate, bool) { dropped_ += fate == kern::Fate::dropped; });
  }
  ~LoadedModule() {
    kern::set_delivery_sink(nullptr);
    kern::CpuSection cpu;
    vorn::cleanup_module();
  }
  uint64_t dropped() const { return dropped_; }

 private:
  static void download(const std::vector<unsigned char> &packed) {
    void *low = mmap(nullptr, packed.size(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    std::memcpy(low, packed.data(), packed.size());
    vorn::ParamtVornPolicyTable table{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(low)), 0};
    kern::chrdev_ioctl(vorn::kVornMajor, vorn::VORN_IOC_LOAD_RULE_TABLES, reinterpret_cast<unsigned long>(&table));
    munmap(low, packed.size());
  }
  vorn::SoftwareMatcher matcher_;
  quorix::Device device_;
  uint64_t dropped_ = 0;
};

// An established TCP connection's data packet of `size` IP bytes, with printable payload that
// matches none of the signatures.
std::vector<unsigned char> tcp_packet(size_t size, int connection) {
  std::vector<unsigned char> b(size, 0);
  b[0] = 0x45;
  b[2] = static_cast<unsigned char>(size >> 8);
  b[3] = static_cast<unsigned char>(size);
  b[8] = 64;
  b[9] = 6;
  unsigned char source[4] = {192, 168, 1, static_cast<unsigned char>(10 + connection)};
  unsigned char destination[4] = {10, 0, 0, 2};
  std::memcpy(&b[12], source, 4);
  std::memcpy(&b[16], destination, 4);
  b[20] = 0x9c;
  b[21] = static_cast<unsigned char>(connection);
  b[22] = 0;
  b[23] = 80;
  b[32] = 0x50;
  b[33] = 0x10;
  for (size_t i = 40; i < size; ++i) b[i] = static_cast<unsigned char>(' ' + (i * 7) % 90);
  return b;
}

void inspect(benchmark::State &state, size_t ip_size) {
  LoadedModule module;
  std::vector<std::vector<unsigned char>> packets;
  for (int c = 0; c < kConnections; ++c) packets.push_back(tcp_packet(ip_size, c));
  size_t next = 0;
  for (auto _ : state) {
    const auto &packet = packets[next++ % packets.size()];
    kern::receive(kern::make_frame("eth1", ETH_P_IP, packet.data(), packet.size()));
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(ip_size));
  state.counters["dropped"] = static_cast<double>(module.dropped());
}

// 64-byte Ethernet frames carry 46 IP bytes; 1500 is the Ethernet MTU.
void BM_Inspect64ByteFrames(benchmark::State &state) { inspect(state, 46); }
void BM_Inspect1500BytePackets(benchmark::State &state) { inspect(state, 1500); }

BENCHMARK(BM_Inspect64ByteFrames)->MinTime(2.0);
BENCHMARK(BM_Inspect1500BytePackets)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
