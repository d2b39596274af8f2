#include "win_platform.h"

#include <windows.h>

#include <memory>

namespace dravik {
namespace {

constexpr const char *kInterfacesKey = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";
constexpr DWORD kPollMs = 50;

struct HandleCloser {
  void operator()(HANDLE h) const { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct KeyCloser {
  void operator()(HKEY k) const { RegCloseKey(k); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

Key open_key(const std::string &path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return nullptr;
  return Key(key);
}

Key open_interface(const std::string &iface) {
  return open_key(std::string(kInterfacesKey) + "\\" + iface);
}

// A Windows directory from its command form: doubled backslashes made single.
std::string plain_directory(const std::string &command_form) {
  std::string dir;
  for (char c : command_form)
    if (c != '\\' || dir.empty() || dir.back() != '\\') dir += c;
  return dir;
}

// Splits REG_MULTI_SZ data (strings ended by NUL, the list by an empty one); data that lacks its
// terminators still ends at the buffer's end.
std::vector<std::string> multi_strings(const std::string &data) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find('\0', start);
    if (end == std::string::npos) end = data.size();
    if (end == start) break;
    parts.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::optional<std::vector<std::string>> WinRegistry::interfaces() {
  Key key = open_key(kInterfacesKey);
  if (!key) return std::nullopt;
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD length = sizeof name;
    LONG rc = RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_SUCCESS) names.emplace_back(name, length);
  }
  return names;
}

std::optional<RegistryValue> WinRegistry::read(const std::string &iface, const std::string &name) {
  Key key = open_interface(iface);
  if (!key) return std::nullopt;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::string data(size, '\0');
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(data.data()),
                       &size) != ERROR_SUCCESS)
    return std::nullopt;
  data.resize(size);
  RegistryValue value;
  if (type == REG_SZ) {
    value.kind = RegistryValue::Kind::kString;
    value.strings.push_back(data.substr(0, data.find('\0')));  // stored data may lack its NUL
  } else if (type == REG_MULTI_SZ) {
    value.kind = RegistryValue::Kind::kMultiString;
    value.strings = multi_strings(data);
  }
  return value;
}

bool WinRegistry::write_string(const std::string &iface, const std::string &name, const std::string &value) {
  Key key = open_interface(iface);
  // The stored size counts the terminating NUL, or readers get an unterminated string.
  return key &&
         RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool WinRegistry::remove(const std::string &iface, const std::string &name) {
  Key key = open_interface(iface);
  return key && RegDeleteValueA(key.get(), name.c_str()) == ERROR_SUCCESS;
}

RunOutcome WinPlatform::run_program(const std::string &command_line, const std::string &directory,
                                    Duration limit, const RunControl *control) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = command_line;  // CreateProcessA may write into it
  std::string dir = plain_directory(directory);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      dir.empty() ? nullptr : dir.c_str(), &startup, &info))
    return RunOutcome::kNotStarted;
  Handle process(info.hProcess);
  Handle thread(info.hThread);
  const ULONGLONG start = GetTickCount64();
  while (WaitForSingleObject(process.get(), kPollMs) == WAIT_TIMEOUT) {
    bool expired = limit != kNoLimit && GetTickCount64() - start >= static_cast<ULONGLONG>(limit.count());
    if (expired || (control && control->cancelled)) {
      // The program's files are read only after it has really gone.
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), INFINITE);
      return RunOutcome::kEnded;
    }
  }
  return RunOutcome::kFinished;
}

std::string WinPlatform::current_directory() {
  DWORD size = GetCurrentDirectoryA(0, nullptr);
  std::string dir(size, '\0');
  dir.resize(GetCurrentDirectoryA(size, dir.data()));
  return dir;
}

bool WinPlatform::set_current_directory(const std::string &directory) {
  return SetCurrentDirectoryA(directory.c_str()) != FALSE;
}

void WinPlatform::set_window_text(void *window, const std::string &text) {
  if (window) SetWindowTextA(static_cast<HWND>(window), text.c_str());
}

bool WinPlatform::wait_for(std::future<void> &done, Duration limit) {
  return done.wait_for(limit) == std::future_status::ready;
}

}  // namespace dravik
