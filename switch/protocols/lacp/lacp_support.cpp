#include "lacp_support.h"

#include "trace.h"

#include <cstdio>
#include <cstdlib>

namespace lacp {

void assertion_failed(unsigned module, const char *expression, const char *function) {
  trace_printf(module, function, nullptr, 0, 0, 0, trace::kEmerg, "Assertion failed: %s", expression);
  std::abort();
}

bool format_trace_line(unsigned module, unsigned level, char *text, unsigned size, const char *format,
                       va_list args) {
  if (level > trace_module_level(module)) return false;
  std::vsnprintf(text, size, format, args);
  return true;
}

}  // namespace lacp
