// Under wine and a virtual display: the real Upgrade.exe, driven through its pages by the dialog's own
// button commands, upgrades the native router peer over the stand-in W64N55.dll; the image the peer
// received is compared byte for byte. Message boxes are answered through the prompt log.
#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "wine_support.h"

namespace upgrade {
namespace {

constexpr char kCaption[] = "HBX7300NQ Upgrade Utility V1.0";
constexpr int kNext = 1001, kUpgrade = 1003, kStatus = 1011, kAdapters = 1014, kDescription = 1013;
constexpr int kRouterVersion = 1022, kFileVersion = 1023;

// An Ethernet adapter the IP helper knows, so the wizard finds its gateway; the stand-in library is
// told to offer exactly that one.
std::string known_adapter_guid() {
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

std::string window_text(HWND window) {
  char text[512] = {};
  DWORD_PTR n = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000, &n);
  return text;
}

bool wait_for(const std::function<bool()> &done, DWORD timeout_ms) {
  for (DWORD waited = 0; waited < timeout_ms; waited += 50) {
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

// The display's pixels of a window's client area, bottom row first, rows padded to four bytes as a .bmp
// holds them. The client area is what the program draws: under wine without a window manager nobody
// draws the caption and frame, so the display shows the bare root window around it.
struct ScreenGrab {
  BITMAPINFOHEADER header{};
  std::vector<std::uint8_t> bits;
};

RECT client_on_screen(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT *>(&rect), 2);
  return rect;
}

ScreenGrab grab_screen(HWND window, WORD bit_count) {
  const RECT rect = client_on_screen(window);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bit_count;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void *bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  const std::size_t size = static_cast<std::size_t>(((width * bit_count / 8 + 3) & ~3) * height);
  ScreenGrab grab{info.bmiHeader, {}};
  if (bits)
    grab.bits.assign(static_cast<const std::uint8_t *>(bits), static_cast<const std::uint8_t *>(bits) + size);
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return grab;
}

// Keeps what a window shows on the virtual display as DIR/name.bmp, DIR being the folder that
// UPGRADE_SCREENSHOTS names (nothing without it), so the pages can be looked at after a run.
void save_screenshot(HWND window, const std::string &name) {
  std::string dir = env("UPGRADE_SCREENSHOTS");
  if (dir.empty() || window == nullptr) return;
  std::string path = "Z:" + dir + "\\" + name + ".bmp";
  for (char &c : path)
    if (c == '/') c = '\\';
  CreateDirectoryA(("Z:" + dir).c_str(), nullptr);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(500);  // the other process paints on its own thread
  EXPECT_EQ(window_over_title_strip(window), "") << name << ": another window covers Upgrade";
  const ScreenGrab grab = grab_screen(window, 24);
  // The page's picture reaches the top row: a black row is display that nothing of Upgrade paints.
  const int width = static_cast<int>(grab.header.biWidth), height = static_cast<int>(grab.header.biHeight);
  const std::size_t top_row = static_cast<std::size_t>(((width * 3 + 3) & ~3) * (height - 1));
  int black = 0;
  for (std::size_t at = top_row; at + 2 < grab.bits.size() && at < top_row + width * 3u; at += 3)
    black += grab.bits[at] + grab.bits[at + 1] + grab.bits[at + 2] < 30 ? 1 : 0;
  EXPECT_EQ(black, 0) << name << ": the picture's top row is black";
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof grab.header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(grab.bits.size());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(&file), sizeof file);
  out.write(reinterpret_cast<const char *>(&grab.header), sizeof grab.header);
  out.write(reinterpret_cast<const char *>(grab.bits.data()), static_cast<std::streamsize>(grab.bits.size()));
}

// What the virtual display shows of a window's client area, pixel by pixel.
std::vector<std::uint32_t> screen_pixels(HWND window) {
  const ScreenGrab grab = grab_screen(window, 32);
  std::vector<std::uint32_t> pixels(grab.bits.size() / 4);
  std::memcpy(pixels.data(), grab.bits.data(), pixels.size() * 4);
  return pixels;
}

// A window's client area as the display shows it, read by client coordinates.
class ClientPicture {
 public:
  explicit ClientPicture(HWND window) : window_(window), pixels_(screen_pixels(window)) {
    RECT client{};
    GetClientRect(window, &client);
    width_ = client.right;
    height_ = client.bottom;
  }
  int width() const { return width_; }
  int height() const { return height_; }
  // Red + green + blue of a pixel, 0 outside the picture.
  int brightness(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || pixels_.empty()) return 0;
    const std::uint32_t pixel = pixels_[static_cast<std::size_t>((height_ - 1 - y) * width_ + x)];
    return static_cast<int>((pixel & 0xFF) + ((pixel >> 8) & 0xFF) + ((pixel >> 16) & 0xFF));
  }
  // Dark caption ink, as the pictures' and controls' texts draw it; the fields' blue is no ink.
  bool ink(int x, int y) const { return brightness(x, y) < 3 * 128 && !field_blue(x, y); }
  // Whether the pixel is the blue the dialog's brush gives the fields of the later pages,
  // RGB(0x51, 0x6D, 0xB6), give or take what a picture's compression shifts.
  bool field_blue(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || pixels_.empty()) return false;
    const std::uint32_t pixel = pixels_[static_cast<std::size_t>((height_ - 1 - y) * width_ + x)];
    const auto close_to = [](std::uint32_t channel, int want) {
      return std::abs(static_cast<int>(channel & 0xFF) - want) <= 16;
    };
    return close_to(pixel >> 16, 0x51) && close_to(pixel >> 8, 0x6D) && close_to(pixel, 0xB6);
  }
  // How many pixels of the rectangle are the fields' blue.
  int blue_pixels(const RECT &area) const {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y)
      for (int x = area.left; x < area.right; ++x) count += field_blue(x, y) ? 1 : 0;
    return count;
  }
  // The rows holding ink between x_from and x_to, as [first, last]; {-1, -1} when there is none.
  std::pair<int, int> ink_rows(int x_from, int x_to, int y_from, int y_to) const {
    std::pair<int, int> rows{-1, -1};
    for (int y = std::max(y_from, 0); y < std::min(y_to, height_); ++y)
      for (int x = std::max(x_from, 0); x < std::min(x_to, width_); ++x)
        if (ink(x, y)) {
          if (rows.first < 0) rows.first = y;
          rows.second = y;
          break;
        }
    return rows;
  }
  // A child control's rectangle in this window's client coordinates.
  RECT rect_of(HWND control) const {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT *>(&rect), 2);
    return rect;
  }

 private:
  HWND window_;
  std::vector<std::uint32_t> pixels_;
  int width_ = 0, height_ = 0;
};

