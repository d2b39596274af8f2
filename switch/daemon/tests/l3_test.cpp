// The L3 module on the in-process chip model: router legs with their commands, MAC entries and frames,
// static routes, the configuration blocks with and without keep, and the objects 5000..5003. TAP
// devices are stood in for by socket pairs and shell commands are recorded instead of run, so nothing
// here needs root.
#include "board.h"
#include "l2_fixture.h"
#include "l2_mac.h"
#include "l3.h"
#include "packet.h"
#include "swc_mac.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>

namespace {

std::vector<std::string> commands;
int record_command(const char *command) {
  commands.emplace_back(command);
  return 0;
}

// Each opened "device" is one end of a datagram socket pair; the test holds the other end by name.
std::map<std::string, int> host_ends;
int opens = 0;
bool refuse_opens = false;
int open_pair(const char *name) {
  ++opens;
  if (refuse_opens) return -1;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return -1;
  if (host_ends.count(name)) close(host_ends[name]);
  host_ends[name] = pair[1];
  return pair[0];
}

uint32_t ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return static_cast<uint32_t>(a) << 24 | b << 16 | c << 8 | d;
}

L3Leg leg(uint32_t rlid, uint32_t vid, uint32_t address, uint32_t mask, uint32_t dhcp = 0, uint32_t rip = 0) {
  L3Leg l{};
  l.rlid = rlid;
  l.vid = vid;
  l.ip = address;
  l.mask = mask;
  l.rip = rip;
  l.dhcp = dhcp;
  return l;
}

std::vector<uint8_t> leg_record(const L3Leg &l) {
  std::vector<uint8_t> r(kL3LegRecordSize);
  l3_leg_record_store(r.data(), l);
  return r;
}

std::vector<uint8_t> route_record(uint32_t network, uint32_t mask, uint32_t gateway) {
  std::vector<uint8_t> r(kL3RouteRecordSize);
  l3_route_record_store(r.data(), L3Route{network, mask, gateway});
  return r;
}

std::vector<uint8_t> words(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> d;
  for (uint32_t v : values) {
    d.resize(d.size() + 4);
    le_store32(&d[d.size() - 4], v);
  }
  return d;
}

bool in_chip(uint32_t vid, const uint8_t *mac, SwcMacEntry *out = nullptr) {
  SwcVidMac key{};
  key.vid = vid;
  std::copy(mac, mac + 6, key.mac);
  SwcMacEntry e{};
  const bool found = swc_mac_table_lookup(&key, &e) == 0;
  if (out) *out = e;
  return found;
}

const uint8_t kBroadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

class L3 : public L2Fixture {
 protected:
  void SetUp() override {
    L2Fixture::SetUp();
    commands.clear();
    opens = 0;
    refuse_opens = false;
    fd_reg_init();
    packet_buffer_init();
    l3_test_hooks_set(record_command, open_pair);
    conf_module_reg(kConfModuleL3, l3_conf);
    mgmt_module_reg(5, l3_mgmt);
    // The store made its defaults before the module was registered.
    l3_conf(ConfAction{kConfActionCreate, 0});
    l3_init();
    board_mac_addr(1, leg_mac);
    commands.clear();
  }
  void TearDown() override {
    l3_rl_init();  // closes the devices
    l3_test_hooks_set(nullptr, nullptr);
    for (auto &[name, fd] : host_ends) close(fd);
    host_ends.clear();
    conf_module_reg(kConfModuleL3, nullptr);
    packet_l3_receiver_set(nullptr);
    fd_reg_init();
    L2Fixture::TearDown();
  }
  void restart_l3() {
    timer_reg_init();
    conf_reset();
    conf_init();
    l3_init();
  }
  bool ran(const std::string &command) const {
    return std::find(commands.begin(), commands.end(), command) != commands.end();
  }
  PacketBuffer *frame_from_switch(uint32_t vid, size_t length) {
    PacketBuffer *b = packet_alloc(static_cast<uint32_t>(length));
    for (size_t i = 0; i < length; ++i) b->data[i] = static_cast<uint8_t>(i);
    b->length = static_cast<uint32_t>(length);
    b->vid = vid;
    b->poag_no = 1;
    return b;
  }
  // What the host side of a device holds, one frame at a time.
  static std::vector<uint8_t> host_read(const std::string &tap) {
    std::vector<uint8_t> frame(20000);
    const ssize_t n = recv(host_ends.at(tap), frame.data(), frame.size(), 0);
    frame.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return frame;
  }
  static void host_write(const std::string &tap, size_t length) {
    std::vector<uint8_t> frame(length, 0x5A);
    ASSERT_EQ(send(host_ends.at(tap), frame.data(), frame.size(), 0), static_cast<ssize_t>(length));
  }
  uint8_t leg_mac[6] = {};
};

