// The skinned window layer on a real window under wine: a test window dressed from a skin file, with
// its controls read back through the system, a hover and a click on a skinned button, the links, a
// child page over its placeholder, the painted caption, the hook chain and the prompt switch.
#include <windows.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "caption_painter.h"
#include "dialog.h"
#include "language.h"
#include "profile_text.h"
#include "prompts.h"
#include "skin_controls.h"
#include "skin_loader.h"
#include "skin_wine_support.h"
#include "stay_active.h"
#include "win_skin_host.h"
#include "window_hook.h"

namespace tunmira {
namespace {

using namespace tunmira::testing;

constexpr COLORREF kBackground = RGB(30, 60, 90);
constexpr COLORREF kNormal = RGB(0, 0, 128);
constexpr COLORREF kPressed = RGB(0, 128, 0);
constexpr COLORREF kHover = RGB(128, 0, 0);
constexpr UINT kPagePosted = WM_APP + 7;

const char kSkin[] =
    "[Common]\r\n"
    "FontName=Tahoma\r\nFontSize=9\r\nTextColor=255,255,0\r\nBkColor=0,0,64\r\nTransparent=0\r\n"
    "ActiveColor=255,255,255\r\nNoActiveColor=200,200,200\r\n"
    "[TestWindow]\r\n"
    "background.Type=Bitmap\r\nbackground.FilePath=back.bmp\r\nbackground.Position=0,0\r\n"
    "background.Size=360,260\r\n"
    "Title.Type=Static\r\nTitle.Position=10,12\r\nTitle.Size=200,20\r\nTitle.TextString=Welcome to the "
    "test\r\n"
    "Title.TextColor=255,128,0\r\nTitle.BkColor=10,20,30\r\n"
    "Note.Type=Static\r\nNote.Position=10,36\r\nNote.Size=150,18\r\nNote.TextString=Second line\r\n"
    "Note.FontSize=0,16\r\n"
    "Hint.Type=Static\r\nHint.Position=10,150\r\nHint.Size=200,20\r\nHint.TextString=WWWWWWWWWWWWWWWW\r\n"
    "Hint.Transparent=1\r\nHint.TextColor=255,255,255\r\n"
    "Next.Type=Button\r\nNext.FilePath=strip.bmp\r\nNext.Position=250,200\r\nNext.TextString=Next\r\n"
    "Next.ToolTip=Go to the next page\r\n"
    "Broken.Type=Button\r\nBroken.FilePath=broken.bmp\r\n";

class ChildPage : public rtwin::CDialog {
 public:
  explicit ChildPage(HWND parent) : CDialog(901, parent) {}
};

class TestWindow : public rtwin::CDialog {
 public:
  explicit TestWindow(SkinLoader &loader) : CDialog(900), loader_(loader) {}

  CSkinBitmap background;
  CSkinLabel title, note, hint;
  CSkinButton next, hand;
  CSkinLink guide, empty;
  CPngStatic picture;
  CCaptionPainter caption;
  std::vector<int> clicked;
  std::vector<WPARAM> wizard_commands;
  int page_posts = 0;
  struct CaptionSeen {
    int active, width;
    COLORREF left, right;
  };
  std::vector<CaptionSeen> captions;

 protected:
  BOOL OnInitDialog() override {
    background.SubclassDlgItem(1006, hwnd());
    title.SubclassDlgItem(2900, hwnd());
    note.SubclassDlgItem(2901, hwnd());
    hint.SubclassDlgItem(2902, hwnd());
    next.SubclassDlgItem(1029, hwnd());
    hand.SubclassDlgItem(313, hwnd());
    guide.SubclassDlgItem(2886, hwnd());
    empty.SubclassDlgItem(2887, hwnd());
    picture.SubclassDlgItem(3000, hwnd());
    loader_.LoadBitmapItem("TestWindow", "background", &background);
    loader_.LoadStaticItem("TestWindow", "Title", &title);
    loader_.LoadStaticItem("TestWindow", "Note", &note);
    loader_.LoadStaticItem("TestWindow", "Hint", &hint);
    loader_.LoadButtonItem("TestWindow", "Next", &next);
    loader_.LoadButtonItem("TestWindow", "Broken", &hand);
    caption.set_caption_text("Skinned window");
    caption.Install(hwnd(), WM_CAPTION_PAINT, 0);
    return TRUE;
  }
  bool OnCommand(int id, int code) override {
    if (code == BN_CLICKED) clicked.push_back(id);
    return code == BN_CLICKED;
  }
  std::optional<INT_PTR> on_message(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_CAPTION_PAINT) {
      auto *record = reinterpret_cast<const CaptionPaintRecord *>(lParam);
      caption.DrawGradientCaption(wParam != 0, record);
      if (record)
        captions.push_back({record->active, record->width, GetPixel(record->dc, 1, 0),
                            GetPixel(record->dc, record->width - 2, 0)});
      return 0;
    }
    if (message == WM_WIZARD_COMMAND) {
      wizard_commands.push_back(wParam);
      return 0;
    }
    if (message == kPagePosted) {
      ++page_posts;
      return 0;
    }
    return std::nullopt;
  }