// The lowest client row that holds dark caption ink between x_from and x_to above row y_limit; -1
// when there is none.
int lowest_ink_row(HWND window, int x_from, int x_to, int y_limit) {
  const ClientPicture picture(window);
  for (int y = std::min(y_limit, picture.height()) - 1; y >= 0; --y)
    for (int x = x_from; x < x_to; ++x)
      if (picture.ink(x, y)) return y;
  return -1;
}

// The width and height a JPEG's frame header gives; {0, 0} when it has none.
SIZE jpeg_size(const std::uint8_t *bytes, std::size_t size) {
  for (std::size_t at = 2; at + 9 < size;) {
    if (bytes[at] != 0xFF) break;
    const std::uint8_t marker = bytes[at + 1];
    const std::size_t length = static_cast<std::size_t>(bytes[at + 2] << 8 | bytes[at + 3]);
    if (marker >= 0xC0 && marker <= 0xC3)
      return {bytes[at + 7] << 8 | bytes[at + 8], bytes[at + 5] << 8 | bytes[at + 6]};
    at += 2 + length;
  }
  return {0, 0};
}

// Every page picture built into Upgrade.exe, by resource id, with the size its JPEG header gives.
std::map<int, SIZE> page_picture_sizes() {
  std::string exe = "Z:" + env("UPGRADE_EXE");
  for (char &c : exe)
    if (c == '/') c = '\\';
  std::map<int, SIZE> sizes;
  HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return sizes;
  EnumResourceNamesA(
      module, "IMAGE",
      [](HMODULE from, LPCSTR, LPSTR name, LONG_PTR out) -> BOOL {
        HRSRC found = FindResourceA(from, name, "IMAGE");
        const void *bytes = found ? LockResource(LoadResource(from, found)) : nullptr;
        if (bytes != nullptr && IS_INTRESOURCE(name))
          (*reinterpret_cast<std::map<int, SIZE> *>(
              out))[static_cast<int>(reinterpret_cast<ULONG_PTR>(name))] =
              jpeg_size(static_cast<const std::uint8_t *>(bytes), SizeofResource(from, found));
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&sizes));
  FreeLibrary(module);
  return sizes;
}