TEST_F(L3, InitSwitchesTheReversePathFilterOffAndReadsEmptyBlocks) {
  commands.clear();
  restart_l3();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands[0], "/bin/echo \"0\" > /proc/sys/net/ipv4/conf/all/rp_filter");
  uint32_t size = 0;
  const uint8_t *legs = conf_open(kL3ConfLegs, &size);
  ASSERT_NE(legs, nullptr);
  EXPECT_EQ(size, 772u);
  EXPECT_EQ(le_load16(legs), 0u);
  EXPECT_EQ(le_load16(legs + 2), 24u);
  const uint8_t *routes = conf_open(kL3ConfRoutes, &size);
  ASSERT_NE(routes, nullptr);
  EXPECT_EQ(size, 388u);
  EXPECT_EQ(le_load16(routes + 2), 12u);
  ASSERT_NE(conf_open(kL3ConfGeneral, &size), nullptr);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(l3_ip_enabled(), 0u);
}

TEST_F(L3, NewLegGetsItsDeviceAddressAndMacEntries) {
  ASSERT_EQ(rl_config_add(leg(1, 1, ip(192, 168, 1, 1), ip(255, 255, 255, 0))), 0);
  char hw[80];
  std::snprintf(hw, sizeof hw, "/sbin/ifconfig tap1 hw ether %02x:%02x:%02x:%02x:%02x:%02x", leg_mac[0],
                leg_mac[1], leg_mac[2], leg_mac[3], leg_mac[4], leg_mac[5]);
  const std::vector<std::string> expected{hw, "/sbin/ifconfig tap1 192.168.1.1",
                                          "/sbin/ifconfig tap1 192.168.1.1 netmask 255.255.255.0",
                                          "/sbin/ifconfig tap1 up"};
  EXPECT_EQ(commands, expected);
  EXPECT_EQ(opens, 1);
  SwcMacEntry own{}, flood{};
  ASSERT_TRUE(in_chip(1, leg_mac, &own));
  EXPECT_TRUE(own.locked && own.copy_to_cpu);
  for (int p = 1; p <= 6; ++p) EXPECT_EQ(own.destination[p], 0u) << "port " << p;
  ASSERT_TRUE(in_chip(1, kBroadcast, &flood));
  EXPECT_TRUE(flood.locked && flood.copy_to_cpu);
  for (int p = 1; p <= 6; ++p) EXPECT_EQ(flood.destination[p], 1u) << "port " << p;
}

