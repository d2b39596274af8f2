// Front ports on the wire: the chip simulator binds its ports to TAP devices swp1..swp6, a peer network
// namespace holds swp1 and swp2 and talks through raw sockets. Frames go into portvisor's receive path,
// frames the CPU sends come out on the right TAP byte for byte, and bursts and malformed frames leave the
// buffer pools full. Needs root (namespaces, TAP devices, UDP port 28).
#include "mgmt.h"
#include "mgmt_client.h"
#include "packet.h"
#include "packet_checks.h"
#include "packet_socket.h"
#include "process_util.h"
#include "simulated_board.h"
#include "swc_api.h"
#include "swc_cpu.h"
#include "swc_phy.h"
#include "swc_qos_state.h"
#include "swgenio.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <thread>

using namespace std::chrono_literals;

namespace {

const std::string kPeerNs = "frames-peer-" + std::to_string(getpid());

// This program, the simulator and the daemon share a namespace with loopback and an "eth0"; the peer's
// namespace gets the front ports swp1 and swp2 once the simulator made them.
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new BoardAndPeerNamespace(kPeerNs));

// A raw socket on an interface of the peer namespace.
class PeerSocket : public PacketSocket {
 public:
  explicit PeerSocket(const std::string &ifname) : PacketSocket(ifname, kPeerNs) {}
};

std::vector<uint8_t> frame_to(const std::vector<uint8_t> &destination, uint16_t type, size_t length,
                              uint8_t fill) {
  std::vector<uint8_t> f(length, fill);
  std::copy(destination.begin(), destination.end(), f.begin());
  const uint8_t source[6] = {0x02, 0x00, 0x00, 0x00, 0x0A, 0x01};
  std::copy(source, source + 6, f.begin() + 6);
  f[12] = static_cast<uint8_t>(type >> 8);
  f[13] = static_cast<uint8_t>(type);
  return f;
}
const std::vector<uint8_t> kBridgeGroup = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x00};

class FrontPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    simulator = start_chip_simulator(device(), dir.path() + "/ctl", {"--front-ports", "swp"});
    ASSERT_TRUE(wait_for_path(device(), 0ms)) << simulator->output();
    // Without IPv6 the peer's stack sends nothing of its own that could be counted with the test's frames.
    for (const char *port : {"swp1", "swp2"}) ASSERT_TRUE(move_to_netns(port, kPeerNs));
  }
  void TearDown() override {
    kill(simulator->pid(), SIGTERM);
    simulator->wait_exit(5s);
  }
  std::string device() const { return dir.path() + "/swgenio"; }
  TempDir dir;
  std::unique_ptr<ChildProcess> simulator;
};

// The switch API and the packet module in this process, on the simulator over its device socket, as
// portvisor runs them once its ports are started.
class PacketPathOnFrontPorts : public FrontPorts {
 protected:
  void SetUp() override {
    FrontPorts::SetUp();
    if (HasFatalFailure()) return;
    fd = swgenio_open(device().c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    phy_state.assign(swc_phy_sizeof_al(6), 0);
    phy = SwcPhyContext{0, reinterpret_cast<SwcPhyState *>(phy_state.data())};
    context = SwcContext{fd, &state, &phy};
    swc_select_context(&context);
    const SwcInitSetup setup{1, 1, 0, -1, 0};
    ASSERT_EQ(swc_init(&setup), 0);
    packet_buffer_init();
    packet_l2_receiver_set(nullptr);
  }
  void TearDown() override {
    swc_select_context(nullptr);
    if (fd >= 0) swgenio_close(fd);
    FrontPorts::TearDown();
  }
  // Runs the main loop's packet hooks until `done` holds or the time is up.
  template <typename Done>
  bool pump(Done done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      packet_poll();
      packet_queue();
    }
    return true;
  }
  int fd = -1;
  SwcApiState state{};
  std::vector<unsigned char> phy_state;
  SwcPhyContext phy{};
  SwcContext context{};
};

