// The simulated board's front ports seen from a peer as wires: portvisor runs the switch, a peer
// namespace holds swp2 and swp3. Pulling port 3's cable (or powering its PHY away) takes the carrier
// off swp3 as a real link loss would, and no frame crosses port 3 either way until it is back. Needs
// root (namespaces, TAP devices, UDP port 28).
#include "mgmt.h"
#include "mgmt_client.h"
#include "packet_socket.h"
#include "process_util.h"
#include "simulated_board.h"

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

const std::string kPeerNs = "wire-peer-" + std::to_string(getpid());

// This program, the simulator and the daemon share a namespace with loopback and an "eth0"; the peer's
// namespace gets the front ports swp2 and swp3 once the simulator made them.
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new BoardAndPeerNamespace(kPeerNs));

// A raw socket on an interface of the peer namespace, sending and receiving frames of one EtherType.
class PeerPort {
 public:
  static constexpr uint16_t kType = 0x88B5;  // local experimental: nothing else on the wire uses it

  explicit PeerPort(const std::string &ifname) : ifname_(ifname), socket_(ifname, kPeerNs, {kType}) {}
  bool ok() const { return socket_.ok(); }

  // A broadcast frame whose payload starts with `tag`. A port without carrier may refuse it: the
  // result is not looked at.
  void send(uint32_t tag) {
    std::vector<uint8_t> f(60, 0);
    std::fill(f.begin(), f.begin() + 6, 0xFF);
    const uint8_t source[6] = {0x02, 0x00, 0x00, 0x00, 0x0B, static_cast<uint8_t>(ifname_.back())};
    std::copy(source, source + 6, f.begin() + 6);
    f[12] = kType >> 8;
    f[13] = kType & 0xFF;
    for (int i = 0; i < 4; ++i) f[14 + i] = static_cast<uint8_t>(tag >> (24 - 8 * i));
    (void)socket_.send(f);
  }
  // Whether a frame with `tag` arrives within the timeout.
  bool receives(uint32_t tag, std::chrono::milliseconds timeout) {
    return socket_
        .receive_if(
            [tag](const std::vector<uint8_t> &f) {
              return f.size() >= 18 &&
                     (uint32_t{f[14]} << 24 | uint32_t{f[15]} << 16 | uint32_t{f[16]} << 8 | f[17]) == tag;
            },
            timeout)
        .has_value();
  }

 private:
  std::string ifname_;
  PacketSocket socket_;
};

class WireToPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    simulator = start_chip_simulator(device(), control(), {"--front-ports", "swp"});
    ASSERT_TRUE(wait_for_path(device(), 0ms)) << simulator->output();
    for (const char *port : {"swp2", "swp3"}) ASSERT_TRUE(move_to_netns(port, kPeerNs));
    daemon = start_portvisor_on(dir, device());
    // Starting the chip through the simulator's socket takes a while on a loaded machine; then the
    // status poll brings the ports up.
    bool up = false;
    for (int i = 0; i < 600 && !up; ++i) {
      up = daemon_sees_link(2) && daemon_sees_link(3);
      if (!up) std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(up) << daemon->output();
  }
  // The link bit of a port in the daemon's port status (object 3001).
  static bool daemon_sees_link(uint32_t port) {
    std::vector<uint8_t> data(4 + 64, 0);
    le_store16(&data[0], 1);
    le_store16(&data[2], 64);
    le_store32(&data[4], port);
    MgmtClient client{28};
    uint32_t res = 99;
    const auto reply = client.object(3001, kMgmtCmdGet, data, res, 100ms);
    return reply && res == 0 && reply->size() >= 16 && le_load32(reply->data() + 4 + 8) == 1;
  }
  void TearDown() override {
    if (daemon) {
      kill(daemon->pid(), SIGTERM);
      EXPECT_EQ(daemon->wait_exit(10s), 0) << daemon->output();
    }
    kill(simulator->pid(), SIGTERM);
    simulator->wait_exit(5s);
  }
  std::string device() const { return dir.path() + "/swgenio"; }
  std::string control() const { return dir.path() + "/ctl"; }
  bool ctl(const std::string &command) {
    return run(std::string(std::getenv("SWCHIPCTL_BIN")) + " --control " + control() + " " + command +
               " >/dev/null");
  }
  // What the peer's stack says of its port: "ip link" flags and operstate.
  static std::string link_of(const std::string &port) {
    return output_of("ip -n " + kPeerNs + " link show " + port);
  }
  static std::string operstate_of(const std::string &port) {
    return output_of("ip netns exec " + kPeerNs + " cat /sys/class/net/" + port + "/operstate");
  }
  // Waits until the peer's port shows (or no longer shows) a carrier; the kernel reports a carrier
  // change after a short delay of its own. A TAP whose carrier never changed reports its operstate as
  // "unknown" rather than "up".
  static bool peer_sees_carrier(const std::string &port, bool carrier) {
    for (int i = 0; i < 100; ++i) {
      const std::string link = link_of(port);
      const std::string state = operstate_of(port);
      const bool lower_up = link.find("LOWER_UP") != std::string::npos;
      const bool no_carrier = link.find("NO-CARRIER") != std::string::npos;
      if (carrier ? (lower_up && !no_carrier && (state == "up\n" || state == "unknown\n"))
                  : (no_carrier && !lower_up && state == "down\n"))
        return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  // Sends tagged frames from `from` until `to` receives one: after a plug the daemon's status poll
  // has to bring the port up again first.
  bool passes(PeerPort &from, PeerPort &to, uint32_t tag) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      from.send(tag + static_cast<uint32_t>(attempt));
      if (to.receives(tag + static_cast<uint32_t>(attempt), 200ms)) return true;
    }
    return false;
  }
  // Sends a few frames and makes sure none of them arrives.
  bool blocked(PeerPort &from, PeerPort &to, uint32_t tag) {
    for (uint32_t i = 0; i < 5; ++i) from.send(tag + i);
    for (uint32_t i = 0; i < 5; ++i)
      if (to.receives(tag + i, 100ms)) return false;
    return true;
  }
  // Pulls the wire of port 3 with `pull`, checks what the peer sees, puts it back with `restore`.
  void cycle(const std::string &pull, const std::string &restore, uint32_t tag) {
    PeerPort p2("swp2"), p3("swp3");
    ASSERT_TRUE(p2.ok() && p3.ok());
    ASSERT_TRUE(passes(p2, p3, tag)) << daemon->output();
    ASSERT_TRUE(passes(p3, p2, tag + 0x100));

    ASSERT_TRUE(ctl(pull));
    EXPECT_TRUE(peer_sees_carrier("swp3", false)) << link_of("swp3") << operstate_of("swp3");
    EXPECT_TRUE(peer_sees_carrier("swp2", true))
        << "the other port keeps its link: " << link_of("swp2") << operstate_of("swp2");
    EXPECT_TRUE(blocked(p2, p3, tag + 0x200)) << "frames out of port 3";
    EXPECT_TRUE(blocked(p3, p2, tag + 0x300)) << "frames into port 3";

    ASSERT_TRUE(ctl(restore));
    EXPECT_TRUE(peer_sees_carrier("swp3", true)) << link_of("swp3") << operstate_of("swp3");
    EXPECT_TRUE(passes(p2, p3, tag + 0x400)) << daemon->output();
    EXPECT_TRUE(passes(p3, p2, tag + 0x500));
  }

  TempDir dir;
  std::unique_ptr<ChildProcess> simulator;
  std::unique_ptr<ChildProcess> daemon;
};

TEST_F(WireToPeer, PulledCableTakesTheCarrierAndStopsFramesUntilPluggedBack) {
  cycle("cable 0 2 unplug", "cable 0 2 plug", 0x10000);
}

TEST_F(WireToPeer, PhyPoweredDownOrRemovedActsAsAPulledCable) {
  // Power-down bit of the PHY's control register, set and cleared through the MIIM controller as the
  // daemon's PHY layer would: (3, 0, 1) = write | address 2 << 21 | register 0 << 16 | value.
  cycle("write 3 0 1 0x00401940", "write 3 0 1 0x00401140", 0x20000);
  cycle("phy 0 2 absent", "phy 0 2 present", 0x30000);
}

}  // namespace
