// The ka* interface as a whole: daemon start and stop, the alarm tick, the semaphore and the
// clients' attachments.
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "client_state.h"
#include "cmd_agent.h"
#include "device.h"
#include "ipc.h"
#include "messages.h"
#include "records.h"
#include "rpt_agent.h"
#include "rul_agent.h"

namespace vornagent {

namespace {

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 6;

// The daemon's state. The alarm handler reads it, so it is only changed while the alarm is off.
struct Daemon {
  int semaphore = -1;
  bool created_semaphore = false;
  CmdAgnt *cmd = nullptr;
  RulAgnt *rul = nullptr;
  RptAgnt *rpt = nullptr;
  struct sigaction previous_alarm {};
  bool alarm_installed = false;
};
Daemon daemon_state;

ClientAttachments client;

int semaphore_operation(int id, short delta) {
  sembuf operation{0, delta, SEM_UNDO};
  int result;
  while ((result = semop(id, &operation, 1)) != 0 && errno == EINTR) {}
  return result;
}

bool set_semaphore_free(int id) {
  return semctl(id, 0, SETVAL, 1) == 0;
}

// Creates the set or adopts one that exists. A set made by a client through kaGetKey is already
// free, and one held by a live process must keep its value.
bool acquire_daemon_semaphore() {
  int id = semget(kSemaphoreKey, 1, IPC_CREAT | IPC_EXCL | 0666);
  if (id >= 0) {
    if (!set_semaphore_free(id)) {
      semctl(id, 0, IPC_RMID);
      return false;
    }
    daemon_state.created_semaphore = true;
  } else if (errno == EEXIST) {
    id = semget(kSemaphoreKey, 1, 0666);
    daemon_state.created_semaphore = false;
  }
  daemon_state.semaphore = id;
  return id >= 0;
}

// Undoes a start that failed half way: only what this start created goes.
void undo_startup() {
  if (daemon_state.rpt) {
    RptAgntExit(daemon_state.rpt);
    remove_segment(kRptAgntKey);
    remove_segment(kRawPolicyKey);
  }
  if (daemon_state.rul) {
    RulAgntExit(daemon_state.rul);
    remove_segment(kRulAgntKey);
  }
  if (daemon_state.cmd) {
    CmdAgntExit(daemon_state.cmd);
    remove_segment(kCmdAgntKey);
  }
  if (daemon_state.semaphore >= 0 && daemon_state.created_semaphore)
    semctl(daemon_state.semaphore, 0, IPC_RMID);
  daemon_state = Daemon{};
}

// Ticks skipped because the report data was locked; the next tick that runs catches them up.
// Only the handler changes it while the alarm is on.
volatile sig_atomic_t late_ticks = 0;

// Takes the semaphore only if it is free now. The handler must never wait for it: the holder may be
// the very code the alarm interrupted, which cannot give it back until the handler returns.
bool take_semaphore_now(int id) {
  sembuf operation{0, -1, SEM_UNDO | IPC_NOWAIT};
  int result;
  while ((result = semop(id, &operation, 1)) != 0 && errno == EINTR) {}
  return result == 0;
}

// The SIGALRM handler: the report tick itself. Everything it reaches is async-signal-safe (system
// calls, the device client, the preallocated source tree, hand-formatted messages).
void kaOnAlarm(int) {
  int saved_errno = errno;
  if (RptAgnt *report = daemon_state.rpt) {
    // The same holds for the device lock when the alarm interrupted one of this process's commands.
    if (!device_locked_here() && take_semaphore_now(daemon_state.semaphore)) {
      unsigned late = static_cast<unsigned>(late_ticks);
      if (report[rpt::kTreeResetRequest] == 1) {
        // The report starts afresh from the reset; slots skipped before it are not its time.
        empty_source_tree();
        report[rpt::kTreeResetRequest] = 0;
        late = 0;
      }
      if (RptRawEventRetrive(report, late)) late = 0;
      late_ticks = static_cast<sig_atomic_t>(late);
      semaphore_operation(daemon_state.semaphore, 1);
    } else if (late_ticks < static_cast<sig_atomic_t>(rpt::kSlots)) {
      late_ticks = late_ticks + 1;
    }
    alarm(tick_interval(report));
  }
  errno = saved_errno;
}

bool install_alarm() {
  struct sigaction action {};
  action.sa_handler = kaOnAlarm;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGALRM, &action, &daemon_state.previous_alarm) != 0) return false;
  daemon_state.alarm_installed = true;
  alarm(tick_interval(daemon_state.rpt));
  return true;
}

void remove_alarm() {
  if (!daemon_state.alarm_installed) return;
  alarm(0);
  sigaction(SIGALRM, &daemon_state.previous_alarm, nullptr);
  daemon_state.alarm_installed = false;
}