std::vector<std::vector<uint8_t>> l2_frames;
std::vector<uint32_t> l2_ports;
void keep_l2(PacketBuffer *buffer) {
  l2_frames.emplace_back(buffer->data, buffer->data + buffer->length);
  l2_ports.push_back(buffer->poag_no);
  packet_free(buffer);
}

TEST_F(PacketPathOnFrontPorts, ReservedFramesReachTheReceiverWhateverThePortState) {
  l2_frames.clear();
  l2_ports.clear();
  packet_l2_receiver_set(keep_l2);
  ASSERT_EQ(swc_port_stp_state_set(1, SWC_STP_STATE_BLOCKING), 0);
  ASSERT_EQ(swc_port_auth_state_set(2, SWC_AUTH_STATE_NONE), 0);
  ASSERT_EQ(swc_port_stp_state_set(2, SWC_STP_STATE_FORWARDING), 0);
  PeerSocket peer1("swp1"), peer2("swp2");
  ASSERT_TRUE(peer1.ok() && peer2.ok());
  auto bpdu = frame_to(kBridgeGroup, 0x0026, 60, 0);
  bpdu[14] = 0x42;
  bpdu[15] = 0x42;
  bpdu[16] = 0x03;
  ASSERT_TRUE(peer1.send(bpdu));
  // EAPOL in VLAN 7 on the unauthorised port: the tag is the chip's business, the CPU gets it stripped.
  auto eapol = frame_to({0x01, 0x80, 0xC2, 0x00, 0x00, 0x03}, 0x8100, 64, 0x33);
  eapol[14] = 0x00;
  eapol[15] = 0x07;
  eapol[16] = 0x88;
  eapol[17] = 0x8E;
  const SwcVlanPortMode aware{1, 1, 1, 0, 0};
  ASSERT_EQ(swc_vlan_port_mode_set(2, &aware), 0);
  ASSERT_TRUE(peer2.send(eapol));
  ASSERT_TRUE(pump([] { return l2_frames.size() == 2; }, 5s));
  EXPECT_EQ(l2_frames[0], bpdu);
  EXPECT_EQ(l2_ports[0], 1u);
  ASSERT_EQ(l2_frames[1].size(), 60u);
  EXPECT_EQ(l2_frames[1][12], 0x88);
  EXPECT_EQ(l2_frames[1][13], 0x8E);
  EXPECT_EQ(l2_ports[1], 2u);
  EXPECT_EQ(packet_rx_count(1), 2u);
  // Nothing of it was forwarded to the other port.
  EXPECT_FALSE(peer2.receive(0x0026, 200ms));
  expect_pools_full();
}

TEST_F(PacketPathOnFrontPorts, BurstAndMalformedFramesLeaveThePoolsFull) {
  ASSERT_TRUE(run("ip netns exec " + kPeerNs + " ip link set swp1 mtu 9000"));
  ASSERT_EQ(swc_port_stp_state_set(1, SWC_STP_STATE_BLOCKING), 0);
  PeerSocket peer("swp1");
  ASSERT_TRUE(peer.ok());
  const unsigned burst = 200;
  for (unsigned i = 0; i < burst; ++i)
    ASSERT_TRUE(peer.send(frame_to(kBridgeGroup, 0x8809, 60 + (i * 37) % 1400, static_cast<uint8_t>(i))));
  ASSERT_TRUE(peer.send(frame_to(kBridgeGroup, 0x8809, 3000, 1)));  // beyond the CPU queue's window
  ASSERT_TRUE(peer.send(frame_to(kBridgeGroup, 0x8809, 14, 0)));    // a runt: header only
  // The chip's queue overflows under the burst and drops the rest itself; wait until nothing moves.
  uint32_t seen = 0;
  for (int quiet = 0; quiet < 20;) {
    pump([] { return false; }, 20ms);
    const uint32_t now = packet_rx_count(1) + packet_stats_get().rx_dropped;
    quiet = now == seen ? quiet + 1 : 0;
    seen = now;
  }
  const PacketStats s = packet_stats_get();
  EXPECT_GT(packet_rx_count(1), 0u);
  EXPECT_LE(packet_rx_count(1) + s.rx_dropped, burst + 1) << "the oversized frame never reaches the CPU";
  EXPECT_EQ(s.rx_undelivered, packet_rx_count(1)) << "no receiver: each frame counted and freed";
  expect_pools_full();
}

