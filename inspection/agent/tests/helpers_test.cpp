// Device access discipline, the segments and semaphore of one daemon start, and the small helpers.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <cstring>
#include <string>

#include "cmd_agent.h"
#include "device.h"
#include "ipc.h"
#include "ipc_namespace.h"
#include "records.h"
#include "rpt_agent.h"
#include "rul_agent.h"
#include "client_state.h"

namespace vornagent {
namespace {

// --- device access -------------------------------------------------------------------------------

struct LockProbe {
  static inline std::string path;
  static inline int open_flags = 0;
  static inline bool locked_during_ioctl = false;
  static int open(const char *, int flags) {
    open_flags = flags;
    return ::open(path.c_str(), O_RDWR);
  }
  static int ioctl(int, unsigned long, void *) {
    int other = ::open(path.c_str(), O_RDWR);
    locked_during_ioctl = flock(other, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(other);
    return 0;
  }
  static int close(int fd) { return ::close(fd); }
  static void pause() {}
};

TEST(DeviceAccess, EachCommandHoldsTheExclusiveLockAndNeverCreatesTheNode) {
  LockProbe::path =
      (std::filesystem::temp_directory_path() / ("vornagent-lock." + std::to_string(getpid()))).string();
  ::close(::open(LockProbe::path.c_str(), O_CREAT | O_RDWR, 0600));
  DeviceOps ops{LockProbe::open, LockProbe::ioctl, LockProbe::close, LockProbe::pause};
  set_device_ops(&ops);
  ParamtVornStatus status{};
  EXPECT_EQ(device_command(kIocGetStatus, &status), 0);
  set_device_ops(nullptr);
  EXPECT_TRUE(LockProbe::locked_during_ioctl);
  EXPECT_EQ(LockProbe::open_flags & O_CREAT, 0);
  EXPECT_EQ(LockProbe::open_flags & O_ACCMODE, O_RDWR);
  // Once the command is done the lock is free again.
  int fd = ::open(LockProbe::path.c_str(), O_RDWR);
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
  std::filesystem::remove(LockProbe::path);
}

TEST(ThresholdBounds, FollowTheLibraryTable) {
  EXPECT_EQ(threshold_bound(kKaThDdos, 0), 60000u);
  EXPECT_EQ(threshold_bound(kKaThDdos, 3), 60000u);
  EXPECT_EQ(threshold_bound(kKaThDdos, 4), 0u);
  EXPECT_EQ(threshold_bound(kKaThPortscan, 3), 3040u);
  EXPECT_EQ(threshold_bound(kKaThPortscan, 4), 2048u);
  EXPECT_EQ(threshold_bound(kKaThPortscan, 5), 0u);
  EXPECT_EQ(threshold_bound(kKaThPortscan, -1), 0u);
}

TEST(AddressText, DottedFromTheLowestByteAndNAForTheEmptyMark) {
  char text[16];
  EXPECT_EQ(kaU32ToAddr(0xFFFFFFFFu, text, 0), 0);
  EXPECT_STREQ(text, "N/A");
  EXPECT_EQ(kaU32ToAddr(0xFFFFFFFFu, text, 1), 0);
  EXPECT_STREQ(text, "255.255.255.255");
  EXPECT_EQ(kaU32ToAddr(0x0401A8C0u, text, 0), 0);
  EXPECT_STREQ(text, "192.168.1.4");
  EXPECT_EQ(kaU32ToAddr(1, nullptr, 0), -1);
}

// --- one daemon start in this process ---------------------------------------------------------------

std::size_t segment_size(key_t key) {
  int id = shmget(key, 0, 0);
  if (id < 0) return 0;
  shmid_ds info{};
  shmctl(id, IPC_STAT, &info);
  return info.shm_segsz;
}

int semaphore_value() {
  int id = semget(kSemaphoreKey, 1, 0);
  return id < 0 ? -1 : semctl(id, 0, GETVAL);
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(enter_fresh_ipc_namespace());
    ::testing::internal::CaptureStdout();
  }
  void TearDown() override { ::testing::internal::GetCapturedStdout(); }
};

TEST_F(StartupTest, CreatesEveryObjectWithItsSizeAndShutDownRemovesThem) {
  ASSERT_EQ(kaStartup(), 0);
  EXPECT_EQ(semaphore_value(), 1);
  EXPECT_EQ(segment_size(kCmdAgntKey), 28460u);
  EXPECT_EQ(segment_size(kRulAgntKey), 264u);
  EXPECT_EQ(segment_size(kRptAgntKey), 338672u);
  EXPECT_EQ(segment_size(kRawPolicyKey), 819200u);
  auto *mirror = cmd_agnt_attach();
  ASSERT_NE(mirror, nullptr);
  EXPECT_EQ(mirror->ips, 1u);
  CmdAgntExit(mirror);
  auto *report = static_cast<const uint32_t *>(attach_segment(kRptAgntKey));
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report[rpt::kInterval], 5u);
  EXPECT_EQ(report[rpt::kShownCategories], 10u);
  EXPECT_EQ(report[rpt::kCategoryMap + 6], 9u);
  EXPECT_EQ(report[rpt::kCategoryMap + 9], 0xFFFFFFFFu);
  EXPECT_EQ(report[rpt::kTopAddresses + 11], 0xFFFFFFFFu);
  detach_segment(const_cast<uint32_t *>(report));
  auto *rule = rul_agnt_attach();
  ASSERT_NE(rule, nullptr);
  EXPECT_EQ(0, std::memcmp(rule->key, kKeyMaterial, kKeySize));
  detach_segment(rule);

