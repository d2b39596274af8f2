// The skinned controls on a screen that is not at 96 dots per inch, under wine in a prefix set to the
// resolution the test is told (TUNMIRA_TEST_DPI): a main window and a page work out their scale factors
// as the wizard's do, the page is dressed from a skin file, and the controls' places, sizes and fonts
// are read back and held against the scaling rules.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "dialog.h"
#include "main_flow.h"
#include "skin_controls.h"
#include "skin_loader.h"
#include "skin_wine_support.h"

namespace tunmira {
namespace {

using namespace tunmira::testing;

constexpr COLORREF kBackground = RGB(20, 40, 60);

const char kSkin[] =
    "[Common]\r\n"
    "FontName=Tahoma\r\nFontSize=9\r\n"
    "[Scaled]\r\n"
    "Background.Type=Bitmap\r\nBackground.FilePath=back.bmp\r\nBackground.Position=5,7\r\n"
    "Background.Size=300,200\r\n"
    "Title.Type=Static\r\nTitle.Position=10,12\r\nTitle.Size=200,20\r\nTitle.TextString=Scaled title\r\n"
    "Title.FontSize=10\r\n"
    "Note.Type=Static\r\nNote.Position=33,101\r\nNote.Size=151,17\r\nNote.TextString=Scaled note\r\n"
    "Note.FontSize=7,15\r\n"
    "Next.Type=Button\r\nNext.FilePath=strip.bmp\r\nNext.Position=250,200\r\nNext.TextString=Next\r\n"
    "Next.FontSize=6,14\r\n"
    "Back.Type=Button\r\nBack.FilePath=strip.bmp\r\nBack.Position=41,199\r\nBack.TextString=Back\r\n"
    "Back.FontSize=11\r\n";

// The rules, worked out here on their own: a Static's pair is truncated when read with the main
// window's factors, and every placed value is rounded with the page's.
long read_scaled(long value, double factor) {
  return static_cast<long>(value * factor);
}
long placed(long value, double factor) {
  return static_cast<long>(value * factor + 0.5);
}

class MainWindow : public rtwin::CDialog {
 public:
  MainWindow() : CDialog(910) {}

 protected:
  BOOL OnInitDialog() override {
    HDC dc = GetDC(hwnd());
    int dots_per_inch = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(hwnd(), dc);
    RECT rect;
    GetWindowRect(hwnd(), &rect);
    DisplayScale scale = main_dialog_scale(dots_per_inch, rect.right - rect.left, rect.bottom - rect.top);
    DisplayScaled = scale.scaled;
    if (scale.scaled) {
      DialogScaleX = scale.x;
      DialogScaleY = scale.y;
    }
    return TRUE;
  }
};

class Page : public rtwin::CDialog {
 public:
  Page(HWND parent, SkinLoader &loader) : CDialog(911, parent), loader_(loader) {}

  CSkinBitmap background;
  CSkinLabel title, note;
  CSkinButton next, back;

 protected:
  BOOL OnInitDialog() override {
    if (DisplayScaled) {
      RECT rect;
      GetWindowRect(hwnd(), &rect);
      DisplayScale scale = page_scale(rect.right - rect.left, rect.bottom - rect.top);
      PageScaleX = scale.x;
      PageScaleY = scale.y;
    }
    background.SubclassDlgItem(1006, hwnd());
    title.SubclassDlgItem(2901, hwnd());
    note.SubclassDlgItem(2902, hwnd());
    next.SubclassDlgItem(1030, hwnd());
    back.SubclassDlgItem(1031, hwnd());
    loader_.LoadBitmapItem("Scaled", "Background", &background);
    loader_.LoadStaticItem("Scaled", "Title", &title);
    loader_.LoadStaticItem("Scaled", "Note", &note);
    loader_.LoadButtonItem("Scaled", "Next", &next);
    loader_.LoadButtonItem("Scaled", "Back", &back);
    return TRUE;
  }