// portvisor itself on the front ports, with its packet traces: the chip started by its port management,
// frames in and out through its packet module, watched through the management objects 1000..1002.
class DaemonOnFrontPorts : public FrontPorts {
 protected:
  void SetUp() override {
    FrontPorts::SetUp();
    if (HasFatalFailure()) return;
    daemon = start_portvisor_on(dir, device(), {"--trace", "packet", "debug"});
    MgmtClient client{28};
    bool ready = false;
    uint32_t res = 99;
    // Starting the chip through the simulator's socket takes a while on a loaded machine.
    for (int i = 0; i < 600 && !ready; ++i)
      ready = client.object(1002, kMgmtCmdGet, std::vector<uint8_t>(28), res, 50ms).has_value();
    ASSERT_TRUE(ready) << daemon->output();
    // The ports come up through the status poll; frames from a port whose link is down go nowhere.
    ASSERT_TRUE(daemon->wait_for_output("portvisor/packet/packet_init(", 5s)) << daemon->output();
  }
  void TearDown() override {
    if (daemon) {
      kill(daemon->pid(), SIGTERM);
      EXPECT_EQ(daemon->wait_exit(10s), 0) << daemon->output();
    }
    FrontPorts::TearDown();
  }
  // One object's reply as words; a client of its own each time, so a late answer to a readiness probe
  // is never taken for this one.
  std::vector<uint32_t> words(uint32_t obj_id, uint32_t cmd, std::vector<uint8_t> data, uint32_t &res) {
    MgmtClient client{28};
    const auto reply = client.object(obj_id, cmd, std::move(data), res, 5s);
    std::vector<uint32_t> w;
    for (size_t i = 0; reply && i + 4 <= reply->size(); i += 4) w.push_back(le_load32(reply->data() + i));
    return w;
  }
  // Object 1002: free small, medium, big; rx list, tx list, dropped, undelivered.
  std::vector<uint32_t> pools() {
    uint32_t res = 99;
    auto w = words(1002, kMgmtCmdGet, std::vector<uint8_t>(28), res);
    EXPECT_EQ(res, 0u);
    return w;
  }
  void expect_daemon_pools_full() {
    const auto p = pools();
    ASSERT_EQ(p.size(), 7u);
    EXPECT_EQ(p[0], kPacketSmallCount);
    EXPECT_EQ(p[1], kPacketMediumCount);
    EXPECT_EQ(p[2], kPacketBigCount);
    EXPECT_EQ(p[3] + p[4], 0u) << "frames left in the lists";
  }
  // Object 1000: frames received per CPU queue.
  std::vector<uint32_t> rx_counters() {
    uint32_t res = 99;
    auto w = words(1000, kMgmtCmdGet, std::vector<uint8_t>(12), res);
    EXPECT_EQ(res, 0u);
    return w;
  }
  // The receive counters once they stopped moving: the daemon has taken whatever the chip queued.
  std::vector<uint32_t> settled_rx_counters() {
    std::vector<uint32_t> seen = rx_counters();
    for (int quiet = 0; quiet < 10;) {
      std::this_thread::sleep_for(20ms);
      const auto now = rx_counters();
      quiet = now == seen ? quiet + 1 : 0;
      seen = now;
    }
    return seen;
  }
  // Object 1001: the daemon sends a test frame of `length` bytes to a port.
  uint32_t send_test_frame(uint32_t port, uint32_t length, const std::vector<uint8_t> &source,
                           const std::vector<uint8_t> &destination) {
    std::vector<uint8_t> data(22, 0);
    le_store32(&data[0], port);
    le_store32(&data[4], length);
    std::copy(source.begin(), source.end(), data.begin() + 8);
    std::copy(destination.begin(), destination.end(), data.begin() + 16);
    uint32_t res = 99;
    words(1001, kMgmtCmdSet, data, res);
    return res;
  }
  std::unique_ptr<ChildProcess> daemon;
};

