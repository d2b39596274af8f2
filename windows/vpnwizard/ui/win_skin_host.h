// The wizard's language and skin reading over the real system: private-profile reads, plain message
// boxes through the prompt switch, the program's folder, and the language-aware message box.
#pragma once

#include <windows.h>

#include <string>

#include "language.h"
#include "skin_host.h"

namespace tunmira {

class Win32SkinHost : public SkinHost {
 public:
  std::string read_profile_string(const std::string &path, const std::string &section, const std::string &key,
                                  std::size_t capacity) override;
  void show_plain_message(const std::string &text) override;
  std::string program_directory() override;
  bool exists_in_current_directory(const std::string &name) override;
};

// The start-up's language check: ends the process with exit status 1 (after the message) when the first
// language file is not in the current directory.
void select_language_file_or_exit(SkinHost &host, LanguageSlots &table, const std::string &section,
                                  const std::string &file);

// The wizard's message box: right-aligned and right-to-left for the right-to-left languages.
int MessageBoxLang(HWND owner, const std::string &text, const std::string &caption, UINT type);

// True on Windows XP with Service Pack 2 exactly.
bool IsWindowsXpSp2();

}  // namespace tunmira