 private:
  SkinLoader &loader_;
};

COLORREF pixel_of(HWND window, int x, int y) {
  HDC dc = GetDC(window);
  COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return c;
}

void click_at(POINT screen) {
  SetCursorPos(screen.x, screen.y);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, inputs, sizeof(INPUT));
}

POINT centre_on_screen(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// Saves what the virtual display shows when ImageMagick's import is at hand.
void save_screenshot(const std::string &name) {
  std::string folder = env("TUNMIRA_ARTEFACT_DIR");
  if (folder.empty()) return;
  std::string command = "/usr/bin/import -window root " + folder + "/" + name;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return;
  WaitForSingleObject(pi.hProcess, 30000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

class SkinUiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
  }
  static void TearDownTestSuite() { Gdiplus::GdiplusShutdown(token); }
  void SetUp() override {
    SetEnvironmentVariableA("RT_PROMPT_LOG", (dir.path() + "prompts.log").c_str());
    SetEnvironmentVariableA("RT_PROMPT_ANSWER", nullptr);
    SetEnvironmentVariableA("RT_PROMPT_SAVE_AS", nullptr);
  }
  TempDir dir;
  static ULONG_PTR token;
};
ULONG_PTR SkinUiTest::token = 0;

TEST_F(SkinUiTest, WindowIsDressedFromTheSkinFile) {
  dir.write("English.ini", kSkin);
  dir.write("back.bmp", bmp24(360, 260, {kBackground}));
  dir.write("strip.bmp", bmp24(80, 24, {kNormal, kPressed, kHover}));
  dir.write("broken.bmp", bmp24(80, 24, {kNormal}).substr(0, 100));
  FolderHost host(dir.path());
  SkinLoader loader(host);
  loader.SetSkinFile("English.ini");
  loader.LoadSkinCommon();
  TestWindow window(loader);
  ASSERT_TRUE(window.Create());
  HWND dialog = window.hwnd();
  SetWindowPos(dialog, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
  ShowWindow(dialog, SW_SHOW);
  UpdateWindow(dialog);
  pump();

  // The failing item cost one message and left its button as the template made it.
  EXPECT_EQ(dir.read("prompts.log"),
            "message|Load bitmap file failure,file name=" + dir.path() + "broken.bmp\r\n");
  EXPECT_EQ(window.hand.frame_width(), 0);

  RECT title = rect_in_parent(window.title.hwnd());
  EXPECT_EQ(title.left, 10);
  EXPECT_EQ(title.top, 12);
  EXPECT_EQ(title.right - title.left, 200);
  EXPECT_EQ(title.bottom - title.top, 20);
  char text[64] = {};
  GetWindowTextA(window.title.hwnd(), text, sizeof text);
  EXPECT_STREQ(text, "Welcome to the test");
  EXPECT_EQ(window.title.text_colour(), RGB(255, 128, 0));
  EXPECT_EQ(window.title.bk_colour(), RGB(10, 20, 30));
  EXPECT_FALSE(window.title.transparent());
  EXPECT_STREQ(window.title.font().lfFaceName, "Tahoma");
  EXPECT_EQ(pixel_of(window.title.hwnd(), 199, 0), RGB(10, 20, 30));
  EXPECT_EQ(window.note.text_colour(), RGB(255, 255, 0));
  EXPECT_EQ(window.note.bk_colour(), RGB(0, 0, 64));
  EXPECT_EQ(window.note.font().lfHeight, 16);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(window.title.font().lfHeight, -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72));
  ReleaseDC(nullptr, screen);

  // A transparent label shows the picture behind it, and a shorter text leaves no trace of the old one.
  EXPECT_TRUE(window.hint.transparent());
  EXPECT_TRUE(GetWindowLongPtrA(window.hint.hwnd(), GWL_EXSTYLE) & WS_EX_TRANSPARENT);
  auto white_in = [&](int from_x) {
    int white = 0;
    for (int x = from_x; x < 200; ++x)
      for (int y = 0; y < 20; ++y) white += pixel_of(window.hint.hwnd(), x, y) == RGB(255, 255, 255);
    return white;
  };
  EXPECT_GT(white_in(60), 0);
  EXPECT_EQ(pixel_of(window.hint.hwnd(), 199, 19), kBackground);
  window.hint.SetText("W");
  pump();
  EXPECT_EQ(white_in(60), 0);
  EXPECT_GT(white_in(0), 0);

  RECT background = rect_in_parent(window.background.hwnd());
  EXPECT_EQ(background.right - background.left, 360);
  EXPECT_EQ(window.background.bitmap_size().cx, 360);
  EXPECT_EQ(pixel_of(dialog, 300, 20), kBackground);

  RECT next = rect_in_parent(window.next.hwnd());
  EXPECT_EQ(next.left, 250);
  EXPECT_EQ(next.top, 200);
  EXPECT_EQ(next.right - next.left, 80);
  EXPECT_EQ(next.bottom - next.top, 24);
  GetWindowTextA(window.next.hwnd(), text, sizeof text);
  EXPECT_STREQ(text, "Next");
  EXPECT_EQ(window.next.active_colour(), RGB(255, 255, 255));
  EXPECT_EQ(window.next.inactive_colour(), RGB(200, 200, 200));
  EXPECT_NE(window.next.tooltip(), nullptr);
  EXPECT_EQ(pixel_of(window.next.hwnd(), 1, 1), kNormal);
  auto pixels_of = [&](COLORREF colour) {
    int n = 0;
    for (int x = 0; x < 80; ++x)
      for (int y = 0; y < 24; ++y) n += pixel_of(window.next.hwnd(), x, y) == colour;
    return n;
  };
  EXPECT_GT(pixels_of(RGB(200, 200, 200)), 0);  // the caption in the inactive colour
  // Pressed: the middle frame.
  SendMessageA(window.next.hwnd(), BM_SETSTATE, TRUE, 0);
  UpdateWindow(window.next.hwnd());
  EXPECT_EQ(pixel_of(window.next.hwnd(), 1, 1), kPressed);
  EXPECT_GT(pixels_of(RGB(255, 255, 255)), 0);  // in the active colour
  SendMessageA(window.next.hwnd(), BM_SETSTATE, FALSE, 0);
  UpdateWindow(window.next.hwnd());
  EXPECT_EQ(pixel_of(window.next.hwnd(), 1, 1), kNormal);
  // A new caption leaves nothing of the old one behind.
  window.next.SetText("");
  UpdateWindow(window.next.hwnd());
  EXPECT_EQ(pixels_of(RGB(200, 200, 200)), 0);
  window.next.SetText("Next");
  UpdateWindow(window.next.hwnd());

  // The picture from the program's resources, over what lay beneath it.
  EXPECT_TRUE(window.picture.SetImage(400));
  EXPECT_FALSE(window.picture.SetImage(401));
  EXPECT_EQ(pixel_of(window.picture.hwnd(), 12, 8), RGB(200, 30, 30));

  // The painted caption: asked from the window once per state, inactive first, black at its right end
  // and the inactive colour at its left. (Wine leaves the frame to the display, so the picture is read
  // where the window drew it.)
  SendMessageA(dialog, WM_NCACTIVATE, TRUE, 0);
  window.caption.set_caption_text("Skinned window, retitled");
  SetWindowTextA(dialog, "Skinned window, retitled");  // a new text drops the cached pictures
  ASSERT_FALSE(window.captions.empty());
  EXPECT_EQ(window.captions.back().active, 1);
  EXPECT_EQ(window.captions.back().left, RGB(0, 0, 0));
  window.captions.clear();
  SendMessageA(dialog, WM_NCACTIVATE, FALSE, 0);
  ASSERT_EQ(window.captions.size(), 1u);
  RECT caption_rect = window.caption.caption_rect();
  EXPECT_EQ(window.captions[0].active, 0);
  EXPECT_EQ(window.captions[0].width, caption_rect.right - caption_rect.left);
  EXPECT_EQ(window.captions[0].right, RGB(0, 0, 0));
  EXPECT_EQ(window.captions[0].left, GetSysColor(COLOR_INACTIVECAPTION));
  SendMessageA(dialog, WM_NCACTIVATE, FALSE, 0);
  EXPECT_EQ(window.captions.size(), 1u);  // the same state is not drawn again
  SendMessageA(dialog, WM_NCACTIVATE, TRUE, 0);
  pump();
  save_screenshot("skinned_test_window.png");

  // Hover: the right frame; then a click reaches the window as the button's command.
  SetCursorPos(centre_on_screen(window.next.hwnd()).x, centre_on_screen(window.next.hwnd()).y);
  EXPECT_TRUE(pump_until([&] { return window.next.hovering(); }));
  UpdateWindow(window.next.hwnd());
  EXPECT_EQ(pixel_of(window.next.hwnd(), 1, 1), kHover);
  click_at(centre_on_screen(window.next.hwnd()));
  EXPECT_TRUE(pump_until([&] { return !window.clicked.empty(); }));
  EXPECT_EQ(window.clicked, std::vector<int>{1029});
  SetCursorPos(5, 5);
  EXPECT_TRUE(pump_until([&] { return !window.next.hovering(); }));

  // The hand cursor belongs to the listed buttons only.
  EXPECT_EQ(SendMessageA(window.hand.hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(window.hand.hwnd()),
                         MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
            TRUE);

  // A link underlines itself under the mouse and lets go once the mouse has left.
  SetCursorPos(centre_on_screen(window.guide.hwnd()).x, centre_on_screen(window.guide.hwnd()).y);
  EXPECT_TRUE(pump_until([&] { return window.guide.hovering(); }));
  SetCursorPos(5, 5);
  EXPECT_TRUE(pump_until([&] { return !window.guide.hovering(); }));

  // Links report to the main window; an empty one too.
  click_at(centre_on_screen(window.guide.hwnd()));
  EXPECT_TRUE(pump_until([&] { return !window.wizard_commands.empty(); }));
  EXPECT_TRUE(window.guide.visited());
  char empty[8] = {};
  GetWindowTextA(window.empty.hwnd(), empty, sizeof empty);
  EXPECT_STREQ(empty, "");
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(2887, STN_CLICKED),
               reinterpret_cast<LPARAM>(window.empty.hwnd()));
  EXPECT_EQ(window.wizard_commands, (std::vector<WPARAM>{2886, 2887}));

  // A page made as a child over the placeholder, posting to its parent.
  ChildPage page(dialog);
  ASSERT_TRUE(page.Create());
  page.place_over_item(1007);
  RECT placeholder = rect_in_parent(GetDlgItem(dialog, 1007));
  RECT placed = rect_in_parent(page.hwnd());
  EXPECT_EQ(placed.left, placeholder.left);
  EXPECT_EQ(placed.top, placeholder.top);
  EXPECT_TRUE(page.post_to_parent(kPagePosted, 0, 0));
  EXPECT_TRUE(pump_until([&] { return window.page_posts == 1; }));
  page.destroy();
  EXPECT_EQ(page.hwnd(), nullptr);

  window.destroy();
  EXPECT_FALSE(window.caption.is_hooked());
}

struct MainItem {
  int id;
  const char *name;
};
constexpr MainItem kMainLabels[] = {{2900, "Label9"},  {2901, "Label6"}, {2902, "Label11"}, {2903, "Label12"},
                                    {2904, "Label13"}, {2905, "Label8"}, {2906, "Label14"}};
constexpr MainItem kMainButtons[] = {
    {1029, "Next"}, {1003, "Back"}, {2557, "Cancel"}, {1031, "Go"}, {2869, "Testing"}};

// The main window's bar and labels, dressed from section DialogMain of the shipped language file.
class MainWindow : public rtwin::CDialog {
 public:
  explicit MainWindow(SkinLoader &loader) : CDialog(902), loader_(loader) {}
  CSkinBitmap background;
  CSkinLabel labels[std::size(kMainLabels)];
  CSkinButton buttons[std::size(kMainButtons)];

 protected:
  BOOL OnInitDialog() override {
    background.SubclassDlgItem(1006, hwnd());
    loader_.LoadBitmapItem("DialogMain", "background", &background);
    for (std::size_t i = 0; i < std::size(kMainButtons); ++i) {
      buttons[i].SubclassDlgItem(kMainButtons[i].id, hwnd());
      loader_.LoadButtonItem("DialogMain", kMainButtons[i].name, &buttons[i]);
    }
    for (std::size_t i = 0; i < std::size(kMainLabels); ++i) {
      labels[i].SubclassDlgItem(kMainLabels[i].id, hwnd());
      loader_.LoadStaticItem("DialogMain", kMainLabels[i].name, &labels[i]);
    }
    return TRUE;
  }

 private:
  SkinLoader &loader_;
};

// Copies the pictures a section names from the artwork the build drew beside the program.
void stage_pictures(const TempDir &dir, const std::string &ini, const std::string &section,
                    const std::vector<std::string> &items) {
  CreateDirectoryA((dir.path() + "skin").c_str(), nullptr);
  std::string artwork = env("TUNMIRA_SKIN_DIR");
  for (const std::string &item : items) {
    std::string file = read_profile_value(ini, section, item + ".FilePath", 2048);
    ASSERT_FALSE(file.empty()) << item;
    EXPECT_TRUE(CopyFileA((artwork + "\\" + file).c_str(), (dir.path() + file).c_str(), FALSE)) << file;
  }
}

TEST_F(SkinUiTest, ShippedLanguageFileDressesTheMainWindow) {
  std::string ini;
  {
    std::ifstream in(env("TUNMIRA_ENGLISH_INI"), std::ios::binary);
    ini.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_FALSE(ini.empty()) << "English.ini not found";
  dir.write("English.ini", ini);
  stage_pictures(dir, ini, "DialogMain", {"background", "Next", "Back", "Cancel", "Go", "Testing"});

  // The language names and all 25 message texts are there: start-up and the first page report nothing.
  char previous[MAX_PATH];
  GetCurrentDirectoryA(sizeof previous, previous);
  SetCurrentDirectoryA(dir.path().c_str());
  FolderHost host(dir.path());
  LanguageSlots table;
  fill_language_file_names(table);
  EXPECT_TRUE(SelectLanguageFile(host, table, "MSG", "English.ini"));
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(table[11].display_name, read_profile_value(ini, "MSG", "Language_AR", 512));
  MessageTextArray texts;
  LoadMessageTexts(host, texts, "English.ini");
  for (std::size_t i = 0; i < kMessageTextCount; ++i) EXPECT_FALSE(texts[i].empty()) << kMessageTextKeys[i];

  SkinLoader loader(host);
  loader.SetSkinFile("English.ini");
  loader.LoadSkinCommon();
  EXPECT_EQ(loader.font_name, read_profile_value(ini, "Common", "FontName", 2048));
  MainWindow window(loader);
  ASSERT_TRUE(window.Create());
  // The design size of the main window, whatever the template's units come to with the fonts at hand;
  // the page placeholder stays out of sight as no page is shown.
  SetWindowPos(window.hwnd(), HWND_TOP, 20, 20, 638, 478, 0);
  ShowWindow(GetDlgItem(window.hwnd(), 1007), SW_HIDE);
  ShowWindow(window.hwnd(), SW_SHOW);
  UpdateWindow(window.hwnd());
  pump();
  EXPECT_EQ(dir.read("prompts.log"), "");  // every item loaded

  for (std::size_t i = 0; i < std::size(kMainLabels); ++i) {
    const std::string item = kMainLabels[i].name;
    SCOPED_TRACE(item);
    auto value = [&](const char *key) { return read_profile_value(ini, "DialogMain", item + key, 2048); };
    SkinPair position = parse_skin_pair(value(".Position"));
    SkinPair size = parse_skin_pair(value(".Size"));
    RECT rect = rect_in_parent(window.labels[i].hwnd());
    EXPECT_EQ(rect.left, position.x);
    EXPECT_EQ(rect.top, position.y);
    EXPECT_EQ(rect.right - rect.left, size.x);
    EXPECT_EQ(rect.bottom - rect.top, size.y);
    char text[256] = {};
    GetWindowTextA(window.labels[i].hwnd(), text, sizeof text);
    EXPECT_EQ(std::string(text), value(".TextString"));
    std::string colour = value(".TextColor");
    EXPECT_EQ(window.labels[i].text_colour(),
              colour.empty() ? loader.text_colour : parse_skin_colour(colour));
  }
  for (std::size_t i = 0; i < std::size(kMainButtons); ++i) {
    const std::string item = kMainButtons[i].name;
    SCOPED_TRACE(item);
    SkinPair position = parse_skin_pair(read_profile_value(ini, "DialogMain", item + ".Position", 2048));
    RECT rect = rect_in_parent(window.buttons[i].hwnd());
    EXPECT_EQ(rect.left, position.x);
    EXPECT_EQ(rect.top, position.y);
    EXPECT_EQ(rect.right - rect.left, window.buttons[i].frame_width());
    EXPECT_EQ(rect.bottom - rect.top, window.buttons[i].frame_height());
  }
  // Only one of the buttons sharing the Next slot shows, as the wizard's first step has it.
  ShowWindow(window.buttons[3].hwnd(), SW_HIDE);
  ShowWindow(window.buttons[4].hwnd(), SW_HIDE);
  pump();
  save_screenshot("shipped_main_window.png");
  window.destroy();
}

// Records the order in which hooks see a message.
class OrderHook : public rtwin::CWindowHook {
 public:
  OrderHook(std::vector<int> &seen, int name) : seen_(seen), name_(name) {}

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_APP) seen_.push_back(name_);
    return CWindowHook::WindowProc(message, wParam, lParam);
  }

 private:
  std::vector<int> &seen_;
  int name_;
};

