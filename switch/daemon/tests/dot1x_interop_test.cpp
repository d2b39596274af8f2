// 802.1X end to end: portvisor on the simulated board, a wpa_supplicant (wired driver, EAP-MD5) on the
// TAP of front port 1 and a FreeRADIUS on loopback, both started by the test. A right password opens
// the port; a wrong one leaves it closed; a pulled cable closes it and, plugged again, the port is
// authenticated anew; a short re-authentication period asks the supplicant again. tshark decodes the
// captured EAPOL and RADIUS exchanges. Needs root (namespaces, TAP devices, UDP port 28).
#include "simulated_board.h"

#include "freeradius_peer.h"
#include "l2_dot1x.h"
#include "packet_socket.h"

#include <net/if.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new BoardNamespace);

class Dot1xOnFrontPort : public SimulatedBoard {
 protected:
  void SetUp() override {
    ASSERT_TRUE(run("command -v wpa_supplicant >/dev/null && command -v freeradius >/dev/null"))
        << "wpasupplicant and freeradius are needed";
    ASSERT_NO_FATAL_FAILURE(start_simulator({"--front-ports", "swp"}));
    ASSERT_TRUE(
        run("ip link set lo up && sysctl -qw net.ipv6.conf.swp1.disable_ipv6=1 && ip link set swp1 up"));
    radius = std::make_unique<dot1x::test::FreeRadius>();
    ASSERT_TRUE(radius->wait_ready()) << radius->log();
    daemon = start_portvisor({"--trace", "all", "info"});
    ASSERT_TRUE(wait_ready()) << daemon->output();
  }
  void TearDown() override {
    for (auto *child : {&supplicant, &daemon})
      if (*child) {
        kill((*child)->pid(), SIGTERM);
        (*child)->wait_exit(10s);
      }
    radius.reset();
    SimulatedBoard::TearDown();
  }
  uint32_t set_config(const dot1x::Config &c) {
    std::vector<uint8_t> data(dot1x::kConfigSize);
    dot1x::encode_config(c, data.data());
    uint32_t res = 99;
    EXPECT_TRUE(client.object(dot1x::kObjConfig, 1, data, res, 5s).has_value());
    return res;
  }
  std::vector<uint8_t> status_of(unsigned port) {
    uint32_t res = 99;
    auto data = client.object(dot1x::kObjStatus, 0, std::vector<uint8_t>(dot1x::kStatusObjectSize), res, 5s);
    if (!data || res != 0 || data->size() < dot1x::kStatusObjectSize)
      return std::vector<uint8_t>(dot1x::kStatusSize);
    return std::vector<uint8_t>(data->begin() + long(dot1x::kStatusSize * port),
                                data->begin() + long(dot1x::kStatusSize * (port + 1)));
  }
  // 802.1X on, port 1 under automatic control, the server on loopback.
  dot1x::Config enabled_config() const {
    dot1x::Config c;
    c.system.enabled = 1;
    c.system.server = 0x7F000001;
    c.system.server_port = radius->port();
    std::strcpy(c.system.secret.data(), dot1x::test::kSecret);
    c.port_control[1] = dot1x::kAuto;
    return c;
  }
  void enable() { ASSERT_EQ(set_config(enabled_config()), 0u); }
  // `method` is the EAP part of the network block, MD5 unless a test wants another.
  void start_supplicant(const std::string &user, const std::string &password,
                        const std::string &method = "eap=MD5") {
    const std::string conf = dir.path() + "/wpa.conf";
    std::ofstream(conf) << "ctrl_interface=" << dir.path()
                        << "/wpa\nap_scan=0\nnetwork={\n key_mgmt=IEEE8021X\n " << method << "\n identity=\""
                        << user << "\"\n password=\"" << password << "\"\n eapol_flags=0\n}\n";
    supplicant_log = dir.path() + "/wpa.log";
    supplicant = std::make_unique<ChildProcess>(
        std::vector<std::string>{
            "/bin/sh", "-c",
            "exec wpa_supplicant -D wired -i swp1 -c " + conf + " -d > " + supplicant_log + " 2>&1"},
        std::vector<std::string>{});
  }
  // A CA and a server certificate it signed, made afresh in the test's folder; the server restarted
  // with them for PEAP.
  void restart_radius_with_certificates() {
    const std::string d = dir.path() + "/pki";
    tls = dot1x::test::ServerCertificate{d + "/ca.pem", d + "/server.pem", d + "/server.key"};
    const std::string quiet = " 2>/dev/null";
    ASSERT_TRUE(run("mkdir -p " + d + " && cd " + d +
                    " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2"
                    " -subj /CN=dot1x-test-ca" +
                    quiet +
                    " && openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr"
                    " -subj /CN=radius.dot1x.test" +
                    quiet +
                    " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
                    " -out server.pem -days 2" +
                    quiet));
    radius.reset();
    radius = std::make_unique<dot1x::test::FreeRadius>(tls);
    ASSERT_TRUE(radius->wait_ready()) << radius->log();
  }
  std::string peap_method() const {
    return "eap=PEAP\n phase2=\"auth=MSCHAPV2\"\n ca_cert=\"" + tls.ca + "\"";
  }
  // Waits (bounded) for the supplicant to log `event`.
  bool supplicant_logged(const std::string &event, std::chrono::seconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      if (read_text_file(supplicant_log).find(event) != std::string::npos) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  // Asked of the kernel in this namespace (/sys may show another one).
  bool wait_status(unsigned port, uint32_t wanted, std::chrono::seconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      if (le_load32(status_of(port).data()) == wanted) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  static std::string swp1_mac() {
    ifreq request{};
    std::strncpy(request.ifr_name, "swp1", IFNAMSIZ - 1);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const bool ok = fd >= 0 && ioctl(fd, SIOCGIFHWADDR, &request) == 0;
    if (fd >= 0) close(fd);
    if (!ok) return {};
    const auto *b = reinterpret_cast<const uint8_t *>(request.ifr_hwaddr.sa_data);
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
    return text;
  }

  // Plugs or unplugs the cable of a front port 1..5 (PHY port - 1 of the first controller) in the
  // simulator.
  bool cable(const std::string &action, unsigned port = 1) {
    return output_of(std::string(std::getenv("SWCHIPCTL_BIN")) + " --control " + dir.path() +
                     "/ctl cable 0 " + std::to_string(port - 1) + " " + action) == "ok\n";
  }
  static bool bring_up(const std::string &tap) {
    return run("sysctl -qw net.ipv6.conf." + tap + ".disable_ipv6=1 && ip link set " + tap + " up");
  }
  // A broadcast of EtherType 0x88B5 sent into one front port either reaches the other or is kept back
  // by the chip.
  static bool passes(const PacketSocket &from, const PacketSocket &to) {
    std::vector<uint8_t> frame(60, 0x5A);
    std::fill(frame.begin(), frame.begin() + 6, 0xFF);
    std::copy(kPeer.begin(), kPeer.end(), frame.begin() + 6);
    frame[12] = 0x88;
    frame[13] = 0xB5;
    return from.send(frame) && to.receive(0x88B5, 1s).has_value();
  }
  // The first frames that pass after a change may take a while: the chip is set in the daemon's loop.
  static bool passes_soon(const PacketSocket &from, const PacketSocket &to) {
    for (int i = 0; i < 15; ++i)
      if (passes(from, to)) return true;
    return false;
  }
  static std::vector<uint8_t> eapol_from_peer(uint8_t type, const std::vector<uint8_t> &body) {
    std::vector<uint8_t> frame{0x01, 0x80, 0xC2, 0x00, 0x00, 0x03};
    frame.insert(frame.end(), kPeer.begin(), kPeer.end());
    frame.insert(frame.end(), {0x88, 0x8E, 2, type, uint8_t(body.size() >> 8), uint8_t(body.size())});
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
  }
  // A peer on `wire` that sends EAPOL-Start and answers the Request/Identity with `identity`, then
  // goes quiet: the port stays unauthorised with the peer's address and identity recorded. A request
  // the port sent before the start (its own time-out) may be the one answered, so it tries again.
  bool give_identity(unsigned port, const PacketSocket &wire, const std::string &identity) {
    const auto is_identity_request = [](const std::vector<uint8_t> &f) {
      return f.size() >= 23 && f[12] == 0x88 && f[13] == 0x8E && f[15] == 0 && f[18] == 1 && f[22] == 1;
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
      wire.take();
      if (!wire.send(eapol_from_peer(1, {}))) return false;
      const auto request = wire.receive_if(is_identity_request, 5s);
      if (!request) continue;
      std::vector<uint8_t> response{2, (*request)[19], 0, uint8_t(5 + identity.size()), 1};
      response.insert(response.end(), identity.begin(), identity.end());
      if (!wire.send(eapol_from_peer(0, response))) return false;
      for (int i = 0; i < 20; ++i) {
        if (identity == reinterpret_cast<const char *>(status_of(port).data() + 49)) return true;
        std::this_thread::sleep_for(50ms);
      }
    }
    return false;
  }
  // A bounded capture on `ifname` into `file`, running once this returns true.
  std::unique_ptr<ChildProcess> start_capture(const std::string &ifname, const std::string &filter,
                                              const std::string &file) {
    auto capture =
        std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/tshark", "-i", ifname, "-f", filter,
                                                                "-a", "duration:120", "-w", file},
                                       std::vector<std::string>{});
    if (!capture->wait_for_output("Capturing on", 10s)) return {};
    return capture;
  }
  static bool stop_capture(ChildProcess &capture) {
    kill(capture.pid(), SIGTERM);
    return capture.wait_exit(10s) != -1;
  }
  // Each packet of `file` as tshark decodes it: the wanted fields, tab-separated.
  static std::vector<std::string> decoded(const std::string &file, const std::string &options,
                                          const std::vector<std::string> &fields) {
    std::string command = "tshark -n -r " + file + " " + options + " -T fields";
    for (const auto &f : fields) command += " -e " + f;
    std::vector<std::string> lines;
    std::istringstream text(output_of(command + " 2>/dev/null"));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }
  static bool has(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  static size_t occurrences(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  static std::string joined(const std::vector<std::string> &lines) {
    std::string all;
    for (const auto &l : lines) all += l + "\n";
    return all;
  }

  static constexpr std::array<uint8_t, 6> kPeer{0x02, 0x00, 0x00, 0x00, 0x0B, 0x02};
  std::unique_ptr<dot1x::test::FreeRadius> radius;
  dot1x::test::ServerCertificate tls;
  std::unique_ptr<ChildProcess> daemon, supplicant;
  std::string supplicant_log;
};

TEST_F(Dot1xOnFrontPort, RightPasswordAuthorisesThePort) {
  enable();
  EXPECT_EQ(le_load32(status_of(1).data()), uint32_t(dot1x::kUnauthorized));
  start_supplicant("alice", "wonderland");
  ASSERT_TRUE(supplicant_logged("CTRL-EVENT-EAP-SUCCESS", 30s))
      << read_text_file(supplicant_log) << radius->log();
  std::vector<uint8_t> status;
  for (int i = 0; i < 50; ++i) {
    status = status_of(1);
    if (le_load32(status.data()) == dot1x::kAuthorized) break;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(le_load32(status.data()), uint32_t(dot1x::kAuthorized));
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(status.data() + 31)), swp1_mac());
  EXPECT_STREQ(reinterpret_cast<const char *>(status.data() + 49), "alice");
  EXPECT_GE(status[26 + 3], 1) << "a back-end success";
  EXPECT_GE(status[15], 2) << "EAPOL frames received";
}

TEST_F(Dot1xOnFrontPort, ManagementObjectsReauthenticateAndForceThePort) {
  enable();
  const auto started = std::chrono::steady_clock::now();
  start_supplicant("alice", "wonderland");
  ASSERT_TRUE(wait_status(1, dot1x::kAuthorized, 30s)) << read_text_file(supplicant_log);
  // A figure for the note, not a check: from the supplicant's start to the port authorised.
  std::printf("time to authorised (EAP-MD5): %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - started)
                                         .count()));
  const uint8_t connecting_before = status_of(1)[4];

