#include "messages.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vornagent {

namespace {

void writeAll(const char *text, std::size_t length) {
  while (length > 0) {
    ssize_t written = write(STDOUT_FILENO, text, length);
    if (written <= 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

}  // namespace

void printMessage(const char *source, int line, const char *text) {
  char buffer[256];
  int length = std::snprintf(buffer, sizeof buffer, "%s(%d) : %s\n", source, line, text);
  if (length > 0) writeAll(buffer, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1));
}

void printText(const char *text) { writeAll(text, std::strlen(text)); }

}  // namespace vornagent
