#include "startup.h"

#include "board.h"
#include "loop.h"
#include "modules.h"
#include "trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

const char *env_or(const char *name, const char *fallback) {
  const char *value = std::getenv(name);
  return value && *value ? value : fallback;
}

void print_usage(FILE *out) {
  std::fprintf(out, "Usage: portvisor [options]\n\nOptions:\n");
  std::fprintf(out, "-h or --help                    : Print this help text\n");
  std::fprintf(out, "--daemon                        : Daemonize the application.\n");
  std::fprintf(out, "--trace <module|all> <level>    : Advanced trace options.\n");
  std::fprintf(out, "--debug_trace                   : Enable debug trace.\n");
  std::fprintf(out, "--pause_execution               : Pause all runtime execution.\n\n");
  std::fprintf(out, "Trace modules:");
  for (unsigned m = 0; m < trace::kModuleCount; ++m) std::fprintf(out, " %s", trace_module_name(m));
  std::fprintf(out, "\nTrace levels:");
  for (unsigned l = 0; l < trace::kLevelCount; ++l) std::fprintf(out, " %s", trace_level_name(l));
  std::fprintf(out, "\n");
}

bool contains(const char *arg, const char *word) {
  return std::strstr(arg, word) != nullptr;
}

// Appends text to a fixed buffer without any library call that could take a lock.
size_t append(char *buf, size_t len, const char *text) {
  while (*text) buf[len++] = *text++;
  return len;
}

size_t append_number(char *buf, size_t len, int value) {
  char digits[12];
  int n = 0;
  unsigned v = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  if (value < 0) buf[len++] = '-';
  while (n) buf[len++] = digits[--n];
  return len;
}

// A signal can arrive in the middle of a stdio call, so the handler formats by hand and uses write(2).
void signal_handler(int signo) {
  bool first = process_state().terminate == 0;
  char line[64];
  size_t len = append(line, 0, "\n");
  len = append(line, len, first ? "Terminating" : "Aborting");
  len = append(line, len, " on signal ");
  len = append_number(line, len, signo);
  len = append(line, len, "\n");
  ssize_t ignored = write(STDOUT_FILENO, line, len);
  (void)ignored;
  if (!first) _exit(1);
  process_state().terminate = process_state().terminate + 1;
}

void install_handler(int signo) {
  struct sigaction action {};
  action.sa_handler = signal_handler;
  sigemptyset(&action.sa_mask);
  sigaction(signo, &action, nullptr);
}

void redirect_standard_descriptors() {
  int null_fd = open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2 && null_fd >= 0; ++fd) {
    if (null_fd != fd) dup2(null_fd, fd);
  }
  if (null_fd > 2) close(null_fd);
}

void daemonize() {
  pid_t pid = fork();
  if (pid < 0) std::exit(1);
  if (pid > 0) std::exit(0);
  setsid();
  signal(SIGHUP, SIG_IGN);
  pid = fork();
  if (pid < 0) std::exit(1);
  if (pid > 0) std::exit(0);
  if (chdir("/") < 0) std::exit(1);
  // Files the daemon creates (pid file, switch.conf) must not become writable by everyone.
  umask(022);
  for (int fd = 0; fd < 64; ++fd) close(fd);
  // Later opens (the switch device, sockets) must not land on 0, 1 or 2, where stray output would go.
  redirect_standard_descriptors();
}

// Parses a pid written as "%d"; false for empty, non-numeric or non-positive contents.
bool parse_pid(const char *text, pid_t &pid) {
  char *end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 0);
  if (end == text || errno != 0 || value <= 0 || value > 0x7fffffffL) return false;
  pid = static_cast<pid_t>(value);
  return true;
}

void trace_main(unsigned level, const char *function, int line, const char *text) {
  trace_printf(trace::kMain, function, nullptr, line, 0, 0, level, "%s", text);
}

}  // namespace

const char *workdir_path() {
  return env_or("PORTVISOR_WORKDIR", "/tmp/corvex_g5_vantros");
}