  // Object 4024: port 1 at once; port 7 is skipped.
  std::vector<uint8_t> table(4 + 2 * dot1x::kReauthEntrySize);
  le_store16(table.data(), 2);
  le_store16(table.data() + 2, uint16_t(dot1x::kReauthEntrySize));
  le_store32(table.data() + 4, 1);
  le_store32(table.data() + 8, 1);
  le_store32(table.data() + 12, 7);
  le_store32(table.data() + 16, 1);
  uint32_t res = 99;
  ASSERT_TRUE(client.object(dot1x::kObjReauth, 1, table, res, 5s).has_value());
  EXPECT_EQ(res, 0u);
  for (int i = 0; i < 100 && !(status_of(1)[4] != connecting_before &&
                               le_load32(status_of(1).data()) == dot1x::kAuthorized);
       ++i)
    std::this_thread::sleep_for(100ms);
  EXPECT_NE(status_of(1)[4], connecting_before) << "a new exchange ran";
  EXPECT_EQ(le_load32(status_of(1).data()), uint32_t(dot1x::kAuthorized)) << "and succeeded again";

  dot1x::Config c = enabled_config();
  c.port_control[1] = dot1x::kForceUnauthorized;
  ASSERT_EQ(set_config(c), 0u);
  EXPECT_TRUE(wait_status(1, dot1x::kUnauthorized, 5s)) << "force unauthorised";
  c.port_control[1] = dot1x::kForceAuthorized;
  ASSERT_EQ(set_config(c), 0u);
  EXPECT_TRUE(wait_status(1, dot1x::kAuthorized, 5s)) << "force authorised";
}

