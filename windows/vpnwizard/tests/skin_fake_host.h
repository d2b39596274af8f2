// A system for the language and skin readers made of in-memory ini files, a recorded message list and a
// chosen current directory.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "profile_text.h"
#include "skin_host.h"

namespace tunmira::testing {

class FakeSkinHost : public SkinHost {
 public:
  static constexpr const char *kProgramDirectory = "C:\\Program Files\\Tunmira\\";

  void put_file(const std::string &name, const std::string &text) { files[kProgramDirectory + name] = text; }

  std::string read_profile_string(const std::string &path, const std::string &section, const std::string &key,
                                  std::size_t capacity) override {
    ++reads;
    auto file = files.find(path);
    return file == files.end() ? std::string() : read_profile_value(file->second, section, key, capacity);
  }
  void show_plain_message(const std::string &text) override { messages.push_back(text); }
  std::string program_directory() override { return kProgramDirectory; }
  bool exists_in_current_directory(const std::string &name) override {
    return current_directory.count(name) != 0;
  }

  std::map<std::string, std::string> files;
  std::set<std::string> current_directory;
  std::vector<std::string> messages;
  int reads = 0;
};

}  // namespace tunmira::testing
