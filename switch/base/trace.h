// Trace facility of portvisor: every module, the switch API and the protocol engines log through
// vtrace, which filters by module and level and writes one line to standard output (foreground) or to
// the system log (daemon mode).
#pragma once

#include <cstdarg>
#include <cstdio>

enum trace_module : unsigned {
  TRACE_MOD_UNKNOWN,
  TRACE_MOD_MAIN,
  TRACE_MOD_CONF,
  TRACE_MOD_SWUP,
  TRACE_MOD_PORT,
  TRACE_MOD_L2,
  TRACE_MOD_L3,
  TRACE_MOD_MGMT,
  TRACE_MOD_PACKET,
  TRACE_MOD_BOARD,
  TRACE_MOD_API_HL,
  TRACE_MOD_API_LL,
  TRACE_MOD_API_IO,
  TRACE_MOD_LACP,
  TRACE_MOD_RSTP,
  TRACE_MOD_CABLESCAN,
  TRACE_MOD_DOT1X
};

enum trace_level : unsigned {
  TRACE_EMERG,
  TRACE_ALERT,
  TRACE_CRIT,
  TRACE_ERROR,
  TRACE_WARN,
  TRACE_NOTE,
  TRACE_INFO,
  TRACE_DEBUG,
  TRACE_NOISE
};

inline constexpr unsigned TRACE_MODULE_COUNT = 17;
inline constexpr unsigned TRACE_LEVEL_COUNT = 9;
// One line's text, including an appended " swc_rc=%d", fits in this many bytes (terminator included).
inline constexpr unsigned TRACE_TEXT_SIZE = 200;

// Formats and prints one line unless filtered. With rc_flag set the call reports an API result: nothing
// is printed for rc >= 0, -1 is a warning, any other negative rc an error, and " swc_rc=%d" is appended.
// Returns rc unchanged so callers can trace and test a call's result in one expression.
int trace_printf(unsigned module, const char *function, const char *unit, int line, int rc_flag, int rc,
                 unsigned level, const char *format, ...) __attribute__((format(printf, 8, 9)));
int vtrace(unsigned module, const char *function, const char *unit, int line, int rc_flag, int rc,
           unsigned level, const char *format, va_list args) __attribute__((format(printf, 8, 0)));

// Current level of a module 0..16; TRACE_NOISE for a number above 16, which is never filtered.
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
// "--debug_trace": every module at TRACE_DEBUG.
void trace_set_all_levels(unsigned level);
// Back to the start state: every module at TRACE_ERROR, foreground output.
void trace_reset_levels();

// Daemon mode sends lines to the system log instead of standard output.
void trace_set_daemon_mode(bool daemon_mode);
// Opens the system log as "portvisor" (daemon mode only; does nothing in the foreground).
void trace_syslog_open();
