#include "loop.h"

#include "board.h"
#include "trace.h"

#include <sys/time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

// A plain static, not a function-local one: the signal handlers write it, and must never run an
// initialisation guard.
DaemonState g_daemon;

struct FdEntry {
  FdCallback callback;
  unsigned events;
  int fd;
  uint64_t serial;  // tells an entry apart from a later one that reuses the same descriptor
};

struct FdRegistry {
  std::array<FdEntry, kFdRegMax> entries{};
  int count = 0;
  fd_set read_set, write_set, except_set;
  int highest = 0;
  uint64_t next_serial = 1;
};

struct TimerEntry {
  TimerCallback callback;
  uint32_t period;
  uint32_t last;
};

struct TimerRegistry {
  std::array<TimerEntry, kTimerRegMax> entries{};
  int count = 0;
};

struct HookList {
  static constexpr int kMax = 16;
  std::array<PassHook, kMax> hooks{};
  int count = 0;
};

FdRegistry fds;
TimerRegistry timers;
HookList pass_hooks, ms_hooks;

int find_fd(int fd) {
  for (int i = 0; i < fds.count; ++i)
    if (fds.entries[i].fd == fd) return i;
  return -1;
}

void mark_sets(int fd, unsigned events) {
  if (events & kFdEventRead) FD_SET(fd, &fds.read_set);
  if (events & kFdEventWrite) FD_SET(fd, &fds.write_set);
  if (events & kFdEventExcept) FD_SET(fd, &fds.except_set);
}

int fd_add(FdCallback callback, unsigned events, int fd) {
  // select() cannot watch a descriptor beyond its fixed set size.
  if (events == 0 || fd < 0 || fd >= FD_SETSIZE || find_fd(fd) >= 0 || fds.count == kFdRegMax) return -1;
  int index = fds.count++;
  fds.entries[index] = FdEntry{callback, events, fd, fds.next_serial++};
  mark_sets(fd, events);
  fds.highest = std::max(fds.highest, fd);
  return index;
}

int fd_remove(unsigned events, int fd) {
  int index = events == 0 || fd < 0 ? -1 : find_fd(fd);
  if (index < 0) return -1;
  std::copy(fds.entries.begin() + index + 1, fds.entries.begin() + fds.count, fds.entries.begin() + index);
  --fds.count;
  fds.highest = 0;
  for (int i = 0; i < fds.count; ++i) fds.highest = std::max(fds.highest, fds.entries[i].fd);
  FD_CLR(fd, &fds.read_set);
  FD_CLR(fd, &fds.write_set);
  FD_CLR(fd, &fds.except_set);
  return index;
}

const FdEntry *find_serial(uint64_t serial) {
  for (int i = 0; i < fds.count; ++i)
    if (fds.entries[i].serial == serial) return &fds.entries[i];
  return nullptr;
}

unsigned fired_events(const FdEntry &entry, const fd_set *readable, const fd_set *writable,
                      const fd_set *exceptional) {
  unsigned fired = 0;
  if ((entry.events & kFdEventRead) && readable && FD_ISSET(entry.fd, readable)) fired |= kFdEventRead;
  if ((entry.events & kFdEventWrite) && writable && FD_ISSET(entry.fd, writable)) fired |= kFdEventWrite;
  if ((entry.events & kFdEventExcept) && exceptional && FD_ISSET(entry.fd, exceptional))
    fired |= kFdEventExcept;
  return fired;
}

int hook_add(HookList &list, PassHook hook) {
  if (!hook || list.count == HookList::kMax) return -1;
  list.hooks[list.count] = hook;
  return list.count++;
}

void run_hooks(const HookList &list) {
  for (int i = 0; i < list.count; ++i) list.hooks[i]();
}

}  // namespace

DaemonState &process_state() {
  return g_daemon;
}

int fd_reg(FdCallback callback, unsigned events, int fd) {
  events &= kFdEventRead | kFdEventWrite | kFdEventExcept;
  return callback ? fd_add(callback, events, fd) : fd_remove(events, fd);
}

void fd_reg_init() {
  fds.count = 0;
  FD_ZERO(&fds.read_set);
  FD_ZERO(&fds.write_set);
  FD_ZERO(&fds.except_set);
  fds.highest = 0;
}

void fd_dispatch(const fd_set *readable, const fd_set *writable, const fd_set *exceptional) {
  // A callback may remove entries or register new ones (possibly reusing a descriptor number whose
  // stale "ready" bit is still in these sets), so walk a snapshot and look each entry up again.
  std::array<uint64_t, kFdRegMax> serials{};
  int count = fds.count;
  for (int i = 0; i < count; ++i) serials[i] = fds.entries[i].serial;
  for (int i = 0; i < count; ++i) {
    const FdEntry *entry = find_serial(serials[i]);
    if (!entry) continue;
    unsigned fired = fired_events(*entry, readable, writable, exceptional);
    if (fired) entry->callback(entry->fd, fired);
  }
}

