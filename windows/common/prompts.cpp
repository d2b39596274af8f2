#include "prompts.h"

#include <shellapi.h>

#include <cstdio>

namespace rtwin {
namespace {

// The automated answer log, or empty when prompts are shown.
std::string PromptLog() {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("RT_PROMPT_LOG", path, sizeof path);
  return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

void Record(const std::string &log, const char *kind, const std::string &text) {
  std::string line = kind;
  line += '|';
  for (char c : text) {
    if (c == '\n')
      line += "\\n";
    else if (c != '\r')
      line += c;
  }
  line += "\r\n";
  HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int MessageBoxText(HWND owner, const std::string &text, const std::string &caption, UINT type) {
  std::string log = PromptLog();
  if (!log.empty()) {
    Record(log, "message", text);
    return (type & MB_TYPEMASK) == MB_YESNO || (type & MB_TYPEMASK) == MB_YESNOCANCEL ? IDYES : IDOK;
  }
  return MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

bool OpenDocument(HWND owner, const std::string &target) {
  if (target.empty()) return false;
  std::string log = PromptLog();
  if (!log.empty()) {
    Record(log, "open", target);
    return true;
  }
  auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteA(owner, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

}  // namespace rtwin
