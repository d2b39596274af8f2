#include "win_skin_host.h"

#include <vector>

#include "language.h"
#include "prompts.h"

namespace tunmira {

std::string Win32SkinHost::read_profile_string(const std::string &path, const std::string &section,
                                               const std::string &key, std::size_t capacity) {
  if (capacity == 0) return {};
  std::vector<char> value(capacity, '\0');
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", value.data(),
                                     static_cast<DWORD>(capacity), path.c_str());
  return std::string(value.data(), n);
}

void Win32SkinHost::show_plain_message(const std::string &text) {
  rtwin::message_box_text(nullptr, text, "", MB_OK);
}

std::string Win32SkinHost::program_directory() {
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string module(path, n < sizeof path ? n : 0);
  std::size_t slash = module.rfind('\\');
  return slash == std::string::npos ? std::string() : module.substr(0, slash + 1);
}

bool Win32SkinHost::exists_in_current_directory(const std::string &name) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(name.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

void select_language_file_or_exit(SkinHost &host, LanguageSlots &table, const std::string &section,
                                  const std::string &file) {
  if (!SelectLanguageFile(host, table, section, file)) ExitProcess(1);
}

int MessageBoxLang(HWND owner, const std::string &text, const std::string &caption, UINT type) {
  if (reads_right_to_left(CurrentLanguageFile))
    return rtwin::message_box_text_ex(owner, text, caption, type | MB_RIGHT | MB_RTLREADING,
                                      LANG_SYSTEM_DEFAULT);
  return rtwin::message_box_text(owner, text, caption, type);
}

bool IsWindowsXpSp2() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return false;
  return is_xp_sp2_version(version.dwMajorVersion, version.dwMinorVersion, version.szCSDVersion);
}

}  // namespace tunmira