TEST_F(DaemonOnFrontPorts, ServesThePacketObjectsWithPoolsFullAfterStart) {
  expect_daemon_pools_full();
  uint32_t res = 99;
  ASSERT_EQ(words(1000, kMgmtCmdSet, std::vector<uint8_t>(12), res).size(), 3u);
  EXPECT_EQ(res, 0u);
}

TEST_F(DaemonOnFrontPorts, FrameFromThePeerReachesTheReceivePath) {
  PeerSocket peer("swp1");
  ASSERT_TRUE(peer.ok());
  auto frame = frame_to(kBridgeGroup, 0x88B5, 60, 0x5A);
  frame[14] = 0xC0;
  frame[15] = 0xDE;
  // The peer's link may still be coming up in the daemon's poll: send until the frame is seen.
  bool seen = false;
  for (int i = 0; i < 50 && !seen; ++i) {
    ASSERT_TRUE(peer.send(frame));
    seen = daemon->wait_for_output("Rx frame, port: 1, queue_no: 1, VID: 1, Length: 60", 200ms);
  }
  ASSERT_TRUE(seen) << daemon->output();
  // The frame's bytes in the hex trace, as they left the peer.
  EXPECT_TRUE(daemon->wait_for_output("01 80 c2 00 00 00 02 00-00 00 0a 01 88 b5 c0 de", 5s))
      << daemon->output();
  EXPECT_GE(settled_rx_counters().at(1), 1u);
  expect_daemon_pools_full();
}

TEST_F(DaemonOnFrontPorts, TransmittedFrameIsCapturedByThePeerByteForByte) {
  PeerSocket peer("swp2");
  ASSERT_TRUE(peer.ok());
  const std::vector<uint8_t> source{0x02, 0x00, 0x00, 0x00, 0x0C, 0x01},
      destination{0x02, 0x00, 0x00, 0x00, 0x0B, 0x02};
  for (uint32_t length : {42u, 60u, 1514u}) {
    std::vector<uint8_t> expected(length, 0xAA);
    std::copy(destination.begin(), destination.end(), expected.begin());
    std::copy(source.begin(), source.end(), expected.begin() + 6);
    if (expected.size() < 60) expected.resize(60, 0);  // as on a wire
    std::optional<std::vector<uint8_t>> got;
    for (int i = 0; i < 25 && !got; ++i) {
      ASSERT_EQ(send_test_frame(2, length, source, destination), 0u) << daemon->output();
      got = peer.receive(0xAAAA, 200ms);
    }
    ASSERT_TRUE(got) << "length " << length << daemon->output();
    EXPECT_EQ(*got, expected) << "length " << length;
  }
  EXPECT_NE(send_test_frame(2, 13, source, destination), 0u) << "shorter than an Ethernet header";
  EXPECT_NE(send_test_frame(2, 20000, source, destination), 0u) << "larger than any buffer";
  expect_daemon_pools_full();
}

TEST_F(DaemonOnFrontPorts, BurstOfFramesLeavesThePoolsFull) {
  PeerSocket peer("swp1");
  ASSERT_TRUE(peer.ok());
  const auto before = pools();
  ASSERT_EQ(before.size(), 7u);
  // A first frame through, so the burst does not meet a link still coming up.
  bool seen = false;
  for (int i = 0; i < 50 && !seen; ++i) {
    ASSERT_TRUE(peer.send(frame_to(kBridgeGroup, 0x8809, 60, 0)));
    seen = daemon->wait_for_output("Rx frame, port: 1", 200ms);
  }
  ASSERT_TRUE(seen) << daemon->output();
  const uint32_t start = settled_rx_counters().at(1);
  const unsigned burst = 500;
  for (unsigned i = 0; i < burst; ++i)
    ASSERT_TRUE(peer.send(frame_to(kBridgeGroup, 0x8809, 60 + (i * 37) % 1400, static_cast<uint8_t>(i))));
  const uint32_t taken = settled_rx_counters().at(1) - start;
  EXPECT_GT(taken, 0u);
  EXPECT_LE(taken, burst) << "the chip's queue may overflow, but never makes frames up";
  const auto after = pools();
  ASSERT_EQ(after.size(), 7u);
  EXPECT_EQ(std::vector<uint32_t>(after.begin(), after.begin() + 5),
            std::vector<uint32_t>(before.begin(), before.begin() + 5));
  expect_daemon_pools_full();
}

