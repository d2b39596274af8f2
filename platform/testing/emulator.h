// How tests start the build's own programs. A build for another processor runs its tests under an
// emulator, and the programs they start must run under it too: the test environment names it in
// RT_EMULATOR (for instance "/usr/bin/qemu-arm -L <root>"), whose words go in front of every such command
// line. Unset or empty, command lines stay as they are.
#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace rt_testing {

inline std::vector<std::string> emulator_words() {
  std::vector<std::string> words;
  const char *emulator = std::getenv("RT_EMULATOR");
  std::istringstream in(emulator ? emulator : "");
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// argv for execv: the emulator's words, then the program and its arguments.
inline std::vector<std::string> emulated_argv(const std::vector<std::string> &argv) {
  std::vector<std::string> words = emulator_words();
  words.insert(words.end(), argv.begin(), argv.end());
  return words;
}

// A shell command line (popen, system) whose first word is one of the build's programs.
inline std::string emulated_command(const std::string &command_line) {
  std::string line;
  for (const std::string &word : emulator_words()) line += word + " ";
  return line + command_line;
}

}  // namespace rt_testing
