// The library's console messages: "<source>(<line>) : <text>" on standard output. Formatted by hand
// and written with one write(2): they also come from the report tick in the SIGALRM handler, and
// never interleave mid-line.
#pragma once

namespace vornagent {

void printMessage(const char *source, int line, const char *text);
// "<source>(<line>)" followed by `rest` as it is.
void printTagged(const char *source, int line, const char *rest);
void printText(const char *text);

}  // namespace vornagent