std::vector<int> *window_seen = nullptr;
LRESULT CALLBACK plain_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP && window_seen) window_seen->push_back(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

// The label's text layout follows its static style; "&" in a no-prefix label is text, not a mnemonic.
TEST(SkinLabelTextFormat, FollowsTheStaticStyle) {
  EXPECT_EQ(skin_label_text_format(SS_CENTER, "a"), UINT(DT_CENTER | DT_WORDBREAK));
  EXPECT_EQ(skin_label_text_format(SS_RIGHT, "a"), UINT(DT_RIGHT | DT_WORDBREAK));
  EXPECT_EQ(skin_label_text_format(SS_LEFTNOWORDWRAP, "a"), UINT(DT_LEFT));
  EXPECT_EQ(skin_label_text_format(SS_LEFT, "a\tb"), UINT(DT_WORDBREAK | DT_EXPANDTABS));
  EXPECT_EQ(skin_label_text_format(SS_CENTERIMAGE, "one line"), UINT(DT_CENTER | DT_VCENTER | DT_SINGLELINE));
  EXPECT_EQ(skin_label_text_format(SS_CENTERIMAGE, "two\r\nlines"), UINT(DT_CENTER));
  EXPECT_EQ(skin_label_text_format(SS_LEFT, "HQ&x") & DT_NOPREFIX, 0u);
  EXPECT_EQ(skin_label_text_format(SS_LEFT | SS_NOPREFIX, "HQ&x"), UINT(DT_WORDBREAK | DT_NOPREFIX));
}

HWND plain_window() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = plain_proc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "TunmiraHookTest";
    registered = RegisterClassA(&cls) != 0;
  }
  return CreateWindowA("TunmiraHookTest", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                       GetModuleHandleA(nullptr), nullptr);
}