TEST_F(Dot1xOnFrontPort, SilentServerEndsTheAttemptAndTheDaemonKeepsServing) {
  enable();
  radius.reset();  // the server is gone; its port answers nothing
  start_supplicant("alice", "wonderland");
  // Requests go out again every 10 s; the attempt ends by the back end's 40 s wait or, sooner, by the
  // supplicant giving up and starting over (its own 30 s): either aborts it.
  auto aborts = [this] {
    const auto s = status_of(1);
    return s[4 + 4] + s[4 + 6];  // time-outs and EAPOL-Starts while authenticating
  };
  for (int i = 0; i < 100 && status_of(1)[26] == 0; ++i) std::this_thread::sleep_for(100ms);
  ASSERT_GE(status_of(1)[26], 1) << "the identity went to the server";
  const int before = aborts();
  bool aborted = false;
  for (int i = 0; i < 700 && !aborted; ++i) {
    aborted = aborts() > before;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(aborted) << "the attempt was aborted";
  const auto status = status_of(1);
  EXPECT_EQ(le_load32(status.data()), uint32_t(dot1x::kUnauthorized));
  EXPECT_GE(status[26], 1) << "responses went to the server";
  uint32_t res = 99;
  EXPECT_TRUE(
      client.object(dot1x::kObjConfig, 0, std::vector<uint8_t>(dot1x::kConfigSize), res, 5s).has_value())
      << "port 28 still answers";
  EXPECT_EQ(res, 0u);
}

TEST_F(Dot1xOnFrontPort, LogoffClosesThePortAndLogonOpensItAgain) {
  enable();
  start_supplicant("alice", "wonderland");
  ASSERT_TRUE(wait_status(1, dot1x::kAuthorized, 30s)) << read_text_file(supplicant_log);
  const std::string cli = "wpa_cli -p " + dir.path() + "/wpa -i swp1 ";
  ASSERT_TRUE(run(cli + "logoff >/dev/null"));
  EXPECT_TRUE(wait_status(1, dot1x::kUnauthorized, 10s)) << "logoff closes the port";
  EXPECT_GE(status_of(1)[4 + 10], 1) << "a logoff while authenticated";
  ASSERT_TRUE(run(cli + "logon >/dev/null"));
  EXPECT_TRUE(wait_status(1, dot1x::kAuthorized, 30s)) << "logon authenticates again";
}

TEST_F(Dot1xOnFrontPort, WrongPasswordLeavesThePortClosed) {
  enable();
  start_supplicant("bob", "not-his");
  ASSERT_TRUE(supplicant_logged("CTRL-EVENT-EAP-FAILURE", 30s))
      << read_text_file(supplicant_log) << radius->log();
  const auto status = status_of(1);
  EXPECT_EQ(le_load32(status.data()), uint32_t(dot1x::kUnauthorized));
  EXPECT_GE(status[4 + 5], 1) << "a failure while authenticating";
}

// The captures of the last run are kept in the build tree (the test's working folder) for a look in a
// dissector.
TEST_F(Dot1xOnFrontPort, CapturedExchangesDecodeCleanly) {
  const std::string eapol_file = "dot1x-eapol.pcapng", radius_file = "dot1x-radius.pcapng";
  auto eapol_capture = start_capture("swp1", "ether proto 0x888e", eapol_file);
  ASSERT_TRUE(eapol_capture) << "tshark on swp1";
  auto radius_capture = start_capture("lo", "udp port " + std::to_string(radius->port()), radius_file);
  ASSERT_TRUE(radius_capture) << "tshark on lo";
  enable();
  start_supplicant("alice", "wonderland");
  ASSERT_TRUE(wait_status(1, dot1x::kAuthorized, 30s)) << read_text_file(supplicant_log);
  std::this_thread::sleep_for(500ms);  // the last frames reach the capture
  ASSERT_TRUE(stop_capture(*eapol_capture));
  ASSERT_TRUE(stop_capture(*radius_capture));

  const std::string as_radius = "-d udp.port==" + std::to_string(radius->port()) + ",radius";
  const std::string problems = "-Y '_ws.malformed || _ws.expert.severity >= \"Error\"'";
  EXPECT_EQ(joined(decoded(eapol_file, problems, {"frame.number", "_ws.col.Info"})), "");
  EXPECT_EQ(joined(decoded(radius_file, as_radius + " " + problems, {"frame.number", "_ws.col.Info"})), "");

  // EAPOL type, EAP code and EAP type of each frame on the supplicant's link.
  const auto eapol = decoded(eapol_file, "", {"eapol.type", "eap.code", "eap.type"});
  EXPECT_TRUE(has(eapol, "1\t\t")) << "EAPOL-Start\n" << joined(eapol);
  EXPECT_TRUE(has(eapol, "0\t1\t1")) << "EAP-Request/Identity\n" << joined(eapol);
  EXPECT_TRUE(has(eapol, "0\t2\t1")) << "EAP-Response/Identity\n" << joined(eapol);
  EXPECT_TRUE(has(eapol, "0\t1\t4")) << "EAP-Request/MD5-Challenge\n" << joined(eapol);
  EXPECT_TRUE(has(eapol, "0\t2\t4")) << "EAP-Response/MD5-Challenge\n" << joined(eapol);
  EXPECT_TRUE(has(eapol, "0\t3\t")) << "EAP-Success\n" << joined(eapol);

  // RADIUS code and the EAP code carried in its EAP-Message, on the server's side.
  const auto radius_lines = decoded(radius_file, as_radius, {"radius.code", "eap.code", "radius.User_Name"});
  EXPECT_TRUE(has(radius_lines, "1\t2\talice")) << "Access-Request, Response/Identity\n"
                                                << joined(radius_lines);
  EXPECT_TRUE(has(radius_lines, "11\t1\t")) << "Access-Challenge\n" << joined(radius_lines);
  EXPECT_TRUE(has(radius_lines, "2\t3\talice")) << "Access-Accept, EAP-Success\n" << joined(radius_lines);
}

TEST_F(Dot1xOnFrontPort, PulledCableClosesThePortAndPluggedAgainItAuthenticatesAnew) {
  enable();
  start_supplicant("alice", "wonderland");
  ASSERT_TRUE(wait_status(1, dot1x::kAuthorized, 30s)) << read_text_file(supplicant_log);
  const uint8_t connecting_before = status_of(1)[4];
  const uint8_t successes_before = status_of(1)[4 + 3];
  ASSERT_TRUE(cable("unplug"));
  EXPECT_TRUE(wait_status(1, 0, 10s)) << "no link, no authorisation shown";
  ASSERT_TRUE(cable("plug"));
  for (int i = 0; i < 300 && status_of(1)[4 + 3] == successes_before; ++i) std::this_thread::sleep_for(100ms);
  const auto status = status_of(1);
  EXPECT_EQ(le_load32(status.data()), uint32_t(dot1x::kAuthorized)) << read_text_file(supplicant_log);
  EXPECT_NE(status[4], connecting_before) << "the port went through connecting again";
  EXPECT_NE(status[4 + 3], successes_before) << "and a new exchange succeeded";
}

TEST_F(Dot1xOnFrontPort, ShortReauthenticationPeriodAsksAgainAndKeepsThePortOpen) {
  enable();
  dot1x::Config c = enabled_config();
  c.param.reauth_enabled = 1;
  c.param.reauth_period = 3;
  ASSERT_EQ(set_config(c), 0u);
  start_supplicant("alice", "wonderland");
  ASSERT_TRUE(wait_status(1, dot1x::kAuthorized, 30s)) << read_text_file(supplicant_log);
  const uint8_t reauths_before = status_of(1)[4 + 8];
  bool open_throughout = true;
  for (int i = 0; i < 150 && uint8_t(status_of(1)[4 + 8] - reauths_before) < 2; ++i) {
    open_throughout = open_throughout && le_load32(status_of(1).data()) == dot1x::kAuthorized;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_GE(uint8_t(status_of(1)[4 + 8] - reauths_before), 2) << "two periods, two re-authentications";
  EXPECT_TRUE(open_throughout) << "the port stays authorised while the supplicant is asked again";
  EXPECT_TRUE(wait_status(1, dot1x::kAuthorized, 10s));
  // The counter moves when an exchange starts; the supplicant logs its end.
  for (int i = 0; i < 100 && occurrences(read_text_file(supplicant_log), "CTRL-EVENT-EAP-SUCCESS") < 3; ++i)
    std::this_thread::sleep_for(100ms);
  EXPECT_GE(occurrences(read_text_file(supplicant_log), "CTRL-EVENT-EAP-SUCCESS"), 3u)
      << "the supplicant answered each request and succeeded";
}

// A period of 0 would have the authorised port re-authenticate on every round of its machines, and a
// daemon busy with that answers nothing; an EAP timeout of 0 would never end an attempt.
TEST_F(Dot1xOnFrontPort, ZeroPeriodOrEapTimeoutIsRefusedAndTheDaemonKeepsAnswering) {
  enable();
  start_supplicant("alice", "wonderland");
  ASSERT_TRUE(wait_status(1, dot1x::kAuthorized, 30s)) << read_text_file(supplicant_log);
  dot1x::Config c = enabled_config();
  for (const dot1x::ParamConfig &zero : {dot1x::ParamConfig{0, 1, 30}, dot1x::ParamConfig{3600, 0, 0}}) {
    c.param = zero;
    EXPECT_EQ(set_config(c), 1u) << "refused: period " << zero.reauth_period << ", EAP timeout "
                                 << int(zero.eap_timeout);
    uint32_t res = 99;
    const auto status =
        client.object(dot1x::kObjStatus, 0, std::vector<uint8_t>(dot1x::kStatusObjectSize), res, 1s);
    ASSERT_TRUE(status.has_value()) << "the status is answered within a second";
    ASSERT_EQ(res, 0u);
    EXPECT_EQ(le_load32(status->data() + dot1x::kStatusSize), uint32_t(dot1x::kAuthorized));
  }
  uint32_t res = 99;
  const auto kept = client.object(dot1x::kObjConfig, 0, std::vector<uint8_t>(dot1x::kConfigSize), res, 5s);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(dot1x::decode_config(kept->data()).param, dot1x::ParamConfig{}) << "the old configuration";
}

// Port 2 under automatic control with link and a peer that never finishes stays unauthorised. Switched
// off by the configuration object, 802.1X opens it: frames pass and its status says authorised, with
// the peer's address, identity and the counters as they were. A re-authentication asked for while
// 802.1X is off leaves it so.
TEST_F(Dot1xOnFrontPort, SwitchingOffShowsLinkedPortsAuthorisedAndKeepsTheirRecords) {
  ASSERT_TRUE(bring_up("swp2") && bring_up("swp3"));
  ASSERT_TRUE(cable("unplug", 4));
  PacketSocket wire2("swp2", ""), wire3("swp3", "");
  ASSERT_TRUE(wire2.ok() && wire3.ok());
  dot1x::Config c = enabled_config();
  c.port_control[2] = dot1x::kAuto;
  ASSERT_EQ(set_config(c), 0u);
  ASSERT_TRUE(wait_status(2, dot1x::kUnauthorized, 5s));
  ASSERT_TRUE(give_identity(2, wire2, "carol"));
  const auto on = status_of(2);
  ASSERT_EQ(le_load32(on.data()), uint32_t(dot1x::kUnauthorized));
  EXPECT_FALSE(passes(wire2, wire3)) << "unauthorised: kept back";

  c.system.enabled = 0;
  ASSERT_EQ(set_config(c), 0u);
  EXPECT_TRUE(passes_soon(wire2, wire3)) << "802.1X off: port 2 forwards";
  const auto off = status_of(2);
  EXPECT_EQ(le_load32(off.data()), uint32_t(dot1x::kAuthorized));
  EXPECT_EQ(le_load32(status_of(1).data()), uint32_t(dot1x::kAuthorized)) << "automatic, linked";
  EXPECT_EQ(le_load32(status_of(3).data()), uint32_t(dot1x::kAuthorized)) << "force authorised, linked";
  EXPECT_EQ(le_load32(status_of(4).data()), 0u) << "no link";
  EXPECT_STREQ(reinterpret_cast<const char *>(off.data() + 31), "02:00:00:00:0b:02");
  EXPECT_STREQ(reinterpret_cast<const char *>(off.data() + 49), "carol");
  EXPECT_EQ(off[15 + 2], on[15 + 2]) << "EAPOL-Starts received";
  EXPECT_EQ(off[15 + 4], on[15 + 4]) << "Responses/Identity received";
  EXPECT_GE(off[4], 1) << "enters connecting";

  std::vector<uint8_t> now(4 + dot1x::kReauthEntrySize);
  le_store16(now.data(), 1);
  le_store16(now.data() + 2, uint16_t(dot1x::kReauthEntrySize));
  le_store32(now.data() + 4, 2);
  le_store32(now.data() + 8, 1);
  uint32_t res = 99;
  ASSERT_TRUE(client.object(dot1x::kObjReauth, 1, now, res, 5s).has_value());
  EXPECT_EQ(res, 0u);
  EXPECT_TRUE(passes(wire2, wire3)) << "still forwards after a re-authentication at once";
  const auto later = status_of(2);
  EXPECT_EQ(le_load32(later.data()), uint32_t(dot1x::kAuthorized));
  EXPECT_TRUE(std::equal(later.begin() + 4, later.end(), off.begin() + 4)) << "nothing ran the machines";
}

// The same through a defaults restore (object 2001), which switches 802.1X off as it reads the
// default configuration: automatic port 1, linked and unauthorised, forwards and shows authorised.
TEST_F(Dot1xOnFrontPort, RestoringDefaultsOpensAnUnauthorisedAutomaticPortAndShowsItAuthorised) {
  ASSERT_TRUE(bring_up("swp6"));
  ASSERT_TRUE(cable("unplug", 4));
  PacketSocket wire1("swp1", ""), wire6("swp6", "");
  ASSERT_TRUE(wire1.ok() && wire6.ok());
  enable();
  ASSERT_TRUE(wait_status(1, dot1x::kUnauthorized, 5s));
  EXPECT_FALSE(passes(wire1, wire6)) << "unauthorised: kept back";
  std::vector<uint8_t> keep(4, 0);
  uint32_t res = 99;
  ASSERT_TRUE(client.object(2001, 1, keep, res, 5s).has_value());
  ASSERT_EQ(res, 0u);
  std::optional<std::vector<uint8_t>> config;
  for (int i = 0; i < 100; ++i) {
    config = client.object(dot1x::kObjConfig, 0, std::vector<uint8_t>(dot1x::kConfigSize), res, 1s);
    if (config && res == 0 && dot1x::decode_config(config->data()) == dot1x::Config{}) break;
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_TRUE(config.has_value());
  EXPECT_EQ(dot1x::decode_config(config->data()), dot1x::Config{}) << "802.1X off";
  // The restore also sets the ports up afresh: their links take a while to come back.
  EXPECT_TRUE(passes_soon(wire1, wire6)) << "the port forwards as with 802.1X off";
  const auto status = status_of(1);
  EXPECT_EQ(le_load32(status.data()), uint32_t(dot1x::kAuthorized));
  EXPECT_GE(status[4], 1) << "enters connecting, as recorded";
  EXPECT_GE(status[15 + 6], 1) << "Requests/Identity sent, as recorded";
  EXPECT_EQ(le_load32(status_of(4).data()), 0u) << "no link";
}

TEST_F(Dot1xOnFrontPort, PeapWithMschapv2AuthorisesThePort) {
  ASSERT_NO_FATAL_FAILURE(restart_radius_with_certificates());
  enable();
  start_supplicant("alice", "wonderland", peap_method());
  ASSERT_TRUE(supplicant_logged("CTRL-EVENT-EAP-SUCCESS", 30s))
      << read_text_file(supplicant_log) << radius->log();
  EXPECT_TRUE(wait_status(1, dot1x::kAuthorized, 10s));
  const std::string log = read_text_file(supplicant_log);
  EXPECT_NE(log.find("method 25 (PEAP) selected"), std::string::npos) << log;
  EXPECT_NE(log.find("EAP-MSCHAPV2: Authentication succeeded"), std::string::npos) << log;
  EXPECT_STREQ(reinterpret_cast<const char *>(status_of(1).data() + 49), "alice");
  EXPECT_GE(status_of(1)[26 + 1], 4) << "the TLS handshake took several access challenges";
}

TEST_F(Dot1xOnFrontPort, PeapWithWrongPasswordLeavesThePortClosed) {
  ASSERT_NO_FATAL_FAILURE(restart_radius_with_certificates());
  enable();
  start_supplicant("bob", "not-his", peap_method());
  ASSERT_TRUE(supplicant_logged("CTRL-EVENT-EAP-FAILURE", 30s))
      << read_text_file(supplicant_log) << radius->log();
  const auto status = status_of(1);
  EXPECT_EQ(le_load32(status.data()), uint32_t(dot1x::kUnauthorized));
  EXPECT_GE(status[4 + 5], 1) << "a failure while authenticating";
  EXPECT_NE(read_text_file(supplicant_log).find("method 25 (PEAP) selected"), std::string::npos);
}

}  // namespace