template <typename T>
T *attach_whole(key_t key, std::size_t size, std::size_t &attached_size) {
  int id = find_segment(key, size);
  if (id < 0) return nullptr;
  shmid_ds info{};
  if (shmctl(id, IPC_STAT, &info) != 0) return nullptr;
  void *address = shmat(id, nullptr, SHM_RDONLY);
  if (address == reinterpret_cast<void *>(-1)) return nullptr;
  attached_size = info.shm_segsz;
  return static_cast<T *>(address);
}

}  // namespace

const ClientAttachments &client_attachments() {
  return client;
}

}  // namespace vornagent

using namespace vornagent;

extern "C" {

int kaStartup(void) {
  char banner[64];
  std::snprintf(banner, sizeof banner, "vorn daemon version %d.%d\n", kVersionMajor, kVersionMinor);
  print_text(banner);
  if (daemon_state.cmd) return -1;  // already started in this process
  if (!acquire_daemon_semaphore()) {
    daemon_state = Daemon{};
    return -1;
  }
  daemon_state.cmd = CmdAgntInit();
  if (daemon_state.cmd) daemon_state.rul = RulAgntInit();
  if (daemon_state.rul) daemon_state.rpt = RptAgntInit();
  late_ticks = 0;
  if (!daemon_state.rpt || !install_alarm()) {
    undo_startup();
    return -1;
  }
  return 0;
}

int kaShutDown(void) {
  remove_alarm();
  late_ticks = 0;
  empty_source_tree();
  if (daemon_state.cmd) {
    CmdAgntExit(daemon_state.cmd);
    remove_segment(kCmdAgntKey);
  }
  if (daemon_state.rul) {
    RulAgntExit(daemon_state.rul);
    remove_segment(kRulAgntKey);
    remove_segment(kSectionsKey);
  }
  if (daemon_state.rpt) {
    RptAgntExit(daemon_state.rpt);
    remove_segment(kRptAgntKey);
    remove_segment(kRawPolicyKey);
  }
  daemon_state = Daemon{};
  int id = semget(kSemaphoreKey, 1, 0);
  if (id < 0) return id;
  return semctl(id, 0, IPC_RMID);
}

int kaGetKey(void) {
  int id = semget(kSemaphoreKey, 1, IPC_CREAT | IPC_EXCL | 0666);
  if (id >= 0) {
    // A fresh set starts at 0, which would block every client and never be given back.
    if (!set_semaphore_free(id)) return -1;
    return id;
  }
  if (errno != EEXIST) return -1;
  return semget(kSemaphoreKey, 1, 0666);
}

int kaSemInternalWait(int id) {
  return semaphore_operation(id, -1);
}

int kaSemInternalSignal(int id) {
  return semaphore_operation(id, 1);
}

int kaSemWait(int id) {
  int result = kaSemInternalWait(id);
  if (result == 0) kaGetRawDataShm();
  return result;
}

int kaSemSignal(int id) {
  kaReleaseRawDataShm();
  return kaSemInternalSignal(id);
}

void kaReleaseRawDataShm(void) {
  detach_segment(const_cast<uint32_t *>(client.report));
  detach_segment(const_cast<RulAgnt *>(client.rule));
  detach_segment(const_cast<uint8_t *>(client.sections));
  client = ClientAttachments{};
}

int kaGetRawDataShm(void) {
  kaReleaseRawDataShm();
  std::size_t size = 0;
  client.report = attach_whole<const uint32_t>(kRptAgntKey, rpt::kBytes, size);
  client.rule = attach_whole<const RulAgnt>(kRulAgntKey, sizeof(RulAgnt), size);
  // A policy without attack names has a segment with no sections in it (size 0 in the record); its
  // events must stay readable, so any size is taken and every read is bound by what was attached.
  if (client.rule)
    client.sections =
        attach_whole<const uint8_t>(kSectionsKey, client.rule->decompressed_size, client.sections_size);
  if (!client.report || !client.rule || !client.sections) kaReleaseRawDataShm();
  return 0;
}

int kaGetSharedMemory(void **addr, int *size) {
  if (!addr || !size) return -1;
  *addr = attach_segment(kRawPolicyKey, kRawPolicySize);
  *size = *addr ? static_cast<int>(kRawPolicySize) : 0;
  return *addr ? 0 : -1;
}

int kaReleaseSharedMemory(void **addr) {
  if (!addr || !*addr) return -1;
  if (shmdt(*addr) != 0) return -1;
  *addr = nullptr;
  return 0;
}

int kaU32ToAddr(uint32_t addr, char *buf, int show_zero) {
  if (!buf) return -1;
  if (addr == 0xFFFFFFFFu && show_zero != 1) {
    std::snprintf(buf, 16, "N/A");
  } else {
    std::snprintf(buf, 16, "%u.%u.%u.%u", addr & 0xFF, (addr >> 8) & 0xFF, (addr >> 16) & 0xFF, addr >> 24);
  }
  return 0;
}

}  // extern "C"