const char *pidfile_path() {
  return env_or("PORTVISOR_PIDFILE", "/var/run/portvisor.pid");
}

OptionResult parse_options(int argc, char **argv, FILE *out) {
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    if (std::strcmp(arg, "-h") == 0 || contains(arg, "-help")) {
      print_usage(out);
      return OptionResult::kExitOk;
    }
    if (contains(arg, "daemon") || contains(arg, "deamon") || contains(arg, "demon"))
      process_state().daemon_mode = true;
    if (contains(arg, "trace") && !contains(arg, "debug")) {
      const char *module = i + 1 < argc ? argv[i + 1] : nullptr;
      const char *level = i + 2 < argc ? argv[i + 2] : nullptr;
      if (!trace_option_apply(module, level)) {
        trace_option_help(out);
        return OptionResult::kExitFail;
      }
      i += 2;
    } else {
      if (contains(arg, "debug_trace")) trace_set_all_levels(trace::kDebug);
      if (contains(arg, "pause") || contains(arg, "suspend")) process_state().pause = 1;
    }
  }
  return OptionResult::kRun;
}

bool test_pid(const char *path, bool &readable) {
  readable = false;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  readable = true;
  char text[31] = {};
  ssize_t n = read(fd, text, 30);
  close(fd);
  pid_t pid = 0;
  // An empty or garbled file (a crash while it was written) names no process: treat it as stale.
  if (n <= 0 || !parse_pid(text, pid) || pid == getpid()) return false;
  return !(kill(pid, 0) < 0 && errno == ESRCH);
}

int app_assert(const char *path) {
  for (;;) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      char text[16];
      int len = std::snprintf(text, sizeof text, "%d", static_cast<int>(getpid()));
      bool written = write(fd, text, static_cast<size_t>(len)) == len;
      close(fd);
      if (!written) {
        trace_main(trace::kError, "app_assert", __LINE__, "Could not write pidfile\n");
        return 1;
      }
      return 0;
    }
    bool readable = false;
    if (test_pid(path, readable)) {
      trace_main(trace::kWarn, "app_assert", __LINE__, "App allready running!\n");
      return 1;
    }
    if (!readable) {
      trace_main(trace::kError, "test_pid", __LINE__, "Could not open pidfile\n");
      return 1;
    }
    if (unlink(path) < 0) {
      trace_main(trace::kError, "app_assert", __LINE__, "Could not delete pidfile\n");
      return 1;
    }
  }
}

void app_supervisor() {
  for (;;) {
    pid_t child = fork();
    if (child < 0) std::exit(1);
    if (child == 0) return;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
      if (errno != EINTR) std::exit(1);
    }
    if (WIFSIGNALED(status)) std::exit(1);
    if (WIFEXITED(status) && WEXITSTATUS(status) != 2) std::exit(WEXITSTATUS(status));
  }
}

int portvisor_main(int argc, char **argv) {
  const char *program = argc > 0 ? argv[0] : "portvisor";
  mkdir(workdir_path(), 0755);
  process_state() = DaemonState{};
  switch (parse_options(argc, argv, stdout)) {
    case OptionResult::kExitOk:
      return 0;
    case OptionResult::kExitFail:
      return 1;
    case OptionResult::kRun:
      break;
  }
  if (process_state().daemon_mode) {
    daemonize();
    app_supervisor();
  } else {
    install_handler(SIGINT);
    install_handler(SIGHUP);
  }
  install_handler(SIGTERM);
  trace_set_daemon_mode(process_state().daemon_mode);
  trace_syslog_open();
  if (app_assert(pidfile_path()) != 0) return 1;
  trace_printf(trace::kMain, "main", nullptr, __LINE__, 0, 0, trace::kDebug, "%s started", program);
  fd_reg_init();
  timer_reg_init();
  loop_hooks_init();
  modules_init();
  status_led_set(1);
  return main_loop(program);
}
