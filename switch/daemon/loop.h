// The single-threaded main loop of portvisor: process state, the descriptor and timer registries, the
// wrapping millisecond clock and the hooks that modules run on every pass.
#pragma once

#include <sys/select.h>

#include <csignal>
#include <cstdint>

inline constexpr int kFdRegMax = 100;
inline constexpr int kTimerRegMax = 100;
inline constexpr int kDebugFlagWords = 16;
// Event mask bits of fd_reg.
inline constexpr unsigned kFdEventRead = 1, kFdEventWrite = 2, kFdEventExcept = 4;

// Process-wide state shared by the modules, reached through process_state().
struct DaemonState {
  bool daemon_mode = false;
  volatile sig_atomic_t terminate = 0;
  volatile sig_atomic_t pause = 0;
  uint32_t debug_flags[kDebugFlagWords] = {};
  int mgmt_socket = -1;
};
DaemonState &process_state();

using FdCallback = void (*)(int fd, unsigned events);
using TimerCallback = uint32_t (*)(uint32_t now, uint32_t last, uint32_t elapsed);
using PassHook = void (*)();

// Adds (callback non-null) or removes (callback null) a descriptor; returns its entry index or -1.
int fd_reg(FdCallback callback, unsigned events, int fd);
void fd_reg_init();
// Calls each registered callback whose descriptor fired; entries added during the walk wait for the
// next one, entries removed during it are not called.
void fd_dispatch(const fd_set *readable, const fd_set *writable, const fd_set *exceptional);

int timer_reg(TimerCallback callback, uint32_t period_ms);
void timer_reg_init();
void timer_dispatch(uint32_t now);

// Milliseconds from the time of day, truncated to 32 bits (wraps every 49.7 days).
uint32_t get_current_time();

// Work a module runs on every pass of the running loop, or once per new millisecond after the timers.
int loop_pass_hook_reg(PassHook hook);
int loop_ms_hook_reg(PassHook hook);
void loop_hooks_init();

// Runs until the terminate counter is set; returns the process exit status (0, or 1 after a select error).
int main_loop(const char *program);
