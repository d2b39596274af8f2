// Under wine and a virtual display: the real Tunmira.exe, driven as a user drives it (button commands,
// clicks on the page's choices, characters typed into its fields), sets a tunnel up between two router
// doubles listening where the wizard looks for routers reached over the Internet (port 8080 of the
// addresses typed in). The forms the doubles receive are compared byte for byte with the golden forms.
// The wizard's message dialogs are answered through the prompt log; pictures of the pages land in the
// build tree.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "router_double_client.h"

namespace tunmira {
namespace {

using test::LoggedRequest;
using test::RouterDouble;

constexpr char kCaption[] = "HBX7300NQ VPN wizard";
constexpr char kRouter1Address[] = "127.88.0.2";
constexpr char kRouter2Address[] = "127.88.0.3";
constexpr char kRouterPort[] = "8080";

// Bar of the main dialog.
constexpr int kNext = 1029, kBack = 1003, kExit = 2557, kGo = 1031, kTesting = 2869;
// Pages' own items.
constexpr int kStart = 1203, kChoiceInternet = 1208, kWelcome30Label1 = 1201;
// The router entry page.
constexpr int kRouter1User = 1100, kRouter1Password = 1101, kRouter2User = 1102, kRouter2Password = 1103;
constexpr int kTunnelName = 1104, kPresharedKey = 1105, kRouter1Octet1 = 1110, kRouter2Octet1 = 1120;
constexpr int kErrorLabel1 = 1150;
// The progress dialog's first picture.
constexpr int kProgressFrame = 1235;

bool WaitFor(const std::function<bool()> &done, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    if (done()) return true;
    ::Sleep(50);
  }
  return done();
}

std::string Env(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string WindowsPath(std::string unix) {
  for (char &c : unix) {
    if (c == '/') c = '\\';
  }
  return "Z:" + unix;
}

std::string WindowText(HWND window) {
  char text[1024] = {};
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                        &copied);
  return text;
}

// A value of the language file beside the program, as the program reads it.
std::string LanguageText(const char *section, const char *key) {
  const std::string exe = Env("TUNMIRA_EXE");
  const std::string ini = WindowsPath(exe.substr(0, exe.rfind('/')) + "/English.ini");
  char text[512] = {};
  ::GetPrivateProfileStringA(section, key, "", text, sizeof(text), ini.c_str());
  return text;
}

std::string Golden(const char *name) {
  return test::ReadHostFile(Env("TUNMIRA_GOLDEN_DIR") + "/" + name);
}

// Writes what the screen shows of a window as a 24-bit .bmp file.
void SaveWindowPicture(HWND window, const std::string &path) {
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
std::string ShownWindows() {
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

// A shown progress dialog of the program, or nullptr.
HWND ProgressDialog() {
  HWND found = nullptr;
  ::EnumWindows(
      [](HWND window, LPARAM result) -> BOOL {
        if (::IsWindowVisible(window) && ::GetDlgItem(window, kProgressFrame) != nullptr) {
          *reinterpret_cast<HWND *>(result) = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

std::vector<LoggedRequest> Posts(const RouterDouble &router) {
  std::vector<LoggedRequest> posts;
  for (LoggedRequest &request : router.Requests()) {
    if (request.method == "POST") posts.push_back(std::move(request));
  }
  return posts;
}

std::vector<std::string> Paths(const RouterDouble &router) {
  std::vector<std::string> paths;
  for (const LoggedRequest &request : router.Requests()) paths.push_back(request.method + " " + request.path);
  return paths;
}

// One router double where the wizard looks for a router given by its address.
std::unique_ptr<RouterDouble> StartRouter(const std::string &address, const char *password, const char *lan,
                                          const char *mask, std::vector<std::string> more) {
  std::vector<std::string> options = {"--port", kRouterPort, "--wan", address,  "--password",
                                      password, "--lan",     lan,     "--mask", mask};
  options.insert(options.end(), more.begin(), more.end());
  return std::make_unique<RouterDouble>(address, options);
}

std::unique_ptr<RouterDouble> StartRouter1(const std::string &address, std::vector<std::string> more = {},
                                           const char *password = "secret1") {
  return StartRouter(address, password, "192.168.1.1", "255.255.255.0", std::move(more));
}

std::unique_ptr<RouterDouble> StartRouter2(const std::string &address, std::vector<std::string> more = {}) {
  return StartRouter(address, "secret2", "192.168.2.1", "255.255.0.0", std::move(more));
}

// A loopback address no router of this run has used: a double that was stopped may still hold its port
// for a moment. The tunnel of the golden forms alone uses kRouter1Address and kRouter2Address.
std::string FreshAddress() {
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

  // From the start page to the router entry page, with both routers reached over the Internet.
  void GoToRouterEntry() const {
    ASSERT_TRUE(WaitForPage("Welcome00")) << PageShown();
    ::PostMessageA(Page(), WM_COMMAND, MAKEWPARAM(kStart, BN_CLICKED), 0);
    ASSERT_TRUE(WaitForPage("Welcome01")) << PageShown();
    Command(kNext);
    ASSERT_TRUE(WaitForPage("Welcome10")) << PageShown();
    Click(kChoiceInternet);
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

class TunmiraEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(app.WaitForWindow()) << "no main window; shown: " << ShownWindows()
                                     << " prompts: " << app.Prompts();
    app.GoToRouterEntry();
  }

  TunmiraExe app;
};

TEST_F(TunmiraEndToEnd, SetsUpATunnelBetweenTwoRouters) {
  const auto router1 = StartRouter1(kRouter1Address);
  const auto router2 = StartRouter2(kRouter2Address, {"--connect", "status"});
  ASSERT_TRUE(router1->Started() && router2->Started());

  app.FillRouterEntry();
  EXPECT_EQ(app.ItemText(kRouter1Octet1), "127");
  app.Picture("e2e-1-router-entry");
  app.Command(kNext);
  ASSERT_TRUE(WaitFor([] { return ProgressDialog() != nullptr; }, 20000)) << "no progress dialog";
  app.Picture("e2e-2-reading", ProgressDialog());
  ASSERT_TRUE(app.WaitForPage("Welcome16", 60000)) << app.PageShown() << " prompts: " << app.Prompts();
  app.Picture("e2e-3-summary");
  EXPECT_EQ(app.WizardMessages(), "");

  // Go posts the tunnel form to both routers; the summary is shown again for the connect.
  ASSERT_TRUE(app.BarItemVisible(kGo));
  app.Command(kGo);
  ASSERT_TRUE(WaitFor([&] { return Posts(*router1).size() == 1 && Posts(*router2).size() == 1; }, 60000));
  // Testing takes Go's place in the bar once both posts are done and the page is shown again.
  ASSERT_TRUE(WaitFor([&] { return app.BarItemVisible(kTesting); }, 60000)) << app.Prompts();
  EXPECT_EQ(app.PageShown(), "Welcome16");
  EXPECT_EQ(Posts(*router1)[0].body, Golden("e2e_tunnel_router1.txt"));
  EXPECT_EQ(Posts(*router2)[0].body, Golden("e2e_tunnel_router2.txt"));

  // Testing connects the tunnel on both routers and shows the result.
  app.Command(kTesting);
  ASSERT_TRUE(app.WaitForPage("Welcome30", 120000)) << app.PageShown() << " prompts: " << app.Prompts();
  app.Picture("e2e-4-connected");
  ASSERT_EQ(Posts(*router1).size(), 2u);
  ASSERT_EQ(Posts(*router2).size(), 2u);
  EXPECT_EQ(Posts(*router1)[1].body, Golden("e2e_connect_router1.txt"));
  EXPECT_EQ(Posts(*router2)[1].body, Golden("e2e_connect_router2.txt"));
  EXPECT_EQ(app.ItemText(kWelcome30Label1), LanguageText("Welcome30", "Label1.TextString"));
  EXPECT_EQ(app.WizardMessages(), "");

  app.Command(kExit);
  EXPECT_EQ(app.WaitExit(30000), std::optional<DWORD>(0));
}

TEST_F(TunmiraEndToEnd, RefusedReadsKeepTheUserOnTheRouterEntryPage) {
  // A wrong password on Router 1 while Router 2 cannot be reached (nothing listens there).
  const std::string router1Address = FreshAddress();
  const auto router1 = StartRouter1(router1Address, {}, "other");
  ASSERT_TRUE(router1->Started());
  app.FillRouterEntry(router1Address, FreshAddress());
  app.Command(kNext);
  const std::string loginRefused = LanguageText("MSG", "MSG_AUTHERISEFAILURE");
  ASSERT_TRUE(app.WaitForPrompt(LanguageText("MSG", "MSG_FINDFAIL3"))) << app.Prompts();
  ASSERT_TRUE(WaitFor([&] { return app.ItemVisible(kErrorLabel1); }, 10000));
  EXPECT_EQ(app.ItemText(kErrorLabel1), loginRefused);
  EXPECT_EQ(app.ItemText(kErrorLabel1 + 1), loginRefused);
  EXPECT_FALSE(app.ItemVisible(kErrorLabel1 + 2));
  EXPECT_EQ(app.PageShown(), "PageRemote");
  app.Picture("e2e-5-wrong-password");

  // Router 2's tunnel table is full.
  const std::string fixedAddress = FreshAddress();
  const std::string fullAddress = FreshAddress();
  const auto fixed = StartRouter1(fixedAddress);
  const auto full =
      StartRouter2(fullAddress, {"--tunnel", "a=1.1.1.1", "--tunnel", "b=1.1.1.2", "--tunnel", "c=1.1.1.3",
                                 "--tunnel", "d=1.1.1.4", "--tunnel", "e=1.1.1.5"});
  ASSERT_TRUE(fixed->Started() && full->Started());
  app.FillRouterEntry(fixedAddress, fullAddress);
  app.Command(kNext);
  ASSERT_TRUE(app.WaitForPrompt(LanguageText("MSG", "MSG_TUNNELFULL2"))) << app.Prompts();
  ASSERT_TRUE(app.Responds());
  EXPECT_FALSE(app.ItemVisible(kErrorLabel1)) << "the labels start afresh on every Next";
  EXPECT_EQ(app.PageShown(), "PageRemote");
}

TEST_F(TunmiraEndToEnd, UsedNamesAndExistingTunnelsKeepTheUserOnThePage) {
  // Router 1 already has a tunnel of that name.
  const std::string router1Address = FreshAddress();
  const std::string router2Address = FreshAddress();
  const auto router1 = StartRouter1(router1Address, {"--tunnel", "HQ link&x=10.1.1.1"});
  const auto router2 = StartRouter2(router2Address);
  ASSERT_TRUE(router1->Started() && router2->Started());
  app.FillRouterEntry(router1Address, router2Address);
  app.Command(kNext);
  constexpr int kTunnelNameLabel = kErrorLabel1 + 4;
  ASSERT_TRUE(WaitFor([&] { return app.ItemVisible(kTunnelNameLabel); }, 60000)) << app.Prompts();
  EXPECT_EQ(app.ItemText(kTunnelNameLabel), LanguageText("MSG", "MSG_TUNNELNAMEEXIST"));
  app.Picture("e2e-6-name-used");

  // Another Router 1 already has a tunnel to Router 2 under another name.
  const std::string joinedAddress = FreshAddress();
  const auto joined = StartRouter1(joinedAddress, {"--tunnel", "old=" + router2Address});
  ASSERT_TRUE(joined->Started());
  app.TypeOctets(kRouter1Octet1, joinedAddress);
  app.Command(kNext);
  const std::string expected = LanguageText("MSG", "MSG_TUNNELNAME0") + " " +
                               LanguageText("MSG", "MSG_TUNNELNAME1") + " old. " +
                               LanguageText("MSG", "MSG_TUNNELNAME3");
  ASSERT_TRUE(app.WaitForPrompt(expected)) << app.Prompts();
  ASSERT_TRUE(app.Responds());
  EXPECT_EQ(app.PageShown(), "PageRemote");
  EXPECT_FALSE(app.ItemVisible(kTunnelNameLabel));
}

TEST_F(TunmiraEndToEnd, StoppingTheProgressDialogEndsTheReadAndTheProgramLeavesNothingRunning) {
  const std::string router1Address = FreshAddress();
  const std::string router2Address = FreshAddress();
  const auto router1 = StartRouter1(router1Address, {"--fault", "/vpn_main.htm=delay:5"});
  const auto router2 = StartRouter2(router2Address);
  ASSERT_TRUE(router1->Started() && router2->Started());
  app.FillRouterEntry(router1Address, router2Address);
  app.Command(kNext);
  ASSERT_TRUE(WaitFor([&] { return !router1->Requests().empty(); }, 30000));
  HWND progress = ProgressDialog();
  ASSERT_NE(progress, nullptr);
  // Escape in the progress dialog.
  ::PostMessageA(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  ASSERT_TRUE(WaitFor([] { return ProgressDialog() == nullptr; }, 10000));
  ASSERT_TRUE(app.Responds());
  EXPECT_EQ(app.PageShown(), "PageRemote");
  EXPECT_EQ(app.WizardMessages(), "") << "a stopped read shows nothing";
  EXPECT_EQ(Paths(*router1), std::vector<std::string>{"GET /vpn_main.htm"}) << "no page after the stop";
  EXPECT_TRUE(router2->Requests().empty()) << "Router 2 is not read after a stop";

  app.Command(kBack);
  ASSERT_TRUE(app.WaitForPage("Welcome10"));
  app.Command(kExit);
  EXPECT_EQ(app.WaitExit(30000), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace tunmira
