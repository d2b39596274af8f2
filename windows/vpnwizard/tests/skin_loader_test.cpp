#include "skin_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "skin_fake_host.h"

namespace tunmira {
namespace {

using testing::FakeSkinHost;

// Records every setter call as text, so tests compare exact sequences.
class Recorder : public virtual SkinPlaced {
 public:
  std::vector<std::string> calls;
  void move_to(long x, long y) override { add("MoveTo", x, y); }
  void resize_to(long w, long h) override { add("ResizeTo", w, h); }

 protected:
  void add(const std::string &name, long a) { calls.push_back(name + " " + std::to_string(a)); }
  void add(const std::string &name, long a, long b) {
    calls.push_back(name + " " + std::to_string(a) + "," + std::to_string(b));
  }
  void add(const std::string &name, const std::string &text) { calls.push_back(name + " '" + text + "'"); }
};

class RecordingBitmap : public Recorder, public SkinBitmapTarget {
 public:
  bool loads = true;
  bool LoadFromFile(const std::string &path) override {
    add("LoadFromFile", path);
    return loads;
  }
};

class RecordingLabel : public Recorder, public SkinLabelTarget {
 public:
  void SetBkColor(SkinColour c) override { add("SetBkColor", static_cast<long>(c)); }
  void SetTextColor(SkinColour c) override { add("SetTextColor", static_cast<long>(c)); }
  void SetText(const std::string &t) override { add("SetText", t); }
  void SetFontWeight(long w) override { add("SetFontWeight", w); }
  void SetFontName(const std::string &n, int charset) override {
    add("SetFontName", n + "/" + std::to_string(charset));
  }
  void SetFontUnderline(bool on) override { add("SetFontUnderline", on); }
  void SetFontItalic(bool on) override { add("SetFontItalic", on); }
  void SetFontSize(long w, long h) override { add("SetFontSize", w, h); }
  void SetFontSizePoints(long p) override { add("SetFontSizePoints", p); }
  void SetTransparent(bool on) override { add("SetTransparent", on); }
};

class RecordingButton : public Recorder, public SkinButtonTarget {
 public:
  bool loads = true;
  bool LoadBitmap(const std::string &path) override {
    add("LoadBitmap", path);
    return loads;
  }
  void SetColors(SkinColour a, SkinColour i) override {
    add("SetColors", static_cast<long>(a), static_cast<long>(i));
  }
  void SetClickOffset(long x, long y) override { add("SetClickOffset", x, y); }
  void SetFontWeight(long w) override { add("SetFontWeight", w); }
  void SetFontUnderline(bool on) override { add("SetFontUnderline", on); }
  void SetFontItalic(bool on) override { add("SetFontItalic", on); }
  void SetFontSizePoints(long p) override { add("SetFontSizePoints", p); }
  void SetFontSize(long w, long h) override { add("SetFontSize", w, h); }
  void SetFontName(const std::string &n, int charset) override {
    add("SetFontName", n + "/" + std::to_string(charset));
  }
  void SetTooltip(const std::string &t, bool on) override { add("SetTooltip", t + (on ? "/on" : "/off")); }
  void SetText(const std::string &t) override { add("SetText", t); }
};

const std::string kDir = FakeSkinHost::kProgramDirectory;

class SkinLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DisplayScaled = false;
    DialogScaleX = DialogScaleY = PageScaleX = PageScaleY = 1.0;
  }
  void TearDown() override { SetUp(); }
  SkinLoader make_loader(const std::string &ini, const std::string &file = "English.ini") {
    host.put_file(file, ini);
    SkinLoader loader(host);
    loader.SetSkinFile(file);
    loader.LoadSkinCommon();
    return loader;
  }
  FakeSkinHost host;
};

TEST_F(SkinLoaderTest, CommonDefaultsAndOverrides) {
  SkinLoader defaults = make_loader("[Other]\nx=1\n");
  EXPECT_EQ(defaults.font_name, "Helvetica Narrow");
  EXPECT_EQ(defaults.font_size, 10);
  EXPECT_EQ(defaults.font_weight, 400);
  EXPECT_EQ(defaults.text_colour, 0xFFFFFFu);
  EXPECT_EQ(defaults.bk_colour, 0u);
  EXPECT_TRUE(defaults.transparent);
  EXPECT_EQ(defaults.click_offset_x, 2);
  EXPECT_EQ(defaults.skin_path(), kDir + "English.ini");
  EXPECT_TRUE(host.messages.empty());  // a missing Common key is silent

  SkinLoader set = make_loader(
      "[Common]\nTextColor=1,2,3\nFontName=Arial\nFontSize=12\nFontWeight=700\n"
      "Transparent=0\nBkColor=4,5,6\nActiveColor=7,8,9\nNoActiveColor=10,11,12\nClickOffset=3\n");
  EXPECT_EQ(set.text_colour, make_skin_colour(1, 2, 3));
  EXPECT_EQ(set.font_name, "Arial");
  EXPECT_EQ(set.font_size, 12);
  EXPECT_EQ(set.font_weight, 700);
  EXPECT_FALSE(set.transparent);
  EXPECT_EQ(set.bk_colour, make_skin_colour(4, 5, 6));
  EXPECT_EQ(set.active_colour, make_skin_colour(7, 8, 9));
  EXPECT_EQ(set.no_active_colour, make_skin_colour(10, 11, 12));
  EXPECT_EQ(set.click_offset_x, 3);
  EXPECT_EQ(set.click_offset_y, 0);
}

