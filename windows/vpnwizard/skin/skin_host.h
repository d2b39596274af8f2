// What the language and skin readers need from the system: profile reads, plain message boxes, the
// program's folder and the current directory. The Windows side implements it over the real calls;
// tests implement it over files and a recorded message list.
#pragma once

#include <cstddef>
#include <string>

namespace tunmira {

class SkinHost {
 public:
  virtual ~SkinHost() = default;
  // One private-profile read with an empty default into a buffer of `capacity` bytes (so at most
  // capacity - 1 characters come back).
  virtual std::string read_profile_string(const std::string &path, const std::string &section,
                                          const std::string &key, std::size_t capacity) = 0;
  // A plain message box with an OK button and no caption.
  virtual void show_plain_message(const std::string &text) = 0;
  // The folder of the running program, up to and including its last backslash.
  virtual std::string program_directory() = 0;
  // True when a file of this name (no directory) exists in the current directory.
  virtual bool exists_in_current_directory(const std::string &name) = 0;
};

}  // namespace tunmira
