// vornkd serving /dev/vorn to other processes, reached through the vorndev client library.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/userfaultfd.h>
#include <poll.h>
#include <signal.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pthread.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "emulator.h"
#include "pcap_file.h"
#include "vorn_image.h"
#include "vorn_records.h"
#include "vorn_sigc.h"
#include "vorndev.h"

namespace {

namespace fs = std::filesystem;
using namespace vorn;

// The shell's start of a vornkd command line.
std::string vornkd_command() {
  return rt_testing::emulated_command(std::getenv("VORNKD_BIN"));
}

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

// A capture of whole records as captured, Ethernet header and all (or cut shorter).
std::vector<unsigned char> capture_of(const std::vector<std::vector<unsigned char>> &records) {
  std::vector<unsigned char> capture = pcap::serialize({});
  for (const auto &record : records) {
    auto length = static_cast<uint32_t>(record.size());
    for (uint32_t word : {1700000000u, 0u, length, length})
      for (int i = 0; i < 4; ++i) capture.push_back(static_cast<unsigned char>(word >> (8 * i)));
    capture.insert(capture.end(), record.begin(), record.end());
  }
  return capture;
}

// A broadcast Ethernet frame with `payload_size` zero bytes behind its header.
std::vector<unsigned char> ethernet_frame(uint16_t ethertype, size_t payload_size) {
  std::vector<unsigned char> frame(14 + payload_size);
  std::fill_n(frame.begin(), 6, 0xff);
  frame[6] = 0x02;  // a locally administered source
  frame[11] = 1;
  frame[12] = static_cast<unsigned char>(ethertype >> 8);
  frame[13] = static_cast<unsigned char>(ethertype);
  return frame;
}

void write_bytes(const fs::path &path, const std::vector<unsigned char> &bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << path;
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

#ifdef MAP_32BIT
constexpr int kBelow4GiB = MAP_32BIT;
#else
constexpr int kBelow4GiB = 0;  // a 32-bit address space lies below 4 GiB as it is
#endif

// Downloads an image through LOAD_RULE_TABLES from memory below 4 GiB, as the agent does.
int download(int fd, const EngineImage &image) {
  auto packed = image.packed(1);
  void *low =
      mmap(nullptr, packed.size(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | kBelow4GiB, -1, 0);
  if (low == MAP_FAILED) return -1000;
  std::memcpy(low, packed.data(), packed.size());
  ParamtVornPolicyTable table{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(low)), 0};
  int rc = vorndev_ioctl(fd, VORN_IOC_LOAD_RULE_TABLES, &table);
  munmap(low, packed.size());
  return rc;
}

// A page whose first touch waits until the test hands it out: an ioctl copying its answer there
// stays inside the module until then.
class LatePage {
 public:
  LatePage() {
    uffd_ = static_cast<int>(syscall(SYS_userfaultfd, O_CLOEXEC | O_NONBLOCK));
    size_ = sysconf(_SC_PAGESIZE);
    page_ = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    uffdio_api api{UFFD_API, 0, {}};
    uffdio_register registration{{range_start(), range_length()}, UFFDIO_REGISTER_MODE_MISSING, 0};
    ready_ = uffd_ >= 0 && page_ != MAP_FAILED && ioctl(uffd_, UFFDIO_API, &api) == 0 &&
             ioctl(uffd_, UFFDIO_REGISTER, &registration) == 0;
  }
  ~LatePage() {
    if (page_ != MAP_FAILED) munmap(page_, size_);
    if (uffd_ >= 0) close(uffd_);
  }
  LatePage(const LatePage &) = delete;
  LatePage &operator=(const LatePage &) = delete;

  bool ready() const { return ready_; }
  void *address() const { return page_; }
  // Waits until someone touches the page.
  bool wait_for_touch() {
    pollfd waiting{uffd_, POLLIN, 0};
    uffd_msg message{};
    return poll(&waiting, 1, 10000) == 1 && read(uffd_, &message, sizeof message) == sizeof message;
  }
  // Hands the page out, zero-filled; the waiting toucher goes on.
  bool provide() {
    uffdio_zeropage zero{{range_start(), range_length()}, 0, 0};
    return ioctl(uffd_, UFFDIO_ZEROPAGE, &zero) == 0;
  }

 private:
  unsigned long range_start() const { return reinterpret_cast<unsigned long>(page_); }
  unsigned long range_length() const { return static_cast<unsigned long>(size_); }
  int uffd_ = -1;
  long size_ = 0;
  void *page_ = MAP_FAILED;
  bool ready_ = false;
};

class Vornkd : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("vornkd_test." + std::to_string(getpid()) + "." +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    device = (dir / "vorn").string();
    setenv("VORN_DEVICE", device.c_str(), 1);
    start_daemon();
    ASSERT_TRUE(wait_until_served());
  }

  void TearDown() override {
    if (daemon_pid > 0) stop_daemon();
    unsetenv("VORN_DEVICE");
    fs::remove_all(dir);
  }

  void start_daemon() {
    const char *binary = std::getenv("VORNKD_BIN");
    ASSERT_NE(binary, nullptr);
    daemon_pid = fork();
    if (daemon_pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      // The widest umask it could be started with: the device must stay root's alone all the same.
      umask(0);
      const std::vector<std::string> command = rt_testing::emulated_argv({binary});
      std::vector<char *> argv;
      for (const std::string &word : command) argv.push_back(const_cast<char *>(word.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }

  // vornkd needs a moment to load the module and bind; it is ready once a connection succeeds.
  bool wait_until_served() {
    for (int attempt = 0; attempt < 1000; ++attempt) {
      int fd = vorndev_open(device.c_str(), O_RDWR);
      if (fd >= 0) {
        vorndev_close(fd);
        return true;
      }
      usleep(10000);
    }
    return false;
  }

  int stop_daemon() {
    kill(daemon_pid, SIGTERM);
    int status = 0;
    waitpid(daemon_pid, &status, 0);
    daemon_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Runs vornkd with `arguments` to its end, as a user does from a shell: what it printed on either
  // stream, then "status N". One that goes on serving is stopped after 20 s (status 124).
  std::string run_vornkd(const std::string &arguments) {
    return run_and_capture("timeout 20 " + vornkd_command() + arguments + " 2>&1; echo status $?");
  }

  std::string inject(const std::vector<unsigned char> &capture) {
    fs::path file = dir / "capture.pcap";
    write_bytes(file, capture);
    return run_vornkd(" --inject " + file.string());
  }

  // Switches inspection on with a one-signature policy, so that frames go through the whole
  // receive path.
  void switch_inspection_on() {
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
    vorndev_close(fd);
  }

  fs::path dir;
  std::string device;
  pid_t daemon_pid = -1;
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
  std::string report = run_and_capture(vornkd_command() + " --report");
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
  std::string out = run_and_capture(vornkd_command() + " --inject " + capture + " --device eth1");
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
  std::string bogus = (dir / "bogus.pcap").string();
  FILE *f = std::fopen(bogus.c_str(), "w");
  std::fputs("not a capture at all, just text", f);
  std::fclose(f);
  std::string command = vornkd_command() + " --inject " + bogus + " 2>&1";
  EXPECT_NE(run_and_capture(command).find("not a pcap file"), std::string::npos);
  EXPECT_NE(system(command.c_str()), 0);
}

// A frame with nothing behind its Ethernet header is the receive path's to judge, as any other: it
// and the frames after it on the same connection each get their fate.
TEST_F(Vornkd, InjectServesFramesWithNothingBehindTheirHeader) {
  switch_inspection_on();
  EXPECT_EQ(inject(capture_of({ethernet_frame(0x0800, 0), ethernet_frame(0x0800, 20),
                               ethernet_frame(0x0806, 0), ethernet_frame(0x0806, 28)})),
            "4 frames: 3 delivered, 1 dropped, 0 held\nstatus 0\n");
}

// Records too short for an Ethernet header, and frames longer than the device takes, are skipped
// and said to be; the largest frame it takes is injected.
TEST_F(Vornkd, InjectCountsTheFramesItSkips) {
  std::vector<unsigned char> cut_header = ethernet_frame(0x0806, 0);
  cut_header.pop_back();
  EXPECT_EQ(inject(capture_of({ethernet_frame(0x0806, 28),
                               cut_header,
                               {},
                               ethernet_frame(0x0806, 65535),
                               ethernet_frame(0x0806, 65536)})),
            "5 frames: 2 delivered, 0 dropped, 0 held, 3 skipped (2 shorter than an Ethernet header, 1 "
            "with more than 65535 bytes behind it)\nstatus 0\n");
  EXPECT_EQ(inject(capture_of({ethernet_frame(0x0806, 28)})),
            "1 frames: 1 delivered, 0 dropped, 0 held\nstatus 0\n");
}

// A capture that ends inside a record's header is refused before any of its frames is injected,
// as one that ends inside a record's data is.
TEST_F(Vornkd, InjectRefusesACaptureCutInsideARecordHeader) {
  std::vector<unsigned char> frame = ethernet_frame(0x0806, 28);
  std::vector<unsigned char> whole = capture_of({frame, frame});
  auto second_record = whole.end() - 16 - static_cast<long>(frame.size());
  for (long cut : {1, 15}) {
    EXPECT_EQ(inject({whole.begin(), second_record + cut}),
              "vornkd: " + (dir / "capture.pcap").string() + ": truncated record header\nstatus 1\n")
        << cut << " bytes of the header";
  }
  EXPECT_EQ(inject({whole.begin(), whole.end() - 1}),
            "vornkd: " + (dir / "capture.pcap").string() + ": truncated record\nstatus 1\n");
}

TEST_F(Vornkd, ReportPrintsTheProcLines) {
  std::string report = run_and_capture(vornkd_command() + " --report");
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

// Drops the calling process to an unprivileged user; true when it worked.
bool drop_to_nobody() {
  constexpr uid_t kNobody = 65534;
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

// As /dev/vorn on the router, the served device is root's alone: nobody else may load a policy,
// switch inspection or inject frames.
TEST_F(Vornkd, OnlyRootMayOpenTheDevice) {
  struct stat info {};
  ASSERT_EQ(stat(device.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_EQ(stat((device + ".lock").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_TRUE(in_child(
      [] { return drop_to_nobody() && vorndev_open("/dev/vorn", O_RDWR) == -1 && errno == EACCES; }));
  EXPECT_TRUE(in_child([&] {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", device.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    return drop_to_nobody() && fd >= 0 &&
           connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == -1 && errno == EACCES;
  }));
  std::string capture = std::string(std::getenv("VORN_CAPTURES")) + "/http_passwd.pcap";
  std::string inject = vornkd_command() + " --inject " + capture + " 2>/dev/null; echo $?";
  EXPECT_TRUE(in_child([&] { return drop_to_nobody() && run_and_capture(inject) == "1\n"; }));
}

// Each request is checked and served for the process that sent it, not for the one that connected:
// a descriptor handed to another process must neither work for a user who could not open it nor
// copy into the memory of its first owner.
TEST_F(Vornkd, EachRequestActsForTheProcessThatSentIt) {
  int fd = vorndev_open("/dev/vorn", O_RDWR);
  ASSERT_GE(fd, 0);
  ParamtVornStatus status{7, 7};
  EXPECT_TRUE(in_child(
      [&] { return vorndev_ioctl(fd, VORN_IOC_GET_STATUS, &status) == 0 && status.status == 0x1000004u; }));
  EXPECT_EQ(status.value, 7u);
  EXPECT_EQ(status.status, 7u);

  EXPECT_TRUE(in_child([&] {
    return drop_to_nobody() && vorndev_ioctl(fd, VORN_IOC_GET_STATUS, &status) == -1 && status.status == 7u;
  }));
  vorndev_close(fd);
  EXPECT_TRUE(in_child([] {
    int other = vorndev_open("/dev/vorn", O_RDWR);
    ParamtVornStatus fresh{};
    return other >= 0 && vorndev_ioctl(other, VORN_IOC_GET_STATUS, &fresh) == 0;
  }));
}

// The first caller's ioctl sleeps in its copy back (the record's page is missing and handed out only
// later); meanwhile a second caller is refused at once, and the first completes.
TEST_F(Vornkd, SecondCallerIsRefusedWhileAnIoctlRuns) {
  LatePage page;
  ASSERT_TRUE(page.ready()) << std::strerror(errno);
  int fd = vorndev_open("/dev/vorn", O_RDWR);
  ASSERT_GE(fd, 0);
  std::atomic<int> first_result{1};
  std::thread first([&] { first_result = vorndev_ioctl(fd, VORN_IOC_GET_STATUS, page.address()); });
  ASSERT_TRUE(page.wait_for_touch());

  EXPECT_TRUE(in_child([] {
    int other = vorndev_open("/dev/vorn", O_RDWR);
    ParamtVornStatus status{};
    return other >= 0 && vorndev_ioctl(other, VORN_IOC_GET_STATUS, &status) == -1 && errno == 25;
  }));

  ASSERT_TRUE(page.provide());
  first.join();
  EXPECT_EQ(first_result.load(), 0);
  EXPECT_EQ(static_cast<ParamtVornStatus *>(page.address())->status, 0x1000004u);
  EXPECT_TRUE(in_child([] {
    int other = vorndev_open("/dev/vorn", O_RDWR);
    ParamtVornStatus status{};
    return other >= 0 && vorndev_ioctl(other, VORN_IOC_GET_STATUS, &status) == 0;
  }));
  vorndev_close(fd);
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
  for ([[maybe_unused]] const auto &entry :
       fs::directory_iterator("/proc/" + std::to_string(daemon_pid) + "/fd"))
    ++descriptors;
  EXPECT_LT(descriptors, 32u);
}

// The one that serves keeps its socket: a second one on the same path refuses to start, and its end
// takes nothing from the first.
TEST_F(Vornkd, ASecondInstanceLeavesTheFirstServing) {
  EXPECT_EQ(run_vornkd(""), "vornkd: another vornkd is already running at " + device + "\nstatus 1\n");
  int fd = vorndev_open("/dev/vorn", O_RDWR);
  ASSERT_GE(fd, 0);
  ParamtVornStatus status{};
  EXPECT_EQ(vorndev_ioctl(fd, VORN_IOC_GET_STATUS, &status), 0);
  EXPECT_EQ(status.status, 0x1000004u);
  vorndev_close(fd);
}

// A vornkd that was killed leaves its socket and lock file behind; the next one takes over both.
TEST_F(Vornkd, WhatAKilledInstanceLeftIsTakenOver) {
  kill(daemon_pid, SIGKILL);
  waitpid(daemon_pid, nullptr, 0);
  ASSERT_TRUE(fs::is_socket(device));
  ASSERT_EQ(chmod((device + ".lock").c_str(), 0644), 0);
  start_daemon();
  ASSERT_TRUE(wait_until_served());
  struct stat info {};
  ASSERT_EQ(stat((device + ".lock").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

// What another user may have put at the lock file's path before vornkd starts (as under /tmp): vornkd
// refuses it, serves nothing, and leaves it and whatever it names as they were.
class VornkdLockFile : public Vornkd {
 protected:
  static constexpr uid_t kNobody = 65534;

  void SetUp() override {
    Vornkd::SetUp();
    stop_daemon();
    lock = device + ".lock";
    fs::remove(lock);
    target = dir / "target";
    write_bytes(target, {'k', 'e', 'e', 'p'});
    chmod(target.c_str(), 0644);
  }

  // Starts vornkd and expects it to refuse the lock file with `reason`.
  void expect_refused(const std::string &reason) {
    EXPECT_EQ(run_vornkd(""), "vornkd: " + lock + " " + reason + "\nstatus 1\n");
    EXPECT_FALSE(fs::exists(device));
  }

  void expect_target_untouched() {
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(info.st_size, 4);
  }

  std::string lock;
  fs::path target;
};

TEST_F(VornkdLockFile, AFileOfAnotherUserIsRefused) {
  write_bytes(lock, {});
  ASSERT_EQ(chown(lock.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chmod(lock.c_str(), 0644), 0);
  expect_refused("is owned by another user (uid 65534)");
  struct stat info {};
  ASSERT_EQ(stat(lock.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, kNobody);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST_F(VornkdLockFile, ASymbolicLinkIsRefused) {
  fs::create_symlink(target, lock);
  ASSERT_EQ(lchown(lock.c_str(), kNobody, kNobody), 0);
  expect_refused("is a symbolic link");
  expect_target_untouched();
  EXPECT_TRUE(fs::is_symlink(lock));

  // One that names nothing yet must not make its target either.
  fs::remove(lock);
  fs::path absent = dir / "absent";
  fs::create_symlink(absent, lock);
  ASSERT_EQ(lchown(lock.c_str(), kNobody, kNobody), 0);
  expect_refused("is a symbolic link");
  EXPECT_FALSE(fs::exists(absent));
}

// A second name of another file (made where hard links to others' files are allowed) would have
// vornkd change that file's owner and mode.
TEST_F(VornkdLockFile, AHardLinkIsRefused) {
  fs::create_hard_link(target, lock);
  expect_refused("is not a regular file with a single name");
  expect_target_untouched();
}

TEST_F(Vornkd, SigtermStopsItAndRemovesTheSocket) {
  EXPECT_EQ(stop_daemon(), 0);
  EXPECT_FALSE(fs::exists(device));
  EXPECT_EQ(vorndev_open("/dev/vorn", O_RDWR), -1);
}

TEST_F(Vornkd, OpeningAMissingDeviceCreatesNothing) {
  std::string missing = (dir / "absent").string();
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

// --- the client used from a signal handler --------------------------------------------------------

// What the handler below did with the device, for the test to check once it has returned.
// Lock-free atomics: safe to count with in a signal handler.
struct HandlerUse {
  std::atomic<int> runs{0};
  std::atomic<int> opened{0};          // descriptors it got
  std::atomic<int> answered{0};        // ioctls answered 0
  std::atomic<int> refused{0};         // ioctls refused with 25 (the module was busy)
  std::atomic<int> other_failures{0};  // anything else: a mixed-up or lost connection
  std::atomic<int> closed{0};
  std::atomic<int> done_pipe{-1};  // told after each run, when set

  void reset() {
    for (auto *counter : {&runs, &opened, &answered, &refused, &other_failures, &closed}) *counter = 0;
    done_pipe = -1;
  }
};
HandlerUse handler_use;

// A whole device command, as the agent's report tick makes one from its caller's SIGALRM handler.
void use_device_in_handler(int) {
  int saved_errno = errno;
  ++handler_use.runs;
  int fd = vorndev_open("/dev/vorn", O_RDWR);
  if (fd >= 0) {
    ++handler_use.opened;
    ParamtVornStatus status{};
    int result = vorndev_ioctl(fd, VORN_IOC_GET_STATUS, &status);
    if (result == 0 && status.status == 0x1000004u)
      ++handler_use.answered;
    else if (result == -1 && errno == 25)
      ++handler_use.refused;
    else
      ++handler_use.other_failures;
    if (vorndev_close(fd) == 0) ++handler_use.closed;
  } else {
    ++handler_use.other_failures;
  }
  if (int pipe_fd = handler_use.done_pipe; pipe_fd >= 0) {
    char c = 'd';
    if (write(pipe_fd, &c, 1) != 1) ++handler_use.other_failures;
  }
  errno = saved_errno;
}

std::size_t open_descriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto &entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

class VorndevInSignalHandler : public Vornkd {
 protected:
  void SetUp() override {
    Vornkd::SetUp();
    handler_use.reset();
  }
  void TearDown() override {
    if (handled_signal != 0) sigaction(handled_signal, &previous_action, nullptr);
    Vornkd::TearDown();
  }
  void handle(int signal_number, int flags) {
    struct sigaction action {};
    action.sa_handler = use_device_in_handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(signal_number, &action, &previous_action), 0);
    handled_signal = signal_number;
  }
  int handled_signal = 0;
  struct sigaction previous_action {};
};

// The interrupted call waits inside vorndev_ioctl for its answer (the module sleeps in the copy back
// to a missing page); the handler opens, asks and closes on its own connection, is refused because
// the module is busy, and the interrupted call then gets its own answer on its own descriptor.
TEST_F(VorndevInSignalHandler, AHandlerUsesTheDeviceWhileTheInterruptedCallWaitsForItsAnswer) {
  handle(SIGUSR1, 0);
  LatePage page;
  ASSERT_TRUE(page.ready()) << std::strerror(errno);
  std::size_t descriptors_before = open_descriptors();
  int done[2];
  ASSERT_EQ(pipe(done), 0);
  handler_use.done_pipe = done[1];

  int fd = vorndev_open("/dev/vorn", O_RDWR);
  ASSERT_GE(fd, 0);
  pthread_t caller = pthread_self();
  std::atomic<bool> helper_ok{false};
  // Once the module waits for the page, the caller is inside vorndev_ioctl: interrupt it there, and
  // hand out the page only after the handler is done.
  std::thread helper([&] {
    char c;
    helper_ok = page.wait_for_touch() && pthread_kill(caller, SIGUSR1) == 0 && read(done[0], &c, 1) == 1 &&
                page.provide();
  });
  int result = vorndev_ioctl(fd, VORN_IOC_GET_STATUS, page.address());
  helper.join();
  ASSERT_TRUE(helper_ok);

  EXPECT_EQ(result, 0);
  EXPECT_EQ(static_cast<ParamtVornStatus *>(page.address())->status, 0x1000004u);
  EXPECT_EQ(handler_use.runs, 1);
  EXPECT_EQ(handler_use.opened, 1);
  EXPECT_EQ(handler_use.refused, 1);
  EXPECT_EQ(handler_use.other_failures, 0);
  EXPECT_EQ(handler_use.closed, 1);
  // The interrupted descriptor still reaches its own connection.
  ParamtVornStatus status{};
  EXPECT_EQ(vorndev_ioctl(fd, VORN_IOC_GET_STATUS, &status), 0);
  EXPECT_EQ(status.status, 0x1000004u);
  EXPECT_EQ(vorndev_close(fd), 0);
  handler_use.done_pipe = -1;
  close(done[0]);
  close(done[1]);
  EXPECT_EQ(open_descriptors(), descriptors_before);
}

// A timer interrupts the caller's calls wherever they happen to be, many times over: whole commands
// on the served device, and ioctls on a plain descriptor, which spend most of their time looking the
// descriptor up in the client's table. Every call on either side gets a device answer (the module
// may refuse one of two overlapping ioctls) and no descriptor is left behind.
TEST_F(VorndevInSignalHandler, RepeatedInterruptionsAnywhereLeaveEveryCallRight) {
  handle(SIGALRM, SA_RESTART);
  int plain = open("/dev/null", O_RDWR);
  ASSERT_GE(plain, 0);
  std::size_t descriptors_before = open_descriptors();

  itimerval every{{0, 200}, {0, 200}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every, nullptr), 0);
  int commands = 0, other_failures = 0;
  while (handler_use.runs < 300) {
    ++commands;
    int fd = vorndev_open("/dev/vorn", O_RDWR);
    if (fd < 0) {
      ++other_failures;
      continue;
    }
    ParamtVornStatus status{};
    int result = vorndev_ioctl(fd, VORN_IOC_GET_STATUS, &status);
    if (!(result == 0 && status.status == 0x1000004u) && !(result == -1 && errno == 25)) ++other_failures;
    if (vorndev_close(fd) != 0) ++other_failures;
    for (int i = 0; i < 2000; ++i)
      if (vorndev_ioctl(plain, VORN_IOC_GET_STATUS, &status) != -1 || errno != ENOTTY) ++other_failures;
  }
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);

  EXPECT_EQ(other_failures, 0) << "in " << commands << " rounds";
  EXPECT_EQ(handler_use.other_failures, 0);
  EXPECT_EQ(handler_use.opened, handler_use.runs.load());
  EXPECT_EQ(handler_use.closed, handler_use.runs.load());
  EXPECT_EQ(open_descriptors(), descriptors_before);
  close(plain);
}

TEST_F(Vornkd, APathTooLongForASocketAddressIsRefused) {
  // Symbolic links make a long name for the served socket and its lock file.
  fs::path deep = dir;
  while (deep.string().size() < sizeof(sockaddr_un::sun_path)) deep /= "directory_level";
  fs::create_directories(deep);
  fs::path alias = deep / "vorn";
  fs::create_symlink(device, alias);
  fs::create_symlink(device + ".lock", alias.string() + ".lock");
  setenv("VORN_DEVICE", alias.c_str(), 1);
  std::size_t descriptors_before = open_descriptors();
  errno = 0;
  EXPECT_EQ(vorndev_open("/dev/vorn", O_RDWR), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_EQ(open_descriptors(), descriptors_before);
}

}  // namespace