 private:
  SkinLoader &loader_;
};

void expect_placed(HWND control, long x, long y, long width, long height) {
  RECT rect = rect_in_parent(control);
  EXPECT_EQ(rect.left, x);
  EXPECT_EQ(rect.top, y);
  EXPECT_EQ(rect.right - rect.left, width);
  EXPECT_EQ(rect.bottom - rect.top, height);
}

TEST(ScaledSkin, ControlsFollowTheScalingRulesOnAScaledScreen) {
  int wanted = std::atoi(env("TUNMIRA_TEST_DPI").c_str());
  ASSERT_GT(wanted, 0) << "run through run_at_dpi.sh";
  HDC screen = GetDC(nullptr);
  int dots_per_inch = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  ASSERT_EQ(dots_per_inch, wanted) << "the prefix did not take the resolution";

  TempDir dir;
  SetEnvironmentVariableA("RT_PROMPT_LOG", (dir.path() + "prompts.log").c_str());
  dir.write("English.ini", kSkin);
  dir.write("back.bmp", bmp24(300, 200, {kBackground}));
  dir.write("strip.bmp", bmp24(70, 22, {RGB(0, 0, 128), RGB(0, 128, 0), RGB(128, 0, 0)}));
  FolderHost host(dir.path());
  SkinLoader loader(host);
  loader.SetSkinFile("English.ini");
  loader.LoadSkinCommon();

  MainWindow main;
  ASSERT_TRUE(main.Create());
  ASSERT_TRUE(DisplayScaled);
  RECT main_rect;
  GetWindowRect(main.hwnd(), &main_rect);
  EXPECT_DOUBLE_EQ(DialogScaleX, (main_rect.right - main_rect.left) / 638.0);
  EXPECT_DOUBLE_EQ(DialogScaleY, (main_rect.bottom - main_rect.top) / 478.0 + 0.25);
  Page page(main.hwnd(), loader);
  ASSERT_TRUE(page.Create());
  page.place_over_item(1007);
  RECT page_rect;
  GetWindowRect(page.hwnd(), &page_rect);
  EXPECT_DOUBLE_EQ(PageScaleX, (page_rect.right - page_rect.left) / 638.0);
  EXPECT_DOUBLE_EQ(PageScaleY, (page_rect.bottom - page_rect.top) / 403.0);
  // The page is drawn larger than at 96 dots per inch, so every scaled value moves.
  EXPECT_NE(PageScaleX, 1.0);
  EXPECT_NE(DialogScaleX, 1.0);
  ShowWindow(main.hwnd(), SW_SHOW);
  UpdateWindow(main.hwnd());
  pump();
  EXPECT_EQ(dir.read("prompts.log"), "");  // every item loaded

  // A picture keeps the skin's pixels.
  expect_placed(page.background.hwnd(), 5, 7, 300, 200);

  // A label is scaled twice: by the main window's factors as read, by the page's as placed.
  auto twice = [](long value, double read, double place) { return placed(read_scaled(value, read), place); };
  {
    SCOPED_TRACE("Title");
    expect_placed(page.title.hwnd(), twice(10, DialogScaleX, PageScaleX), twice(12, DialogScaleY, PageScaleY),
                  twice(200, DialogScaleX, PageScaleX), twice(20, DialogScaleY, PageScaleY));
  }
  {
    SCOPED_TRACE("Note");
    expect_placed(page.note.hwnd(), twice(33, DialogScaleX, PageScaleX), twice(101, DialogScaleY, PageScaleY),
                  twice(151, DialogScaleX, PageScaleX), twice(17, DialogScaleY, PageScaleY));
  }
  // A point size is the screen's: larger in pixels than at 96 dots per inch. A label's width and height
  // in logical units go with the page.
  EXPECT_EQ(page.title.font().lfHeight, -MulDiv(10, dots_per_inch, 72));
  EXPECT_EQ(page.note.font().lfWidth, placed(7, PageScaleX));
  EXPECT_EQ(page.note.font().lfHeight, placed(15, PageScaleY));

  // A button is placed with the page's factors and keeps one frame of its strip as its size; its font
  // in width and height is never scaled.
  {
    SCOPED_TRACE("Next");
    expect_placed(page.next.hwnd(), placed(250, PageScaleX), placed(200, PageScaleY), 70, 22);
  }
  {
    SCOPED_TRACE("Back");
    expect_placed(page.back.hwnd(), placed(41, PageScaleX), placed(199, PageScaleY), 70, 22);
  }
  EXPECT_EQ(page.next.font().lfWidth, 6);
  EXPECT_EQ(page.next.font().lfHeight, 14);
  EXPECT_EQ(page.back.font().lfHeight, -MulDiv(11, dots_per_inch, 72));
  char text[32] = {};
  GetWindowTextA(page.title.hwnd(), text, sizeof text);
  EXPECT_STREQ(text, "Scaled title");

  page.destroy();
  main.destroy();
}

}  // namespace
}  // namespace tunmira
