// Under wine and a virtual display: the real Upgrade.exe, driven through its pages by the dialog's own
// button commands, upgrades the native router peer over the stand-in W64N55.dll; the image the peer
// received is compared byte for byte. Message boxes are answered through the prompt log.
#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "wine_support.h"

namespace upgrade {
namespace {

constexpr char kCaption[] = "HBX7300NQ Upgrade Utility V1.0";
constexpr int kNext = 1001, kUpgrade = 1003, kStatus = 1011, kAdapters = 1014, kDescription = 1013;
constexpr int kRouterVersion = 1022, kFileVersion = 1023;

// An Ethernet adapter the IP helper knows, so the wizard finds its gateway; the stand-in library is
// told to offer exactly that one.
std::string KnownAdapterGuid() {
  ULONG size = 0;
  if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW) return {};
  std::vector<std::uint8_t> buffer(size);
  auto *info = reinterpret_cast<IP_ADAPTER_INFO *>(buffer.data());
  if (GetAdaptersInfo(info, &size) != NO_ERROR) return {};
  for (; info; info = info->Next)
    if (info->Type == MIB_IF_TYPE_ETHERNET &&
        std::strncmp(info->GatewayList.IpAddress.String, "169.", 4) != 0)
      return info->AdapterName;
  return {};
}

std::string WindowText(HWND window) {
  char text[512] = {};
  DWORD_PTR n = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000, &n);
  return text;
}

bool WaitFor(const std::function<bool()> &done, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

// Keeps what a window shows on the virtual display as DIR/name.bmp, DIR being the folder that
// UPGRADE_SCREENSHOTS names (nothing without it), so the pages can be looked at after a run.
void SaveScreenshot(HWND window, const std::string &name) {
  std::string dir = Env("UPGRADE_SCREENSHOTS");
  if (dir.empty() || window == nullptr) return;
  std::string path = "Z:" + dir + "\\" + name + ".bmp";
  for (char &c : path)
    if (c == '/') c = '\\';
  CreateDirectoryA(("Z:" + dir).c_str(), nullptr);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(500);  // the other process paints on its own thread
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void *bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  const DWORD imageSize = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + imageSize;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(&file), sizeof file);
  out.write(reinterpret_cast<const char *>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char *>(bits), imageSize);
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

// What the virtual display shows where a window is, pixel by pixel.
std::vector<std::uint32_t> ScreenPixels(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void *bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  const auto *first = static_cast<const std::uint32_t *>(bits);
  std::vector<std::uint32_t> pixels(first, first + static_cast<std::size_t>(width) * height);
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

class UpgradeExe {
 public:
  UpgradeExe(const UnixTempDir &dir, int peerPort, const std::string &guid, const std::string &adapters = {})
      : dir_(dir) {
    std::string exe = Env("UPGRADE_EXE");
    std::string windowsExe = "Z:" + exe;
    for (char &c : windowsExe)
      if (c == '/') c = '\\';
    SetEnvironmentVariableA("W64N55_PEER", ("127.0.0.1:" + std::to_string(peerPort)).c_str());
    SetEnvironmentVariableA(
        "W64N55_ADAPTERS",
        (adapters.empty() ? guid + "|00:16:3e:44:55:66|Virtual Ethernet Z" : adapters).c_str());
    SetEnvironmentVariableA("RT_PROMPT_LOG", dir.Windows("prompts.txt").c_str());
    SetEnvironmentVariableA("UPGRADE_REBOOT_STEP_MS", "5");
    std::string command = "\"" + windowsExe + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cwd = dir.Windows("");
    cwd.pop_back();
    if (!exe.empty() &&
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(), &si, &pi)) {
      CloseHandle(pi.hThread);
      process_ = pi.hProcess;
      // The dialog is shown once its start-up is done; until then its controls' state means nothing.
      WaitFor(
          [&] { return (dialog_ = FindWindowA(nullptr, kCaption)) != nullptr && IsWindowVisible(dialog_); },
          30000);
    }
  }
  ~UpgradeExe() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
    CloseHandle(process_);
  }
  HWND dialog() const { return dialog_; }
  // What a failed start left: whether the program still runs, and every top-level window there is
  // now, so a missing dialog tells a crash, a stuck start-up and a stray window of another run apart.
  std::string StartReport() const {
    std::string report = "Upgrade.exe (pid " + std::to_string(GetProcessId(process_)) + ") ";
    DWORD code = 0;
    if (process_ == nullptr)
      report += "was not started";
    else if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT)
      report += "still runs";
    else if (GetExitCodeProcess(process_, &code))
      report += "ended with status " + std::to_string(code);
    report += "; top-level windows:";
    EnumWindows(
        [](HWND window, LPARAM out) -> BOOL {
          char text[256] = {}, windowClass[256] = {};
          GetWindowTextA(window, text, sizeof text);
          GetClassNameA(window, windowClass, sizeof windowClass);
          DWORD pid = 0;
          GetWindowThreadProcessId(window, &pid);
          *reinterpret_cast<std::string *>(out) += std::string("\n  pid ") + std::to_string(pid) +
                                                   (IsWindowVisible(window) ? " shown " : " hidden ") +
                                                   windowClass + " \"" + text + "\"";
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&report));
    return report;
  }
  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
  void Screenshot(const std::string &name) const { SaveScreenshot(dialog_, name); }
  void Click(int id) const {
    PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
  }
  std::string Text(int id) const { return WindowText(Item(id)); }
  std::string Prompts() const {
    auto bytes = ReadAll(dir_.Windows("prompts.txt"));
    return {bytes.begin(), bytes.end()};
  }
  // The exit status, or nullopt while the program still runs after the wait.
  std::optional<DWORD> WaitExit(DWORD ms) const {
    if (WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  const UnixTempDir &dir_;
  HANDLE process_ = nullptr;
  HWND dialog_ = nullptr;
};

class UpgradeGuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    guid = KnownAdapterGuid();
    ASSERT_FALSE(guid.empty()) << "the IP helper lists no Ethernet adapter with a usable gateway";
    CreateDirectoryA(dir.Windows("Bin").c_str(), nullptr);
  }
  void TearDown() override {
    DeleteFileA(dir.Windows("Bin\\HBX7300NQ.bin").c_str());
    RemoveDirectoryA(dir.Windows("Bin").c_str());
  }
  void PutImage(const std::vector<std::uint8_t> &image) {
    std::ofstream out(dir.Windows("Bin\\HBX7300NQ.bin"), std::ios::binary);
    out.write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
  }

  UnixTempDir dir;
  std::string guid;
};

