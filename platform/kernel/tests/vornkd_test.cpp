// vornkd serving /dev/vorn to other processes, reached through the vorndev client library.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/userfaultfd.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "vorn_image.h"
#include "vorn_records.h"
#include "vorn_sigc.h"
#include "vorndev.h"

namespace {

namespace fs = std::filesystem;
using namespace vorn;

std::string run_and_capture(const std::string &command) {
  std::string out;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// Runs a function in a child process; true when it returned true.
template <typename F>
bool in_child(F &&body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body() ? 0 : 1);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Downloads an image through LOAD_RULE_TABLES from memory below 4 GiB, as the agent does.
int download(int fd, const EngineImage &image) {
  auto packed = image.packed(1);
  void *low = mmap(nullptr, packed.size(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (low == MAP_FAILED) return -1000;
  std::memcpy(low, packed.data(), packed.size());
  ParamtVornPolicyTable table{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(low)), 0};
  int rc = vorndev_ioctl(fd, VORN_IOC_LOAD_RULE_TABLES, &table);
  munmap(low, packed.size());
  return rc;
}

class Vornkd : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vornkd_test." + std::to_string(getpid()) + "." +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    device_ = (dir_ / "vorn").string();
    setenv("VORN_DEVICE", device_.c_str(), 1);
    const char *binary = std::getenv("VORNKD_BIN");
    ASSERT_NE(binary, nullptr);
    daemon_ = fork();
    if (daemon_ == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execl(binary, binary, static_cast<char *>(nullptr));
      _exit(127);
    }
    ASSERT_TRUE(wait_until_served());
  }

  void TearDown() override {
    if (daemon_ > 0) stop_daemon();
    unsetenv("VORN_DEVICE");
    fs::remove_all(dir_);
  }

  // vornkd needs a moment to load the module and bind; it is ready once a connection succeeds.
  bool wait_until_served() {
    for (int attempt = 0; attempt < 1000; ++attempt) {
      int fd = vorndev_open(device_.c_str(), O_RDWR);
      if (fd >= 0) {
        vorndev_close(fd);
        return true;
      }
      usleep(10000);
    }
    return false;
  }

  int stop_daemon() {
    kill(daemon_, SIGTERM);
    int status = 0;
    waitpid(daemon_, &status, 0);
    daemon_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path dir_;
  std::string device_;
  pid_t daemon_ = -1;
};

TEST_F(Vornkd, AnswersIoctlsWithTheCallersRecords) {
  int fd = vorndev_open("/dev/vorn", O_RDWR);
  ASSERT_GE(fd, 0);
  ParamtVornStatus status{7, 7};
  EXPECT_EQ(vorndev_ioctl(fd, VORN_IOC_GET_STATUS, &status), 0);
  EXPECT_EQ(status.value, 0u);
  EXPECT_EQ(status.status, 0x1000004u);
  auto logs = std::make_unique<ParamtVornLogTable>();
  logs->count = 10;
  EXPECT_EQ(vorndev_ioctl(fd, VORN_IOC_GET_LOGS, logs.get()), 0);
  EXPECT_EQ(logs->count, 0u);
  EXPECT_EQ(vorndev_close(fd), 0);
}

TEST_F(Vornkd, BadPointersFailAsOnTheDevice) {
  int fd = vorndev_open("/dev/vorn", O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(vorndev_ioctl(fd, VORN_IOC_GET_STATUS, reinterpret_cast<void *>(0x1000)), -1);
  EXPECT_EQ(errno, 25);
  EXPECT_EQ(vorndev_ioctl(fd, VORN_IOC_GET_STATUS, reinterpret_cast<void *>(0xffff800000000000UL)), -1);
  EXPECT_EQ(errno, 14);
  EXPECT_EQ(vorndev_ioctl(fd, 0x80088414, nullptr), -1);
  EXPECT_EQ(errno, 25);
  vorndev_close(fd);
}

TEST_F(Vornkd, PolicyDownloadReadsTheHeaderAndStreamFromTheCaller) {
  EngineImage image;
  image.set_enable_word(1);
  image.set_app(7, 3, 1, "Jabber");
  int fd = vorndev_open("/dev/vorn", O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(download(fd, image), 0);
  IM_P2P_AD_Info info{};
  info.index = 3;
  EXPECT_EQ(vorndev_ioctl(fd, VORN_IOC_GET_IM_ACTION, &info), 0);
  EXPECT_EQ(info.AppID, 7);
  EXPECT_STREQ(info.name, "Jabber");
  vorndev_close(fd);
  std::string report = run_and_capture(std::string(std::getenv("VORNKD_BIN")) + " --report");
  EXPECT_NE(report.find("Quorix Driver Version = v1.59, State=OK\n"), std::string::npos) << report;
  EXPECT_NE(report.find("# of Tcp Conn=0,MLT_EST=1800,MLT_ABN=60\n"), std::string::npos);
}

// A policy with one signature, then real traffic through the served module's receive path; the
// event comes back through GET_LOGS as the agent would pull it.
TEST_F(Vornkd, InjectedTrafficIsInspectedAndLogged) {
  EngineImage image;
  image.set_enable_word(1);
  SignatureCompiler compiler;
  Signature passwd;
  passwd.rule_id = 20;
  passwd.pattern = "/etc/passwd";
  passwd.category = 11;
  compiler.add(passwd);
  compiler.compile(&image);
  int fd = vorndev_open("/dev/vorn", O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(download(fd, image), 0);
  ParamtVornStatus on{1, 0};
  ASSERT_EQ(vorndev_ioctl(fd, VORN_IOC_SET_STATUS, &on), 0);

  std::string capture = std::string(std::getenv("VORN_CAPTURES")) + "/http_passwd.pcap";
  std::string out = run_and_capture(std::string(std::getenv("VORNKD_BIN")) + " --inject " + capture + " --device eth1");
  EXPECT_EQ(out, "12 frames: 3 delivered, 9 dropped, 0 held\n");

  auto logs = std::make_unique<ParamtVornLogTable>();
  logs->count = 100;
  ASSERT_EQ(vorndev_ioctl(fd, VORN_IOC_GET_LOGS, logs.get()), 0);
  ASSERT_EQ(logs->count, 1u);
  EXPECT_EQ(logs->ring[0].attack_id, 20u);
  EXPECT_EQ(logs->ring[0].category, 11u);
  EXPECT_EQ(logs->ring[0].source, 0x01004d0au);  // 10.77.0.1 as stored
  vorndev_close(fd);
}

TEST_F(Vornkd, InjectRefusesAFileThatIsNoCapture) {
  std::string bogus = (dir_ / "bogus.pcap").string();
  FILE *f = std::fopen(bogus.c_str(), "w");
  std::fputs("not a capture at all, just text", f);
  std::fclose(f);
  std::string command = std::string(std::getenv("VORNKD_BIN")) + " --inject " + bogus + " 2>&1";
  EXPECT_NE(run_and_capture(command).find("not a pcap file"), std::string::npos);
  EXPECT_NE(system(command.c_str()), 0);
}

TEST_F(Vornkd, ReportPrintsTheProcLines) {
  std::string report = run_and_capture(std::string(std::getenv("VORNKD_BIN")) + " --report");
  EXPECT_EQ(report.rfind("Quorix Driver Version = v1.59, State=QXDRV_INITED\n", 0), 0u) << report;
  EXPECT_NE(report.find("Total Desc Num=1024\n"), std::string::npos);
}

TEST_F(Vornkd, FlockOnTheDescriptorExcludesOtherProcesses) {
  int fd = vorndev_open("/dev/vorn", O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  EXPECT_TRUE(in_child([&] {
    int other = vorndev_open("/dev/vorn", O_RDWR);
    return other >= 0 && flock(other, LOCK_EX | LOCK_NB) == -1 && errno == EWOULDBLOCK;
  }));
  ASSERT_EQ(flock(fd, LOCK_UN), 0);
  EXPECT_TRUE(in_child([&] {
    int other = vorndev_open("/dev/vorn", O_RDWR);
    return other >= 0 && flock(other, LOCK_EX | LOCK_NB) == 0;
  }));
  vorndev_close(fd);
}

// The first caller's ioctl sleeps in its copy back (the record's page is missing and handed out only
// later); meanwhile a second caller is refused at once, and the first completes.
TEST_F(Vornkd, SecondCallerIsRefusedWhileAnIoctlRuns) {
  int uffd = static_cast<int>(syscall(SYS_userfaultfd, O_CLOEXEC | O_NONBLOCK));
  ASSERT_GE(uffd, 0) << std::strerror(errno);
  uffdio_api api{UFFD_API, 0, {}};
  ASSERT_EQ(ioctl(uffd, UFFDIO_API, &api), 0);
  long page_size = sysconf(_SC_PAGESIZE);
  void *page = mmap(nullptr, page_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  uffdio_register registration{{reinterpret_cast<unsigned long>(page), static_cast<unsigned long>(page_size)},
                               UFFDIO_REGISTER_MODE_MISSING, 0};
  ASSERT_EQ(ioctl(uffd, UFFDIO_REGISTER, &registration), 0);

  int fd = vorndev_open("/dev/vorn", O_RDWR);
  ASSERT_GE(fd, 0);
  std::atomic<int> first_result{1};
  std::thread first([&] { first_result = vorndev_ioctl(fd, VORN_IOC_GET_STATUS, page); });
  pollfd waiting{uffd, POLLIN, 0};
  ASSERT_EQ(poll(&waiting, 1, 10000), 1);
  uffd_msg message{};
  ASSERT_EQ(read(uffd, &message, sizeof message), static_cast<ssize_t>(sizeof message));

  EXPECT_TRUE(in_child([] {
    int other = vorndev_open("/dev/vorn", O_RDWR);
    ParamtVornStatus status{};
    return other >= 0 && vorndev_ioctl(other, VORN_IOC_GET_STATUS, &status) == -1 && errno == 25;
  }));

  uffdio_zeropage zero{{reinterpret_cast<unsigned long>(page), static_cast<unsigned long>(page_size)}, 0, 0};
  ASSERT_EQ(ioctl(uffd, UFFDIO_ZEROPAGE, &zero), 0);
  first.join();
  EXPECT_EQ(first_result.load(), 0);
  EXPECT_EQ(static_cast<ParamtVornStatus *>(page)->status, 0x1000004u);
  EXPECT_TRUE(in_child([] {
    int other = vorndev_open("/dev/vorn", O_RDWR);
    ParamtVornStatus status{};
    return other >= 0 && vorndev_ioctl(other, VORN_IOC_GET_STATUS, &status) == 0;
  }));
  vorndev_close(fd);
  munmap(page, page_size);
  close(uffd);
}

// Callers open the device for every command; vornkd must not keep what each connection held.
TEST_F(Vornkd, ConnectionsThatEndAreReleased) {
  ParamtVornStatus status{};
  for (int i = 0; i < 300; ++i) {
    int fd = vorndev_open("/dev/vorn", O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(vorndev_ioctl(fd, VORN_IOC_GET_STATUS, &status), 0);
    vorndev_close(fd);
  }
  size_t descriptors = 0;
  for ([[maybe_unused]] const auto &entry : fs::directory_iterator("/proc/" + std::to_string(daemon_) + "/fd")) ++descriptors;
  EXPECT_LT(descriptors, 32u);
}

TEST_F(Vornkd, SigtermStopsItAndRemovesTheSocket) {
  EXPECT_EQ(stop_daemon(), 0);
  EXPECT_FALSE(fs::exists(device_));
  EXPECT_EQ(vorndev_open("/dev/vorn", O_RDWR), -1);
}

TEST_F(Vornkd, OpeningAMissingDeviceCreatesNothing) {
  std::string missing = (dir_ / "absent").string();
  setenv("VORN_DEVICE", missing.c_str(), 1);
  EXPECT_EQ(vorndev_open("/dev/vorn", O_RDWR | O_CREAT), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(fs::exists(missing + ".lock"));
}

TEST_F(Vornkd, ACharacterDeviceIsOpenedDirectly) {
  unsetenv("VORN_DEVICE");
  int fd = vorndev_open("/dev/null", O_RDWR);
  ASSERT_GE(fd, 0);
  ParamtVornStatus status{};
  EXPECT_EQ(vorndev_ioctl(fd, VORN_IOC_GET_STATUS, &status), -1);
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(vorndev_close(fd), 0);
}

}  // namespace