// Oversized frames stop at the chip; the shortest frame a peer can put on the wire, a bare header, is
// taken, counted and freed without anything read beyond it (asan watches the daemon's side in its build).
TEST_F(DaemonOnFrontPorts, OversizedFramesAreDroppedAndARuntIsFreed) {
  ASSERT_TRUE(run("ip netns exec " + kPeerNs + " ip link set swp1 mtu 9000"));
  PeerSocket peer("swp1");
  ASSERT_TRUE(peer.ok());
  bool seen = false;
  for (int i = 0; i < 50 && !seen; ++i) {
    ASSERT_TRUE(peer.send(frame_to(kBridgeGroup, 0x8809, 60, 0)));
    seen = daemon->wait_for_output("Rx frame, port: 1", 200ms);
  }
  ASSERT_TRUE(seen) << daemon->output();
  const uint32_t start = settled_rx_counters().at(1);
  ASSERT_TRUE(peer.send(frame_to(kBridgeGroup, 0x8809, 3000, 1)));  // beyond the port's maximum length
  ASSERT_TRUE(peer.send(frame_to(kBridgeGroup, 0x8809, 9000, 2)));  // a jumbo no port takes
  ASSERT_TRUE(peer.send(frame_to(kBridgeGroup, 0x8809, 14, 3)));    // a runt: the header alone
  ASSERT_TRUE(peer.send(frame_to(kBridgeGroup, 0x8809, 64, 4)));
  ASSERT_TRUE(daemon->wait_for_output("Length: 64", 5s)) << daemon->output();
  EXPECT_EQ(settled_rx_counters().at(1), start + 2) << daemon->output();
  // The runt crossed the wire padded to the minimum frame, as a sending interface pads it.
  EXPECT_EQ(daemon->output().find("Length: 14\n"), std::string::npos) << daemon->output();
  EXPECT_EQ(daemon->output().find("Length: 3000"), std::string::npos);
  EXPECT_EQ(daemon->output().find("Length: 9000"), std::string::npos);
  expect_daemon_pools_full();
}

TEST_F(FrontPorts, FrameTheCpuSendsLeavesOnItsTapUnchanged) {
  const int fd = swgenio_open(device().c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  SwcApiState state{};
  std::vector<unsigned char> phy_state(swc_phy_sizeof_al(6));
  SwcPhyContext phy{0, reinterpret_cast<SwcPhyState *>(phy_state.data())};
  SwcContext context{fd, &state, &phy};
  swc_select_context(&context);
  const SwcInitSetup setup{1, 1, 0, -1, 0};
  ASSERT_EQ(swc_init(&setup), 0);
  ASSERT_EQ(swc_port_stp_state_set(2, SWC_STP_STATE_FORWARDING), 0);
  packet_buffer_init();

  PeerSocket peer("swp2");
  ASSERT_TRUE(peer.ok());
  for (size_t length : {size_t{42}, size_t{60}, size_t{1514}}) {
    auto frame = frame_to({0x02, 0x00, 0x00, 0x00, 0x0B, 0x02}, 0x88B5, length, static_cast<uint8_t>(length));
    PacketBuffer *buffer = packet_alloc(static_cast<uint32_t>(length));
    ASSERT_NE(buffer, nullptr);
    std::copy(frame.begin(), frame.end(), buffer->data);
    buffer->length = static_cast<uint32_t>(length);
    buffer->poag_no = 2;
    ASSERT_EQ(packet_tx(buffer), 0);
    packet_queue();
    const auto got = peer.receive(0x88B5, 5s);
    ASSERT_TRUE(got) << "length " << length;
    if (frame.size() < 60) frame.resize(60, 0);  // as on a wire
    EXPECT_EQ(*got, frame);
  }
  EXPECT_EQ(packet_stats_get().free[2], kPacketBigCount);
  swc_select_context(nullptr);
  swgenio_close(fd);
}

}  // namespace
