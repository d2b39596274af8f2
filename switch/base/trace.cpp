#include "trace.h"

#include <sys/time.h>
#include <syslog.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>

namespace {

struct ModuleEntry {
  unsigned number;
  unsigned level;
  const char *name;
};

struct LevelEntry {
  unsigned level;
  int syslog_priority;
  const char *name;
};

constexpr unsigned kDefaultLevel = trace::kError;

std::array<ModuleEntry, trace::kModuleCount> modules = {{
    {trace::kUnknown, kDefaultLevel, "????"},
    {trace::kMain, kDefaultLevel, "main"},
    {trace::kConf, kDefaultLevel, "conf"},
    {trace::kSwup, kDefaultLevel, "swup"},
    {trace::kPort, kDefaultLevel, "port"},
    {trace::kL2, kDefaultLevel, "l2"},
    {trace::kL3, kDefaultLevel, "l3"},
    {trace::kMgmt, kDefaultLevel, "mgmt"},
    {trace::kPacket, kDefaultLevel, "packet"},
    {trace::kBoard, kDefaultLevel, "board"},
    {trace::kApiHl, kDefaultLevel, "api_hl"},
    {trace::kApiLl, kDefaultLevel, "api_ll"},
    {trace::kApiIo, kDefaultLevel, "api_io"},
    {trace::kLacp, kDefaultLevel, "lacp"},
    {trace::kRstp, kDefaultLevel, "rstp"},
    {trace::kCablescan, kDefaultLevel, "cablescan"},
    {trace::kDot1x, kDefaultLevel, "dot1x"},
}};

// noise goes to the system log as LOG_DEBUG: syslog knows no priority 8.
constexpr std::array<LevelEntry, trace::kLevelCount> kLevels = {{
    {trace::kEmerg, LOG_EMERG, "emerg"},
    {trace::kAlert, LOG_ALERT, "alert"},
    {trace::kCrit, LOG_CRIT, "crit"},
    {trace::kError, LOG_ERR, "error"},
    {trace::kWarn, LOG_WARNING, "warn"},
    {trace::kNote, LOG_NOTICE, "note"},
    {trace::kInfo, LOG_INFO, "info"},
    {trace::kDebug, LOG_DEBUG, "debug"},
    {trace::kNoise, LOG_DEBUG, "noise"},
}};

struct TraceContext {
  unsigned level = trace::kNoise;
  const char *function = "main.c";
  int line = 0;
  unsigned module = trace::kUnknown;
};

TraceContext context;
bool daemon_mode = false;
// Set while vtrace reports its own failing time-of-day call, so that report cannot recurse.
bool reporting_clock_failure = false;

bool filtered(unsigned module, unsigned level) {
  return module < trace::kModuleCount && level > modules[module].level;
}

int syslog_priority(unsigned level) {
  return level < trace::kLevelCount ? kLevels[level].syslog_priority : LOG_DEBUG;
}

// Formats the text, drops trailing newlines and appends the API result, never beyond trace::kTextSize.
void format_text(char (&text)[trace::kTextSize], int rc_flag, int rc, const char *format, va_list args) {
  char suffix[32] = "";
  if (rc_flag) std::snprintf(suffix, sizeof suffix, " swc_rc=%d", rc);
  const size_t room = sizeof text - std::strlen(suffix);
  int n = std::vsnprintf(text, room, format, args);
  size_t len = n < 0 ? 0 : std::min(static_cast<size_t>(n), room - 1);
  text[len] = '\0';
  while (len > 0 && text[len - 1] == '\n') text[--len] = '\0';
  std::memcpy(text + len, suffix, std::strlen(suffix) + 1);
}

timeval time_of_day() {
  timeval tv{};
  int rc = gettimeofday(&tv, nullptr);
  if (rc < 0) {
    tv = timeval{};
    if (!reporting_clock_failure) {
      reporting_clock_failure = true;
      trace_printf(trace::kUnknown, "vtrace", "trace.cpp", __LINE__, 1, rc, trace::kDebug, "%s",
                   "gettimeofday(&tv, NULL)");
      reporting_clock_failure = false;
    }
  }
  return tv;
}

void print_foreground(const char *module_name, const char *function, const char *unit, int line,
                      const char *level_name, const char *text) {
  timeval tv = time_of_day();
  time_t seconds = tv.tv_sec;
  tm local{};
  localtime_r(&seconds, &local);
  char date[32];
  if (std::strftime(date, sizeof date, "%Y/%m/%d %T", &local) == 0) std::strcpy(date, "????");
  unsigned long ms = static_cast<unsigned long>(tv.tv_usec) / 1000;
  if (unit)
    std::printf("%s.%03lu portvisor/%s(%s %d)/%s: %s\n", date, ms, function, unit, line, level_name, text);
  else
    std::printf("%s.%03lu portvisor/%s/%s(%d)/%s: %s\n", date, ms, module_name, function, line, level_name,
                text);
  std::fflush(stdout);
}

void print_syslog(unsigned level, const char *module_name, const char *function, const char *unit, int line,
                  const char *level_name, const char *text) {
  if (unit)
    syslog(syslog_priority(level), "%s(%s %d)/%s: %s\n", function, unit, line, level_name, text);
  else
    syslog(syslog_priority(level), "%s/%s(%d)/%s: %s\n", module_name, function, line, level_name, text);
}

}  // namespace