TEST_F(L3, DhcpLegRunsTheClientScriptAndNoAddressCommands) {
  setenv("PORTVISOR_DHCP_SCRIPT", "/opt/test/dhcpc.sh", 1);
  ASSERT_EQ(rl_config_add(leg(1, 1, 0, 0, 1)), 0);
  EXPECT_TRUE(ran("/opt/test/dhcpc.sh start"));
  EXPECT_FALSE(ran("/sbin/ifconfig tap1 0.0.0.0"));
  EXPECT_TRUE(in_chip(1, leg_mac)) << "the entries come with or without DHCP";
  // Updating a DHCP leg restarts the client; turning DHCP off stops it and sets the address.
  commands.clear();
  ASSERT_EQ(rl_config_add(leg(1, 1, 0, 0, 1)), 0);
  EXPECT_EQ(commands, std::vector<std::string>{"/opt/test/dhcpc.sh restart"});
  commands.clear();
  ASSERT_EQ(rl_config_add(leg(1, 1, ip(10, 0, 0, 1), ip(255, 0, 0, 0))), 0);
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands[0], "/opt/test/dhcpc.sh stop");
  EXPECT_TRUE(ran("/sbin/ifconfig tap1 10.0.0.1 netmask 255.0.0.0"));
  // And on: start (the old leg had none), then stop when deleted.
  commands.clear();
  ASSERT_EQ(rl_config_add(leg(1, 1, 0, 0, 1)), 0);
  EXPECT_EQ(commands, std::vector<std::string>{"/opt/test/dhcpc.sh start"});
  commands.clear();
  ASSERT_EQ(rl_config_del(1), 0);
  EXPECT_EQ(commands, std::vector<std::string>{"/opt/test/dhcpc.sh stop"});
  unsetenv("PORTVISOR_DHCP_SCRIPT");
  commands.clear();
  ASSERT_EQ(rl_config_add(leg(1, 1, 0, 0, 1)), 0);
  EXPECT_TRUE(ran("/mnt/userflash/startup/07rc_dhcpc_inband.sh start"))
      << "the board's script without the seam";
}

TEST_F(L3, NewVidMovesTheMacEntriesWithoutANewDevice) {
  ASSERT_EQ(rl_config_add(leg(2, 2, ip(192, 168, 2, 1), ip(255, 255, 255, 0))), 0);
  ASSERT_TRUE(in_chip(2, leg_mac) && in_chip(2, kBroadcast));
  ASSERT_EQ(rl_config_add(leg(2, 6, ip(192, 168, 2, 1), ip(255, 255, 255, 0))), 0);
  EXPECT_EQ(opens, 1) << "tap2 is kept";
  EXPECT_FALSE(in_chip(2, leg_mac));
  EXPECT_FALSE(in_chip(2, kBroadcast));
  EXPECT_TRUE(in_chip(6, leg_mac));
  EXPECT_TRUE(in_chip(6, kBroadcast));
  L3Leg got{};
  got.rlid = 2;
  ASSERT_EQ(rl_config_get(got, true), 0);
  EXPECT_EQ(got.vid, 6u);
  EXPECT_GE(got.fd, 0);
}

TEST_F(L3, DeletedLegLeavesTheEntriesAnotherLegOfItsVidNeeds) {
  ASSERT_GE(rl_config_add(leg(3, 5, ip(10, 5, 0, 1), ip(255, 255, 0, 0))), 0);
  ASSERT_GE(rl_config_add(leg(4, 5, ip(10, 6, 0, 1), ip(255, 255, 0, 0))), 0);
  commands.clear();
  ASSERT_EQ(rl_config_del(3), 0);
  EXPECT_EQ(commands, std::vector<std::string>{"/sbin/ifconfig tap3 down"});
  EXPECT_TRUE(in_chip(5, leg_mac) && in_chip(5, kBroadcast)) << "leg 4 still answers in VID 5";
  ASSERT_EQ(rl_config_del(4), 0);
  EXPECT_FALSE(in_chip(5, leg_mac) || in_chip(5, kBroadcast));
  EXPECT_EQ(rl_config_del(4), -1);
}