int timer_reg(TimerCallback callback, uint32_t period_ms) {
  if (!callback || period_ms == 0 || timers.count == kTimerRegMax) return -1;
  timers.entries[timers.count] = TimerEntry{callback, period_ms, 0};
  return timers.count++;
}

void timer_reg_init() {
  timers.count = 0;
}

void timer_dispatch(uint32_t now) {
  int count = timers.count;  // timers registered by a callback first run on the next dispatch
  for (int i = 0; i < count; ++i) {
    TimerEntry &timer = timers.entries[i];
    uint32_t elapsed = now > timer.last ? now - timer.last : now - timer.last - 1;
    if (elapsed >= timer.period) timer.last = timer.callback(now, timer.last, elapsed);
  }
}

uint32_t get_current_time() {
  timeval current_tv{};
  trace_printf(trace::kUnknown, "get_current_time", "loop.cpp", __LINE__, 1,
               gettimeofday(&current_tv, nullptr), trace::kDebug, "%s", "gettimeofday(&current_tv, NULL)");
  uint64_t ms =
      static_cast<uint64_t>(current_tv.tv_sec) * 1000 + static_cast<uint64_t>(current_tv.tv_usec) / 1000;
  return static_cast<uint32_t>(ms);
}

int loop_pass_hook_reg(PassHook hook) {
  return hook_add(pass_hooks, hook);
}

int loop_ms_hook_reg(PassHook hook) {
  return hook_add(ms_hooks, hook);
}

void loop_hooks_init() {
  pass_hooks.count = 0;
  ms_hooks.count = 0;
}

namespace {

// Turns select's result into: > 0 ready, 0 nothing (EINTR counts as 0, with the sets cleared), or -1
// after tracing any other error.
int checked_select_result(int rc, fd_set *r, fd_set *w, fd_set *e, bool detailed) {
  if (rc >= 0) return rc;
  if (errno == EINTR) {
    FD_ZERO(r);
    FD_ZERO(w);
    FD_ZERO(e);
    return 0;
  }
  int err = errno;
  if (detailed)
    trace_printf(trace::kMain, "main_loop", nullptr, __LINE__, 0, 0, trace::kError,
                 "select error: errno %d \"%s\"", err, std::strerror(err));
  else
    trace_printf(trace::kMain, "main_loop", nullptr, __LINE__, 0, 0, trace::kError, "select error");
  return -1;
}

// Only the management socket is served; with no socket the loop just waits for a signal. The wait has
// no timeout, so the terminating signals are held back until pselect takes them atomically: one that
// arrives just before the wait would otherwise be noticed only at the next datagram.
bool paused_pass() {
  sigset_t held, previous;
  sigemptyset(&held);
  for (int signo : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&held, signo);
  sigprocmask(SIG_BLOCK, &held, &previous);
  if (g_daemon.terminate) {
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return true;
  }
  fd_set r, w, e;
  FD_ZERO(&r);
  FD_ZERO(&w);
  FD_ZERO(&e);
  int nfds = 0;
  if (g_daemon.mgmt_socket >= 0) {
    FD_SET(g_daemon.mgmt_socket, &r);
    nfds = g_daemon.mgmt_socket + 1;
  }
  int rc = checked_select_result(pselect(nfds, &r, &w, &e, nullptr, &previous), &r, &w, &e, false);
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (rc < 0) return false;
  fd_dispatch(&r, &w, &e);
  return true;
}

bool running_pass(uint32_t &last_ms) {
  fd_set r = fds.read_set, w = fds.write_set, e = fds.except_set;
  timeval timeout{0, 1000};
  int rc = checked_select_result(select(fds.highest + 1, &r, &w, &e, &timeout), &r, &w, &e, true);
  if (rc < 0) return false;
  if (rc > 0) fd_dispatch(&r, &w, &e);
  uint32_t now = get_current_time();
  status_led_set(now % 1000 > 499);
  if (now != last_ms) {
    last_ms = now;
    timer_dispatch(now);
    run_hooks(ms_hooks);
  }
  run_hooks(pass_hooks);
  return true;
}

}  // namespace

int main_loop(const char *program) {
  uint32_t last_ms = get_current_time();
  while (!g_daemon.terminate) {
    bool ok = g_daemon.pause ? paused_pass() : running_pass(last_ms);
    if (!ok) return 1;
  }
  trace_printf(trace::kMain, "main_loop", nullptr, __LINE__, 0, 0, trace::kDebug, "%s ended", program);
  return 0;
}
