// The whole chain on this machine: vornkd serving the module at a private device path, the
// inspection daemon, the policy builder and client programs, each test in its own IPC namespace.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <tuple>

#include "ipc_namespace.h"
#include "packet_builder.h"
#include "pcap_file.h"
#include "process_helpers.h"
#include "vorn_image.h"
#include "vorn_records.h"
#include "vorn_sigc.h"
#include "vorndev.h"

namespace vornagent::testing {
namespace {

namespace fs = std::filesystem;

bool connectable(const std::string &path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

class DeviceChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(enter_fresh_ipc_namespace());
    dir = fs::temp_directory_path() / ("vornagent-chain." + std::to_string(getpid()) + "." +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    device = (dir / "vorn").string();
    environment = {"VORN_DEVICE=" + device, "VORNAGENT_DEBUG_LOG=" + (dir / "glb_dbg").string(),
                   "VORNAGENT_NET_DEV=" + (dir / "net_dev").string()};
    kernel = std::make_unique<BackgroundProgram>(program_path("VORNKD_BIN"), std::vector<std::string>{},
                                                 environment);
    for (int i = 0; i < 200 && !connectable(device); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    ASSERT_TRUE(connectable(device)) << "vornkd did not come up";
    daemon = std::make_unique<BackgroundProgram>(program_path("VORNAGENTD_BIN"), std::vector<std::string>{},
                                                 environment);
    ASSERT_TRUE(daemon->wait_for("running")) << daemon->output();
  }
  void TearDown() override {
    if (daemon) {
      EXPECT_EQ(daemon->stop(), 0);
    }
    if (kernel) kernel->stop();
    fs::remove_all(dir);
  }

  Output cli(const std::vector<std::string> &args) {
    return run_program(program_path("VORNAGENT_CLI_BIN"), args, environment);
  }
  Output cli_with_errors(const std::vector<std::string> &args) {
    return run_program_with_errors(program_path("VORNAGENT_CLI_BIN"), args, environment);
  }

  std::string build_policy(const std::string &description) {
    std::string source = (dir / "policy.txt").string(), policy = (dir / "policy.bin").string();
    std::ofstream(source) << description;
    Output built = run_program(program_path("VORNPOLICY_BIN"), {source, policy});
    EXPECT_EQ(built.status, 0) << built.text;
    return policy;
  }

  std::string install_sample() {
    std::string policy = build_policy(
        "version 4 2\n"
        "name 1 Ping of Death\n"
        "app im 1 0 1 MSN Messenger\n"
        "app im 2 1 1 Yahoo Messenger\n"
        "app p2p 101 0 1 BitTorrent\n"
        "rule 1 0 1 100 TCP SYN Scan\n"
        "rule 2 1 1 100 TCP FIN Scan\n"
        "rule 3 2 1 100 TCP Null Scan\n"
        "rule 4 3 1 100 UDP Scan\n"
        "rule 5 4 1 50 IP Sweep\n"
        "rule 17 0 1 1000 SYN Flood\n");
    Output uploaded = cli({"upload", policy});
    EXPECT_EQ(uploaded.status, 0) << uploaded.text;
    return policy;
  }

  // Installs a policy whose engine image holds two signatures ("/etc/passwd" as attack 20 of
  // category 11, "cmd.exe" as 21 of category 2), compiled by the module's signature compiler.
  std::string install_signatures() {
    vorn::EngineImage image;
    vorn::SignatureCompiler compiler;
    for (auto [id, pattern, category] : {std::tuple{20, "/etc/passwd", 11}, {21, "cmd.exe", 2}}) {
      vorn::Signature signature;
      signature.rule_id = static_cast<uint16_t>(id);
      signature.pattern = pattern;
      signature.nocase = true;
      signature.category = static_cast<uint8_t>(category);
      compiler.add(signature);
    }
    compiler.compile(&image);
    std::ofstream(dir / "image.bin", std::ios::binary)
        .write(reinterpret_cast<const char *>(image.bytes().data()),
               static_cast<std::streamsize>(image.bytes().size()));
    std::string policy = build_policy(
        "version 1 1\nname 20 Password File Access\nname 21 Command Shell Access\n"
        "image " +
        (dir / "image.bin").string() + "\n");
    Output uploaded = cli({"upload", policy});
    EXPECT_EQ(uploaded.status, 0) << uploaded.text;
    return policy;
  }

  // Feeds the frames of a capture to the module's receive path through vornkd; its summary line.
  std::string inject_capture(const std::string &path) {
    Output injected = run_program(program_path("VORNKD_BIN"), {"--inject", path}, environment);
    EXPECT_EQ(injected.status, 0) << injected.text;
    return injected.text;
  }

  // A copy of a policy file with one payload byte flipped, so its checksum no longer holds.
  std::string damaged_copy(const std::string &policy) {
    std::ifstream in(policy, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    bytes.at(64) ^= 1;
    std::string damaged = (dir / "damaged.bin").string();
    std::ofstream(damaged, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return damaged;
  }

  fs::path dir;
  std::string device;
  std::vector<std::string> environment;
  std::unique_ptr<BackgroundProgram> kernel, daemon;
};

TEST_F(DeviceChainTest, BeforeAnyPolicyTheModuleRefusesStateChanges) {
  EXPECT_EQ(cli({"ips"}).status, 1);
  EXPECT_EQ(cli({"ips", "off"}).status, 1);
  Output apps = cli({"apps", "im"});
  EXPECT_EQ(apps.status, 0);  // the module is there and has nothing to list yet
  EXPECT_EQ(apps.text, "");
}

TEST_F(DeviceChainTest, InspectionSwitchedOffBeforeAnyPolicyStaysOffOnceOneIsInstalled) {
  EXPECT_EQ(cli({"ips", "off"}).status, 1);
  install_sample();
  EXPECT_EQ(cli({"ips"}).text, "off\n");
}

TEST_F(DeviceChainTest, APolicyInstallsAndItsSettingsAreReadAndSetByName) {
  install_sample();
  EXPECT_EQ(cli({"version"}).text, "4.2\n");
  EXPECT_EQ(cli({"ips"}).text, "on\n");
  EXPECT_EQ(cli({"apps", "im"}).text, "0 1 1 MSN Messenger\n1 1 2 Yahoo Messenger\n");
  EXPECT_EQ(cli({"app", "im", "Yahoo Messenger", "0"}).status, 0);
  EXPECT_EQ(cli({"apps", "im"}).text, "0 1 1 MSN Messenger\n1 0 2 Yahoo Messenger\n");
  EXPECT_EQ(cli({"app", "p2p", "eMule", "0"}).status, 1);

  EXPECT_EQ(cli({"threshold", "portscan", "IP Sweep", "1", "2048"}).status, 0);
  EXPECT_EQ(cli({"threshold", "portscan", "IP Sweep", "1", "2049"}).status, 1);
  EXPECT_EQ(cli({"threshold", "portscan", "TCP SYN Scan", "0", "3040"}).status, 0);
  EXPECT_EQ(cli({"threshold", "ddos", "SYN Flood", "1", "60001"}).status, 1);
  EXPECT_EQ(cli({"thresholds", "portscan"}).text,
            "0 0 1 3040 TCP SYN Scan\n1 1 2 100 TCP FIN Scan\n2 1 3 100 TCP Null Scan\n3 1 4 100 UDP Scan\n"
            "4 1 5 2048 IP Sweep\n");

  EXPECT_EQ(cli({"ips", "off"}).status, 0);
  EXPECT_EQ(cli({"ips"}).text, "off\n");
}

TEST_F(DeviceChainTest, TheSamplePolicyBuildsAndInstalls) {
  std::string policy = (dir / "sample.bin").string();
  Output built =
      run_program(program_path("VORNPOLICY_BIN"), {program_path("VORNAGENT_SAMPLE_POLICY"), policy});
  ASSERT_EQ(built.status, 0) << built.text;
  EXPECT_EQ(cli({"upload", policy}).status, 0);
  EXPECT_EQ(cli({"version"}).text, "3.1\n");
  EXPECT_EQ(cli({"apps", "anomaly"}).text, "0 1 201 HTTP\n");
  EXPECT_EQ(cli({"thresholds", "ddos"}).text, "0 1 17 1000 SYN Flood\n1 1 18 2000 UDP Flood\n");
}

TEST_F(DeviceChainTest, ADamagedPolicyLeavesTheRunningOneInPlace) {
  std::string policy = install_sample();
  EXPECT_EQ(cli({"upload", damaged_copy(policy)}).status, 1);
  EXPECT_EQ(cli({"version"}).text, "4.2\n");
  EXPECT_EQ(cli({"ips"}).text, "on\n");
  std::ifstream log(dir / "glb_dbg");
  std::string line;
  std::getline(log, line);
  EXPECT_EQ(line, "kaRulAgnt(293) : Check Policy File Fail");
}

TEST_F(DeviceChainTest, AnUploadWhileTheModuleIsDownKeepsTheInstalledPolicysRecord) {
  install_sample();
  std::string other = build_policy("version 5 1\nname 1 Teardrop\n");
  kernel->stop();
  Output uploaded = cli({"upload", other});
  EXPECT_EQ(uploaded.status, 1);
  EXPECT_NE(uploaded.text.find("kaRulAgnt(367) : Download Kernel Error\n"), std::string::npos)
      << uploaded.text;
  EXPECT_EQ(cli({"version"}).text, "4.2\n");
}

TEST_F(DeviceChainTest, APolicyFromAnEmptyDescriptionInstalls) {
  Output uploaded = cli({"upload", build_policy("")});
  EXPECT_EQ(uploaded.status, 0) << uploaded.text;
  EXPECT_EQ(cli({"version"}).text, "0.0\n");
  Output events = cli({"events"});
  EXPECT_EQ(events.status, 0);
  EXPECT_EQ(events.text, "");
}

TEST_F(DeviceChainTest, ActionsThatAreNot0Or1AreRefusedAndNothingChanges) {
  install_sample();
  ASSERT_EQ(cli({"app", "im", "MSN Messenger", "0"}).status, 0);
  for (const char *action : {"257", "256", "2", "", "-1", "+1", "1x"}) {
    Output refused = cli_with_errors({"app", "im", "MSN Messenger", action});
    EXPECT_EQ(refused.status, 1) << action;
    EXPECT_NE(refused.text.find("vornagent-cli: action"), std::string::npos)
        << action << ": " << refused.text;
  }
  EXPECT_EQ(cli({"apps", "im"}).text, "0 0 1 MSN Messenger\n1 1 2 Yahoo Messenger\n");
  EXPECT_EQ(cli({"app", "im", "MSN Messenger", "1"}).status, 0);
  EXPECT_EQ(cli({"threshold", "portscan", "IP Sweep", "257", "100"}).status, 1);
  EXPECT_NE(cli({"thresholds", "portscan"}).text.find("\n4 1 5 50 IP Sweep\n"), std::string::npos);
}

TEST_F(DeviceChainTest, ThresholdsAreNeverCutAndOnlyThoseWithinTheRulesLimitAreSet) {
  install_sample();
  for (const char *threshold : {"4294967297", "4294967296", "", "-4294967295", "0x10", "1 "}) {
    Output refused = cli_with_errors({"threshold", "portscan", "IP Sweep", "1", threshold});
    EXPECT_EQ(refused.status, 1) << threshold;
    EXPECT_NE(refused.text.find("vornagent-cli: threshold"), std::string::npos)
        << threshold << ": " << refused.text;
  }
  // Within the number range, the library holds each rule to its own limit (2048 for the sweep).
  for (const char *threshold : {"4294967295", "2049", "0"})
    EXPECT_EQ(cli({"threshold", "portscan", "IP Sweep", "1", threshold}).status, 1) << threshold;
  EXPECT_NE(cli({"thresholds", "portscan"}).text.find("\n4 1 5 50 IP Sweep\n"), std::string::npos);
  EXPECT_EQ(cli({"threshold", "portscan", "IP Sweep", "1", "2048"}).status, 0);
  EXPECT_NE(cli({"thresholds", "portscan"}).text.find("\n4 1 5 2048 IP Sweep\n"), std::string::npos);
}

TEST_F(DeviceChainTest, WithTheModuleDownListingsFailButTheEventsStillRead) {
  install_sample();
  kernel->stop();
  for (std::vector<std::string> listing : {std::vector<std::string>{"apps", "im"}, {"thresholds", "ddos"}}) {
    Output failed = cli_with_errors(listing);
    EXPECT_EQ(failed.status, 1) << listing[0];
    EXPECT_NE(failed.text.find("vornagent-cli: the inspection module cannot be reached\n"), std::string::npos)
        << failed.text;
  }
  Output events = cli({"events"});
  EXPECT_EQ(events.status, 0);
  EXPECT_EQ(events.text, "");
}

TEST_F(DeviceChainTest, ClientsAndPolicyDownloadsWaitForTheDeviceLock) {
  std::string policy = install_sample();
  int lock = open((device + ".lock").c_str(), O_RDWR);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  BackgroundProgram client(program_path("VORNAGENT_CLI_BIN"), {"ips", "off"}, environment);
  BackgroundProgram uploader(program_path("VORNAGENT_CLI_BIN"), {"upload", policy}, environment);
  EXPECT_FALSE(client.wait_for("ok", std::chrono::milliseconds(300)))
      << "a setting ran while the device was locked";
  EXPECT_FALSE(uploader.wait_for("ok", std::chrono::milliseconds(300)))
      << "a download ran while the device was locked";
  flock(lock, LOCK_UN);
  close(lock);
  EXPECT_TRUE(client.wait_for("ok"));
  EXPECT_TRUE(uploader.wait_for("ok"));
}

// --- reports from real traffic ---------------------------------------------------------------------

class ReportChainTest : public DeviceChainTest {
 protected:
  void inject(const std::string &capture) { inject_capture(program_path("VORN_CAPTURES") + "/" + capture); }

  // Lets the daemon's alarm come now instead of in up to 5 seconds, and waits until the tick shows
  // in the top list.
  std::string tick_until(const std::string &expected_top) {
    kill(daemon->pid(), SIGALRM);
    std::string top;
    for (int i = 0; i < 200; ++i) {
      top = cli({"top5"}).text;
      if (top == expected_top) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return top;
  }
};

TEST_F(ReportChainTest, EventsOfRealTrafficReachTheReports) {
  install_signatures();
  std::ofstream(dir / "net_dev") << "  eth1: 3145728 10 0 0 0 0 0 0 1048576 5 0 0 0 0 0 0\n";
  // Five datagrams with "cmd.exe" from 10.77.0.1 and the five port-unreachable errors quoting them
  // from 10.77.0.2; then one request for /etc/passwd from 10.77.0.1.
  inject("hping3_udp.pcap");
  inject("http_passwd.pcap");
  const std::string top = "10.77.0.1 6\n10.77.0.2 5\nN/A 0\nN/A 0\nN/A 0\n";
  EXPECT_EQ(tick_until(top), top);
  std::string categories = cli({"categories"}).text;
  EXPECT_EQ(categories.substr(0, categories.find("Access Control")),
            "Buffer Overflow: 10\nWeb Attacks: 1\nDoS / DDoS: 0\n");

  std::string events = cli({"events"}).text;
  EXPECT_NE(events.find(" 10.77.0.1 Password File Access\n"), std::string::npos) << events;
  EXPECT_EQ(events.substr(0, events.find('\n')).substr(events.find(' ')), " 10.77.0.1 Password File Access");
  EXPECT_EQ(std::count(events.begin(), events.end(), '\n'), 11);

  std::string chart = (dir / "chart.png").string();
  EXPECT_EQ(cli({"chart", chart}).status, 0);
  std::ifstream png(chart, std::ios::binary);
  unsigned char header[24] = {};
  png.read(reinterpret_cast<char *>(header), sizeof header);
  EXPECT_EQ(png_sig_cmp(header, 0, 8), 0);
  EXPECT_EQ(header[19], 404 & 0xFF);  // width, big-endian at 16
  EXPECT_EQ(header[23], 225);         // height at 20
}

TEST_F(ReportChainTest, AResetEmptiesTheReportsAndTheNextEventsCountAfresh) {
  install_signatures();
  inject("hping3_udp.pcap");
  const std::string top = "10.77.0.1 5\n10.77.0.2 5\nN/A 0\nN/A 0\nN/A 0\n";
  ASSERT_EQ(tick_until(top), top);
  EXPECT_EQ(cli({"reset"}).status, 0);
  EXPECT_EQ(cli({"top5"}).text, "N/A 0\nN/A 0\nN/A 0\nN/A 0\nN/A 0\n");
  EXPECT_EQ(cli({"events"}).text, "");
  inject("http_passwd.pcap");
  // The daemon forgot its sources: 10.77.0.1 does not come back with its old count.
  EXPECT_EQ(tick_until("10.77.0.1 1\nN/A 0\nN/A 0\nN/A 0\nN/A 0\n"),
            "10.77.0.1 1\nN/A 0\nN/A 0\nN/A 0\nN/A 0\n");
}

// --- signatures end to end -------------------------------------------------------------------------

// Two packets carrying a signature and two clean ones; `port` makes the TCP connections new ones.
std::string write_capture(const fs::path &path, uint16_t port) {
  using vorn_test::Packet;
  std::vector<Packet> packets = {
      Packet().from("10.0.0.1", port).to("10.0.0.2", 80).carrying("GET /etc/passwd HTTP/1.0\r\n"),
      Packet()
          .from("10.0.0.1", static_cast<uint16_t>(port + 1))
          .to("10.0.0.2", 80)
          .carrying("GET /index.html HTTP/1.0\r\n"),
      Packet().udp().from("10.0.0.3", port).to("10.0.0.2", 69).carrying("get CMD.EXE now"),
      Packet().udp().from("10.0.0.3", port).to("10.0.0.2", 69).carrying("get readme.txt"),
  };
  std::vector<pcap::CapturedFrame> frames;
  for (const Packet &packet : packets) {
    pcap::CapturedFrame frame;
    frame.ethertype = 0x0800;
    frame.payload = packet.bytes();
    frames.push_back(frame);
  }
  pcap::write_file(path.string(), frames);
  return path.string();
}

void expect_signature_events(const std::vector<vorn::VornLogRecord> &events) {
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].attack_id, 20u);
  EXPECT_EQ(events[0].category, 11u);
  EXPECT_EQ(events[0].source, vorn_test::address_as_stored("10.0.0.1"));
  EXPECT_EQ(events[1].attack_id, 21u);
  EXPECT_EQ(events[1].category, 2u);
  EXPECT_EQ(events[1].source, vorn_test::address_as_stored("10.0.0.3"));
}

class SignatureChainTest : public DeviceChainTest {
 protected:
  // Injects a capture and takes the events the module logged for it. The device lock is held
  // throughout, so the daemon's tick cannot take the events first.
  std::vector<vorn::VornLogRecord> inject_and_collect(const std::string &capture, std::string *summary) {
    int fd = vorndev_open(device.c_str(), O_RDWR);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX), 0);
    *summary = inject_capture(capture);
    auto logs = std::make_unique<vorn::ParamtVornLogTable>();
    logs->count = 100;
    EXPECT_EQ(vorndev_ioctl(fd, vorn::VORN_IOC_GET_LOGS, logs.get()), 0);
    flock(fd, LOCK_UN);
    vorndev_close(fd);
    return {logs->ring, logs->ring + std::min<uint32_t>(logs->count, 100)};
  }
};

// Signatures travel the whole way: compiled into an engine image, built into a policy file, installed
// through the inspection daemon, downloaded into the module; traffic then comes through vornkd.
TEST_F(SignatureChainTest, InstalledSignaturesDropMatchingTrafficAndADamagedPolicyChangesNothing) {
  std::string policy = install_signatures();
  ASSERT_EQ(cli({"ips"}).text, "on\n");

  std::string summary;
  expect_signature_events(inject_and_collect(write_capture(dir / "first.pcap", 41000), &summary));
  EXPECT_EQ(summary, "4 frames: 2 delivered, 2 dropped, 0 held\n");

  EXPECT_EQ(cli({"upload", damaged_copy(policy)}).status, 1);
  EXPECT_EQ(cli({"version"}).text, "1.1\n");
  expect_signature_events(inject_and_collect(write_capture(dir / "second.pcap", 42000), &summary));
  EXPECT_EQ(summary, "4 frames: 2 delivered, 2 dropped, 0 held\n");
}

}  // namespace
}  // namespace vornagent::testing
