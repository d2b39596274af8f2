#pragma once
// The stand-in tools' record of their calls: one line per call, "<tool>|<arg>|<arg>..." (arguments as
// the program received them), appended to the file RW_TOOL_JOURNAL names; nothing when it is unset.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Arguments are taken literally: no wildcard expansion by the C runtime.
extern "C" int _dowildcard;

namespace wintools {

inline void journal(const std::string &tool, const std::vector<std::string> &args,
                    const std::string &note = {}) {
  const char *path = std::getenv("RW_TOOL_JOURNAL");
  if (!path || !*path) return;
  std::string line = tool;
  for (const std::string &a : args) line += "|" + a;
  if (!note.empty()) line += "|=> " + note;
  if (std::FILE *f = std::fopen(path, "ab")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

inline std::vector<std::string> arguments(int argc, char **argv) {
  return {argv + 1, argv + argc};
}

}  // namespace wintools