TEST_F(UpgradeGuiTest, WizardUpgradesTheRouterAndShowsTheRebootWaitAndSuccess) {
  auto image = MakeImage(70000);
  PutImage(image);
  RouterPeerProcess peer(dir, "--version 1023");
  ASSERT_TRUE(peer.Ready());
  UpgradeExe app(dir, peer.port(), guid);
  ASSERT_NE(app.dialog(), nullptr) << app.StartReport();

  // Welcome page: Next and Close only; the adapter list holds the one adapter.
  EXPECT_TRUE(app.Visible(kNext));
  EXPECT_TRUE(app.Visible(IDCANCEL));
  EXPECT_FALSE(app.Visible(1002));
  EXPECT_FALSE(app.Visible(kUpgrade));
  EXPECT_EQ(SendMessageA(app.Item(kAdapters), LB_GETCOUNT, 0, 0), 1);
  app.Screenshot("1-welcome");

  // One adapter: Next goes straight through the search to the versions.
  app.Click(kNext);
  ASSERT_TRUE(WaitFor([&] { return app.Visible(kRouterVersion); }, 90000)) << app.Prompts();
  EXPECT_EQ(app.Text(kDescription), "Virtual Ethernet Z");
  EXPECT_EQ(app.Text(kRouterVersion), "V1.0.23");
  EXPECT_EQ(app.Text(kFileVersion), "V1.1.05");
  EXPECT_EQ(app.Text(1024), "HBX7300NQ");
  app.Screenshot("4-versions");

  app.Click(kNext);
  ASSERT_TRUE(WaitFor([&] { return app.Visible(kUpgrade); }, 10000));
  EXPECT_FALSE(app.Visible(kNext));
  app.Screenshot("5-upgrade");
  app.Click(kUpgrade);
  // Escape while the transfer runs is ignored: the dialog stays.
  PostMessageA(app.dialog(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  ASSERT_TRUE(WaitFor([&] { return app.Text(kStatus) == "Upgrade successfully."; }, 240000))
      << app.Text(kStatus) << " / " << app.Prompts();
  EXPECT_TRUE(IsWindow(app.dialog()));
  EXPECT_EQ(SendMessageA(app.Item(1010), PBM_GETPOS, 0, 0), 100);
  EXPECT_FALSE(app.Visible(kUpgrade));
  EXPECT_FALSE(app.Visible(1002));
  EXPECT_TRUE(app.Visible(IDCANCEL));
  EXPECT_TRUE(IsWindowEnabled(app.Item(IDCANCEL)));
  app.Screenshot("6-done");

  int status = -1;
  ASSERT_TRUE(peer.WaitForEnd(status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(peer.ReceivedImage(), image);
  EXPECT_EQ(app.Prompts(), "");

  app.Click(IDCANCEL);
  EXPECT_EQ(app.WaitExit(20000), std::optional<DWORD>(0));
}

TEST_F(UpgradeGuiTest, AnImageWithoutHeaderCannotBeUpgraded) {
  PutImage(std::vector<std::uint8_t>(5000, 0x42));
  RouterPeerProcess peer(dir, "");
  ASSERT_TRUE(peer.Ready());
  UpgradeExe app(dir, peer.port(), guid);
  ASSERT_NE(app.dialog(), nullptr) << app.StartReport();
  app.Click(kNext);
  ASSERT_TRUE(WaitFor([&] { return app.Visible(kRouterVersion); }, 90000)) << app.Prompts();
  EXPECT_EQ(app.Text(kFileVersion), "");
  app.Click(kNext);
  ASSERT_TRUE(WaitFor([&] { return app.Prompts().find("You can't") != std::string::npos; }, 10000));
  EXPECT_EQ(
      app.Prompts(),
      "message|Bad bin file, cannot upgrade your device!\r\nmessage|You can't upgrade your device!\r\n");
  EXPECT_FALSE(app.Visible(kUpgrade));
  app.Click(IDCANCEL);
  EXPECT_EQ(app.WaitExit(20000), std::optional<DWORD>(0));
}

TEST_F(UpgradeGuiTest, SeveralAdaptersAreListedInByteOrderOfTheirDescriptions) {
  RouterPeerProcess peer(dir, "");
  ASSERT_TRUE(peer.Ready());
  UpgradeExe app(dir, peer.port(), guid,
                 guid +
                     "|00:16:3e:00:00:01|b second;{5E1F0C2A-0000-4000-8000-0000000000B2}|00:16:3e:00:00:02|"
                     "Z first;{5E1F0C2A-0000-4000-8000-0000000000C3}|00:16:3e:00:00:03|a third");
  ASSERT_NE(app.dialog(), nullptr) << app.StartReport();
  EXPECT_EQ(SendMessageA(app.Item(kAdapters), LB_GETCOUNT, 0, 0), 3);
  app.Click(kNext);
  ASSERT_TRUE(WaitFor([&] { return app.Visible(kAdapters); }, 10000));
  EXPECT_TRUE(app.Visible(kDescription));
  EXPECT_TRUE(app.Visible(1002));
  EXPECT_EQ(app.Text(kDescription), "Z first");
  app.Screenshot("2-adapter");
  SendMessageA(app.Item(kAdapters), LB_SETCURSEL, 2, 0);
  PostMessageA(app.dialog(), WM_COMMAND, MAKEWPARAM(kAdapters, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(app.Item(kAdapters)));
  EXPECT_TRUE(WaitFor([&] { return app.Text(kDescription) == "b second"; }, 5000)) << app.Text(kDescription);
  app.Click(1002);
  EXPECT_TRUE(WaitFor([&] { return !app.Visible(kAdapters); }, 5000));
  EXPECT_EQ(app.Prompts(), "");
  app.Click(IDCANCEL);
  EXPECT_EQ(app.WaitExit(20000), std::optional<DWORD>(0));
}

// A button shows its hover frame while the mouse rests on it and its normal frame again once the mouse
// has left, on every visit.
TEST_F(UpgradeGuiTest, ButtonsShowTheirHoverFrameWhileTheMouseRestsOnThem) {
  RouterPeerProcess peer(dir, "");
  ASSERT_TRUE(peer.Ready());
  UpgradeExe app(dir, peer.port(), guid);
  ASSERT_NE(app.dialog(), nullptr) << app.StartReport();
  HWND next = app.Item(kNext);
  ASSERT_TRUE(IsWindowVisible(next) && IsWindowEnabled(next));
  RECT button, dialog;
  GetWindowRect(next, &button);
  GetWindowRect(app.dialog(), &dialog);
  POINT away{dialog.left + 4, dialog.top + 4};
  POINT on{(button.left + button.right) / 2, (button.top + button.bottom) / 2};
  SetCursorPos(away.x, away.y);
  RedrawWindow(app.dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  std::vector<std::uint32_t> normal;
  // The normal frame, once the display has settled on it.
  ASSERT_TRUE(WaitFor(
      [&] {
        auto before = ScreenPixels(next);
        Sleep(200);
        normal = ScreenPixels(next);
        return before == normal;
      },
      10000));
  for (int visit = 1; visit <= 2; ++visit) {
    SCOPED_TRACE(visit);
    SetCursorPos(on.x, on.y);
    EXPECT_TRUE(WaitFor([&] { return ScreenPixels(next) != normal; }, 10000));
    SetCursorPos(away.x, away.y);
    EXPECT_TRUE(WaitFor([&] { return ScreenPixels(next) == normal; }, 10000));
  }
  app.Click(IDCANCEL);
  EXPECT_EQ(app.WaitExit(20000), std::optional<DWORD>(0));
}

TEST_F(UpgradeGuiTest, NoRouterEndsTheProgramWithStatusOne) {
  PutImage(MakeImage(2000));
  RouterPeerProcess peer(dir, "--drop 0:1000");
  ASSERT_TRUE(peer.Ready());
  UpgradeExe app(dir, peer.port(), guid);
  ASSERT_NE(app.dialog(), nullptr) << app.StartReport();
  app.Click(kNext);
  EXPECT_EQ(app.WaitExit(90000), std::optional<DWORD>(1));
  EXPECT_EQ(app.Prompts(), "message|cannot scan your device!\r\n");
}

}  // namespace
}  // namespace upgrade
