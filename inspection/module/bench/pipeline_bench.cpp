// Packets per second through kkPacketInspect, the engine device model and its software matcher, the
// interrupt handler and the verdict, on one core, with every anomaly check and detector on.
//
//   taskset -c 3 build/host/bin/vorn_pipeline_bench --benchmark_repetitions=5
//
// Established traffic at 64 and 1500 bytes with 300 signatures and with 3,000 (2,600 pattern and 400
// header-only signatures: the engine's tables hold at most 2,730 patterns); floods from spoofed
// sources, a scan over every port, a scan of hosts chosen to share one chain of the scan table, a
// sweep of ports and prefixes chosen to share one chain of the sweep table, random garbage, and
// SYN+ACK and FIN backscatter with a full connection table at 64 bytes; and the 64-byte case with an
// engine that answers "no match" at once, whose difference to the full case is the matcher's share.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kservices.h"
#include "quorix_device.h"
#include "vorn_checks.h"
#include "vorn_detectors.h"
#include "vorn_engine_format.h"
#include "vorn_image.h"
#include "vorn_matcher.h"
#include "vorn_module.h"
#include "vorn_records.h"
#include "vorn_sigc.h"

namespace {

#ifdef MAP_32BIT
constexpr int kBelow4GiB = MAP_32BIT;
#else
constexpr int kBelow4GiB = 0;  // a 32-bit address space lies below 4 GiB as it is
#endif
constexpr int kConnections = 64;
constexpr int kHeaderOnlySignatures = 400;

std::string random_pattern(std::mt19937 &random, size_t shortest, size_t spread) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-%";
  std::string pattern(shortest + random() % spread, ' ');
  for (char &c : pattern) c = kAlphabet[random() % (sizeof kAlphabet - 1)];
  return pattern;
}

// The engine answering "no match" for every descriptor, at once.
class SilentMatcher : public quorix::Matcher {
 public:
  void match(const quorix::EngineTables &, unsigned char *) override {}
};

enum class Engine { kSoftware, kSilent };

class LoadedModule {
 public:
  explicit LoadedModule(int signatures, Engine engine = Engine::kSoftware) {
    kern::clock_use_real(false);
    if (engine == Engine::kSoftware) {
      device_.set_matcher(&matcher_);
    } else {
      device_.set_matcher(&silent_);
    }
    {
      kern::CpuSection cpu;
      vorn::init_module();
    }
    std::mt19937 random(7);
    vorn::SignatureCompiler compiler;
    // Past a few hundred, shorter patterns keep the automaton within the engine's state table.
    bool large = signatures > 1000;
    int pattern_signatures = large ? signatures - kHeaderOnlySignatures : signatures;
    for (int i = 0; i < pattern_signatures; ++i) {
      vorn::Signature s;
      s.rule_id = static_cast<uint16_t>(i % (vorn::engine_format::kMaxRules - 1) + 1);
      s.pattern = large ? random_pattern(random, 6, 4) : random_pattern(random, 8, 9);
      s.nocase = i % 2;
      s.category = 2;
      compiler.add(s);
    }
    // Header-only signatures on high TCP ports that the benchmark's established traffic never uses.
    for (int i = 0; large && i < kHeaderOnlySignatures; ++i) {
      vorn::HeaderOnlySignature h;
      h.group = vorn::EngineImage::Group::kTcp;
      auto port = static_cast<uint16_t>(60000 + i);
      h.rule = vorn::make_header_rule(0, 0, 0, 0, 0, 3, port, port);
      h.category = 2;
      compiler.add(h);
    }
    vorn::EngineImage image;
    image.set_enable_word(1);
    enable_every_check(&image);
    compiler.compile(&image);
    download(image.packed(1));
    vorn::ParamtVornStatus on{1, 0};
    kern::chrdev_ioctl(vorn::kVornMajor, vorn::VORN_IOC_SET_STATUS, reinterpret_cast<unsigned long>(&on));
    kern::set_delivery_sink(
        [this](const sk_buff &, kern::Fate fate, bool) { dropped_ += fate == kern::Fate::kDropped; });
  }
  ~LoadedModule() {
    kern::set_delivery_sink(nullptr);
    kern::CpuSection cpu;
    vorn::cleanup_module();
  }
  uint64_t dropped() const { return dropped_; }