TEST_F(SkinLoaderTest, CharacterSetsFollowTheLanguageFile) {
  const std::pair<const char *, int> cases[] = {
      {"Arabic.ini", 178}, {"Greek.ini", 161},   {"Thai.ini", 222},  {"Indonesian.ini", 1},
      {"Polish.ini", 1},   {"Turkish.ini", 162}, {"English.ini", 0}, {"arabic.ini", 0}};
  for (auto [file, charset] : cases) {
    SkinLoader loader(host);
    loader.SetSkinFile(file);
    EXPECT_EQ(loader.charset(), charset) << file;
  }
  SkinLoader loader(host);
  loader.SetSkinFile("Arabic.ini");
  loader.SetSkinFile("English.ini");
  EXPECT_EQ(loader.charset(), 0);  // the flags are cleared each time
}

TEST_F(SkinLoaderTest, BitmapItemMovesAndSizesWithoutScaling) {
  SkinLoader loader = make_loader(
      "[Page]\nBack.Type=Bitmap\nBack.FilePath=skin\\back.bmp\nBack.Position=10\n"
      "Back.Size=200,100\n");
  DisplayScaled = true;
  PageScaleX = PageScaleY = DialogScaleX = DialogScaleY = 2.0;
  RecordingBitmap bitmap;
  EXPECT_TRUE(loader.LoadBitmapItem("Page", "Back", &bitmap));
  EXPECT_EQ(bitmap.calls, (std::vector<std::string>{"LoadFromFile '" + kDir + "skin\\back.bmp'",
                                                    "MoveTo 10,0", "ResizeTo 200,100"}));
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(SkinLoaderTest, BitmapItemFailures) {
  SkinLoader loader = make_loader(
      "[Page]\nLower.Type=bitmap\nLower.FilePath=a.bmp\nNoPath.Type=Bitmap\n"
      "Bad.Type=Bitmap\nBad.FilePath=bad.bmp\n");
  RecordingBitmap bitmap;
  EXPECT_FALSE(loader.LoadBitmapItem("Page", "Lower", &bitmap));
  EXPECT_FALSE(loader.LoadBitmapItem("Page", "NoPath", &bitmap));
  bitmap.loads = false;
  EXPECT_FALSE(loader.LoadBitmapItem("Page", "Bad", &bitmap));
  EXPECT_FALSE(loader.LoadBitmapItem("Page", "Missing", &bitmap));
  ASSERT_EQ(host.messages.size(), 4u);
  EXPECT_EQ(host.messages[0],
            "Load user interface setting failure, type not match,[SectionName]=Page,[KeyName]=Lower.Type");
  EXPECT_EQ(host.messages[1],
            "Load user interface setting failure,[SectionName]=Page,[KeyName]=NoPath.FilePath");
  EXPECT_EQ(host.messages[2], "Load bitmap file failure,file name=" + kDir + "bad.bmp");
  EXPECT_EQ(host.messages[3],
            "Load user interface setting failure, type not match,[SectionName]=Page,[KeyName]=Missing.Type");
  // A failed load leaves the control where it was.
  EXPECT_EQ(bitmap.calls, (std::vector<std::string>{"LoadFromFile '" + kDir + "bad.bmp'"}));

  // Without a control the keys are still checked and the answer is false.
  EXPECT_FALSE(loader.LoadBitmapItem("Page", "Bad", nullptr));
  EXPECT_EQ(host.messages.size(), 4u);
  EXPECT_FALSE(loader.LoadBitmapItem("Page", "NoPath", nullptr));
  EXPECT_EQ(host.messages.size(), 5u);
}

TEST_F(SkinLoaderTest, StaticItemSetsInOrderWithCommonFallbacks) {
  SkinLoader loader = make_loader(
      "[Common]\nFontName=Arial\nFontSize=9\nTextColor=1,1,1\nBkColor=2,2,2\n"
      "[Page]\nTitle.Type=Static\nTitle.Position=5,6\nTitle.Size=100,20\n"
      "Title.TextString=Hello\nTitle.TextColor=300,0,0\nTitle.Transparent=0\n"
      "Plain.Type=Static\n",
      "Greek.ini");
  RecordingLabel title;
  EXPECT_TRUE(loader.LoadStaticItem("Page", "Title", &title));
  EXPECT_EQ(title.calls,
            (std::vector<std::string>{"SetFontWeight 400", "SetFontUnderline 0", "SetFontItalic 0",
                                      "SetFontSizePoints 9", "SetFontName 'Arial/161'", "SetTransparent 0",
                                      "SetText 'Hello'", "SetTextColor 44", "SetBkColor 131586", "MoveTo 5,6",
                                      "ResizeTo 100,20"}));
  RecordingLabel plain;
  EXPECT_TRUE(loader.LoadStaticItem("Page", "Plain", &plain));
  EXPECT_EQ(plain.calls,
            (std::vector<std::string>{"SetFontWeight 400", "SetFontUnderline 0", "SetFontItalic 0",
                                      "SetFontSizePoints 9", "SetFontName 'Arial/161'", "SetTransparent 1",
                                      "SetText ''", "SetTextColor 65793", "SetBkColor 131586"}));
  EXPECT_FALSE(loader.LoadStaticItem("Page", "Plain", nullptr));
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(SkinLoaderTest, StaticItemOnAScaledScreenIsScaledTwice) {
  SkinLoader loader =
      make_loader("[Page]\nL.Type=Static\nL.Position=100,100\nL.Size=10,0\nL.FontSize=0,16\n");
  DisplayScaled = true;
  DialogScaleX = 1.25;
  DialogScaleY = 1.5;
  PageScaleX = 1.2;
  PageScaleY = 1.1;
  RecordingLabel label;
  EXPECT_TRUE(loader.LoadStaticItem("Page", "L", &label));
  // 100 x 1.25 = 125 read, 125 x 1.2 + 0.5 = 150 placed; 100 x 1.5 = 150, 150 x 1.1 + 0.5 = 165.
  EXPECT_EQ(label.calls[3], "SetFontSize 0,18");
  EXPECT_EQ(label.calls[label.calls.size() - 2], "MoveTo 150,165");
  EXPECT_EQ(label.calls.back(), "ResizeTo 14,0");  // 10 x 1.25 = 12, 12 x 1.2 + 0.5 = 14
}

TEST_F(SkinLoaderTest, ButtonItemSetsInOrder) {
  SkinLoader loader = make_loader(
      "[Common]\nActiveColor=255,0,0\nClickOffset=1,1\n"
      "[Main]\nNext.Type=Button\nNext.FilePath=next.bmp\nNext.Position=400,300\n"
      "Next.TextString=Next\\r\\nStep\nNext.FontSize=0,16\nNext.NoActiveColor=0,0,255\n"
      "Next.ToolTip=Go on\nNext.FontWeight=700\n"
      "Bare.Type=Button\nBare.FilePath=bare.bmp\n");
  DisplayScaled = true;
  PageScaleX = 1.5;
  PageScaleY = 2.0;
  RecordingButton next;
  EXPECT_TRUE(loader.LoadButtonItem("Main", "Next", &next));
  EXPECT_EQ(next.calls, (std::vector<std::string>{
                            "LoadBitmap '" + kDir + "next.bmp'", "SetColors 255,16711680",
                            "SetClickOffset 1,1", "SetFontWeight 700", "SetFontUnderline 0",
                            "SetFontItalic 0", "SetFontSize 0,16", "SetFontName 'Helvetica Narrow/0'",
                            "SetTooltip 'Go on/on'", "SetText 'Next\r\nStep'", "MoveTo 600,600"}));
  RecordingButton bare;
  EXPECT_TRUE(loader.LoadButtonItem("Main", "Bare", &bare));
  EXPECT_EQ(bare.calls[6], "SetFontSizePoints 10");
  EXPECT_EQ(bare.calls.back(), "SetText ''");  // no position: not moved

  bare.loads = false;
  bare.calls.clear();
  EXPECT_FALSE(loader.LoadButtonItem("Main", "Bare", &bare));
  EXPECT_EQ(bare.calls.size(), 1u);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0], "Load bitmap file failure,file name=" + kDir + "bare.bmp");
}

TEST_F(SkinLoaderTest, AMissingSkinFileFailsEveryItemWithTypeNotMatch) {
  SkinLoader loader(host);
  loader.SetSkinFile("Missing.ini");
  loader.LoadSkinCommon();
  RecordingButton button;
  RecordingLabel label;
  EXPECT_FALSE(loader.LoadButtonItem("Main", "Next", &button));
  EXPECT_FALSE(loader.LoadStaticItem("Main", "Label6", &label));
  ASSERT_EQ(host.messages.size(), 2u);
  EXPECT_EQ(host.messages[1],
            "Load user interface setting failure, type not match,[SectionName]=Main,[KeyName]=Label6.Type");
  EXPECT_TRUE(button.calls.empty());
  EXPECT_TRUE(label.calls.empty());
}

}  // namespace
}  // namespace tunmira