// The page pictures have the client area's size, so no page is cut off at the right or the bottom
// and none leaves a strip of bare dialog.
void expect_pictures_fill_the_client_area(HWND dialog) {
  const ClientPicture shown(dialog);
  const std::map<int, SIZE> sizes = page_picture_sizes();
  EXPECT_EQ(sizes.size(), 6u);
  for (const auto &[id, size] : sizes) {
    EXPECT_EQ(size.cx, shown.width()) << "picture " << id;
    EXPECT_EQ(size.cy, shown.height()) << "picture " << id;
  }
}

int area_of(const RECT &r) {
  return (r.right - r.left) * (r.bottom - r.top);
}

RECT grown(const RECT &r, int by) {
  return {r.left - by, r.top - by, r.right + by, r.bottom + by};
}

// A field of the later pages is the brush's blue with its text in white, exactly the control's
// rectangle: the blue lines each of its edges and stops there. With the control hidden, the page
// picture shows a blue panel of that same size and place, so nothing but blue ever shows there and no
// strip of another colour lines the field.
void expect_blue_field(HWND dialog, int id) {
  SCOPED_TRACE(id);
  HWND control = GetDlgItem(dialog, id);
  const ClientPicture shown(dialog);
  const RECT field = shown.rect_of(control);
  EXPECT_GT(shown.blue_pixels(field), area_of(field) * 6 / 10) << "the field is not drawn on the blue";
  // The corners, where no text reaches, are blue to the very pixel.
  const RECT corners[] = {{field.left, field.top, field.left + 3, field.top + 3},
                          {field.right - 3, field.top, field.right, field.top + 3},
                          {field.left, field.bottom - 3, field.left + 3, field.bottom},
                          {field.right - 3, field.bottom - 3, field.right, field.bottom}};
  for (const RECT &corner : corners)
    EXPECT_EQ(shown.blue_pixels(corner), 9) << "the blue stops short of a corner";
  // Two pixels beyond each edge there is no blue.
  const RECT beyond[] = {{field.left - 2, field.top, field.left - 1, field.bottom},
                         {field.right + 1, field.top, field.right + 2, field.bottom},
                         {field.left, field.top - 2, field.right, field.top - 1},
                         {field.left, field.bottom + 1, field.right, field.bottom + 2}};
  for (const RECT &line : beyond)
    EXPECT_LE(shown.blue_pixels(line) * 10, area_of(line)) << "the blue reaches past an edge";

  ShowWindow(control, SW_HIDE);
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(500);  // the other process paints on its own thread
  const ClientPicture picture(dialog);
  ShowWindow(control, SW_SHOW);
  RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  const RECT inside = grown(field, -1), ring = grown(field, 3), within = grown(field, 1);
  EXPECT_GE(picture.blue_pixels(inside), area_of(inside) * 97 / 100)
      << "the picture has no panel under the field";
  EXPECT_LE(picture.blue_pixels(ring) - picture.blue_pixels(within), (area_of(ring) - area_of(within)) / 20)
      << "the picture's panel reaches past the field";
}

// A value of the versions page stands on its caption's row: the caption's ink to its left lies
// within the field's rows.
void expect_value_beside_caption(HWND dialog, int field_id) {
  SCOPED_TRACE(field_id);
  const ClientPicture shown(dialog);
  const RECT field = shown.rect_of(GetDlgItem(dialog, field_id));
  const auto caption = shown.ink_rows(0, field.left - 2, field.top - 14, field.bottom + 14);
  ASSERT_GE(caption.first, 0) << "no caption left of the field";
  EXPECT_GE(caption.first, field.top) << "the caption starts below the field's top";
  EXPECT_LT(caption.second, field.bottom) << "the caption ends below the field";
}

