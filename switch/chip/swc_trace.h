// Trace shim of the switch chip layer: every call tests the module's level in the daemon's trace
// facility, and only then formats the text, with where the trace comes from.
#pragma once

#include "trace.h"

// Formats the text (cut to the trace facility's line size) and passes it on with its origin.
void swc_trace_printf(unsigned module, unsigned level, const char *function, int line, const char *format,
                      ...) __attribute__((format(printf, 5, 6)));

// A trace under a given function name (a helper tracing for the request that called it).
#define SWC_TRACE_AS(module, level, function, ...)                            \
  do {                                                                        \
    if ((level) <= trace_module_level(module))                                \
      swc_trace_printf((module), (level), (function), __LINE__, __VA_ARGS__); \
  } while (0)

#define SWC_TRACE(module, level, ...) SWC_TRACE_AS(module, level, __func__, __VA_ARGS__)

// The trace of each module of the chip layer, declared once here.
// The API, its state-keeping requests and the PHY layer.
#define SWC_HL_TRACE(level, ...) SWC_TRACE(trace::kApiHl, level, __VA_ARGS__)
// The low-level and chip family layers.
#define SWC_LL_TRACE(level, ...) SWC_TRACE(trace::kApiLl, level, __VA_ARGS__)
// Register and PHY I/O.
#define SWC_IO_TRACE(level, ...) SWC_TRACE(trace::kApiIo, level, __VA_ARGS__)
// CableScan cable diagnostics.
#define SWC_CS_TRACE(level, ...) SWC_TRACE(trace::kCablescan, level, __VA_ARGS__)
