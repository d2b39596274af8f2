// Frames through the in-process chip as the L2 module leaves it configured: learned unicast reaches its
// port alone, mirrored ports' frames reach the monitor port, private VLANs keep their ports apart.
#include "l2_fixture.h"
#include "l2_mac.h"
#include "l2_mirror.h"
#include "l2_pvlan.h"
#include "swc_qos_state.h"

#include <gtest/gtest.h>

#include <map>

namespace {

constexpr uint32_t kAllChipPorts = 0x5F;

unsigned chip_port(uint32_t port) {
  return port == 6 ? 6 : port - 1;
}

std::vector<uint8_t> host_mac(uint32_t host) {
  return {0x02, 0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(host)};
}
const std::vector<uint8_t> kBroadcast(6, 0xFF);

std::vector<uint8_t> ip_frame(const std::vector<uint8_t> &destination, uint32_t from_host) {
  std::vector<uint8_t> f(60, 0x45);
  std::copy(destination.begin(), destination.end(), f.begin());
  const auto source = host_mac(from_host);
  std::copy(source.begin(), source.end(), f.begin() + 6);
  f[12] = 0x08;
  f[13] = 0x00;
  return f;
}

// The default configuration: port 1 in VLAN 1, ports 2..5 in VLAN 2, port 6 a trunk. Every port up and
// forwarding, as the chip start and the port module leave them with links up.
class L2Forwarding : public L2Fixture {
 protected:
  void SetUp() override {
    L2Fixture::SetUp();
    chip.write(2, 0, 0x0D, kAllChipPorts);
    chip.write(2, 0, 0x10, kAllChipPorts);
    chip.write(2, 0, 0x04, kAllChipPorts);
    for (uint32_t p = 1; p <= 6; ++p) {
      chip.write(1, chip_port(p), 0, chip.peek(1, chip_port(p), 0) | 1u << 16);
      ASSERT_EQ(swc_port_stp_state_set(p, SWC_STP_STATE_FORWARDING), 0);
    }
    chip.egress = [this](unsigned c, const std::vector<uint8_t> &f) { out[c].push_back(f); };
  }
  void TearDown() override {
    chip.egress = nullptr;
    L2Fixture::TearDown();
  }
  // Front ports 1..6 that got a frame (bit p), each at most once; the record is cleared.
  uint32_t delivered() {
    uint32_t bits = 0;
    for (uint32_t p = 1; p <= 6; ++p) {
      const auto &frames = out[chip_port(p)];
      EXPECT_LE(frames.size(), 1u) << "port " << p;
      if (!frames.empty()) bits |= 1u << p;
    }
    out.clear();
    return bits;
  }
  // Host h on port p announces itself, so the chip learns where it is.
  void attach(uint32_t host, uint32_t port) {
    chip.receive_frame(chip_port(port), ip_frame(kBroadcast, host));
    out.clear();
  }
  uint32_t send(uint32_t port, const std::vector<uint8_t> &destination, uint32_t from_host) {
    chip.receive_frame(chip_port(port), ip_frame(destination, from_host));
    return delivered();
  }
  static std::vector<uint8_t> pvlan_record(uint32_t number, std::initializer_list<uint32_t> ports) {
    L2PvlanEntry e{};
    e.pvlan_no = number;
    for (uint32_t p : ports) e.member[p] = 1;
    std::vector<uint8_t> r(kL2PvlanRecordSize);
    l2_pvlan_record_store(r.data(), e);
    return r;
  }
  static std::vector<uint8_t> mirror_record(uint32_t port) {
    std::vector<uint8_t> r(kL2MirrorRecordSize);
    l2_mirror_record_store(r.data(), L2MirrorEntry{port, 1});
    return r;
  }
  std::map<unsigned, std::vector<std::vector<uint8_t>>> out;
};

constexpr uint32_t bit(uint32_t port) {
  return 1u << port;
}

TEST_F(L2Forwarding, LearnedUnicastReachesItsPortAloneAndBroadcastStaysInTheVlan) {
  EXPECT_EQ(send(2, kBroadcast, 2), bit(3) | bit(4) | bit(5) | bit(6));
  EXPECT_EQ(send(3, host_mac(2), 3), bit(2)) << "the reply to a learned address";
  EXPECT_EQ(send(2, host_mac(3), 2), bit(3));
  const std::vector<uint8_t> multicast{0x01, 0x00, 0x5E, 0x00, 0x00, 0x07};
  EXPECT_EQ(send(4, multicast, 4), bit(2) | bit(3) | bit(5) | bit(6));
  EXPECT_EQ(send(1, kBroadcast, 1), bit(6)) << "port 1 is alone in VLAN 1 with the trunk";
}

TEST_F(L2Forwarding, StaticEntriesSendToTheirPorts) {
  L2MacEntry one{2, {0x02, 0, 0, 0, 0, 0x44}, {0, 0, 0, 1, 0, 0}};
  L2MacEntry two{2, {0x02, 0, 0, 0, 0, 0x45}, {0, 0, 1, 1, 0, 0}};
  ASSERT_GE(mac_config_add(one), 0);
  ASSERT_GE(mac_config_add(two), 0);
  EXPECT_EQ(send(2, host_mac(0x44), 2), bit(4));
  EXPECT_EQ(send(2, host_mac(0x45), 2), bit(3) | bit(4));
  EXPECT_EQ(send(4, host_mac(0x45), 4), bit(3)) << "never back to the sender";
}

TEST_F(L2Forwarding, MirroredPortsFramesBothWaysReachTheMonitor) {
  attach(2, 2);
  attach(3, 3);
  attach(4, 4);
  // Port 1 watches port 2 although it is in another VLAN.
  ASSERT_EQ(res(request(4009, kMgmtCmdSet, {1, 0, 0, 0})), 0u);
  ASSERT_EQ(res(request(4010, kMgmtCmdSet, table(8, {mirror_record(2)}))), 0u);
  ASSERT_EQ(res(request(4013, kMgmtCmdSet, table(8, {mirror_record(2)}))), 0u);
  EXPECT_EQ(send(2, host_mac(3), 2), bit(3) | bit(1)) << "sent by port 2";
  EXPECT_EQ(send(3, host_mac(2), 3), bit(2) | bit(1)) << "received by port 2";
  EXPECT_EQ(send(3, host_mac(4), 3), bit(4)) << "between other ports";
  EXPECT_EQ(send(2, kBroadcast, 2), bit(1) | bit(3) | bit(4) | bit(5) | bit(6));
  // Mirroring off again: the copies stop.
  std::vector<uint8_t> off = mirror_record(2);
  off[4] = 0;
  ASSERT_EQ(res(request(4010, kMgmtCmdSet, table(8, {off}))), 0u);
  ASSERT_EQ(res(request(4013, kMgmtCmdSet, table(8, {off}))), 0u);
  EXPECT_EQ(send(2, host_mac(3), 2), bit(3));
  EXPECT_EQ(send(3, host_mac(2), 3), bit(2));
}

TEST_F(L2Forwarding, PortsReachOnlyThePortsOfTheirPrivateVlans) {
  attach(2, 2);
  attach(3, 3);
  attach(4, 4);
  ASSERT_EQ(res(request(4011, kMgmtCmdAdd, table(32, {pvlan_record(2, {2, 3}), pvlan_record(3, {3, 4})}))),
            0u);
  ASSERT_EQ(res(request(4011, kMgmtCmdDel, table(32, {pvlan_record(1, {})}))), 0u);
  EXPECT_EQ(send(2, host_mac(3), 2), bit(3));
  EXPECT_EQ(send(2, host_mac(4), 2), 0u) << "ports 2 and 4 share no private VLAN";
  EXPECT_EQ(send(4, host_mac(2), 4), 0u);
  EXPECT_EQ(send(4, host_mac(3), 4), bit(3));
  EXPECT_EQ(send(3, kBroadcast, 3), bit(2) | bit(4)) << "port 3 is in both";
  EXPECT_EQ(send(5, kBroadcast, 5), 0u) << "port 5 is in none";
  // The same after the daemon's next start.
  const SwcInitSetup setup{1, 1, 0, -1, 0};
  swc_init_state(&setup);
  map_board_ports();
  restart();
  for (uint32_t p = 1; p <= 6; ++p) ASSERT_EQ(swc_port_stp_state_set(p, SWC_STP_STATE_FORWARDING), 0);
  EXPECT_EQ(send(2, host_mac(4), 2), 0u);
  EXPECT_EQ(send(2, host_mac(3), 2), bit(3));
  EXPECT_EQ(send(3, kBroadcast, 3), bit(2) | bit(4));
}

}  // namespace