// White text on the field: some of its pixels are far brighter than the blue.
bool white_text_in(HWND dialog, int id) {
  const ClientPicture shown(dialog);
  const RECT field = shown.rect_of(GetDlgItem(dialog, id));
  for (int y = field.top; y < field.bottom; ++y)
    for (int x = field.left; x < field.right; ++x)
      if (shown.brightness(x, y) > 3 * 230) return true;
  return false;
}

// How far left and right of a control the border of the card it stands on is: the first pixel
// clearly darker than the card's white fill along the control's middle row; -1 when none is near.
std::pair<int, int> card_margins(const ClientPicture &shown, const RECT &control) {
  constexpr int kBorder = 3 * 230, kReach = 40;
  const int y = (control.top + control.bottom) / 2;
  const auto border_at = [&](int x) {
    return x >= 0 && x < shown.width() && shown.brightness(x, y) < kBorder;
  };
  std::pair<int, int> margins{-1, -1};
  for (int d = 1; d <= kReach && margins.first < 0; ++d)
    if (border_at(control.left - d)) margins.first = d;
  for (int d = 1; d <= kReach && margins.second < 0; ++d)
    if (border_at(control.right - 1 + d)) margins.second = d;
  return margins;
}

class UpgradeExe {
 public:
  UpgradeExe(const UnixTempDir &dir, int peer_port, const std::string &guid, const std::string &adapters = {})
      : dir_(dir) {
    std::string exe = env("UPGRADE_EXE");
    std::string windows_exe = "Z:" + exe;
    for (char &c : windows_exe)
      if (c == '/') c = '\\';
    SetEnvironmentVariableA("W64N55_PEER", ("127.0.0.1:" + std::to_string(peer_port)).c_str());
    SetEnvironmentVariableA(
        "W64N55_ADAPTERS",
        (adapters.empty() ? guid + "|00:16:3e:44:55:66|Virtual Ethernet Z" : adapters).c_str());
    SetEnvironmentVariableA("RT_PROMPT_LOG", dir.windows("prompts.txt").c_str());
    SetEnvironmentVariableA("UPGRADE_REBOOT_STEP_MS", "5");
    std::string command = "\"" + windows_exe + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cwd = dir.windows("");
    cwd.pop_back();
    if (!exe.empty() &&
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(), &si, &pi)) {
      CloseHandle(pi.hThread);
      process_ = pi.hProcess;
      // The dialog is shown once its start-up is done; until then its controls' state means nothing.
      wait_for(
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
  std::string start_report() const {
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
          char text[256] = {}, window_class[256] = {};
          GetWindowTextA(window, text, sizeof text);
          GetClassNameA(window, window_class, sizeof window_class);
          DWORD pid = 0;
          GetWindowThreadProcessId(window, &pid);
          *reinterpret_cast<std::string *>(out) += std::string("\n  pid ") + std::to_string(pid) +
                                                   (IsWindowVisible(window) ? " shown " : " hidden ") +
                                                   window_class + " \"" + text + "\"";
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&report));
    return report;
  }
  HWND item(int id) const { return GetDlgItem(dialog_, id); }
  bool visible(int id) const { return IsWindowVisible(item(id)) != FALSE; }
  void screenshot(const std::string &name) const { save_screenshot(dialog_, name); }
  void click(int id) const {
    PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(item(id)));
  }
  std::string text(int id) const { return window_text(item(id)); }
  std::string prompts() const {
    auto bytes = read_all(dir_.windows("prompts.txt"));
    return {bytes.begin(), bytes.end()};
  }
  // The exit status, or nullopt while the program still runs after the wait.
  std::optional<DWORD> wait_exit(DWORD ms) const {
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

// Holds Upgrade.exe's search worker just before it hands its outcome to the dialog, through the pair
// of named events that UPGRADE_SEARCH_GATE names to the programs started while it lives.
class SearchGate {
 public:
  SearchGate()
      : name_("rt-upgrade-search-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(GetTickCount64())),
        held_(CreateEventA(nullptr, TRUE, FALSE, (name_ + ".held").c_str())),
        go_(CreateEventA(nullptr, TRUE, FALSE, (name_ + ".go").c_str())) {
    SetEnvironmentVariableA("UPGRADE_SEARCH_GATE", name_.c_str());
  }
  ~SearchGate() {
    SetEnvironmentVariableA("UPGRADE_SEARCH_GATE", nullptr);
    release();
    CloseHandle(held_);
    CloseHandle(go_);
  }
  bool wait_held(DWORD ms) const { return WaitForSingleObject(held_, ms) == WAIT_OBJECT_0; }
  void release() const { SetEvent(go_); }

 private:
  std::string name_;
  HANDLE held_;
  HANDLE go_;
};

class UpgradeGuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    guid = known_adapter_guid();
    ASSERT_FALSE(guid.empty()) << "the IP helper lists no Ethernet adapter with a usable gateway";
    CreateDirectoryA(dir.windows("Bin").c_str(), nullptr);
  }
  void TearDown() override {
    DeleteFileA(dir.windows("Bin\\HBX7300NQ.bin").c_str());
    RemoveDirectoryA(dir.windows("Bin").c_str());
  }
  void put_image(const std::vector<std::uint8_t> &image) {
    std::ofstream out(dir.windows("Bin\\HBX7300NQ.bin"), std::ios::binary);
    out.write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
  }

  UnixTempDir dir;
  std::string guid;
};

