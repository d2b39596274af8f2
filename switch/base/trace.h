// Trace facility of portvisor: every module, the switch API and the protocol engines log through
// vtrace, which filters by module and level and writes one line to standard output (foreground) or to
// the system log (daemon mode).
#pragma once

#include <cstdarg>
#include <cstdio>

// Modules and levels are named in the trace namespace (trace::kL2, trace::kDebug); they stay plain
// unsigned numbers at the calls, which take any number (a module above 16 is never filtered).
namespace trace {

enum Module : unsigned {
  kUnknown,
  kMain,
  kConf,
  kSwup,
  kPort,
  kL2,
  kL3,
  kMgmt,
  kPacket,
  kBoard,
  kApiHl,
  kApiLl,
  kApiIo,
  kLacp,
  kRstp,
  kCablescan,
  kDot1x
};

enum Level : unsigned { kEmerg, kAlert, kCrit, kError, kWarn, kNote, kInfo, kDebug, kNoise };

inline constexpr unsigned kModuleCount = 17;
inline constexpr unsigned kLevelCount = 9;
// One line's text, including an appended " swc_rc=%d", fits in this many bytes (terminator included).
inline constexpr unsigned kTextSize = 200;

}  // namespace trace

// Formats and prints one line unless filtered. With rc_flag set the call reports an API result: nothing
// is printed for rc >= 0, -1 is a warning, any other negative rc an error, and " swc_rc=%d" is appended.
// Returns rc unchanged so callers can trace and test a call's result in one expression.
int trace_printf(unsigned module, const char *function, const char *unit, int line, int rc_flag, int rc,
                 unsigned level, const char *format, ...) __attribute__((format(printf, 8, 9)));
int vtrace(unsigned module, const char *function, const char *unit, int line, int rc_flag, int rc,
           unsigned level, const char *format, va_list args) __attribute__((format(printf, 8, 0)));

// Traces an API call's result `rc` (the call's text, nothing for rc >= 0) and yields rc. The line names
// the calling function and the source file it is in, so a failure leads straight to the call.
#define TRACE_API_RESULT(module, rc, level, text) \
  trace_printf((module), __func__, __FILE_NAME__, __LINE__, 1, (rc), (level), "%s", (text))

// Current level of a module 0..16; trace::kNoise for a number above 16, which is never filtered.
unsigned trace_module_level(unsigned module);

// The protocol engines' call shape: store where the next line comes from, then print it.
void trace_set_context(unsigned level, const char *function, int line, unsigned module);
int trace_context_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Names as the trace lines and the help texts show them; "????" outside the tables.
const char *trace_module_name(unsigned module);
const char *trace_level_name(unsigned level);

// Applies "--trace <module|all> <level>"; false (nothing changed) when either argument is missing or
// names nothing. Matching is by substring, first table entry wins; "all" selects every module.
bool trace_option_apply(const char *module_arg, const char *level_arg);
// The help printed when "--trace" fails.
void trace_option_help(FILE *out);
// "--debug_trace": every module at trace::kDebug.
void trace_set_all_levels(unsigned level);
// Back to the start state: every module at trace::kError, foreground output.
void trace_reset_levels();

// Daemon mode sends lines to the system log instead of standard output.
void trace_set_daemon_mode(bool daemon_mode);
// Opens the system log as "portvisor" (daemon mode only; does nothing in the foreground).
void trace_syslog_open();
