// What the engine and the aggregation module share: the assertion that stops the daemon on a caller's
// broken port or aggregator number, and trace lines formatted before they reach a host.
#pragma once

#include <cstdarg>

namespace lacp {

// Traces the failed expression at emerg under the module and ends the process.
[[noreturn]] void assertion_failed(unsigned module, const char *expression, const char *function);

// Formats one trace line into `text` unless the module's level filters it out; false when filtered.
bool format_trace_line(unsigned module, unsigned level, char *text, unsigned size, const char *format,
                       va_list args) __attribute__((format(printf, 5, 0)));

}  // namespace lacp

#define LACP_ASSERT_IN(module, cond)                                \
  do {                                                              \
    if (!(cond)) ::lacp::assertion_failed(module, #cond, __func__); \
  } while (0)

#define LACP_TRACE(level, ...) trace(level, __func__, __LINE__, __VA_ARGS__)