// A static entry (object 4000) and a leg's entry of the same VID and address are one chip entry: it
// serves both owners, and whichever goes first leaves the other's entry behind, in either order.
TEST_F(L3, StaticMacEntryAndLegEntryOfOneAddressKeepEachOther) {
  auto static_record = [](const uint8_t *mac, std::initializer_list<uint32_t> ports) {
    L2MacEntry e{};
    e.vid = 2;
    std::copy(mac, mac + 6, e.mac);
    for (uint32_t p : ports) e.member[p - 1] = 1;
    std::vector<uint8_t> r(kL2MacRecordSize);
    l2_mac_record_store(r.data(), e);
    return r;
  };
  const auto leg_add = [&] {
    return res(
        request(5000, kMgmtCmdAdd, table(24, {leg_record(leg(2, 2, ip(10, 2, 0, 1), ip(255, 0, 0, 0)))})));
  };
  SwcMacEntry e{};

  // Leg first: the static entry adds its port, and its delete leaves the leg's entry.
  ASSERT_EQ(leg_add(), 0u);
  ASSERT_EQ(res(request(4000, kMgmtCmdAdd, table(40, {static_record(leg_mac, {3})}))), 0u);
  ASSERT_TRUE(in_chip(2, leg_mac, &e));
  EXPECT_EQ(e.copy_to_cpu, 1u) << "the leg still receives its address";
  EXPECT_EQ(e.destination[3], 1u) << "the static entry's port";
  ASSERT_EQ(res(request(4000, kMgmtCmdDel, table(40, {static_record(leg_mac, {3})}))), 0u);
  ASSERT_TRUE(in_chip(2, leg_mac, &e)) << "the leg's entry survives the static delete";
  EXPECT_EQ(e.copy_to_cpu, 1u);
  EXPECT_EQ(e.destination[3], 0u);

  // Static first: the leg's delete leaves the static entry as it was configured.
  ASSERT_EQ(res(request(5000, kMgmtCmdDel, table(24, {leg_record(leg(2, 0, 0, 0))}))), 0u);
  ASSERT_EQ(res(request(4000, kMgmtCmdAdd,
                        table(40, {static_record(kBroadcast, {1, 2}), static_record(leg_mac, {4})}))),
            0u);
  ASSERT_EQ(leg_add(), 0u);
  ASSERT_TRUE(in_chip(2, leg_mac, &e));
  EXPECT_EQ(e.copy_to_cpu, 1u);
  EXPECT_EQ(e.destination[4], 1u);
  ASSERT_EQ(res(request(5000, kMgmtCmdDel, table(24, {leg_record(leg(2, 0, 0, 0))}))), 0u);
  ASSERT_TRUE(in_chip(2, kBroadcast, &e)) << "the static broadcast entry survives the leg's delete";
  EXPECT_EQ(e.copy_to_cpu, 0u);
  EXPECT_EQ(e.locked, 1u);
  EXPECT_EQ(std::vector<uint32_t>(e.destination + 1, e.destination + 7),
            (std::vector<uint32_t>{1, 1, 0, 0, 0, 0}));
  ASSERT_TRUE(in_chip(2, leg_mac, &e));
  EXPECT_EQ(e.copy_to_cpu, 0u);
  EXPECT_EQ(e.destination[4], 1u);
}

TEST_F(L3, LegWithoutDeviceIsKeptButRunsNothing) {
  refuse_opens = true;
  ASSERT_EQ(rl_config_add(leg(7, 3, ip(10, 7, 0, 1), ip(255, 255, 255, 0))), 0);
  EXPECT_TRUE(commands.empty());
  EXPECT_FALSE(in_chip(3, leg_mac));
  EXPECT_EQ(rl_config_count(), 1u);
  EXPECT_EQ(rl_config_del(7), 0);
  EXPECT_TRUE(commands.empty());
}

TEST_F(L3, UntrustedLegsAndTableLimitsAreRefused) {
  EXPECT_EQ(rl_config_add(leg(1, 4096, ip(10, 0, 0, 1), ip(255, 0, 0, 0))), -1);
  EXPECT_EQ(rl_config_add(leg(0x80000000u, 1, ip(10, 0, 0, 1), ip(255, 0, 0, 0))), -1);
  EXPECT_EQ(opens, 0);
  EXPECT_TRUE(commands.empty());
  // 32 legs fit, in rlid order whatever the order of adding; the 33rd does not.
  for (uint32_t i = 0; i < kL3LegMax; ++i)
    ASSERT_GE(rl_config_add(leg(100 - i * 2, 10, ip(10, 0, 0, 1), ip(255, 0, 0, 0))), 0);
  EXPECT_EQ(rl_config_add(leg(1, 10, 0, 0)), -1) << "insert into a full table";
  EXPECT_EQ(rl_config_add(leg(200, 10, 0, 0)), -1) << "append to a full table";
  EXPECT_EQ(rl_config_add(leg(100, 11, 0, 0)), 31) << "updating stays possible";
  L3Leg at{};
  uint32_t previous = 0;
  for (bool exact = true; rl_config_get(at, exact) >= 0; exact = false) {
    EXPECT_GT(at.rlid, previous);
    previous = at.rlid;
  }
}

