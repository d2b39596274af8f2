#include "swc_trace.h"

#include <cstdarg>
#include <cstdio>

swc_trace_context_t swc_trace_context{TRACE_MOD_API_HL, TRACE_DEBUG, "", 0};

void swc_api_trace_printf(const char *format, ...) {
  char text[TRACE_TEXT_SIZE];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  trace_printf(swc_trace_context.module, swc_trace_context.function, nullptr, swc_trace_context.line, 0, 0,
               swc_trace_context.level, "%s", text);
}
