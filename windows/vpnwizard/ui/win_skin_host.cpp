#include "win_skin_host.h"

#include <vector>

#include "language.h"
#include "prompts.h"

namespace tunmira {

std::string Win32SkinHost::ReadProfileString(const std::string &path, const std::string &section,
                                             const std::string &key, std::size_t capacity) {
  if (capacity == 0) return {};
  std::vector<char> value(capacity, '\0');
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", value.data(),
                                     static_cast<DWORD>(capacity), path.c_str());
  return std::string(value.data(), n);
}

void Win32SkinHost::ShowPlainMessage(const std::string &text) {
  rtwin::MessageBoxText(nullptr, text, "", MB_OK);
}

std::string Win32SkinHost::ProgramDirectory() {
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string module(path, n < sizeof path ? n : 0);
  std::size_t slash = module.rfind('\\');
  return slash == std::string::npos ? std::string() : module.substr(0, slash + 1);
}

bool Win32SkinHost::ExistsInCurrentDirectory(const std::string &name) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(name.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

void SelectLanguageFileOrExit(SkinHost &host, LanguageSlots &table, const std::string &section,
                              const std::string &file) {
  if (!SelectLanguageFile(host, table, section, file)) ExitProcess(1);
}

int MessageBoxLang(HWND owner, const std::string &text, const std::string &caption, UINT type) {
  if (ReadsRightToLeft(CurrentLanguageFile))
    return rtwin::MessageBoxTextEx(owner, text, caption, type | MB_RIGHT | MB_RTLREADING,
                                   LANG_SYSTEM_DEFAULT);
  return rtwin::MessageBoxText(owner, text, caption, type);
}

bool IsWindowsXpSp2() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return false;
  return IsXpSp2Version(version.dwMajorVersion, version.dwMinorVersion, version.szCSDVersion);
}

}  // namespace tunmira
