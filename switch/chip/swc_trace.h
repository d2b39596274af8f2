// Trace shim of the switch chip layer: every call records where the trace comes from, tests the
// module's level in the daemon's trace facility, and only then formats the text.
#pragma once

#include "trace.h"

struct swc_trace_context_t {
  unsigned module;
  unsigned level;
  const char *function;
  int line;
};

// The context of the trace being written; shared by every layer of the chip API.
extern swc_trace_context_t swc_trace_context;

// Formats the text (cut to the trace facility's line size) and passes it with the stored context on.
void swc_api_trace_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

#define SWC_TRACE_AS(module, level, function, ...)                                    \
  do {                                                                                \
    swc_trace_context = swc_trace_context_t{(module), (level), (function), __LINE__}; \
    if ((level) <= trace_module_level(module)) swc_api_trace_printf(__VA_ARGS__);     \
  } while (0)

#define SWC_TRACE(module, level, ...) SWC_TRACE_AS(module, level, __func__, __VA_ARGS__)
