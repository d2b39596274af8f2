// Under wine and a virtual display: the real Tunmira.exe starts, shows its first page, walks its pages
// with Next and Back as the bar's buttons send them, enters and leaves the CD-start mode and closes
// through the pages' cancel query. Message boxes are answered through the prompt log; each page is
// kept as a picture in the build tree for a person to look at.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "wine_support.h"

namespace tunmira {
namespace {

using upgrade::Env;
using upgrade::ReadAll;
using upgrade::UnixTempDir;

constexpr char kCaption[] = "HBX7300NQ VPN wizard";
constexpr int kNext = 1029, kBack = 1003, kExit = 2557, kGo = 1031, kTesting = 2869, kUserGuide = 2886;
constexpr int kLabel9 = 2900, kBackground = 1006, kCdStartCommand = 311;

bool WaitFor(const std::function<bool()> &done, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

std::string WindowsPath(std::string unix) {
  for (char &c : unix)
    if (c == '/') c = '\\';
  return "Z:" + unix;
}

// The page a visible child dialog is, told by a control only that page has.
std::string PageName(HWND page) {
  const std::pair<int, const char *> marks[] = {
      {1203, "Welcome00"}, {1204, "Welcome01"}, {1207, "Welcome10"}, {1104, "PageRemote"},
      {1210, "Welcome16"}, {1030, "CdStart"},   {1201, "Welcome30"}};
  for (auto [id, name] : marks)
    if (GetDlgItem(page, id)) return name;
  return "?";
}

// Writes what the screen shows of the window as a 24-bit .bmp file.
void SaveWindowPicture(HWND window, const std::string &path) {
  RECT rect;
  GetWindowRect(window, &rect);
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void *bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  DWORD row = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  DWORD imageSize = row * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{0x4D42,
                        static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + imageSize),
                        0, 0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(&file), sizeof file);
  out.write(reinterpret_cast<const char *>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char *>(bits), imageSize);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

std::string WindowText(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// How many pixels the screen shows in the window's rectangle that are mostly blue, as link text is.
int BlueTextPixels(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  HDC screen = GetDC(nullptr);
  int count = 0;
  for (int y = rect.top; y < rect.bottom; ++y) {
    for (int x = rect.left; x < rect.right; ++x) {
      COLORREF pixel = GetPixel(screen, x, y);
      if (GetBValue(pixel) > 150 && GetRValue(pixel) < 120 && GetGValue(pixel) < 120) ++count;
    }
  }
  ReleaseDC(nullptr, screen);
  return count;
}

// The bin folder Tunmira.exe lies in (a Unix path).
std::string BinFolder() {
  std::string exe = Env("TUNMIRA_EXE");
  return exe.substr(0, exe.rfind('/'));
}

class TunmiraExe {
 public:
  // Starts the program in `workingDirectory` (the bin folder, where English.ini lies, by default).
  explicit TunmiraExe(const UnixTempDir &dir, std::string workingDirectory = {},
                      bool alongsideAnother = false)
      : dir_(dir) {
    std::string exe = Env("TUNMIRA_EXE");
    if (workingDirectory.empty()) workingDirectory = WindowsPath(BinFolder());
    // The window of a copy an earlier test ended may outlive it briefly; a new copy would take it for a
    // running one and end at once.
    if (!alongsideAnother) WaitFor([] { return FindWindowA(nullptr, kCaption) == nullptr; }, 10000);
    SetEnvironmentVariableA("RT_PROMPT_LOG", dir.Windows("prompts.txt").c_str());
    SetEnvironmentVariableA("RT_PROMPT_SAVE_AS", dir.Windows("saved.pdf").c_str());
    std::string command = "\"" + WindowsPath(exe) + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!exe.empty() && CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                       workingDirectory.c_str(), &si, &pi)) {
      CloseHandle(pi.hThread);
      process_ = pi.hProcess;
    }
  }
  ~TunmiraExe() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
    CloseHandle(process_);
  }
  bool WaitForWindow() {
    return WaitFor(
        [&] { return (main_ = FindWindowA(nullptr, kCaption)) != nullptr && IsWindowVisible(main_); }, 60000);
  }
  HWND main() const { return main_; }
  bool Visible(int id) const { return IsWindowVisible(GetDlgItem(main_, id)) != FALSE; }
  void Command(int id) const { PostMessageA(main_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  void WizardCommand(WPARAM wParam, LPARAM lParam) const { PostMessageA(main_, 2024, wParam, lParam); }
  // The one visible page, or nullptr.
  HWND Page() const {
    HWND found = nullptr;
    int count = 0;
    for (HWND child = GetWindow(main_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      char kind[32] = {};
      GetClassNameA(child, kind, sizeof kind);
      if (std::string(kind) == "#32770" && IsWindowVisible(child)) {
        found = child;
        ++count;
      }
    }
    return count == 1 ? found : nullptr;
  }
  std::string PageShown() const {
    HWND page = Page();
    return page ? PageName(page) : "none";
  }
  bool WaitForPage(const std::string &name) const {
    return WaitFor([&] { return PageShown() == name; }, 10000);
  }
  void Picture(const std::string &name) const {
    std::string folder = Env("TUNMIRA_SHOTS_DIR");
    if (folder.empty()) return;
    CreateDirectoryA(WindowsPath(folder).c_str(), nullptr);
    // Let the page finish painting before the screen is copied.
    Sleep(300);
    SaveWindowPicture(main_, WindowsPath(folder + "/" + name + ".bmp"));
  }
  std::string Prompts() const {
    auto bytes = ReadAll(dir_.Windows("prompts.txt"));
    return {bytes.begin(), bytes.end()};
  }
  // What became of the program, for failure messages.
  std::string State() const {
    std::optional<DWORD> code = WaitExit(0);
    return (code ? "ended with status " + std::to_string(*code) : std::string("still running")) +
           "; prompts: " + Prompts();
  }
  std::optional<DWORD> WaitExit(DWORD ms) const {
    if (process_ == nullptr || WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  const UnixTempDir &dir_;
  HANDLE process_ = nullptr;
  HWND main_ = nullptr;
};

TEST(TunmiraGui, WalksThePagesWithNextAndBackAndClosesThroughTheQuery) {
  UnixTempDir dir;
  TunmiraExe app(dir);
  ASSERT_TRUE(app.WaitForWindow()) << "no main window: " << app.State();

  // The start page: the user guide link, Label9 and Exit; no Next, Back, Go or Testing.
  ASSERT_TRUE(app.WaitForPage("Welcome00")) << app.PageShown();
  EXPECT_TRUE(app.Visible(kUserGuide));
  EXPECT_TRUE(app.Visible(kLabel9));
  EXPECT_TRUE(app.Visible(kExit));
  for (int id : {kNext, kBack, kGo, kTesting}) EXPECT_FALSE(app.Visible(id)) << id;
  // The window is rounded: its region is not the plain rectangle.
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetWindowRgn(app.main(), region), COMPLEXREGION);
  DeleteObject(region);
  app.Picture("1-welcome00");
  // The link reads "User Guide" and shows it in the bar, on Label9's line, right after its words.
  HWND link = GetDlgItem(app.main(), kUserGuide);
  EXPECT_EQ(WindowText(link), "User Guide");
  RECT linkRect, labelRect, mainRect;
  GetWindowRect(link, &linkRect);
  GetWindowRect(GetDlgItem(app.main(), kLabel9), &labelRect);
  GetWindowRect(app.main(), &mainRect);
  EXPECT_GE(linkRect.left, labelRect.left);
  EXPECT_LE(linkRect.right, mainRect.right);
  EXPECT_LT(linkRect.top, labelRect.bottom);
  EXPECT_GT(linkRect.bottom, labelRect.top);
  EXPECT_GT(BlueTextPixels(link), 10) << "the link's text is not on the screen";
  // The page holds all of its 638 x 356 picture, above the bar.
  RECT page;
  GetClientRect(app.Page(), &page);
  EXPECT_GE(page.right, 638);
  EXPECT_GE(page.bottom, 356);
  GetWindowRect(app.Page(), &page);
  EXPECT_LE(page.bottom, labelRect.top);

  // The start button on the page moves on to Welcome01 with Back, Next and Exit.
  HWND start = GetDlgItem(app.Page(), 1203);
  PostMessageA(app.Page(), WM_COMMAND, MAKEWPARAM(1203, BN_CLICKED), reinterpret_cast<LPARAM>(start));
  ASSERT_TRUE(app.WaitForPage("Welcome01")) << app.PageShown();
  ASSERT_TRUE(WaitFor([&] { return app.Visible(kNext); }, 5000));
  EXPECT_TRUE(app.Visible(kBack));
  EXPECT_TRUE(app.Visible(kExit));
  EXPECT_FALSE(app.Visible(kUserGuide));
  EXPECT_FALSE(app.Visible(kLabel9));
  app.Picture("2-welcome01");

  app.Command(kNext);
  ASSERT_TRUE(app.WaitForPage("Welcome10")) << app.PageShown();
  app.Picture("3-welcome10");
  app.Command(kNext);
  ASSERT_TRUE(app.WaitForPage("PageRemote")) << app.PageShown();
  EXPECT_TRUE(WaitFor([&] { return app.Visible(kNext); }, 5000));
  app.Picture("4-pageremote");

  // Back through every page to the start, where the bar is the start page's again.
  app.Command(kBack);
  ASSERT_TRUE(app.WaitForPage("Welcome10")) << app.PageShown();
  app.Command(kBack);
  ASSERT_TRUE(app.WaitForPage("Welcome01")) << app.PageShown();
  app.Command(kBack);
  ASSERT_TRUE(app.WaitForPage("Welcome00")) << app.PageShown();
  ASSERT_TRUE(WaitFor([&] { return app.Visible(kUserGuide); }, 5000));
  EXPECT_FALSE(app.Visible(kNext));
  EXPECT_FALSE(app.Visible(kBack));
  EXPECT_TRUE(app.Visible(kBackground));

  // Enter on the page does nothing; Exit closes the wizard through the pages' cancel query.
  PostMessageA(app.Page(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  Sleep(300);
  EXPECT_EQ(app.PageShown(), "Welcome00");
  app.Command(kExit);
  EXPECT_EQ(app.WaitExit(20000), std::optional<DWORD>(0)) << app.Prompts();
}

TEST(TunmiraGui, CdStartModeShowsItsPageAndBackReturnsToTheStart) {
  UnixTempDir dir;
  TunmiraExe app(dir);
  ASSERT_TRUE(app.WaitForWindow()) << app.State();
  ASSERT_TRUE(app.WaitForPage("Welcome00"));
  app.Command(kCdStartCommand);
  ASSERT_TRUE(app.WaitForPage("CdStart")) << app.PageShown();
  EXPECT_TRUE(app.Visible(kBackground));
  for (int id : {kNext, kBack, kExit, kUserGuide}) EXPECT_FALSE(app.Visible(id)) << id;
  app.Picture("5-cdstart");
  // Next in CD-start mode stays on the page.
  app.Command(kNext);
  Sleep(300);
  EXPECT_EQ(app.PageShown(), "CdStart");
  // The launcher's failure shows the system's text (there is no CD here).
  HWND launch = GetDlgItem(app.Page(), 1030);
  PostMessageA(app.Page(), WM_COMMAND, MAKEWPARAM(1030, BN_CLICKED), reinterpret_cast<LPARAM>(launch));
  ASSERT_TRUE(
      WaitFor([&] { return app.Prompts().find("open|.\\Norton\\CDStart.exe") != std::string::npos; }, 5000))
      << app.Prompts();
  app.Command(kBack);
  ASSERT_TRUE(app.WaitForPage("Welcome00")) << app.PageShown();
  ASSERT_TRUE(WaitFor([&] { return app.Visible(kUserGuide); }, 5000));
  app.Command(kExit);
  EXPECT_EQ(app.WaitExit(20000), std::optional<DWORD>(0));
}

TEST(TunmiraGui, HelpLinksOpenTheGuideAndRegistrationAndSaveTheGuide) {
  UnixTempDir dir;
  const std::string guide = WindowsPath(BinFolder() + "/VPNWizard_UserGuide.pdf");
  DeleteFileA(guide.c_str());
  TunmiraExe app(dir);
  ASSERT_TRUE(app.WaitForWindow()) << app.State();
  ASSERT_TRUE(app.WaitForPage("Welcome00"));

  // Commands the main window has no action for change nothing.
  app.WizardCommand(4, 100);
  app.WizardCommand(1, 200);
  Sleep(300);
  EXPECT_EQ(app.PageShown(), "Welcome00");
  EXPECT_TRUE(app.Visible(kUserGuide));

  // The user guide link hands the guide to the shell.
  app.WizardCommand(kUserGuide, 0);
  ASSERT_TRUE(
      WaitFor([&] { return app.Prompts().find("open|VPNWizard_UserGuide.pdf") != std::string::npos; }, 5000))
      << app.Prompts();

  // The registration link opens the build's registration page.
  app.WizardCommand(2889, 0);
  ASSERT_TRUE(WaitFor(
      [&] { return app.Prompts().find("open|" + Env("TUNMIRA_REGISTRATION_URL")) != std::string::npos; },
      5000))
      << app.Prompts();

  // Saving the guide without its source beside the program: "Can not open!" and nothing written.
  app.WizardCommand(2888, 0);
  ASSERT_TRUE(WaitFor([&] { return app.Prompts().find("message|Can not open!") != std::string::npos; }, 5000))
      << app.Prompts();
  EXPECT_NE(app.Prompts().find("save|VPNWizard_UserGuide.pdf"), std::string::npos);
  EXPECT_EQ(GetFileAttributesA(dir.Windows("saved.pdf").c_str()), INVALID_FILE_ATTRIBUTES);

  // With the source there, the copy is the same bytes, over several 4096-byte blocks.
  std::string content;
  for (int i = 0; i < 10000; ++i) content += static_cast<char>('A' + i % 23);
  {
    std::ofstream out(guide, std::ios::binary);
    out << content;
  }
  app.WizardCommand(2888, 0);
  bool copied = WaitFor(
      [&] {
        auto bytes = ReadAll(dir.Windows("saved.pdf"));
        return std::string(bytes.begin(), bytes.end()) == content;
      },
      5000);
  DeleteFileA(guide.c_str());
  EXPECT_TRUE(copied) << app.Prompts();
  DeleteFileA(dir.Windows("saved.pdf").c_str());
  app.Command(kExit);
  EXPECT_EQ(app.WaitExit(20000), std::optional<DWORD>(0));
}

TEST(TunmiraGui, ASecondCopyBringsTheFirstForwardAndEnds) {
  UnixTempDir dir;
  TunmiraExe first(dir);
  ASSERT_TRUE(first.WaitForWindow()) << first.State();
  // A window still settling after its start may miss one request: ask until it is minimised.
  ASSERT_TRUE(WaitFor(
      [&] {
        if (IsIconic(first.main())) return true;
        ShowWindow(first.main(), SW_MINIMIZE);
        return false;
      },
      10000));
  TunmiraExe second(dir, {}, true);
  EXPECT_EQ(second.WaitExit(20000), std::optional<DWORD>(0));
  EXPECT_TRUE(WaitFor([&] { return IsIconic(first.main()) == FALSE; }, 5000));
  EXPECT_EQ(first.WaitExit(0), std::nullopt);
  first.Command(kExit);
  EXPECT_EQ(first.WaitExit(20000), std::optional<DWORD>(0));
}

TEST(TunmiraGui, OnTheFirewallsSystemVersionItStartsAndEndsAsUsual) {
  // The start-up takes the firewall step on this version; wine's own firewall reads as off, so the step
  // finds nothing to do and the wizard runs as anywhere else.
  SetEnvironmentVariableA("TUNMIRA_WINDOWS_VERSION", "5.1;Service Pack 2");
  UnixTempDir dir;
  TunmiraExe app(dir);
  SetEnvironmentVariableA("TUNMIRA_WINDOWS_VERSION", nullptr);
  ASSERT_TRUE(app.WaitForWindow()) << app.State();
  ASSERT_TRUE(app.WaitForPage("Welcome00"));
  app.Command(kExit);
  EXPECT_EQ(app.WaitExit(20000), std::optional<DWORD>(0)) << app.Prompts();
}

TEST(TunmiraGui, WithoutTheLanguageFileInTheCurrentFolderItEndsWithStatusOne) {
  UnixTempDir dir;
  std::string folder = dir.Windows("");
  folder.pop_back();
  TunmiraExe app(dir, folder);
  EXPECT_EQ(app.WaitExit(60000), std::optional<DWORD>(1));
  EXPECT_NE(app.Prompts().find("don't find any *.ini file!"), std::string::npos) << app.Prompts();
  EXPECT_EQ(FindWindowA(nullptr, kCaption), nullptr);
}

}  // namespace
}  // namespace tunmira