TEST(WindowHook, ChainsInFrontOfTheWindowAndLeavesCleanly) {
  std::vector<int> seen;
  window_seen = &seen;
  HWND window = plain_window();
  ASSERT_NE(window, nullptr);
  auto original = GetWindowLongPtrA(window, GWLP_WNDPROC);
  OrderHook first(seen, 1), second(seen, 2);
  first.Hook(window);
  second.Hook(window);
  SendMessageA(window, WM_APP, 0, 0);
  EXPECT_EQ(seen, (std::vector<int>{2, 1, 0}));

  // Taking the first-installed hook out keeps the chain working.
  first.Hook(nullptr);
  seen.clear();
  SendMessageA(window, WM_APP, 0, 0);
  EXPECT_EQ(seen, (std::vector<int>{2, 0}));
  second.Hook(nullptr);
  EXPECT_EQ(GetWindowLongPtrA(window, GWLP_WNDPROC), original);
  seen.clear();
  SendMessageA(window, WM_APP, 0, 0);
  EXPECT_EQ(seen, (std::vector<int>{0}));

  // Destroying a window with two hooks unhooks both.
  first.Hook(window);
  second.Hook(window);
  DestroyWindow(window);
  EXPECT_FALSE(first.is_hooked());
  EXPECT_FALSE(second.is_hooked());
  // A later hook on a new window starts a fresh chain.
  HWND another = plain_window();
  seen.clear();
  first.Hook(another);
  SendMessageA(another, WM_APP, 0, 0);
  EXPECT_EQ(seen, (std::vector<int>{1, 0}));
  DestroyWindow(another);
  window_seen = nullptr;
}

