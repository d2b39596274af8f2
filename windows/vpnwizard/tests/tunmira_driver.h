// Drives the real Tunmira.exe under wine as a user would (button commands, clicks on the page's choices,
// characters typed into its fields) and starts the router doubles it talks to. The wizard's message
// dialogs are answered through the prompt log; pictures of the pages land in the build tree.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "router_double_client.h"
#include "wine_support.h"

namespace tunmira::test {

constexpr char kCaption[] = "HBX7300NQ VPN wizard";
constexpr char kRouter1Address[] = "127.88.0.2";
constexpr char kRouter2Address[] = "127.88.0.3";
constexpr char kRouterPort[] = "8080";

// Bar of the main dialog.
constexpr int kNext = 1029, kBack = 1003, kExit = 2557, kGo = 1031, kTesting = 2869;
// Pages' own items.
constexpr int kStart = 1203, kChoiceLocal = 1207, kChoiceInternet = 1208, kWelcome30Label1 = 1201;
// The router entry page.
constexpr int kRouter1User = 1100, kRouter1Password = 1101, kRouter2User = 1102, kRouter2Password = 1103;
constexpr int kTunnelName = 1104, kPresharedKey = 1105, kRouter1Octet1 = 1110, kRouter2Octet1 = 1120;
constexpr int kErrorLabel1 = 1150;
// The progress dialog's first picture.
constexpr int kProgressFrame = 1235;

inline bool wait_for(const std::function<bool()> &done, DWORD timeout_ms) {
  for (DWORD waited = 0; waited < timeout_ms; waited += 50) {
    if (done()) return true;
    ::Sleep(50);
  }
  return done();
}

inline std::string env(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

inline std::string windows_path(std::string unix) {
  for (char &c : unix) {
    if (c == '/') c = '\\';
  }
  return "Z:" + unix;
}

inline std::string window_text(HWND window) {
  char text[1024] = {};
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                        &copied);
  return text;
}

// A value of the language file beside the program, as the program reads it.
inline std::string language_text(const char *section, const char *key) {
  const std::string exe = env("TUNMIRA_EXE");
  const std::string ini = windows_path(exe.substr(0, exe.rfind('/')) + "/English.ini");
  char text[512] = {};
  ::GetPrivateProfileStringA(section, key, "", text, sizeof(text), ini.c_str());
  return text;
}

inline std::string golden(const char *name) {
  return test::read_host_file(env("TUNMIRA_GOLDEN_DIR") + "/" + name);
}

// Writes what the screen shows of a window as a 24-bit .bmp file.
inline void save_window_picture(HWND window, const std::string &path) {
  RECT rect;
  ::GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void *bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  ::GdiFlush();
  const DWORD image_size = ((static_cast<DWORD>(width) * 3 + 3) & ~3u) * static_cast<DWORD>(height);
  const DWORD headers = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  BITMAPFILEHEADER file{0x4D42, headers + image_size, 0, 0, headers};
  if (HANDLE out = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      out != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(out, &file, sizeof(file), &written, nullptr);
    ::WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr);
    ::WriteFile(out, bits, image_size, &written, nullptr);
    ::CloseHandle(out);
  }
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
}

// The captions of the shown top-level windows, for failure messages.
inline std::string shown_windows() {
  std::string captions;
  ::EnumWindows(
      [](HWND window, LPARAM result) -> BOOL {
        if (::IsWindowVisible(window))
          *reinterpret_cast<std::string *>(result) += "[" + window_text(window) + "] ";
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&captions));
  return captions;
}

