// The pictures the build draws for Upgrade.exe: every picture, strip and icon the resource script names
// is a whole file of the size the dialog needs, each page has its own picture and each strip three
// different frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "image_check.h"

namespace upgrade {
namespace {

// The dialog's client area at the template's size (300 x 233 units of its 8-point font, which wine
// draws with Liberation Sans), which every page picture covers exactly from its top-left corner, and
// the one frame size of every button on the bar.
constexpr int kPageWidth = 450, kPageHeight = 350;
constexpr int kFrameWidth = 92, kFrameHeight = 26;

std::string env(const char *name) {
  const char *value = std::getenv(name);
  return value ? value : "";
}

// Resource id -> file, for the lines of the resource script that name a resource of `type` by file.
std::map<std::string, std::string> resources(const std::string &type) {
  std::ifstream in(env("UPGRADE_RC"));
  std::map<std::string, std::string> found;
  for (std::string text; std::getline(in, text);) {
    std::istringstream line(text);
    std::string id, kind, file;
    if (!(line >> id >> kind >> file) || kind != type || file.size() < 3 || file.front() != '"' ||
        file.back() != '"')
      continue;
    found[id] = file.substr(1, file.size() - 2);
  }
  return found;
}

TEST(UpgradeArt, EveryPagePictureIsAWholeJpegCoveringTheDialogAndNoTwoAreAlike) {
  auto pages = resources("IMAGE");
  ASSERT_EQ(pages.size(), 6u);
  std::set<std::vector<std::uint8_t>> distinct;
  for (const auto &[id, file] : pages) {
    std::string path = env("UPGRADE_ART_DIR") + "/" + file;
    art_check::ImageHeader h = art_check::check_image(path);
    EXPECT_EQ(h.format, "jpeg") << id << " " << path;
    EXPECT_EQ(h.error, "") << id << " " << path;
    EXPECT_EQ(h.width, kPageWidth) << id;
    EXPECT_EQ(h.height, kPageHeight) << id;
    distinct.insert(art_check::read_file(path));
  }
  EXPECT_EQ(distinct.size(), pages.size()) << "two pages share one picture";
}

TEST(UpgradeArt, EveryButtonStripHoldsThreeDifferentFramesOfTheBarSize) {
  auto strips = resources("BITMAP");
  ASSERT_EQ(strips.size(), 5u);
  for (const auto &[id, file] : strips) {
    std::string path = env("UPGRADE_ART_DIR") + "/" + file;
    auto bytes = art_check::read_file(path);
    art_check::ImageHeader h = art_check::check_bmp(bytes);
    ASSERT_EQ(h.error, "") << id << " " << path;
    EXPECT_EQ(h.width, 3 * kFrameWidth) << id;
    EXPECT_EQ(h.height, kFrameHeight) << id;
    auto normal = art_check::bmp_frame(bytes, h, 3, 0);
    auto pressed = art_check::bmp_frame(bytes, h, 3, 1);
    auto hover = art_check::bmp_frame(bytes, h, 3, 2);
    EXPECT_NE(normal, pressed) << id;
    EXPECT_NE(normal, hover) << id;
    EXPECT_NE(pressed, hover) << id;
  }
}

TEST(UpgradeArt, BothIconsHoldTheirLargeAndSmallPictures) {
  auto icons = resources("ICON");
  ASSERT_EQ(icons.size(), 2u);
  for (const auto &[id, file] : icons) {
    auto bytes = art_check::read_file(env("UPGRADE_ART_DIR") + "/" + file);
    art_check::ImageHeader h = art_check::check_ico(bytes);
    EXPECT_EQ(h.error, "") << id;
    EXPECT_EQ(h.width, 32) << id;
    EXPECT_EQ(art_check::le(bytes, 4, 2), 2u) << id << ": a 32 and a 16 pixel picture";
  }
}

}  // namespace
}  // namespace upgrade