TEST(CaptionPainter, SystemStyleCaptionKeepsTheWindowWorking) {
  HWND window = plain_window();
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_SHOW);
  CCaptionPainter painter;
  painter.Install(window, 0, 0);
  // The text reaches the window although the system draws no caption for it.
  SetWindowTextA(window, "Caption by the system style");
  char text[64] = {};
  GetWindowTextA(window, text, sizeof text);
  EXPECT_STREQ(text, "Caption by the system style");
  EXPECT_TRUE(GetWindowLongPtrA(window, GWL_STYLE) & WS_VISIBLE);
  EXPECT_EQ(SendMessageA(window, WM_NCACTIVATE, FALSE, 0), TRUE);
  EXPECT_EQ(SendMessageA(window, WM_NCACTIVATE, TRUE, 0), TRUE);
  EXPECT_TRUE(GetWindowLongPtrA(window, GWL_STYLE) & WS_VISIBLE);
  RECT caption = painter.caption_rect();
  EXPECT_EQ(caption.top, GetSystemMetrics(SM_CYFRAME));  // a sizing frame
  EXPECT_EQ(caption.bottom - caption.top, GetSystemMetrics(SM_CYCAPTION) - GetSystemMetrics(SM_CYBORDER));
  RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  SendMessageA(window, WM_SYSCOLORCHANGE, 0, 0);
  DestroyWindow(window);
  EXPECT_FALSE(painter.is_hooked());
}