// A shown top-level window of the program that has the item, or nullptr.
inline HWND shown_window_with(int item_id) {
  struct Search {
    int item_id;
    HWND found;
  } search{item_id, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto *search = reinterpret_cast<Search *>(param);
        if (::IsWindowVisible(window) && ::GetDlgItem(window, search->item_id) != nullptr) {
          search->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A shown progress dialog of the program, or nullptr.
inline HWND progress_dialog() {
  return shown_window_with(kProgressFrame);
}

inline std::vector<LoggedRequest> posts(const RouterDouble &router) {
  std::vector<LoggedRequest> posts;
  for (LoggedRequest &request : router.requests()) {
    if (request.method == "POST") posts.push_back(std::move(request));
  }
  return posts;
}

inline std::vector<std::string> paths(const RouterDouble &router) {
  std::vector<std::string> paths;
  for (const LoggedRequest &request : router.requests()) paths.push_back(request.method + " " + request.path);
  return paths;
}

// One router double where the wizard looks for a router given by its address.
inline std::unique_ptr<RouterDouble> start_router(const std::string &address, const char *password,
                                                  const char *lan, const char *mask,
                                                  std::vector<std::string> more) {
  std::vector<std::string> options = {"--port", kRouterPort, "--wan", address,  "--password",
                                      password, "--lan",     lan,     "--mask", mask};
  options.insert(options.end(), more.begin(), more.end());
  return std::make_unique<RouterDouble>(address, options);
}

inline std::unique_ptr<RouterDouble> start_router1(const std::string &address,
                                                   std::vector<std::string> more = {},
                                                   const char *password = "secret1") {
  return start_router(address, password, "192.168.1.1", "255.255.255.0", std::move(more));
}

inline std::unique_ptr<RouterDouble> start_router2(const std::string &address,
                                                   std::vector<std::string> more = {}) {
  return start_router(address, "secret2", "192.168.2.1", "255.255.0.0", std::move(more));
}

// A loopback address no router of this run has used: a double that was stopped may still hold its port
// for a moment. The tunnel of the golden forms alone uses kRouter1Address and kRouter2Address.
inline std::string fresh_address() {
  static int last = 9;
  return "127.88.1." + std::to_string(++last);
}

class TunmiraExe {
 public:
  TunmiraExe() {
    const std::string exe = env("TUNMIRA_EXE");
    prompts_ = windows_path("/tmp/tunmira-e2e-" + std::to_string(::GetCurrentProcessId()) + "-" +
                            std::to_string(::GetTickCount64()) + ".txt");
    ::SetEnvironmentVariableA("RT_PROMPT_LOG", prompts_.c_str());
    std::string command = "\"" + windows_path(exe) + "\"";
    const std::string folder = windows_path(exe.substr(0, exe.rfind('/')));
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!exe.empty() && ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                         folder.c_str(), &startup, &process)) {
      ::CloseHandle(process.hThread);
      process_ = process.hProcess;
    }
  }
  ~TunmiraExe() {
    if (process_ != nullptr) {
      if (::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) ::TerminateProcess(process_, 99);
      ::CloseHandle(process_);
    }
    ::DeleteFileA(prompts_.c_str());
  }

  bool wait_for_window() {
    return wait_for(
        [&] { return (main_ = ::FindWindowA(nullptr, kCaption)) != nullptr && ::IsWindowVisible(main_); },
        30000);
  }
  void command(int id) const { ::PostMessageA(main_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  bool bar_item_visible(int id) const { return ::IsWindowVisible(::GetDlgItem(main_, id)) != FALSE; }
  // The one visible page, or nullptr.
  HWND page() const {
    HWND found = nullptr;
    int count = 0;
    for (HWND child = ::GetWindow(main_, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      char kind[32] = {};
      ::GetClassNameA(child, kind, sizeof(kind));
      if (std::string(kind) == "#32770" && ::IsWindowVisible(child)) {
        found = child;
        ++count;
      }
    }
    return count == 1 ? found : nullptr;
  }
  // The shown page, told by an item only that page has.
  std::string page_shown() const {
    HWND shown = page();
    if (shown == nullptr) return "none";
    const std::pair<int, const char *> marks[] = {{1203, "Welcome00"},
                                                  {1204, "Welcome01"},
                                                  {1207, "Welcome10"},
                                                  {1104, "PageRemote"},
                                                  {1210, "Welcome16"},
                                                  {1030, "CdStart"},
                                                  {kWelcome30Label1, "Welcome30"}};
    for (auto [id, name] : marks) {
      if (::GetDlgItem(shown, id) != nullptr) return name;
    }
    return "?";
  }
  bool wait_for_page(const std::string &name, DWORD timeout_ms = 10000) const {
    return wait_for([&] { return page_shown() == name; }, timeout_ms);
  }
  // Clicks an item of the shown page as the mouse would.
  void click(int id) const { ::SendMessageA(::GetDlgItem(page(), id), BM_CLICK, 0, 0); }
  // Empties a field of the shown page and types text into it.
  void type(int id, const std::string &text) const {
    HWND field = ::GetDlgItem(page(), id);
    ::SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    for (char c : text) ::SendMessageA(field, WM_CHAR, static_cast<unsigned char>(c), 1);
  }
  void type_octets(int first_id, const std::string &address) const {
    std::string rest = address;
    for (int i = 0; i < 4; ++i) {
      const std::size_t dot = rest.find('.');
      type(first_id + i, rest.substr(0, dot));
      rest = dot == std::string::npos ? "" : rest.substr(dot + 1);
    }
  }
  std::string item_text(int id) const { return window_text(::GetDlgItem(page(), id)); }
  bool item_visible(int id) const { return ::IsWindowVisible(::GetDlgItem(page(), id)) != FALSE; }
  // Waits until the user-interface thread answers again (it waits while a worker ends).
  bool responds() const {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutA(main_, WM_NULL, 0, 0, SMTO_BLOCK, 60000, &ignored) != 0;
  }
  // Milliseconds until the user-interface thread answered, or nothing when it did not within limit_ms.
  std::optional<ULONGLONG> answer_time(DWORD limit_ms) const {
    const ULONGLONG asked = ::GetTickCount64();
    DWORD_PTR ignored = 0;
    if (::SendMessageTimeoutA(main_, WM_NULL, 0, 0, SMTO_BLOCK, limit_ms, &ignored) == 0) return std::nullopt;
    return ::GetTickCount64() - asked;
  }
  std::string prompts() const { return test::read_host_file(prompts_.substr(2)); }
  // The prompt lines of the wizard's own messages, without the skin loader's notes about missing
  // artwork ("Load ... failure"), which depend on what the build installed.
  std::string wizard_messages() const {
    std::string kept;
    const std::string all = prompts();
    std::size_t start = 0;
    while (start < all.size()) {
      std::size_t end = all.find('\n', start);
      end = end == std::string::npos ? all.size() : end + 1;
      const std::string line = all.substr(start, end - start);
      if (line.find("|Load ") == std::string::npos) kept += line;
      start = end;
    }
    return kept;
  }
  bool wait_for_prompt(const std::string &text, DWORD timeout_ms = 60000) const {
    return wait_for([&] { return prompts().find(text) != std::string::npos; }, timeout_ms);
  }
  void picture(const std::string &name, HWND window = nullptr) const {
    const std::string folder = env("TUNMIRA_SHOTS_DIR");
    if (folder.empty()) return;
    ::CreateDirectoryA(windows_path(folder).c_str(), nullptr);
    ::Sleep(300);  // let the window finish painting
    const HWND shown = window != nullptr ? window : main_;
    EXPECT_EQ(upgrade::window_over_title_strip(shown), "") << name << ": another window covers it";
    save_window_picture(shown, windows_path(folder + "/" + name + ".bmp"));
  }
  std::optional<DWORD> wait_exit(DWORD ms) const {
    if (process_ == nullptr || ::WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return code;
  }

  // From the start page to the router entry page, by default with both routers reached over the Internet.
  void go_to_router_entry(int choice = kChoiceInternet) const {
    ASSERT_TRUE(wait_for_page("Welcome00")) << page_shown();
    ::PostMessageA(page(), WM_COMMAND, MAKEWPARAM(kStart, BN_CLICKED), 0);
    ASSERT_TRUE(wait_for_page("Welcome01")) << page_shown();
    command(kNext);
    ASSERT_TRUE(wait_for_page("Welcome10")) << page_shown();
    click(choice);
    command(kNext);
    ASSERT_TRUE(wait_for_page("PageRemote")) << page_shown();
  }

  // The tunnel of the golden forms: both routers given by address.
  void fill_router_entry(const std::string &router1 = kRouter1Address,
                         const std::string &router2 = kRouter2Address,
                         const char *router1_password = "secret1") const {
    type(kRouter1User, "admin");
    type(kRouter1Password, router1_password);
    type(kRouter2User, "admin");
    type(kRouter2Password, "secret2");
    type(kTunnelName, "HQ link&x");
    type(kPresharedKey, "s3cret&todo=x%");
    type_octets(kRouter1Octet1, router1);
    type_octets(kRouter2Octet1, router2);
  }

 private:
  HANDLE process_ = nullptr;
  HWND main_ = nullptr;
  std::string prompts_;
};

}  // namespace tunmira::test
