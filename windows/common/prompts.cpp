#include "prompts.h"

#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>

namespace rtwin {
namespace {

std::string environment(const char *name) {
  char value[MAX_PATH];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// The automated answer log, or empty when prompts are shown.
std::string prompt_log() {
  return environment("RT_PROMPT_LOG");
}

int scripted_answer(UINT type) {
  UINT buttons = type & MB_TYPEMASK;
  if (buttons != MB_YESNO && buttons != MB_YESNOCANCEL) return IDOK;
  return environment("RT_PROMPT_ANSWER") == "no" ? IDNO : IDYES;
}

void record(const std::string &log, const char *kind, const std::string &text) {
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

int message_box_text(HWND owner, const std::string &text, const std::string &caption, UINT type) {
  std::string log = prompt_log();
  if (!log.empty()) {
    record(log, "message", text);
    return scripted_answer(type);
  }
  return MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

int message_box_text_ex(HWND owner, const std::string &text, const std::string &caption, UINT type,
                        WORD language) {
  std::string log = prompt_log();
  if (!log.empty()) {
    record(log, (type & MB_RTLREADING) ? "message-rtl" : "message", text);
    return scripted_answer(type);
  }
  return MessageBoxExA(owner, text.c_str(), caption.c_str(), type, language);
}

std::optional<std::string> ask_save_file_name(HWND owner, const std::string &suggested_name,
                                              const std::string &filter,
                                              const std::string &default_extension) {
  std::string log = prompt_log();
  if (!log.empty()) {
    record(log, "save", suggested_name);
    std::string answer = environment("RT_PROMPT_SAVE_AS");
    if (answer.empty()) return std::nullopt;
    return answer;
  }
  std::string filters = filter;
  for (char &c : filters)
    if (c == '|') c = '\0';
  filters.push_back('\0');
  char path[MAX_PATH] = {};
  suggested_name.copy(path, sizeof path - 1);
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filters.c_str();
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof path;
  dialog.lpstrDefExt = default_extension.empty() ? nullptr : default_extension.c_str();
  dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (!GetSaveFileNameA(&dialog)) return std::nullopt;
  return std::string(path);
}

bool open_document(HWND owner, const std::string &target) {
  if (target.empty()) return false;
  std::string log = prompt_log();
  if (!log.empty()) {
    record(log, "open", target);
    return true;
  }
  auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteA(owner, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

}  // namespace rtwin
