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
  std::string ReadProfileString(const std::string &path, const std::string &section, const std::string &key,
                                std::size_t capacity) override;
  void ShowPlainMessage(const std::string &text) override;
  std::string ProgramDirectory() override;
  bool ExistsInCurrentDirectory(const std::string &name) override;
};

// The start-up's language check: ends the process with exit status 1 (after the message) when the first
// language file is not in the current directory.
void SelectLanguageFileOrExit(SkinHost &host, LanguageSlots &table, const std::string &section,
                              const std::string &file);

// The wizard's message box: right-aligned and right-to-left for the right-to-left languages.
int MessageBoxLang(HWND owner, const std::string &text, const std::string &caption, UINT type);

// True on Windows XP with Service Pack 2 exactly.
bool IsWindowsXpSp2();

}  // namespace tunmira