const char *trace_module_name(unsigned module) {
  return module < trace::kModuleCount ? modules[module].name : "????";
}

const char *trace_level_name(unsigned level) {
  return level < trace::kLevelCount ? kLevels[level].name : "????";
}

unsigned trace_module_level(unsigned module) {
  return module < trace::kModuleCount ? modules[module].level : trace::kNoise;
}

int vtrace(unsigned module, const char *function, const char *unit, int line, int rc_flag, int rc,
           unsigned level, const char *format, va_list args) {
  if (rc_flag) {
    if (rc >= 0) return rc;
    level = rc == -1 ? trace::kWarn : trace::kError;
  }
  if (filtered(module, level)) return rc;
  char text[trace::kTextSize];
  format_text(text, rc_flag, rc, format, args);
  if (!function) function = "????";
  if (daemon_mode)
    print_syslog(level, trace_module_name(module), function, unit, line, trace_level_name(level), text);
  else
    print_foreground(trace_module_name(module), function, unit, line, trace_level_name(level), text);
  return rc;
}

int trace_printf(unsigned module, const char *function, const char *unit, int line, int rc_flag, int rc,
                 unsigned level, const char *format, ...) {
  va_list args;
  va_start(args, format);
  rc = vtrace(module, function, unit, line, rc_flag, rc, level, format, args);
  va_end(args);
  return rc;
}

void trace_set_context(unsigned level, const char *function, int line, unsigned module) {
  context = TraceContext{level, function, line, module};
}

int trace_context_printf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  int rc = vtrace(context.module, context.function, nullptr, context.line, 0, 0, context.level, format, args);
  va_end(args);
  return rc;
}

namespace {

bool find_module(const char *arg, unsigned &module) {
  if (!arg) return false;
  for (const ModuleEntry &entry : modules) {
    if (std::strstr(arg, entry.name) || std::strstr(arg, "all")) {
      module = entry.number;
      return true;
    }
  }
  return false;
}

bool find_level(const char *arg, unsigned &level) {
  if (!arg) return false;
  for (const LevelEntry &entry : kLevels) {
    if (std::strstr(arg, entry.name)) {
      level = entry.level;
      return true;
    }
  }
  return false;
}

}  // namespace

bool trace_option_apply(const char *module_arg, const char *level_arg) {
  unsigned module = 0;
  unsigned level = 0;
  if (!find_module(module_arg, module) || !find_level(level_arg, level)) return false;
  for (ModuleEntry &entry : modules) {
    if (module == trace::kUnknown || entry.number == module) entry.level = level;
  }
  return true;
}

void trace_option_help(FILE *out) {
  std::fprintf(out, "Trace option: --trace <module> <level>\n\n");
  std::fprintf(out, "Trace modules:\n");
  for (const ModuleEntry &entry : modules)
    std::fprintf(out, "%s\n", entry.number == trace::kUnknown ? "all" : entry.name);
  std::fprintf(out, "\nTrace levels:\n");
  for (const LevelEntry &entry : kLevels) std::fprintf(out, "%s\n", entry.name);
}

void trace_set_all_levels(unsigned level) {
  for (ModuleEntry &entry : modules) entry.level = level;
}

void trace_reset_levels() {
  trace_set_all_levels(kDefaultLevel);
  daemon_mode = false;
}

void trace_set_daemon_mode(bool on) {
  daemon_mode = on;
}

void trace_syslog_open() {
  if (daemon_mode) openlog("portvisor", LOG_CONS, LOG_USER);
}