TEST_F(L3, TextFormsAndPrefixLengths) {
  // Eight results can be used in one expression.
  const char *t[8];
  for (uint32_t i = 0; i < 8; ++i) t[i] = l3_ip_txt(ip(10, 0, 0, static_cast<uint8_t>(i)));
  for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(std::string(t[i]), "10.0.0." + std::to_string(i));
  EXPECT_STREQ(l3_ip_txt(0xFFFFFFFF), "255.255.255.255");
  EXPECT_STREQ(l3_tap_txt(2147483647), "tap2147483647");
  EXPECT_EQ(l3_mask_prefix(0), 0);
  EXPECT_EQ(l3_mask_prefix(ip(255, 255, 0, 0)), 16);
  EXPECT_EQ(l3_mask_prefix(0xFFFFFFFF), 32);
  EXPECT_EQ(l3_mask_prefix(ip(255, 0, 255, 0)), -1);
  EXPECT_EQ(l3_mask_prefix(1), -1);
}

TEST_F(L3, RoutesAreInstalledReplacedAndRemoved) {
  ASSERT_EQ(sr_config_add(L3Route{ip(10, 1, 0, 0), ip(255, 255, 0, 0), ip(192, 168, 1, 1)}), 0);
  EXPECT_EQ(commands, std::vector<std::string>{"/sbin/route add -net 10.1.0.0/16 gw 192.168.1.1"});
  // Same gateway: only the add again; a new one: the old route goes first.
  commands.clear();
  ASSERT_EQ(sr_config_add(L3Route{ip(10, 1, 0, 0), ip(255, 255, 0, 0), ip(192, 168, 1, 1)}), 0);
  EXPECT_EQ(commands, std::vector<std::string>{"/sbin/route add -net 10.1.0.0/16 gw 192.168.1.1"});
  commands.clear();
  ASSERT_EQ(sr_config_add(L3Route{ip(10, 1, 0, 0), ip(255, 255, 0, 0), ip(192, 168, 1, 2)}), 0);
  EXPECT_EQ(commands, (std::vector<std::string>{"/sbin/route del -net 10.1.0.0/16",
                                                "/sbin/route add -net 10.1.0.0/16 gw 192.168.1.2"}));
  EXPECT_EQ(sr_config_count(), 1u);
  // Same network, other mask: another route, sorted after the shorter mask.
  ASSERT_EQ(sr_config_add(L3Route{ip(10, 1, 0, 0), ip(255, 255, 255, 0), ip(192, 168, 1, 3)}), 1);
  commands.clear();
  EXPECT_EQ(sr_config_del(L3Route{ip(10, 1, 0, 0), ip(255, 255, 0, 0), 0}), 0);
  EXPECT_EQ(commands, std::vector<std::string>{"/sbin/route del -net 10.1.0.0/16"});
  EXPECT_EQ(sr_config_del(L3Route{ip(10, 1, 0, 0), ip(255, 255, 0, 0), 0}), -1);
  // A mask with a gap has no prefix: refused before any command.
  commands.clear();
  EXPECT_EQ(sr_config_add(L3Route{ip(10, 2, 0, 0), ip(255, 0, 255, 0), ip(192, 168, 1, 1)}), -1);
  EXPECT_TRUE(commands.empty());
  for (uint32_t i = 0; sr_config_count() < kL3RouteMax; ++i)
    ASSERT_GE(sr_config_add(L3Route{ip(10, 3, static_cast<uint8_t>(i), 0), ip(255, 255, 255, 0), 1}), 0);
  EXPECT_EQ(sr_config_add(L3Route{ip(10, 4, 0, 0), ip(255, 255, 255, 0), 1}), -1);
}

