#include "swc_trace.h"

#include <cstdarg>
#include <cstdio>

void swc_trace_printf(unsigned module, unsigned level, const char *function, int line, const char *format,
                      ...) {
  char text[trace::kTextSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  trace_printf(module, function, nullptr, line, 0, 0, level, "%s", text);
}
