#include "port_services.h"

#include "trace.h"

namespace proto {

void PortServices::trace(unsigned module, unsigned level, const char *function, int line, const char *text) {
  trace_set_context(level, function, line, module);
  trace_context_printf("%s", text);
}

}  // namespace proto
