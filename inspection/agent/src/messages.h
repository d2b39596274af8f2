// The library's console messages: "<source>(<line>) : <text>" on standard output. Formatted by hand
// and written with one write(2): they also come from the report tick in the SIGALRM handler, and
// never interleave mid-line.
#pragma once

namespace vornagent {

void print_message(const char *source, int line, const char *text);
// "<source>(<line>)" followed by `rest` as it is.
void print_tagged(const char *source, int line, const char *rest);
void print_text(const char *text);

}  // namespace vornagent