 private:
  static void enable_every_check(vorn::EngineImage *image) {
    uint8_t index = 0;
    for (uint8_t app : {vorn::kAnomalyHttp, vorn::kAnomalyFtp, vorn::kAnomalyTelnet, vorn::kAnomalyRpc})
      image->set_app(app, index++, 1, "check");
    index = 0;
    for (uint8_t rule : {vorn::kRuleSynScan, vorn::kRuleFinScan, vorn::kRuleOtherScan, vorn::kRuleUdpScan})
      image->set_threshold_rule(rule, index++, 1, 100, "scan");
    image->set_threshold_rule(vorn::kRuleIpSweep, index++, 1, 100, "sweep");
    for (uint8_t rule :
         {vorn::kRuleSynFlood, vorn::kRuleUdpFlood, vorn::kRuleIcmpFlood, vorn::kRuleIgmpFlood})
      image->set_threshold_rule(rule, index++, 1, 5000, "flood");
  }
  static void download(const std::vector<unsigned char> &packed) {
    void *low =
        mmap(nullptr, packed.size(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | kBelow4GiB, -1, 0);
    std::memcpy(low, packed.data(), packed.size());
    vorn::ParamtVornPolicyTable table{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(low)), 0};
    kern::chrdev_ioctl(vorn::kVornMajor, vorn::VORN_IOC_LOAD_RULE_TABLES,
                       reinterpret_cast<unsigned long>(&table));
    munmap(low, packed.size());
  }
  vorn::SoftwareMatcher matcher_;
  SilentMatcher silent_;
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

void set_checksum(std::vector<unsigned char> *packet) {
  auto &b = *packet;
  b[10] = b[11] = 0;
  uint32_t sum = 0;
  for (size_t i = 0; i < 20; i += 2) sum += (b[i] << 8) | b[i + 1];
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  b[10] = static_cast<unsigned char>(~sum >> 8);
  b[11] = static_cast<unsigned char>(~sum);
}

// A 46-byte TCP SYN or UDP datagram from `source`:`source_port` to 10.0.0.2:`port`.
std::vector<unsigned char> flood_packet(uint8_t protocol, uint32_t source, uint16_t source_port,
                                        uint16_t port) {
  std::vector<unsigned char> b = tcp_packet(46, 0);
  b[9] = protocol;
  b[12] = static_cast<unsigned char>(source >> 24);
  b[13] = static_cast<unsigned char>(source >> 16);
  b[14] = static_cast<unsigned char>(source >> 8);
  b[15] = static_cast<unsigned char>(source);
  b[20] = static_cast<unsigned char>(source_port >> 8);
  b[21] = static_cast<unsigned char>(source_port);
  b[22] = static_cast<unsigned char>(port >> 8);
  b[23] = static_cast<unsigned char>(port);
  if (protocol == 6) {
    b[33] = 0x02;  // SYN
  } else {
    b[24] = 0;
    b[25] = 26;  // UDP length
    b[26] = b[27] = 0;
  }
  set_checksum(&b);
  return b;
}

using Traffic = std::vector<std::vector<unsigned char>>;

void run(benchmark::State &state, LoadedModule &module, const Traffic &packets, size_t ip_size) {
  // This thread alone drives the module, as one core's receive path would: its sections take no lock.
  kern::CpuClaim claim;
  size_t next = 0;
  for (auto _ : state) {
    // The virtual clock moves 1 ms every 2,000 packets, so detectors' one-second windows turn over
    // as they would at a few million packets per second, without reading the host's clock.
    if (next % 2000 == 0) kern::clock_advance_ms(1);
    const auto &packet = packets[next++ % packets.size()];
    kern::receive(kern::make_frame("eth1", ETH_P_IP, packet.data(), packet.size()));
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(ip_size));
  state.counters["dropped"] = static_cast<double>(module.dropped());
  state.counters["longest_probe_run"] = static_cast<double>(vorn::module().BKTcpLongestChain);
  // The detectors' fixed tables as the run leaves them (at most 4,096 scan and 1,024 sweep records).
  state.counters["scan_records"] = static_cast<double>(vorn::port_scan_records_in_use());
  state.counters["sweep_records"] = static_cast<double>(vorn::sweep_records_in_use());
}

Traffic established(size_t ip_size) {
  Traffic packets;
  for (int c = 0; c < kConnections; ++c) {
    packets.push_back(tcp_packet(ip_size, c));
    set_checksum(&packets.back());
  }
  return packets;
}

void inspect(benchmark::State &state, size_t ip_size, int signatures, Engine engine = Engine::kSoftware) {
  LoadedModule module(signatures, engine);
  run(state, module, established(ip_size), ip_size);
}

// Packets from random spoofed sources and ports; a pool large enough that sources rarely repeat
// within the tracker's and detectors' tables.
Traffic spoofed(uint8_t protocol) {
  std::mt19937 random(11);
  Traffic packets;
  for (int i = 0; i < 65536; ++i)
    packets.push_back(
        flood_packet(protocol, static_cast<uint32_t>(random()), static_cast<uint16_t>(random()), 80));
  return packets;
}

void BM_Inspect64ByteFrames(benchmark::State &state) {
  inspect(state, 46, 300);
}
void BM_Inspect1500BytePackets(benchmark::State &state) {
  inspect(state, 1500, 300);
}
void BM_Inspect64ByteFrames3000Signatures(benchmark::State &state) {
  inspect(state, 46, 3000);
}
void BM_Inspect64ByteFramesSilentEngine(benchmark::State &state) {
  inspect(state, 46, 300, Engine::kSilent);
}

void BM_SynFloodSpoofed64(benchmark::State &state) {
  LoadedModule module(300);
  run(state, module, spoofed(6), 46);
}

void BM_UdpFloodSpoofed64(benchmark::State &state) {
  LoadedModule module(300);
  run(state, module, spoofed(17), 46);
}

// One source's SYN to every port, over and over.
void BM_PortScan65535Ports64(benchmark::State &state) {
  LoadedModule module(300);
  Traffic packets;
  for (uint32_t port = 1; port <= 65535; ++port)
    packets.push_back(flood_packet(6, 0xc0a80163, 40000, static_cast<uint16_t>(port)));
  run(state, module, packets, 46);
}

// A 46-byte TCP segment with `flags` between two addresses given as numbers (a.b.c.d = a << 24 | ...).
std::vector<unsigned char> tcp_segment(uint32_t source, uint16_t source_port, uint32_t destination,
                                       uint16_t port, uint8_t flags) {
  std::vector<unsigned char> b = flood_packet(6, source, source_port, port);
  for (int i = 0; i < 4; ++i) b[16 + i] = static_cast<unsigned char>(destination >> (24 - 8 * i));
  b[33] = flags;
  set_checksum(&b);
  return b;
}

// One source's SYNs to 4,096 hosts whose addresses agree in their low 12 bits, 16 ports each: a scan
// whose records would all share one chain of the port-scan table on a hash the sender can work out.
// The ports stay below the scan threshold, so every record is walked to and none alarms.
void BM_PortScanCollidingHosts64(benchmark::State &state) {
  LoadedModule module(300);
  Traffic packets;
  for (uint32_t i = 0; i < 65536; ++i) {
    uint32_t host = 0x0a000105 | (i % 4096) << 12;  // 10.x.y.5 with y's low four bits 1
    packets.push_back(tcp_segment(0xc0a80163, 40000, host, static_cast<uint16_t>(1 + i / 4096), 0x02));
  }
  run(state, module, packets, 46);
}

// The sweep hash as a build with a fixed key would have it, which a sender can search.
uint32_t unkeyed_sweep_hash(uint32_t source, uint32_t port, uint32_t prefix) {
  uint32_t h = source * 0x9e3779b1u ^ port * 0x85ebca6bu ^ prefix * 0xc2b2ae35u;
  return (h ^ (h >> 15)) & (vorn::kSweepRecords - 1);
}

// One source's SYNs to the 1,024 destination ports and /16 prefixes whose sweep records would share
// one chain of the sweep table on that hash, 16 source ports each. Each record sees one host only,
// so every record is walked to and none alarms.
void BM_IpSweepCollidingRecords64(benchmark::State &state) {
  LoadedModule module(300);
  constexpr uint32_t kSource = 0xc0a80163;
  const uint32_t stored_source = __builtin_bswap32(kSource);  // as the packet holds it in memory
  std::vector<std::pair<uint32_t, uint16_t>> keys;            // destination and port
  for (uint32_t first = 11; keys.size() < vorn::kSweepRecords; ++first) {
    for (uint32_t second = 0; second < 256 && keys.size() < vorn::kSweepRecords; ++second) {
      for (uint32_t port = 1; port <= 0xffff && keys.size() < vorn::kSweepRecords; ++port) {
        if (unkeyed_sweep_hash(stored_source, port, first | second << 8) == 0)
          keys.emplace_back(first << 24 | second << 16 | 0x0101, static_cast<uint16_t>(port));
      }
    }
  }
  Traffic packets;
  for (uint32_t i = 0; i < 16 * keys.size(); ++i) {
    auto [destination, port] = keys[i % keys.size()];
    packets.push_back(
        tcp_segment(kSource, static_cast<uint16_t>(40000 + i / keys.size()), destination, port, 0x02));
  }
  run(state, module, packets, 46);
}

// Backscatter on the WAN side (eth1) with the connection table at its limit: SYN+ACKs from many
// sources that answer no SYN of ours (each one's record is made, looked up as a half-open
// connection's answer, then closed by the source's RST) and FINs from many sources that belong to no
// connection (each one asked whether its source ever served a connection).
void BM_SynAckFinFloodFullTable64(benchmark::State &state) {
  LoadedModule module(300);
  constexpr uint32_t kServers = 64;
  constexpr uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kAck = 0x10;
  auto deliver = [](const std::vector<unsigned char> &packet) {
    kern::receive(kern::make_frame("eth1", ETH_P_IP, packet.data(), packet.size()));
  };
  // All but one record in use: half established, half waiting for the server's answer.
  for (uint32_t i = 0; i < 0x5fff; ++i) {
    uint32_t client = 0xac100000 + i;  // 172.16.0.0 upwards
    uint32_t server = 0x0a000002 + ((i % kServers) << 8);
    auto client_port = static_cast<uint16_t>(1024 + i);
    uint16_t server_port = i % 3 ? 80 : 443;
    deliver(tcp_segment(client, client_port, server, server_port, kSyn));
    if (i % 2) continue;
    deliver(tcp_segment(server, server_port, client, client_port, kSyn | kAck));
    deliver(tcp_segment(client, client_port, server, server_port, kAck));
  }
  std::mt19937 random(17);
  Traffic packets;
  for (int i = 0; i < 65536; ++i) {
    auto source = static_cast<uint32_t>(random());
    auto source_port = static_cast<uint16_t>(random());
    auto port = static_cast<uint16_t>(random());
    packets.push_back(tcp_segment(source, source_port, 0x0a000002, port, kSyn | kAck));
    packets.push_back(tcp_segment(static_cast<uint32_t>(random()), static_cast<uint16_t>(random()),
                                  0x0a000002, static_cast<uint16_t>(random()), kFin));
    packets.push_back(tcp_segment(source, source_port, 0x0a000002, port, kRst));
  }
  run(state, module, packets, 46);
  state.counters["connections"] = static_cast<double>(vorn::module().Tcp_currentconn);
}

// Random bytes as IP packets of 20 to 46 bytes, with a plausible first byte half of the time.
void BM_RandomGarbage64(benchmark::State &state) {
  LoadedModule module(300);
  std::mt19937 random(13);
  Traffic packets;
  for (int i = 0; i < 4096; ++i) {
    std::vector<unsigned char> b(20 + random() % 27);
    for (auto &c : b) c = static_cast<unsigned char>(random());
    if (i % 2) b[0] = 0x45;
    packets.push_back(std::move(b));
  }
  run(state, module, packets, 46);
}

BENCHMARK(BM_Inspect64ByteFrames)->MinTime(2.0);
BENCHMARK(BM_Inspect1500BytePackets)->MinTime(2.0);
BENCHMARK(BM_Inspect64ByteFrames3000Signatures)->MinTime(2.0);
BENCHMARK(BM_Inspect64ByteFramesSilentEngine)->MinTime(2.0);
BENCHMARK(BM_SynFloodSpoofed64)->MinTime(2.0);
BENCHMARK(BM_UdpFloodSpoofed64)->MinTime(2.0);
BENCHMARK(BM_PortScan65535Ports64)->MinTime(2.0);
BENCHMARK(BM_PortScanCollidingHosts64)->MinTime(2.0);
BENCHMARK(BM_IpSweepCollidingRecords64)->MinTime(2.0);
BENCHMARK(BM_RandomGarbage64)->MinTime(2.0);
BENCHMARK(BM_SynAckFinFloodFullTable64)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