TEST_F(L3, FramesFromTheSwitchReachTheLegOfTheirVidOnlyWithIpEnabled) {
  ASSERT_EQ(rl_config_add(leg(1, 1, ip(192, 168, 1, 1), ip(255, 255, 255, 0))), 0);
  l3_packet_rx(frame_from_switch(1, 60));
  EXPECT_TRUE(host_read("tap1").empty()) << "IP is disabled";
  l3_ip_enabled_set(1);
  l3_packet_rx(frame_from_switch(2, 60));
  EXPECT_TRUE(host_read("tap1").empty()) << "no leg in VID 2";
  l3_packet_rx(frame_from_switch(1, 1514));
  const auto got = host_read("tap1");
  ASSERT_EQ(got.size(), 1514u);
  EXPECT_EQ(got[1513], static_cast<uint8_t>(1513));
  const PacketStats s = packet_stats_get();
  EXPECT_EQ(s.free[0] + s.free[1] + s.free[2], kPacketSmallCount + kPacketMediumCount + kPacketBigCount)
      << "every buffer freed";
}

TEST_F(L3, FramesFromTheHostGoIntoTheLegsVlanAndBadOnesAreCounted) {
  ASSERT_EQ(rl_config_add(leg(1, 9, ip(192, 168, 1, 1), ip(255, 255, 255, 0))), 0);
  L3Leg at{};
  at.rlid = 1;
  ASSERT_EQ(rl_config_get(at, true), 0);
  host_write("tap1", 60);
  l3_packet_event(at.fd, kFdEventRead);
  EXPECT_EQ(l3_stats_get().tap_no_leg, 1u) << "IP disabled: no leg answers";
  EXPECT_EQ(packet_stats_get().tx_list, 0u);
  l3_ip_enabled_set(1);
  host_write("tap1", 13);
  l3_packet_event(at.fd, kFdEventRead);
  host_write("tap1", kL3FrameMax + 100);
  l3_packet_event(at.fd, kFdEventRead);
  l3_packet_event(at.fd, kFdEventRead);  // nothing to read
  l3_packet_event(at.fd, kFdEventWrite);
  EXPECT_EQ(l3_stats_get().tap_short, 1u);
  EXPECT_EQ(l3_stats_get().tap_long, 1u);
  EXPECT_EQ(packet_stats_get().tx_list, 0u);
  host_write("tap1", 14);
  l3_packet_event(at.fd, kFdEventRead);
  host_write("tap1", kL3FrameMax);
  l3_packet_event(at.fd, kFdEventRead);
  EXPECT_EQ(packet_stats_get().tx_list, 2u);
  EXPECT_EQ(packet_stats_get().free[0], kPacketSmallCount - 1) << "a small frame takes a small buffer";
  // Host frames beyond the pools are dropped and counted, never held.
  for (uint32_t i = 0; i < kPacketSmallCount + kPacketMediumCount + kPacketBigCount; ++i) {
    host_write("tap1", 60);
    l3_packet_event(at.fd, kFdEventRead);
  }
  EXPECT_GT(l3_stats_get().tap_no_buffer, 0u);
}

TEST_F(L3, LegsAndRoutesComeBackFromTheBlocks) {
  ASSERT_EQ(res(request(5000, kMgmtCmdAdd,
                        table(24, {leg_record(leg(1, 1, ip(192, 168, 1, 1), ip(255, 255, 255, 0))),
                                   leg_record(leg(2, 2, ip(192, 168, 2, 1), ip(255, 255, 255, 0), 0, 2))}))),
            0u);
  ASSERT_EQ(res(request(5001, kMgmtCmdAdd,
                        table(12, {route_record(ip(10, 1, 0, 0), ip(255, 255, 0, 0), ip(192, 168, 1, 9))}))),
            0u);
  ASSERT_EQ(res(request(5002, kMgmtCmdSet, words({1}))), 0u);
  l3_rl_init();  // the daemon stops: its devices go
  opens = 0;
  commands.clear();
  restart_l3();
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(rl_config_count(), 2u);
  EXPECT_EQ(sr_config_count(), 1u);
  EXPECT_EQ(l3_ip_enabled(), 1u);
  EXPECT_TRUE(ran("/sbin/ifconfig tap2 192.168.2.1 netmask 255.255.255.0"));
  EXPECT_TRUE(ran("/sbin/route add -net 10.1.0.0/16 gw 192.168.1.9"));
  EXPECT_TRUE(in_chip(2, leg_mac));
}

