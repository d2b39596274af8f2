// The whole chain on this machine: vornkd serving the module at a private device path, the
// inspection daemon, the policy builder and client programs, each test in its own IPC namespace.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "ipc_namespace.h"
#include "packet_builder.h"
#include "pcap_file.h"
#include "process_helpers.h"
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
    ASSERT_TRUE(enterFreshIpcNamespace());
    dir_ = fs::temp_directory_path() /
           ("vornagent-chain." + std::to_string(getpid()) + "." +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    device_ = (dir_ / "vorn").string();
    environment_ = {"VORN_DEVICE=" + device_, "VORNAGENT_DEBUG_LOG=" + (dir_ / "glb_dbg").string()};
    kernel_ = std::make_unique<BackgroundProgram>(programPath("VORNKD_BIN"), std::vector<std::string>{}, environment_);
    for (int i = 0; i < 200 && !connectable(device_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    ASSERT_TRUE(connectable(device_)) << "vornkd did not come up";
    daemon_ = std::make_unique<BackgroundProgram>(programPath("VORNAGENTD_BIN"), std::vector<std::string>{}, environment_);
    ASSERT_TRUE(daemon_->waitFor("running")) << daemon_->output();
  }
  void TearDown() override {
    if (daemon_) {
      EXPECT_EQ(daemon_->stop(), 0);
    }
    if (kernel_) kernel_->stop();
    fs::remove_all(dir_);
  }

  Output cli(const std::vector<std::string> &args) {
    return runProgram(programPath("VORNAGENT_CLI_BIN"), args, environment_);
  }

  std::string buildPolicy(const std::string &description) {
    std::string source = (dir_ / "policy.txt").string(), policy = (dir_ / "policy.bin").string();
    std::ofstream(source) << description;
    Output built = runProgram(programPath("VORNPOLICY_BIN"), {source, policy});
    EXPECT_EQ(built.status, 0) << built.text;
    return policy;
  }

  std::string installSample() {
    std::string policy = buildPolicy(
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

  // A copy of a policy file with one payload byte flipped, so its checksum no longer holds.
  std::string damagedCopy(const std::string &policy) {
    std::ifstream in(policy, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    bytes.at(64) ^= 1;
    std::string damaged = (dir_ / "damaged.bin").string();
    std::ofstream(damaged, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return damaged;
  }

  // Feeds a capture to the module through vornkd and takes the events it logged. The device lock is
  // held throughout, so no agent can take the events first.
  std::vector<vorn::VornLogRecord> injectAndCollect(const std::string &capture, std::string *summary) {
    int fd = vorndev_open(device_.c_str(), O_RDWR);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX), 0);
    Output injected = runProgram(programPath("VORNKD_BIN"), {"--inject", capture, "--device", "eth1"}, environment_);
    EXPECT_EQ(injected.status, 0);
    *summary = injected.text;
    auto logs = std::make_unique<vorn::ParamtVornLogTable>();
    logs->count = 100;
    EXPECT_EQ(vorndev_ioctl(fd, vorn::VORN_IOC_GET_LOGS, logs.get()), 0);
    flock(fd, LOCK_UN);
    vorndev_close(fd);
    return {logs->ring, logs->ring + std::min<uint32_t>(logs->count, 100)};
  }

  fs::path dir_;
  std::string device_;
  std::vector<std::string> environment_;
  std::unique_ptr<BackgroundProgram> kernel_, daemon_;
};

TEST_F(DeviceChainTest, BeforeAnyPolicyTheModuleRefusesStateChanges) {
  EXPECT_EQ(cli({"ips"}).status, 1);
  EXPECT_EQ(cli({"ips", "off"}).status, 1);
  EXPECT_EQ(cli({"apps", "im"}).text, "");
}

TEST_F(DeviceChainTest, APolicyInstallsAndItsSettingsAreReadAndSetByName) {
  installSample();
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
  std::string policy = (dir_ / "sample.bin").string();
  Output built = runProgram(programPath("VORNPOLICY_BIN"), {programPath("VORNAGENT_SAMPLE_POLICY"), policy});
  ASSERT_EQ(built.status, 0) << built.text;
  EXPECT_EQ(cli({"upload", policy}).status, 0);
  EXPECT_EQ(cli({"version"}).text, "3.1\n");
  EXPECT_EQ(cli({"apps", "anomaly"}).text, "0 1 201 HTTP\n");
  EXPECT_EQ(cli({"thresholds", "ddos"}).text, "0 1 17 1000 SYN Flood\n1 1 18 2000 UDP Flood\n");
}

TEST_F(DeviceChainTest, ADamagedPolicyLeavesTheRunningOneInPlace) {
  std::string policy = installSample();
  EXPECT_EQ(cli({"upload", damagedCopy(policy)}).status, 1);
  EXPECT_EQ(cli({"version"}).text, "4.2\n");
  EXPECT_EQ(cli({"ips"}).text, "on\n");
  std::ifstream log(dir_ / "glb_dbg");
  std::string line;
  std::getline(log, line);
  EXPECT_EQ(line, "kaRulAgnt(293) : Check Policy File Fail");
}

TEST_F(DeviceChainTest, ClientsAndPolicyDownloadsWaitForTheDeviceLock) {
  std::string policy = installSample();
  int lock = open((device_ + ".lock").c_str(), O_RDWR);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  BackgroundProgram client(programPath("VORNAGENT_CLI_BIN"), {"ips", "off"}, environment_);
  BackgroundProgram uploader(programPath("VORNAGENT_CLI_BIN"), {"upload", policy}, environment_);
  EXPECT_FALSE(client.waitFor("ok", std::chrono::milliseconds(300))) << "a setting ran while the device was locked";
  EXPECT_FALSE(uploader.waitFor("ok", std::chrono::milliseconds(300))) << "a download ran while the device was locked";
  flock(lock, LOCK_UN);
  close(lock);
  EXPECT_TRUE(client.waitFor("ok"));
  EXPECT_TRUE(uploader.waitFor("ok"));
}

// An engine image carrying two signatures, compiled by the module's signature compiler.
void writeEngineImage(const std::string &path) {
  vorn::EngineImage image;
  image.set_enable_word(1);
  image.set_bases(500, 1000);
  vorn::SignatureCompiler compiler;
  vorn::Signature passwd;
  passwd.rule_id = 20;
  passwd.pattern = "/etc/passwd";
  passwd.category = 11;
  compiler.add(passwd);
  vorn::Signature shell;
  shell.rule_id = 21;
  shell.pattern = "cmd.exe";
  shell.nocase = true;
  shell.category = 2;
  compiler.add(shell);
  compiler.compile(&image);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(image.bytes().data()), static_cast<std::streamsize>(image.bytes().size()));
}

// Two packets carrying a signature and two clean ones; `port` makes the TCP connections new ones.
std::string writeCapture(const fs::path &path, uint16_t port) {
  using vorn_test::Packet;
  std::vector<Packet> packets = {
      Packet().from("10.0.0.1", port).to("10.0.0.2", 80).carrying("GET /etc/passwd HTTP/1.0\r\n"),
      Packet().from("10.0.0.1", static_cast<uint16_t>(port + 1)).to("10.0.0.2", 80).carrying("GET /index.html HTTP/1.0\r\n"),
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

void expectSignatureEvents(const std::vector<vorn::VornLogRecord> &events) {
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].attack_id, 20u);
  EXPECT_EQ(events[0].category, 11u);
  EXPECT_EQ(events[0].source, vorn_test::address_as_stored("10.0.0.1"));
  EXPECT_EQ(events[1].attack_id, 21u);
  EXPECT_EQ(events[1].category, 2u);
  EXPECT_EQ(events[1].source, vorn_test::address_as_stored("10.0.0.3"));
}

// Signatures travel the whole way: compiled into an engine image, built into a policy file, installed
// through the inspection daemon, downloaded into the module; traffic then comes through vornkd.
TEST_F(DeviceChainTest, InstalledSignaturesDropMatchingTrafficAndADamagedPolicyChangesNothing) {
  writeEngineImage((dir_ / "engine.img").string());
  std::string policy = buildPolicy(
      "version 5 1\n"
      "name 20 Password file access\n"
      "name 21 Windows shell\n"
      "image engine.img\n"
      "rule 17 0 1 1000 SYN Flood\n");
  ASSERT_EQ(cli({"upload", policy}).status, 0);
  ASSERT_EQ(cli({"ips"}).text, "on\n");

  std::string summary;
  expectSignatureEvents(injectAndCollect(writeCapture(dir_ / "first.pcap", 41000), &summary));
  EXPECT_EQ(summary, "4 frames: 2 delivered, 2 dropped, 0 held\n");

  EXPECT_EQ(cli({"upload", damagedCopy(policy)}).status, 1);
  EXPECT_EQ(cli({"version"}).text, "5.1\n");
  expectSignatureEvents(injectAndCollect(writeCapture(dir_ / "second.pcap", 42000), &summary));
  EXPECT_EQ(summary, "4 frames: 2 delivered, 2 dropped, 0 held\n");
}

}  // namespace
}  // namespace vornagent::testing
