// The single-threaded main loop of portvisor: process state, the descriptor and timer registries, the
// wrapping millisecond clock and the hooks that modules run on every pass.
#pragma once

#include <sys/select.h>

#include <csignal>
#include <cstdint>

inline constexpr int FD_REG_MAX = 100;
inline constexpr int TIMER_REG_MAX = 100;
inline constexpr int DEBUG_FLAG_WORDS = 16;
// Event mask bits of fd_reg.
inline constexpr unsigned FD_EVENT_READ = 1, FD_EVENT_WRITE = 2, FD_EVENT_EXCEPT = 4;

// Process-wide state shared by the modules, reached through process_state().
struct daemon_state {
  bool daemon_mode = false;
  volatile sig_atomic_t terminate = 0;
  volatile sig_atomic_t pause = 0;
  uint32_t debug_flags[DEBUG_FLAG_WORDS] = {};
  int mgmt_socket = -1;
};
daemon_state &process_state();

using fd_callback = void (*)(int fd, unsigned events);
using timer_callback = uint32_t (*)(uint32_t now, uint32_t last, uint32_t elapsed);
using pass_hook = void (*)();

// Adds (callback non-null) or removes (callback null) a descriptor; returns its entry index or -1.
int fd_reg(fd_callback callback, unsigned events, int fd);
void fd_reg_init();
// Calls each registered callback whose descriptor fired; entries added during the walk wait for the
// next one, entries removed during it are not called.
void fd_dispatch(const fd_set *readable, const fd_set *writable, const fd_set *exceptional);

int timer_reg(timer_callback callback, uint32_t period_ms);
void timer_reg_init();
void timer_dispatch(uint32_t now);

// Milliseconds from the time of day, truncated to 32 bits (wraps every 49.7 days).
uint32_t get_current_time();

// Work a module runs on every pass of the running loop, or once per new millisecond after the timers.
int loop_pass_hook_reg(pass_hook hook);
int loop_ms_hook_reg(pass_hook hook);
void loop_hooks_init();

// Runs until the terminate counter is set; returns the process exit status (0, or 1 after a select error).
int main_loop(const char *program);