TEST_F(L3, DefaultsWithKeepHoldTheManagementInterfaceOnly) {
  ASSERT_EQ(res(request(5003, kMgmtCmdSet,
                        words({1, ip(192, 168, 1, 1), ip(255, 255, 255, 0), ip(192, 168, 1, 254), 0, 1}))),
            0u);
  ASSERT_GE(rl_config_add(leg(2, 2, ip(192, 168, 2, 1), ip(255, 255, 255, 0))), 0);
  ASSERT_GE(sr_config_add(L3Route{ip(10, 1, 0, 0), ip(255, 255, 0, 0), ip(192, 168, 1, 9)}), 0);
  conf_make_default(1);
  l3_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(rl_config_count(), 1u);
  EXPECT_EQ(sr_config_count(), 1u);
  L3Route route{};
  ASSERT_EQ(sr_config_get(route, true), 0);
  EXPECT_EQ(route.gateway, ip(192, 168, 1, 254));
  EXPECT_EQ(l3_ip_enabled(), 1u);
  EXPECT_EQ(opens, 2) << "leg 1 keeps its device through the restore";

  conf_make_default(0);
  l3_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(rl_config_count(), 0u);
  EXPECT_EQ(sr_config_count(), 0u);
  EXPECT_EQ(l3_ip_enabled(), 0u);
}

TEST_F(L3, BlocksFromAForeignOrDamagedFileAreBounded) {
  // A count far beyond the block: only the entries the block holds are taken.
  uint8_t *block = conf_create(kL3ConfLegs, 4 + 2 * 24);
  le_store16(block, 60000);
  le_store16(block + 2, 24);
  l3_leg_record_store(block + 4, leg(5, 5, ip(10, 0, 0, 5), ip(255, 0, 0, 0)));
  l3_leg_record_store(block + 28, leg(6, 9999, ip(10, 0, 0, 6), ip(255, 0, 0, 0)));
  // An entry size of another layout: the block is ignored.
  block = conf_create(kL3ConfRoutes, 4 + 16);
  le_store16(block, 1);
  le_store16(block + 2, 16);
  conf_create(kL3ConfGeneral, 0);
  l3_conf(ConfAction{kConfActionRead, 0});
  EXPECT_EQ(rl_config_count(), 1u) << "the leg with VID 9999 is refused";
  EXPECT_EQ(sr_config_count(), 0u);
  EXPECT_EQ(l3_ip_enabled(), 0u);
  l3_conf(ConfAction{7, 0});  // unknown: nothing happens
  EXPECT_EQ(rl_config_count(), 1u);
}

TEST_F(L3, TableObjectsWalkAddAndDelete) {
  std::vector<std::vector<uint8_t>> three;
  for (uint32_t rlid : {9u, 3u, 6u})
    three.push_back(leg_record(leg(rlid, rlid, ip(10, 0, 0, static_cast<uint8_t>(rlid)), ip(255, 0, 0, 0))));
  ASSERT_EQ(res(request(5000, kMgmtCmdAdd, table(24, three))), 0u);
  // Walk from rlid 4: 6 and 9, the count cut where the walk ends.
  auto reply =
      request(5000, kMgmtCmdGet, table(24, {leg_record(leg(4, 0, 0, 0)), leg_record({}), leg_record({})}));
  EXPECT_EQ(res(reply), 0u);
  ASSERT_EQ(count(reply), 2u);
  L3Leg first{}, second{};
  l3_leg_record_load(&reply[20], first);
  l3_leg_record_load(&reply[44], second);
  EXPECT_EQ(first.rlid, 6u);
  EXPECT_EQ(second.rlid, 9u);
  EXPECT_EQ(second.ip, ip(10, 0, 0, 9));
  // Saved: block 1 holds all three, in order.
  uint32_t size = 0;
  const uint8_t *block = conf_open(kL3ConfLegs, &size);
  ASSERT_EQ(le_load16(block), 3u);
  EXPECT_EQ(le_load32(block + 4), 3u);
  // A delete of an unknown leg fails the object; the known one still goes.
  EXPECT_EQ(
      res(request(5000, kMgmtCmdDel, table(24, {leg_record(leg(3, 0, 0, 0)), leg_record(leg(4, 0, 0, 0))}))),
      1u);
  EXPECT_EQ(rl_config_count(), 2u);
  EXPECT_EQ(le_load16(conf_open(kL3ConfLegs, &size)), 2u);
  EXPECT_EQ(res(request(5000, kMgmtCmdSet, table(24, {}))), 1u);
  // Wrong entry size or a count beyond 32: result 1, nothing done.
  EXPECT_EQ(res(request(5000, kMgmtCmdAdd, table(20, {std::vector<uint8_t>(20)}))), 1u);
  EXPECT_EQ(res(request(5001, kMgmtCmdGet,
                        table(12, std::vector<std::vector<uint8_t>>(33, route_record(0, 0, 0))))),
            1u);
  ASSERT_EQ(res(request(5001, kMgmtCmdAdd,
                        table(12, {route_record(ip(10, 1, 0, 0), ip(255, 255, 0, 0), 7),
                                   route_record(ip(10, 2, 0, 0), ip(255, 0, 255, 0), 7)}))),
            1u)
      << "the route with a gapped mask fails";
  EXPECT_EQ(sr_config_count(), 1u);
  EXPECT_EQ(le_load16(conf_open(kL3ConfRoutes, &size)), 1u);
  EXPECT_EQ(res(request(5004, kMgmtCmdGet, words({0}))), 2u);
}

