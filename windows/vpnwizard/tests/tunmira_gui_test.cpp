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

using upgrade::env;
using upgrade::read_all;
using upgrade::UnixTempDir;

constexpr char kCaption[] = "HBX7300NQ VPN wizard";
constexpr int kNext = 1029, kBack = 1003, kExit = 2557, kGo = 1031, kTesting = 2869, kUserGuide = 2886;
constexpr int kLabel9 = 2900, kBackground = 1006, kCdStartCommand = 311;

bool wait_for(const std::function<bool()> &done, DWORD timeout_ms) {
  for (DWORD waited = 0; waited < timeout_ms; waited += 50) {
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

std::string windows_path(std::string unix) {
  for (char &c : unix)
    if (c == '/') c = '\\';
  return "Z:" + unix;
}

// The page a visible child dialog is, told by a control only that page has.
std::string page_name(HWND page) {
  const std::pair<int, const char *> marks[] = {
      {1203, "Welcome00"}, {1204, "Welcome01"}, {1207, "Welcome10"}, {1104, "PageRemote"},
      {1210, "Welcome16"}, {1030, "CdStart"},   {1201, "Welcome30"}};
  for (auto [id, name] : marks)
    if (GetDlgItem(page, id)) return name;
  return "?";
}

// Writes what the screen shows of the window as a 24-bit .bmp file.
void save_window_picture(HWND window, const std::string &path) {
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
  DWORD image_size = row * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{0x4D42,
                        static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + image_size),
                        0, 0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(&file), sizeof file);
  out.write(reinterpret_cast<const char *>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char *>(bits), image_size);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

std::string window_text(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// How many pixels the screen shows in the window's rectangle that are mostly blue, as link text is.
int blue_text_pixels(HWND window) {
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
std::string bin_folder() {
  std::string exe = env("TUNMIRA_EXE");
  return exe.substr(0, exe.rfind('/'));
}

class TunmiraExe {
 public:
  // Starts the program in `working_directory` (the bin folder, where English.ini lies, by default).
  explicit TunmiraExe(const UnixTempDir &dir, std::string working_directory = {},
                      bool alongside_another = false)
      : dir_(dir) {
    std::string exe = env("TUNMIRA_EXE");
    if (working_directory.empty()) working_directory = windows_path(bin_folder());
    // The window of a copy an earlier test ended may outlive it briefly; a new copy would take it for a
    // running one and end at once.
    if (!alongside_another) wait_for([] { return FindWindowA(nullptr, kCaption) == nullptr; }, 10000);
    SetEnvironmentVariableA("RT_PROMPT_LOG", dir.windows("prompts.txt").c_str());
    SetEnvironmentVariableA("RT_PROMPT_SAVE_AS", dir.windows("saved.pdf").c_str());
    std::string command = "\"" + windows_path(exe) + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!exe.empty() && CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                       working_directory.c_str(), &si, &pi)) {
      CloseHandle(pi.hThread);
      process_ = pi.hProcess;
    }
  }
  ~TunmiraExe() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
    CloseHandle(process_);
  }
  bool wait_for_window() {
    return wait_for(
        [&] { return (main_ = FindWindowA(nullptr, kCaption)) != nullptr && IsWindowVisible(main_); }, 60000);
  }
  HWND main() const { return main_; }
  bool visible(int id) const { return IsWindowVisible(GetDlgItem(main_, id)) != FALSE; }
  void command(int id) const { PostMessageA(main_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  void wizard_command(WPARAM wParam, LPARAM lParam) const { PostMessageA(main_, 2024, wParam, lParam); }
  // The one visible page, or nullptr.
  HWND page() const {
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
  std::string page_shown() const {
    HWND shown = page();
    return shown ? page_name(shown) : "none";
  }
  bool wait_for_page(const std::string &name) const {
    return wait_for([&] { return page_shown() == name; }, 10000);
  }
  void picture(const std::string &name) const {
    std::string folder = env("TUNMIRA_SHOTS_DIR");
    if (folder.empty()) return;
    CreateDirectoryA(windows_path(folder).c_str(), nullptr);
    // Let the page finish painting before the screen is copied.
    Sleep(300);
    EXPECT_EQ(upgrade::window_over_title_strip(main_), "") << name << ": another window covers the wizard";
    save_window_picture(main_, windows_path(folder + "/" + name + ".bmp"));
  }
  std::string prompts() const {
    auto bytes = read_all(dir_.windows("prompts.txt"));
    return {bytes.begin(), bytes.end()};
  }
  // What became of the program, for failure messages.
  std::string state() const {
    std::optional<DWORD> code = wait_exit(0);
    return (code ? "ended with status " + std::to_string(*code) : std::string("still running")) +
           "; prompts: " + prompts();
  }
  std::optional<DWORD> wait_exit(DWORD ms) const {
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
  ASSERT_TRUE(app.wait_for_window()) << "no main window: " << app.state();

  // The start page: the user guide link, Label9 and Exit; no Next, Back, Go or Testing.
  ASSERT_TRUE(app.wait_for_page("Welcome00")) << app.page_shown();
  EXPECT_TRUE(app.visible(kUserGuide));
  EXPECT_TRUE(app.visible(kLabel9));
  EXPECT_TRUE(app.visible(kExit));
  for (int id : {kNext, kBack, kGo, kTesting}) EXPECT_FALSE(app.visible(id)) << id;
  // The window is rounded: its region is not the plain rectangle.
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetWindowRgn(app.main(), region), COMPLEXREGION);
  DeleteObject(region);
  app.picture("1-welcome00");
  // The link reads "User Guide" and shows it in the bar, on Label9's line, right after its words.
  HWND link = GetDlgItem(app.main(), kUserGuide);
  EXPECT_EQ(window_text(link), "User Guide");
  RECT link_rect, label_rect, main_rect;
  GetWindowRect(link, &link_rect);
  GetWindowRect(GetDlgItem(app.main(), kLabel9), &label_rect);
  GetWindowRect(app.main(), &main_rect);
  EXPECT_GE(link_rect.left, label_rect.left);
  EXPECT_LE(link_rect.right, main_rect.right);
  EXPECT_LT(link_rect.top, label_rect.bottom);
  EXPECT_GT(link_rect.bottom, label_rect.top);
  EXPECT_GT(blue_text_pixels(link), 10) << "the link's text is not on the screen";
  // The page holds all of its 638 x 356 picture, above the bar.
  RECT page;
  GetClientRect(app.page(), &page);
  EXPECT_GE(page.right, 638);
  EXPECT_GE(page.bottom, 356);
  GetWindowRect(app.page(), &page);
  EXPECT_LE(page.bottom, label_rect.top);

  // The start button on the page moves on to Welcome01 with Back, Next and Exit.
  HWND start = GetDlgItem(app.page(), 1203);
  PostMessageA(app.page(), WM_COMMAND, MAKEWPARAM(1203, BN_CLICKED), reinterpret_cast<LPARAM>(start));
  ASSERT_TRUE(app.wait_for_page("Welcome01")) << app.page_shown();
  ASSERT_TRUE(wait_for([&] { return app.visible(kNext); }, 5000));
  EXPECT_TRUE(app.visible(kBack));
  EXPECT_TRUE(app.visible(kExit));
  EXPECT_FALSE(app.visible(kUserGuide));
  EXPECT_FALSE(app.visible(kLabel9));
  app.picture("2-welcome01");

  app.command(kNext);
  ASSERT_TRUE(app.wait_for_page("Welcome10")) << app.page_shown();
  app.picture("3-welcome10");
  app.command(kNext);
  ASSERT_TRUE(app.wait_for_page("PageRemote")) << app.page_shown();
  EXPECT_TRUE(wait_for([&] { return app.visible(kNext); }, 5000));
  app.picture("4-pageremote");

  // Back through every page to the start, where the bar is the start page's again.
  app.command(kBack);
  ASSERT_TRUE(app.wait_for_page("Welcome10")) << app.page_shown();
  app.command(kBack);
  ASSERT_TRUE(app.wait_for_page("Welcome01")) << app.page_shown();
  app.command(kBack);
  ASSERT_TRUE(app.wait_for_page("Welcome00")) << app.page_shown();
  ASSERT_TRUE(wait_for([&] { return app.visible(kUserGuide); }, 5000));
  EXPECT_FALSE(app.visible(kNext));
  EXPECT_FALSE(app.visible(kBack));
  EXPECT_TRUE(app.visible(kBackground));

  // Enter on the page does nothing; Exit closes the wizard through the pages' cancel query.
  PostMessageA(app.page(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  Sleep(300);
  EXPECT_EQ(app.page_shown(), "Welcome00");
  app.command(kExit);
  EXPECT_EQ(app.wait_exit(20000), std::optional<DWORD>(0)) << app.prompts();
}

TEST(TunmiraGui, CdStartModeShowsItsPageAndBackReturnsToTheStart) {
  UnixTempDir dir;
  TunmiraExe app(dir);
  ASSERT_TRUE(app.wait_for_window()) << app.state();
  ASSERT_TRUE(app.wait_for_page("Welcome00"));
  app.command(kCdStartCommand);
  ASSERT_TRUE(app.wait_for_page("CdStart")) << app.page_shown();
  EXPECT_TRUE(app.visible(kBackground));
  for (int id : {kNext, kBack, kExit, kUserGuide}) EXPECT_FALSE(app.visible(id)) << id;
  app.picture("5-cdstart");
  // Next in CD-start mode stays on the page.
  app.command(kNext);
  Sleep(300);
  EXPECT_EQ(app.page_shown(), "CdStart");
  // The launcher's failure shows the system's text (there is no CD here).
  HWND launch = GetDlgItem(app.page(), 1030);
  PostMessageA(app.page(), WM_COMMAND, MAKEWPARAM(1030, BN_CLICKED), reinterpret_cast<LPARAM>(launch));
  ASSERT_TRUE(
      wait_for([&] { return app.prompts().find("open|.\\Norton\\CDStart.exe") != std::string::npos; }, 5000))
      << app.prompts();
  app.command(kBack);
  ASSERT_TRUE(app.wait_for_page("Welcome00")) << app.page_shown();
  ASSERT_TRUE(wait_for([&] { return app.visible(kUserGuide); }, 5000));
  app.command(kExit);
  EXPECT_EQ(app.wait_exit(20000), std::optional<DWORD>(0));
}

TEST(TunmiraGui, HelpLinksOpenTheGuideAndRegistrationAndSaveTheGuide) {
  UnixTempDir dir;
  const std::string guide = windows_path(bin_folder() + "/VPNWizard_UserGuide.pdf");
  DeleteFileA(guide.c_str());
  TunmiraExe app(dir);
  ASSERT_TRUE(app.wait_for_window()) << app.state();
  ASSERT_TRUE(app.wait_for_page("Welcome00"));

  // Commands the main window has no action for change nothing.
  app.wizard_command(4, 100);
  app.wizard_command(1, 200);
  Sleep(300);
  EXPECT_EQ(app.page_shown(), "Welcome00");
  EXPECT_TRUE(app.visible(kUserGuide));

  // The user guide link hands the guide to the shell.
  app.wizard_command(kUserGuide, 0);
  ASSERT_TRUE(
      wait_for([&] { return app.prompts().find("open|VPNWizard_UserGuide.pdf") != std::string::npos; }, 5000))
      << app.prompts();

  // The registration link opens the build's registration page.
  app.wizard_command(2889, 0);
  ASSERT_TRUE(wait_for(
      [&] { return app.prompts().find("open|" + env("TUNMIRA_REGISTRATION_URL")) != std::string::npos; },
      5000))
      << app.prompts();

  // Saving the guide without its source beside the program: "Can not open!" and nothing written.
  app.wizard_command(2888, 0);
  ASSERT_TRUE(
      wait_for([&] { return app.prompts().find("message|Can not open!") != std::string::npos; }, 5000))
      << app.prompts();
  EXPECT_NE(app.prompts().find("save|VPNWizard_UserGuide.pdf"), std::string::npos);
  EXPECT_EQ(GetFileAttributesA(dir.windows("saved.pdf").c_str()), INVALID_FILE_ATTRIBUTES);

  // With the source there, the copy is the same bytes, over several 4096-byte blocks.
  std::string content;
  for (int i = 0; i < 10000; ++i) content += static_cast<char>('A' + i % 23);
  {
    std::ofstream out(guide, std::ios::binary);
    out << content;
  }
  app.wizard_command(2888, 0);
  bool copied = wait_for(
      [&] {
        auto bytes = read_all(dir.windows("saved.pdf"));
        return std::string(bytes.begin(), bytes.end()) == content;
      },
      5000);
  DeleteFileA(guide.c_str());
  EXPECT_TRUE(copied) << app.prompts();
  DeleteFileA(dir.windows("saved.pdf").c_str());
  app.command(kExit);
  EXPECT_EQ(app.wait_exit(20000), std::optional<DWORD>(0));
}

TEST(TunmiraGui, ASecondCopyBringsTheFirstForwardAndEnds) {
  UnixTempDir dir;
  TunmiraExe first(dir);
  ASSERT_TRUE(first.wait_for_window()) << first.state();
  // A window still settling after its start may miss one request: ask until it is minimised.
  ASSERT_TRUE(wait_for(
      [&] {
        if (IsIconic(first.main())) return true;
        ShowWindow(first.main(), SW_MINIMIZE);
        return false;
      },
      10000));
  TunmiraExe second(dir, {}, true);
  EXPECT_EQ(second.wait_exit(20000), std::optional<DWORD>(0));
  EXPECT_TRUE(wait_for([&] { return IsIconic(first.main()) == FALSE; }, 5000));
  EXPECT_EQ(first.wait_exit(0), std::nullopt);
  first.command(kExit);
  EXPECT_EQ(first.wait_exit(20000), std::optional<DWORD>(0));
}

TEST(TunmiraGui, OnTheFirewallsSystemVersionItStartsAndEndsAsUsual) {
  // The start-up takes the firewall step on this version; wine's own firewall reads as off, so the step
  // finds nothing to do and the wizard runs as anywhere else.
  SetEnvironmentVariableA("TUNMIRA_WINDOWS_VERSION", "5.1;Service Pack 2");
  UnixTempDir dir;
  TunmiraExe app(dir);
  SetEnvironmentVariableA("TUNMIRA_WINDOWS_VERSION", nullptr);
  ASSERT_TRUE(app.wait_for_window()) << app.state();
  ASSERT_TRUE(app.wait_for_page("Welcome00"));
  app.command(kExit);
  EXPECT_EQ(app.wait_exit(20000), std::optional<DWORD>(0)) << app.prompts();
}

TEST(TunmiraGui, WithoutTheLanguageFileInTheCurrentFolderItEndsWithStatusOne) {
  UnixTempDir dir;
  std::string folder = dir.windows("");
  folder.pop_back();
  TunmiraExe app(dir, folder);
  EXPECT_EQ(app.wait_exit(60000), std::optional<DWORD>(1));
  EXPECT_NE(app.prompts().find("don't find any *.ini file!"), std::string::npos) << app.prompts();
  EXPECT_EQ(FindWindowA(nullptr, kCaption), nullptr);
}

}  // namespace
}  // namespace tunmira