TEST_F(UpgradeGuiTest, WizardUpgradesTheRouterAndShowsTheRebootWaitAndSuccess) {
  auto image = make_image(70000);
  put_image(image);
  RouterPeerProcess peer(dir, "--version 1023");
  ASSERT_TRUE(peer.ready());
  UpgradeExe app(dir, peer.port(), guid);
  ASSERT_NE(app.dialog(), nullptr) << app.start_report();

  // Welcome page: Next and Close only; the adapter list holds the one adapter.
  EXPECT_TRUE(app.visible(kNext));
  EXPECT_TRUE(app.visible(IDCANCEL));
  EXPECT_FALSE(app.visible(1002));
  EXPECT_FALSE(app.visible(kUpgrade));
  EXPECT_EQ(SendMessageA(app.item(kAdapters), LB_GETCOUNT, 0, 0), 1);
  app.screenshot("1-welcome");
  expect_pictures_fill_the_client_area(app.dialog());

  // One adapter: Next goes straight through the search to the versions.
  app.click(kNext);
  ASSERT_TRUE(wait_for([&] { return app.visible(kRouterVersion); }, 90000)) << app.prompts();
  EXPECT_EQ(app.text(kDescription), "Virtual Ethernet Z");
  EXPECT_EQ(app.text(kRouterVersion), "V1.0.23");
  EXPECT_EQ(app.text(kFileVersion), "V1.1.05");
  EXPECT_EQ(app.text(1024), "HBX7300NQ");
  app.screenshot("4-versions");
  for (int field : {1024, kRouterVersion, kFileVersion}) {
    expect_value_beside_caption(app.dialog(), field);
    EXPECT_TRUE(white_text_in(app.dialog(), field)) << field;
    expect_blue_field(app.dialog(), field);
  }

  app.click(kNext);
  ASSERT_TRUE(wait_for([&] { return app.visible(kUpgrade); }, 10000));
  EXPECT_FALSE(app.visible(kNext));
  app.screenshot("5-upgrade");
  {
    // The "Progress" caption stands wholly above its box: the box cuts none of its letters.
    const RECT box = ClientPicture(app.dialog()).rect_of(app.item(1010));
    const int lowest = lowest_ink_row(app.dialog(), box.left, box.left + 80, box.top);
    EXPECT_GE(lowest, box.top - 30) << "no caption above the progress box";
    EXPECT_LT(lowest, box.top - 1) << "the progress box cuts its caption";
    // The box and the status line below it stand on the picture's card, centred across it, and the
    // status line is a blue field on that card.
    const ClientPicture shown(app.dialog());
    for (int id : {1010, kStatus}) {
      SCOPED_TRACE(id);
      const auto [left, right] = card_margins(shown, shown.rect_of(app.item(id)));
      EXPECT_GT(left, 0) << "no card border left of the control";
      EXPECT_GT(right, 0) << "no card border right of the control";
      EXPECT_LE(std::abs(left - right), 2) << "off the card's middle";
    }
    expect_blue_field(app.dialog(), kStatus);
  }
  app.click(kUpgrade);
  // Escape while the transfer runs is ignored: the dialog stays.
  PostMessageA(app.dialog(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  ASSERT_TRUE(wait_for([&] { return app.text(kStatus) == "Upgrade successfully."; }, 240000))
      << app.text(kStatus) << " / " << app.prompts();
  EXPECT_TRUE(IsWindow(app.dialog()));
  EXPECT_EQ(SendMessageA(app.item(1010), PBM_GETPOS, 0, 0), 100);
  EXPECT_FALSE(app.visible(kUpgrade));
  EXPECT_FALSE(app.visible(1002));
  EXPECT_TRUE(app.visible(IDCANCEL));
  EXPECT_TRUE(IsWindowEnabled(app.item(IDCANCEL)));
  app.screenshot("6-done");

  int status = -1;
  ASSERT_TRUE(peer.wait_for_end(status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(peer.received_image(), image);
  EXPECT_EQ(app.prompts(), "");

  app.click(IDCANCEL);
  EXPECT_EQ(app.wait_exit(20000), std::optional<DWORD>(0));
}

TEST_F(UpgradeGuiTest, AnImageWithoutHeaderCannotBeUpgraded) {
  put_image(std::vector<std::uint8_t>(5000, 0x42));
  RouterPeerProcess peer(dir, "");
  ASSERT_TRUE(peer.ready());
  UpgradeExe app(dir, peer.port(), guid);
  ASSERT_NE(app.dialog(), nullptr) << app.start_report();
  app.click(kNext);
  ASSERT_TRUE(wait_for([&] { return app.visible(kRouterVersion); }, 90000)) << app.prompts();
  EXPECT_EQ(app.text(kFileVersion), "");
  app.click(kNext);
  ASSERT_TRUE(wait_for([&] { return app.prompts().find("You can't") != std::string::npos; }, 10000));
  EXPECT_EQ(
      app.prompts(),
      "message|Bad bin file, cannot upgrade your device!\r\nmessage|You can't upgrade your device!\r\n");
  EXPECT_FALSE(app.visible(kUpgrade));
  app.click(IDCANCEL);
  EXPECT_EQ(app.wait_exit(20000), std::optional<DWORD>(0));
}

TEST_F(UpgradeGuiTest, SeveralAdaptersAreListedInByteOrderOfTheirDescriptions) {
  RouterPeerProcess peer(dir, "");
  ASSERT_TRUE(peer.ready());
  UpgradeExe app(dir, peer.port(), guid,
                 guid +
                     "|00:16:3e:00:00:01|b second;{5E1F0C2A-0000-4000-8000-0000000000B2}|00:16:3e:00:00:02|"
                     "Z first;{5E1F0C2A-0000-4000-8000-0000000000C3}|00:16:3e:00:00:03|a third");
  ASSERT_NE(app.dialog(), nullptr) << app.start_report();
  EXPECT_EQ(SendMessageA(app.item(kAdapters), LB_GETCOUNT, 0, 0), 3);
  app.click(kNext);
  ASSERT_TRUE(wait_for([&] { return app.visible(kAdapters); }, 10000));
  EXPECT_TRUE(app.visible(kDescription));
  EXPECT_TRUE(app.visible(1002));
  EXPECT_EQ(app.text(kDescription), "Z first");
  app.screenshot("2-adapter");
  SendMessageA(app.item(kAdapters), LB_SETCURSEL, 2, 0);
  PostMessageA(app.dialog(), WM_COMMAND, MAKEWPARAM(kAdapters, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(app.item(kAdapters)));
  EXPECT_TRUE(wait_for([&] { return app.text(kDescription) == "b second"; }, 5000)) << app.text(kDescription);
  app.click(1002);
  EXPECT_TRUE(wait_for([&] { return !app.visible(kAdapters); }, 5000));
  EXPECT_EQ(app.prompts(), "");
  app.click(IDCANCEL);
  EXPECT_EQ(app.wait_exit(20000), std::optional<DWORD>(0));
}

// A button shows its hover frame while the mouse rests on it and its normal frame again once the mouse
// has left, on every visit.
TEST_F(UpgradeGuiTest, ButtonsShowTheirHoverFrameWhileTheMouseRestsOnThem) {
  RouterPeerProcess peer(dir, "");
  ASSERT_TRUE(peer.ready());
  UpgradeExe app(dir, peer.port(), guid);
  ASSERT_NE(app.dialog(), nullptr) << app.start_report();
  HWND next = app.item(kNext);
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
  ASSERT_TRUE(wait_for(
      [&] {
        auto before = screen_pixels(next);
        Sleep(200);
        normal = screen_pixels(next);
        return before == normal;
      },
      10000));
  for (int visit = 1; visit <= 2; ++visit) {
    SCOPED_TRACE(visit);
    SetCursorPos(on.x, on.y);
    EXPECT_TRUE(wait_for([&] { return screen_pixels(next) != normal; }, 10000));
    SetCursorPos(away.x, away.y);
    EXPECT_TRUE(wait_for([&] { return screen_pixels(next) == normal; }, 10000));
  }
  app.click(IDCANCEL);
  EXPECT_EQ(app.wait_exit(20000), std::optional<DWORD>(0));
}

// The search for a router that never answers takes both scans, about 12 s, and the window keeps
// answering throughout; what it finds is the same.
TEST_F(UpgradeGuiTest, TheWindowAnswersWhileTheSearchWaitsForASilentRouter) {
  put_image(make_image(2000));
  RouterPeerProcess peer(dir, "--drop 0:1000");
  ASSERT_TRUE(peer.ready());
  UpgradeExe app(dir, peer.port(), guid);
  ASSERT_NE(app.dialog(), nullptr) << app.start_report();
  app.click(kNext);
  Sleep(1000);  // the click has started the search
  for (int probe = 0; probe < 4; ++probe) {
    SCOPED_TRACE(probe);
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutA(app.dialog(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 2000, &result),
              0);
    EXPECT_EQ(app.text(kDescription), "Virtual Ethernet Z");
    Sleep(500);
  }
  // Still searching: the answers above came while the search ran.
  EXPECT_EQ(app.wait_exit(0), std::nullopt);
  EXPECT_EQ(app.prompts(), "");
  EXPECT_EQ(app.wait_exit(90000), std::optional<DWORD>(1));
  EXPECT_EQ(app.prompts(), "message|cannot scan your device!\r\n");
}

// Close while the search's outcome is still on its way to the dialog: the worker has yet to use the
// dialog, so the dialog stays until the outcome has arrived and is shown; then Close ends the program.
TEST_F(UpgradeGuiTest, CloseWaitsUntilTheSearchHasHandedItsOutcomeOver) {
  put_image(make_image(2000));
  RouterPeerProcess peer(dir, "--version 1023");
  ASSERT_TRUE(peer.ready());
  SearchGate gate;
  UpgradeExe app(dir, peer.port(), guid);
  ASSERT_NE(app.dialog(), nullptr) << app.start_report();
  app.click(kNext);
  ASSERT_TRUE(gate.wait_held(90000)) << "the search did not end; " << app.prompts();
  // Close as its button sends it: the dialog has answered it when the call returns.
  DWORD_PTR ignored = 0;
  ASSERT_NE(SendMessageTimeoutA(app.dialog(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                                reinterpret_cast<LPARAM>(app.item(IDCANCEL)), SMTO_BLOCK, 10000, &ignored),
            0);
  EXPECT_EQ(app.wait_exit(5000), std::nullopt) << "the dialog closed under the search worker";
  gate.release();
  ASSERT_TRUE(wait_for([&] { return app.visible(kRouterVersion); }, 30000)) << app.prompts();
  EXPECT_EQ(app.text(kRouterVersion), "V1.0.23");
  EXPECT_EQ(app.prompts(), "");
  app.click(IDCANCEL);
  EXPECT_EQ(app.wait_exit(20000), std::optional<DWORD>(0));
}

TEST_F(UpgradeGuiTest, NoRouterEndsTheProgramWithStatusOne) {
  put_image(make_image(2000));
  RouterPeerProcess peer(dir, "--drop 0:1000");
  ASSERT_TRUE(peer.ready());
  UpgradeExe app(dir, peer.port(), guid);
  ASSERT_NE(app.dialog(), nullptr) << app.start_report();
  app.click(kNext);
  EXPECT_EQ(app.wait_exit(90000), std::optional<DWORD>(1));
  EXPECT_EQ(app.prompts(), "message|cannot scan your device!\r\n");
}

}  // namespace
}  // namespace upgrade