TEST_F(L3, FlagAndInterfaceObjects) {
  EXPECT_EQ(res(request(5002, kMgmtCmdSet, words({1}))), 0u);
  auto reply = request(5002, kMgmtCmdGet, words({0}));
  EXPECT_EQ(le_load32(&reply[16]), 1u);
  uint32_t size = 0;
  EXPECT_EQ(le_load32(conf_open(kL3ConfGeneral, &size)), 1u);
  EXPECT_EQ(res(request(5002, kMgmtCmdAdd, words({0}))), 1u);
  EXPECT_EQ(res(request(5002, kMgmtCmdSet, {})), 1u) << "no room for the flag";
  EXPECT_EQ(res(request(5003, kMgmtCmdSet, words({1, 2, 3}))), 1u) << "a short record";

  // No leg 1 yet: zeros but the flag.
  reply = request(5003, kMgmtCmdGet, std::vector<uint8_t>(24));
  EXPECT_EQ(res(reply), 0u);
  EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 16, reply.end()), words({0, 0, 0, 0, 0, 1}));

  const uint32_t a = ip(192, 168, 1, 1), m = ip(255, 255, 255, 0), g = ip(192, 168, 1, 254);
  EXPECT_EQ(res(request(5003, kMgmtCmdSet, words({1, a, m, g, 0, 1}))), 0u);
  reply = request(5003, kMgmtCmdGet, std::vector<uint8_t>(24));
  EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 16, reply.end()), words({1, a, m, g, 0, 1}));
  EXPECT_TRUE(ran("/sbin/route add -net 0.0.0.0/0 gw 192.168.1.254"));
  // Same address, new VID: leg 1 is updated in place; a new address recreates it.
  EXPECT_EQ(res(request(5003, kMgmtCmdSet, words({5, a, m, g, 0, 1}))), 0u);
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(res(request(5003, kMgmtCmdSet, words({5, a + 1, m, g, 0, 1}))), 0u);
  EXPECT_EQ(opens, 2);
  // Gateway 0 removes the default route; address and DHCP 0 remove leg 1.
  commands.clear();
  EXPECT_EQ(res(request(5003, kMgmtCmdSet, words({5, 0, 0, 0, 0, 0}))), 0u);
  EXPECT_EQ(rl_config_count(), 0u);
  EXPECT_EQ(sr_config_count(), 0u);
  EXPECT_EQ(l3_ip_enabled(), 0u);
  EXPECT_TRUE(ran("/sbin/route del -net 0.0.0.0/0"));
  // A leg the module refuses is reported, the flag still set.
  EXPECT_EQ(res(request(5003, kMgmtCmdSet, words({4096, a, m, 0, 0, 1}))), 1u);
  EXPECT_EQ(l3_ip_enabled(), 1u);
}

}  // namespace
