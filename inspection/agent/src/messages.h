// The library's console messages: "<source>(<line>) : <text>" on standard output. Written with one
// write(2) so that they can also come from the alarm handler and never interleave mid-line.
#pragma once

namespace vornagent {

void printMessage(const char *source, int line, const char *text);
void printText(const char *text);

}  // namespace vornagent
