// Drives the real Tunmira.exe under wine as a user would (button commands, clicks on the page's choices,
// characters typed into its fields) and starts the router doubles it talks to. The wizard's message
// dialogs are answered through the prompt log; pictures of the pages land in the build tree.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "router_double_client.h"

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

inline bool WaitFor(const std::function<bool()> &done, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    if (done()) return true;
    ::Sleep(50);
  }
  return done();
}

inline std::string Env(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

inline std::string WindowsPath(std::string unix) {
  for (char &c : unix) {
    if (c == '/') c = '\\';
  }
  return "Z:" + unix;
}

inline std::string WindowText(HWND window) {
  char text[1024] = {};
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                        &copied);
  return text;
}

// A value of the language file beside the program, as the program reads it.
inline std::string LanguageText(const char *section, const char *key) {
  const std::string exe = Env("TUNMIRA_EXE");
  const std::string ini = WindowsPath(exe.substr(0, exe.rfind('/')) + "/English.ini");
  char text[512] = {};
  ::GetPrivateProfileStringA(section, key, "", text, sizeof(text), ini.c_str());
  return text;
}

inline std::string Golden(const char *name) {
  return test::ReadHostFile(Env("TUNMIRA_GOLDEN_DIR") + "/" + name);
}

// Writes what the screen shows of a window as a 24-bit .bmp file.
inline void SaveWindowPicture(HWND window, const std::string &path) {
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
  const DWORD imageSize = ((static_cast<DWORD>(width) * 3 + 3) & ~3u) * static_cast<DWORD>(height);
  const DWORD headers = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  BITMAPFILEHEADER file{0x4D42, headers + imageSize, 0, 0, headers};
  if (HANDLE out = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      out != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(out, &file, sizeof(file), &written, nullptr);
    ::WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr);
    ::WriteFile(out, bits, imageSize, &written, nullptr);
    ::CloseHandle(out);
  }
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
}

// The captions of the shown top-level windows, for failure messages.
inline std::string ShownWindows() {
  std::string captions;
  ::EnumWindows(
      [](HWND window, LPARAM result) -> BOOL {
        if (::IsWindowVisible(window))
          *reinterpret_cast<std::string *>(result) += "[" + WindowText(window) + "] ";
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&captions));
  return captions;
}

