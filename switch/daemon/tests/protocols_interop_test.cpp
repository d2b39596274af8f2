// portvisor with its protocol engines on the simulated board's front ports: with the spanning tree on
// two ports and LACP on a third (through port 28), BPDUs and LACPDUs come out of their TAP devices, and
// malformed ones sent in are counted while the daemon keeps answering. Needs root (namespaces, TAP
// devices, UDP port 28).
#include "packet_socket.h"
#include "simulated_board.h"

#include "l2_aggr.h"
#include "l2_rstp.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace {

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new BoardNamespace);

// A raw socket on a front port's TAP device, in this program's namespace.
class TapSocket : public PacketSocket {
 public:
  explicit TapSocket(const std::string &ifname) : PacketSocket(ifname, "") {}
  // The next frame from the switch to the destination 01-80-C2-00-00-<last>.
  std::optional<std::vector<uint8_t>> receive_to(uint8_t last, std::chrono::milliseconds timeout) {
    const uint8_t group[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, last};
    return receive_if([&](const std::vector<uint8_t> &f) { return std::equal(group, group + 6, f.begin()); },
                      timeout);
  }
};

class ProtocolsOnFrontPorts : public SimulatedBoard {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(start_simulator({"--front-ports", "swp"}));
    // Without IPv6 the TAPs carry nothing of this namespace's own.
    for (const char *port : {"swp1", "swp2", "swp3"})
      ASSERT_TRUE(run(std::string("sysctl -qw net.ipv6.conf.") + port + ".disable_ipv6=1 && ip link set " +
                      port + " up"));
    daemon = start_portvisor({"--trace", "all", "info"});
    ASSERT_TRUE(wait_ready()) << daemon->output();
  }
  void TearDown() override {
    if (daemon) {
      kill(daemon->pid(), SIGTERM);
      daemon->wait_exit(10s);
    }
    SimulatedBoard::TearDown();
  }
  std::vector<uint8_t> get(uint32_t id, size_t size) {
    uint32_t res = 99;
    auto data = client.object(id, kMgmtGet, std::vector<uint8_t>(size), res, 5s);
    EXPECT_TRUE(data.has_value());
    EXPECT_EQ(res, 0u) << id;
    return data.value_or(std::vector<uint8_t>(size));
  }
  uint32_t set(uint32_t id, const std::vector<uint8_t> &data) {
    uint32_t res = 99;
    EXPECT_TRUE(client.object(id, kMgmtSet, data, res, 5s).has_value());
    return res;
  }
  // Counter i (0: configuration BPDUs sent .. 7: illegal frames) of a logical port in object 4020.
  uint32_t rstp_counter(unsigned port, unsigned i) {
    auto status = get(rstp::kObjStatus, rstp::kStatusSize);
    return le_load32(status.data() + 312 + rstp::kPortStatusSize * port + 36 + 4 * i);
  }
  static constexpr uint32_t kMgmtGet = 0, kMgmtSet = 1;
  std::unique_ptr<ChildProcess> daemon;
};

TEST_F(ProtocolsOnFrontPorts, BpdusAndLacpdusLeaveTheFrontPortsTheyAreEnabledOn) {
  TapSocket swp1("swp1"), swp2("swp2"), swp3("swp3");
  ASSERT_TRUE(swp1.ok() && swp2.ok() && swp3.ok());
  EXPECT_FALSE(swp1.receive_to(0x00, 3s)) << "a fresh switch runs no spanning tree";

  rstp::Config config = rstp::decode_config(get(rstp::kObjConfig, rstp::kConfigSize).data());
  config.ports[1].enabled = config.ports[2].enabled = 1;
  std::vector<uint8_t> data(rstp::kConfigSize);
  rstp::encode_config(config, data.data());
  ASSERT_EQ(set(rstp::kObjConfig, data), 0u);
  auto lacp = get(lacp::kObjLacpConfig, lacp::kLacpConfigSize);
  lacp::encode_port_config(lacp::PortConfig{32768, 1, 1, 1, 1}, lacp.data() + 20 + 8 * 2);
  ASSERT_EQ(set(lacp::kObjLacpConfig, lacp), 0u);

  for (TapSocket *port : {&swp1, &swp2}) {
    auto bpdu = port->receive_to(0x00, 10s);
    ASSERT_TRUE(bpdu.has_value());
    EXPECT_EQ((*bpdu)[14], 0x42);
    EXPECT_EQ((*bpdu)[20], rstp::kBpduRst);
  }
  auto lacpdu = swp3.receive_to(0x02, 10s);
  ASSERT_TRUE(lacpdu.has_value());
  EXPECT_EQ((*lacpdu)[lacp::kOffSubtype], lacp::kSubtypeLacp);
  EXPECT_FALSE(swp3.receive_to(0x00, 2500ms)) << "no BPDU where the spanning tree is off";
  EXPECT_GE(rstp_counter(1, 2), 1u) << "RST BPDUs sent on port 1";

  // A BPDU cut short (its length field claims more than the frame holds) and a LACPDU cut short from
  // the wire: counted, and the daemon still answers.
  std::vector<uint8_t> runt(60, 0);
  const uint8_t head[17] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x00, 0x02, 0,   0,
                            0,    0,    0x01, 0,    0x60, 0x42, 0x42, 0x03};
  std::copy(head, head + 17, runt.begin());
  runt[20] = rstp::kBpduRst;
  runt[19] = 2;
  ASSERT_TRUE(swp1.send(runt));
  std::vector<uint8_t> short_lacpdu(60, 0);
  const uint8_t slow[14] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x02, 0x02, 0, 0, 0, 0, 0x01, 0x88, 0x09};
  std::copy(slow, slow + 14, short_lacpdu.begin());
  short_lacpdu[14] = lacp::kSubtypeLacp;
  ASSERT_TRUE(swp3.send(short_lacpdu));
  uint32_t illegal = 0;
  for (int i = 0; i < 50 && illegal == 0; ++i) {
    std::this_thread::sleep_for(100ms);
    illegal = rstp_counter(1, 7);
  }
  EXPECT_EQ(illegal, 1u);
  auto status = get(lacp::kObjLacpStatus, lacp::kLacpStatusSize);
  EXPECT_EQ(le_load32(status.data() + 136 + lacp::kPortStatusSize * 2 + 16 + 4 * 7), 1u)
      << "illegal LACP frames on port 3";
}

}  // namespace