  EXPECT_EQ(kaShutDown(), 0);
  for (key_t key : {kCmdAgntKey, kRulAgntKey, kRptAgntKey, kRawPolicyKey, kSectionsKey})
    EXPECT_LT(shmget(key, 0, 0), 0) << key;
  EXPECT_LT(semget(kSemaphoreKey, 1, 0), 0);
}

TEST_F(StartupTest, TheAlarmTicksEveryFiveSecondsAndStopsAtShutDown) {
  ASSERT_EQ(kaStartup(), 0);
  unsigned remaining = alarm(0);
  EXPECT_GE(remaining, 4u);
  EXPECT_LE(remaining, 5u);
  auto *report = static_cast<uint32_t *>(attach_segment(kRptAgntKey));
  report[rpt::kTreeResetRequest] = 1;
  raise(SIGALRM);
  EXPECT_EQ(report[rpt::kTreeResetRequest], 0u);  // the handler ran the tick
  EXPECT_EQ(semaphore_value(), 1);
  EXPECT_GT(alarm(0), 0u);  // the tick re-armed itself
  // While the report data is locked the tick does not wait for it (that would never end here).
  int id = kaGetKey();
  ASSERT_EQ(kaSemInternalWait(id), 0);
  report[rpt::kTreeResetRequest] = 1;
  raise(SIGALRM);
  EXPECT_EQ(report[rpt::kTreeResetRequest], 1u);
  EXPECT_EQ(semaphore_value(), 0);
  EXPECT_GT(alarm(0), 0u);
  ASSERT_EQ(kaSemInternalSignal(id), 0);
  detach_segment(report);
  ASSERT_EQ(kaShutDown(), 0);
  EXPECT_EQ(alarm(0), 0u);
  struct sigaction current {};
  sigaction(SIGALRM, nullptr, &current);
  EXPECT_EQ(current.sa_handler, SIG_DFL);
}

TEST_F(StartupTest, AClientMadeSemaphoreIsFreeAndTheDaemonAdoptsIt) {
  int id = kaGetKey();
  ASSERT_GE(id, 0);
  EXPECT_EQ(semaphore_value(), 1);
  ASSERT_EQ(kaSemWait(id), 0);  // would block for ever on a set created at 0
  ASSERT_EQ(kaSemSignal(id), 0);
  EXPECT_EQ(kaGetKey(), id);
  ASSERT_EQ(kaStartup(), 0);
  EXPECT_EQ(semaphore_value(), 1);
  EXPECT_EQ(kaShutDown(), 0);
}

TEST_F(StartupTest, SegmentsLeftByADeadDaemonDoNotBlockTheNextStart) {
  for (auto [key, size] :
       {std::pair{kCmdAgntKey, std::size_t{28460}}, {kRulAgntKey, 264}, {kRptAgntKey, 338672}})
    ASSERT_GE(shmget(key, size, IPC_CREAT | IPC_EXCL | 0666), 0);
  ASSERT_EQ(kaStartup(), 0);
  EXPECT_EQ(kaShutDown(), 0);
}

TEST_F(StartupTest, AFailedStartRemovesOnlyWhatItCreated) {
  // Another process holds the report segment (simulated by our own attachment).
  int id = shmget(kRptAgntKey, 338672, IPC_CREAT | IPC_EXCL | 0666);
  ASSERT_GE(id, 0);
  void *held = shmat(id, nullptr, 0);
  ASSERT_NE(held, reinterpret_cast<void *>(-1));
  int sem = kaGetKey();
  ASSERT_GE(sem, 0);

  EXPECT_EQ(kaStartup(), -1);
  EXPECT_EQ(shmget(kRptAgntKey, 0, 0), id);
  EXPECT_EQ(semget(kSemaphoreKey, 1, 0), sem);
  EXPECT_EQ(semaphore_value(), 1);
  EXPECT_LT(shmget(kCmdAgntKey, 0, 0), 0);
  EXPECT_LT(shmget(kRulAgntKey, 0, 0), 0);
  EXPECT_EQ(alarm(0), 0u);
  shmdt(held);
}

TEST_F(StartupTest, ClientAttachmentsBeforeAnyPolicyStayEmpty) {
  ASSERT_EQ(kaStartup(), 0);
  EXPECT_EQ(kaGetRawDataShm(), 0);
  EXPECT_EQ(client_attachments().report, nullptr);
  kaReleaseRawDataShm();
  EXPECT_EQ(kaShutDown(), 0);
}

TEST_F(StartupTest, TheUploaderAttachesTheRawPolicySegment) {
  void *address = reinterpret_cast<void *>(1);
  int size = 7;
  EXPECT_EQ(kaGetSharedMemory(&address, &size), -1);
  EXPECT_EQ(address, nullptr);
  EXPECT_EQ(size, 0);

  ASSERT_EQ(kaStartup(), 0);
  ASSERT_EQ(kaGetSharedMemory(&address, &size), 0);
  EXPECT_EQ(size, 819200);
  static_cast<char *>(address)[819199] = 1;
  EXPECT_EQ(kaReleaseSharedMemory(&address), 0);
  EXPECT_EQ(address, nullptr);
  EXPECT_EQ(kaReleaseSharedMemory(&address), -1);
  EXPECT_EQ(kaReleaseSharedMemory(nullptr), -1);
  EXPECT_EQ(kaShutDown(), 0);
}

}  // namespace
}  // namespace vornagent