// A shown top-level window of the program that has the item, or nullptr.
inline HWND ShownWindowWith(int itemId) {
  struct Search {
    int itemId;
    HWND found;
  } search{itemId, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto *search = reinterpret_cast<Search *>(param);
        if (::IsWindowVisible(window) && ::GetDlgItem(window, search->itemId) != nullptr) {
          search->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A shown progress dialog of the program, or nullptr.
inline HWND ProgressDialog() {
  return ShownWindowWith(kProgressFrame);
}

inline std::vector<LoggedRequest> Posts(const RouterDouble &router) {
  std::vector<LoggedRequest> posts;
  for (LoggedRequest &request : router.Requests()) {
    if (request.method == "POST") posts.push_back(std::move(request));
  }
  return posts;
}

inline std::vector<std::string> Paths(const RouterDouble &router) {
  std::vector<std::string> paths;
  for (const LoggedRequest &request : router.Requests()) paths.push_back(request.method + " " + request.path);
  return paths;
}

// One router double where the wizard looks for a router given by its address.
inline std::unique_ptr<RouterDouble> StartRouter(const std::string &address, const char *password,
                                                 const char *lan, const char *mask,
                                                 std::vector<std::string> more) {
  std::vector<std::string> options = {"--port", kRouterPort, "--wan", address,  "--password",
                                      password, "--lan",     lan,     "--mask", mask};
  options.insert(options.end(), more.begin(), more.end());
  return std::make_unique<RouterDouble>(address, options);
}

inline std::unique_ptr<RouterDouble> StartRouter1(const std::string &address,
                                                  std::vector<std::string> more = {},
                                                  const char *password = "secret1") {
  return StartRouter(address, password, "192.168.1.1", "255.255.255.0", std::move(more));
}

inline std::unique_ptr<RouterDouble> StartRouter2(const std::string &address,
                                                  std::vector<std::string> more = {}) {
  return StartRouter(address, "secret2", "192.168.2.1", "255.255.0.0", std::move(more));
}

// A loopback address no router of this run has used: a double that was stopped may still hold its port
// for a moment. The tunnel of the golden forms alone uses kRouter1Address and kRouter2Address.
inline std::string FreshAddress() {
  static int last = 9;
  return "127.88.1." + std::to_string(++last);
}

class TunmiraExe {
 public:
  TunmiraExe() {
    const std::string exe = Env("TUNMIRA_EXE");
    prompts_ = WindowsPath("/tmp/tunmira-e2e-" + std::to_string(::GetCurrentProcessId()) + "-" +
                           std::to_string(::GetTickCount64()) + ".txt");
    ::SetEnvironmentVariableA("RT_PROMPT_LOG", prompts_.c_str());
    std::string command = "\"" + WindowsPath(exe) + "\"";
    const std::string folder = WindowsPath(exe.substr(0, exe.rfind('/')));
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

  bool WaitForWindow() {
    return WaitFor(
        [&] { return (main_ = ::FindWindowA(nullptr, kCaption)) != nullptr && ::IsWindowVisible(main_); },
        30000);
  }
  void Command(int id) const { ::PostMessageA(main_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  bool BarItemVisible(int id) const { return ::IsWindowVisible(::GetDlgItem(main_, id)) != FALSE; }
  // The one visible page, or nullptr.
  HWND Page() const {
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
  std::string PageShown() const {
    HWND page = Page();
    if (page == nullptr) return "none";
    const std::pair<int, const char *> marks[] = {{1203, "Welcome00"},
                                                  {1204, "Welcome01"},
                                                  {1207, "Welcome10"},
                                                  {1104, "PageRemote"},
                                                  {1210, "Welcome16"},
                                                  {1030, "CdStart"},
                                                  {kWelcome30Label1, "Welcome30"}};
    for (auto [id, name] : marks) {
      if (::GetDlgItem(page, id) != nullptr) return name;
    }
    return "?";
  }
  bool WaitForPage(const std::string &name, DWORD timeoutMs = 10000) const {
    return WaitFor([&] { return PageShown() == name; }, timeoutMs);
  }
  // Clicks an item of the shown page as the mouse would.
  void Click(int id) const { ::SendMessageA(::GetDlgItem(Page(), id), BM_CLICK, 0, 0); }
  // Empties a field of the shown page and types text into it.
  void Type(int id, const std::string &text) const {
    HWND field = ::GetDlgItem(Page(), id);
    ::SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    for (char c : text) ::SendMessageA(field, WM_CHAR, static_cast<unsigned char>(c), 1);
  }
  void TypeOctets(int firstId, const std::string &address) const {
    std::string rest = address;
    for (int i = 0; i < 4; ++i) {
      const std::size_t dot = rest.find('.');
      Type(firstId + i, rest.substr(0, dot));
      rest = dot == std::string::npos ? "" : rest.substr(dot + 1);
    }
  }
  std::string ItemText(int id) const { return WindowText(::GetDlgItem(Page(), id)); }
  bool ItemVisible(int id) const { return ::IsWindowVisible(::GetDlgItem(Page(), id)) != FALSE; }
  // Waits until the user-interface thread answers again (it waits while a worker ends).
  bool Responds() const {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutA(main_, WM_NULL, 0, 0, SMTO_BLOCK, 60000, &ignored) != 0;
  }
  std::string Prompts() const { return test::ReadHostFile(prompts_.substr(2)); }
  // The prompt lines of the wizard's own messages, without the skin loader's notes about missing
  // artwork ("Load ... failure"), which depend on what the build installed.
  std::string WizardMessages() const {
    std::string kept;
    const std::string all = Prompts();
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
  bool WaitForPrompt(const std::string &text, DWORD timeoutMs = 60000) const {
    return WaitFor([&] { return Prompts().find(text) != std::string::npos; }, timeoutMs);
  }
  void Picture(const std::string &name, HWND window = nullptr) const {
    const std::string folder = Env("TUNMIRA_SHOTS_DIR");
    if (folder.empty()) return;
    ::CreateDirectoryA(WindowsPath(folder).c_str(), nullptr);
    ::Sleep(300);  // let the window finish painting
    SaveWindowPicture(window != nullptr ? window : main_, WindowsPath(folder + "/" + name + ".bmp"));
  }
  std::optional<DWORD> WaitExit(DWORD ms) const {
    if (process_ == nullptr || ::WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return code;
  }

  // From the start page to the router entry page, by default with both routers reached over the Internet.
  void GoToRouterEntry(int choice = kChoiceInternet) const {
    ASSERT_TRUE(WaitForPage("Welcome00")) << PageShown();
    ::PostMessageA(Page(), WM_COMMAND, MAKEWPARAM(kStart, BN_CLICKED), 0);
    ASSERT_TRUE(WaitForPage("Welcome01")) << PageShown();
    Command(kNext);
    ASSERT_TRUE(WaitForPage("Welcome10")) << PageShown();
    Click(choice);
    Command(kNext);
    ASSERT_TRUE(WaitForPage("PageRemote")) << PageShown();
  }

  // The tunnel of the golden forms: both routers given by address.
  void FillRouterEntry(const std::string &router1 = kRouter1Address,
                       const std::string &router2 = kRouter2Address,
                       const char *router1Password = "secret1") const {
    Type(kRouter1User, "admin");
    Type(kRouter1Password, router1Password);
    Type(kRouter2User, "admin");
    Type(kRouter2Password, "secret2");
    Type(kTunnelName, "HQ link&x");
    Type(kPresharedKey, "s3cret&todo=x%");
    TypeOctets(kRouter1Octet1, router1);
    TypeOctets(kRouter2Octet1, router2);
  }

 private:
  HANDLE process_ = nullptr;
  HWND main_ = nullptr;
  std::string prompts_;
};

}  // namespace tunmira::test