constexpr COLORREF kActiveCaption = RGB(0, 160, 80);
constexpr COLORREF kInactiveCaption = RGB(150, 150, 150);

// A top-level window with a painted caption of one flat colour per state; it notes the activation
// states the system's own handling is told.
class CaptionedWindow {
 public:
  explicit CaptionedWindow(const char *title) {
    static bool registered = false;
    if (!registered) {
      WNDCLASSA cls{};
      cls.lpfnWndProc = proc;
      cls.hInstance = GetModuleHandleA(nullptr);
      cls.lpszClassName = "TunmiraCaptionTest";
      cls.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
      registered = RegisterClassA(&cls) != 0;
    }
    // A tool window: wine draws its frame itself rather than leaving it to the display, so the caption
    // can be read back.
    hwnd_ = CreateWindowExA(WS_EX_TOOLWINDOW, "TunmiraCaptionTest", title, WS_OVERLAPPED | WS_CAPTION, 60, 60,
                            320, 200, nullptr, nullptr, GetModuleHandleA(nullptr), this);
    painter.Install(hwnd_, WM_CAPTION_PAINT, 0);
  }
  ~CaptionedWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
  }
  HWND hwnd() const { return hwnd_; }

  // The colour the window shows in the middle of its caption.
  COLORREF caption_colour() const {
    RECT caption = painter.caption_rect();
    HDC dc = GetWindowDC(hwnd_);
    COLORREF colour = GetPixel(dc, (caption.left + caption.right) / 2, (caption.top + caption.bottom) / 2);
    ReleaseDC(hwnd_, dc);
    return colour;
  }

  CCaptionPainter painter;
  std::vector<WPARAM> system_saw;

 private:
  static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE)
      SetWindowLongPtrA(
          window, GWLP_USERDATA,
          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA *>(lParam)->lpCreateParams));
    auto *self = reinterpret_cast<CaptionedWindow *>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && message == WM_NCACTIVATE) self->system_saw.push_back(wParam);
    if (message == WM_CAPTION_PAINT) {
      if (auto *record = reinterpret_cast<const CaptionPaintRecord *>(lParam)) {
        HBRUSH brush = CreateSolidBrush(record->active ? kActiveCaption : kInactiveCaption);
        RECT all{0, 0, record->width, record->height};
        FillRect(record->dc, &all, brush);
        DeleteObject(brush);
      }
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }
  HWND hwnd_ = nullptr;
};

bool activate(HWND window) {
  SetForegroundWindow(window);
  SetActiveWindow(window);
  return pump_until([&] { return GetActiveWindow() == window; });
}

TEST(CaptionPainter, AWindowMarkedToStayActiveKeepsItsActiveCaption) {
  CaptionedWindow main("Main window"), helper("Helper window");
  ShowWindow(main.hwnd(), SW_SHOW);
  SetWindowPos(helper.hwnd(), HWND_TOP, 420, 60, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  ASSERT_TRUE(activate(main.hwnd()));
  EXPECT_EQ(main.caption_colour(), kActiveCaption);

  // Marked, the window keeps its active look while the helper holds the activation, and the system's
  // own handling is never told it lost it.
  rtwin::mark_stay_active(main.hwnd(), true);
  EXPECT_TRUE(rtwin::is_marked_stay_active(main.hwnd()));
  main.system_saw.clear();
  ASSERT_TRUE(activate(helper.hwnd()));
  EXPECT_EQ(main.caption_colour(), kActiveCaption);
  EXPECT_EQ(helper.caption_colour(), kActiveCaption);
  for (WPARAM told : main.system_saw) EXPECT_EQ(told, static_cast<WPARAM>(TRUE));

  // A disabled window looks inactive all the same, and active again once enabled.
  EnableWindow(main.hwnd(), FALSE);
  SendMessageA(main.hwnd(), WM_NCACTIVATE, TRUE, 0);
  EXPECT_EQ(main.caption_colour(), kInactiveCaption);
  EnableWindow(main.hwnd(), TRUE);
  SendMessageA(main.hwnd(), WM_NCACTIVATE, FALSE, 0);
  EXPECT_EQ(main.caption_colour(), kActiveCaption);

  // Unmarked, the caption follows the activation again.
  rtwin::mark_stay_active(main.hwnd(), false);
  EXPECT_FALSE(rtwin::is_marked_stay_active(main.hwnd()));
  ASSERT_TRUE(activate(main.hwnd()));
  EXPECT_EQ(main.caption_colour(), kActiveCaption);
  EXPECT_EQ(helper.caption_colour(), kInactiveCaption);
  ASSERT_TRUE(activate(helper.hwnd()));
  EXPECT_EQ(main.caption_colour(), kInactiveCaption);
  EXPECT_EQ(main.system_saw.back(), static_cast<WPARAM>(FALSE));
}

TEST_F(SkinUiTest, MessageBoxesFollowTheLanguageThroughThePromptSwitch) {
  CurrentLanguageFile = "Arabic.ini";
  EXPECT_EQ(MessageBoxLang(nullptr, "right to left", "Tunmira", MB_OK), IDOK);
  CurrentLanguageFile = "English.ini";
  EXPECT_EQ(MessageBoxLang(nullptr, "left to right", "Tunmira", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxLang(nullptr, "install?", "Tunmira", MB_YESNO), IDYES);
  SetEnvironmentVariableA("RT_PROMPT_ANSWER", "no");
  EXPECT_EQ(MessageBoxLang(nullptr, "install?", "Tunmira", MB_YESNO), IDNO);
  EXPECT_EQ(rtwin::ask_save_file_name(nullptr, "Guide.pdf", "PDF|*.pdf", "pdf"), std::nullopt);
  SetEnvironmentVariableA("RT_PROMPT_SAVE_AS", "C:\\saved.pdf");
  EXPECT_EQ(rtwin::ask_save_file_name(nullptr, "Guide.pdf", "PDF|*.pdf", "pdf"), "C:\\saved.pdf");
  EXPECT_EQ(dir.read("prompts.log"),
            "message-rtl|right to left\r\nmessage|left to right\r\nmessage|install?\r\nmessage|install?\r\n"
            "save|Guide.pdf\r\nsave|Guide.pdf\r\n");
}

TEST_F(SkinUiTest, OurProfileReaderAgreesWithTheSystem) {
  dir.write("tricky.ini",
            "[MSG]\r\n  Spaced  =  value with spaces  \r\nQuoted=\"quoted\"\r\nDup=first\r\nDup=second\r\n"
            "CASE=Upper\r\nEmpty=\r\n\tTabbed\t=\ttab\t\r\nNoEquals\r\n='no key'\r\nLong=" +
                std::string(600, 'y') +
                "\r\n[ Padded ]\r\nKey=in padded\r\n[msg]\r\nLate=later section\r\n"
                "Dup=third\r\nSecond=only in the later section\r\n");
  std::string text = dir.read("tricky.ini");
  Win32SkinHost host;
  const char *keys[][2] = {{"MSG", "Spaced"},   {"msg", "quoted"}, {"MSG", "Dup"},    {"MSG", "case"},
                           {"MSG", "Empty"},    {"MSG", "Long"},   {"Padded", "Key"}, {"None", "Key"},
                           {"MSG", "None"},     {"MSG", "Late"},   {"MSG", "Second"}, {"MSG", "Tabbed"},
                           {"MSG", "NoEquals"}, {"MSG", ""}};
  for (auto &key : keys)
    EXPECT_EQ(host.read_profile_string(dir.path() + "tricky.ini", key[0], key[1], 512),
              read_profile_value(text, key[0], key[1], 512))
        << key[0] << "/" << key[1];
}

TEST(LanguageFileCheck, AMissingFirstLanguageFileEndsTheProgramWithStatus1) {
  TempDir dir;
  dir.write("English.ini", "[MSG]\r\nLanguage_EN=English\r\n");
  FolderHost host(dir.path());
  LanguageSlots table;
  fill_language_file_names(table);
  SetEnvironmentVariableA("RT_PROMPT_LOG", (dir.path() + "prompts.log").c_str());
  // Beside the program, but the current directory is elsewhere.
  EXPECT_EXIT(select_language_file_or_exit(host, table, "MSG", "English.ini"), ::testing::ExitedWithCode(1),
              "");
  char previous[MAX_PATH];
  GetCurrentDirectoryA(sizeof previous, previous);
  SetCurrentDirectoryA(dir.path().c_str());
  select_language_file_or_exit(host, table, "MSG", "English.ini");
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(table[0].display_name, "English");
}

TEST(OperatingSystem, ThisPrefixIsNotXpServicePack2) {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExA(&version));
  EXPECT_EQ(IsWindowsXpSp2(), version.dwMajorVersion == 5 && version.dwMinorVersion == 1 &&
                                  std::string(version.szCSDVersion) == "Service Pack 2");
}

}  // namespace
}  // namespace tunmira
