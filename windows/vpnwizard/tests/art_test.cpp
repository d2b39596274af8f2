// English.ini and the skin pictures the build draws for it: every key the windows read is there in the
// form its reader takes, every picture and strip it names is a whole bitmap of the size the file gives,
// and every item lies inside its window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "image_check.h"

namespace tunmira {
namespace {

std::string env(const char *name) {
  const char *value = std::getenv(name);
  return value ? value : "";
}

using Section = std::map<std::string, std::string>;

// Sections of an ini file as the platform's profile reader sees them: comment lines skipped, names
// and values trimmed, one pair of quotes around a value removed.
std::map<std::string, Section> read_ini(const std::string &path) {
  std::ifstream in(path);
  std::map<std::string, Section> ini;
  Section *current = nullptr;
  auto trim = [](std::string s) {
    auto first = s.find_first_not_of(" \t\r");
    auto last = s.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
  };
  for (std::string line; std::getline(in, line);) {
    line = trim(line);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[' && line.back() == ']') {
      current = &ini[line.substr(1, line.size() - 2)];
      continue;
    }
    auto eq = line.find('=');
    if (current == nullptr || eq == std::string::npos) continue;
    std::string value = trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    (*current)[trim(line.substr(0, eq))] = value;
  }
  return ini;
}

struct Window {
  std::string section;
  int width, height;
  std::vector<std::string> bitmaps, buttons, statics;
};

// The windows, their sizes and the items each one dresses.
std::vector<Window> windows() {
  return {
      {"DialogMain",
       638,
       478,
       {"background", "background_nothing", "background_norton", "background_ses1"},
       {"Go", "Testing", "Next", "Back", "Cancel"},
       {"Label6", "Label8", "Label9", "Label11", "Label12", "Label13", "Label14"}},
      {"Norton",
       638,
       356,
       {"Background"},
       {"Norton"},
       {"Label1", "Label2", "Label3", "Label4", "Label5", "Label6", "Label7", "Label9", "Label10"}},
      {"Action",
       300,
       100,
       {"Background1", "Background2", "Background3", "Background4"},
       {},
       {"FindDevice", "SetupDevice", "CheckInternet", "ConfigureLeft", "ConfigureRight", "CheckConnect",
        "FindDeviceLeft", "FindDeviceRight", "Upgrade"}},
      {"AdapterInfo", 400, 220, {"Background"}, {"OK"}, {"Label"}},
      {"Welcome00", 638, 356, {"Background"}, {"start"}, {"Label1", "Label2", "Label4"}},
      {"Welcome01", 638, 356, {"Background", "MyICON"}, {}, {"Label1", "Label2"}},
      {"Welcome10", 638, 356, {"Background"}, {}, {"Label1"}},
      {"PageRemote",
       638,
       356,
       {"Background"},
       {},
       {"Label0", "Label1", "Label2", "Label3", "Label4", "Label5", "Label6", "LabelErr1", "LabelErr2",
        "LabelErr3", "LabelErr4", "LabelErr5", "LabelErr6", "LabelErr7", "LabelErr8", "LabelErr9",
        "LabelErr10"}},
      {"Welcome16",
       638,
       356,
       {"Background"},
       {"ClickButton"},
       {"Label01", "Label02", "Label11", "Label21", "Label31", "Label41", "Label41_DNS", "Label61", "Label71",
        "Label81", "Label81_DNS", "Label101"}},
      {"Welcome17",
       480,
       420,
       {"Background"},
       {"Close"},
       {"Label01", "Label02", "Label11", "Label12", "Label21", "Label22", "Label31", "Label32", "Label41",
        "Label42", "Label51", "Label52", "Label61", "Label62", "Label71", "Label72"}},
      {"Welcome30", 638, 356, {"Background"}, {}, {"Label1", "Label2", "Label1_f", "Label2_f"}},
      {"messagefindfail", 400, 200, {"Background"}, {"Continue"}, {"Label1"}},
  };
}

// Decimal fields separated by commas, each of one to five digits and within [0, limit].
bool fields(const std::string &value, std::size_t count, int limit, std::vector<int> *out = nullptr) {
  std::vector<int> fields;
  std::size_t start = 0;
  while (true) {
    auto comma = value.find(',', start);
    std::string field = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (field.empty() || field.size() > 5 || field.find_first_not_of("0123456789") != std::string::npos)
      return false;
    fields.push_back(std::stoi(field));
    if (fields.back() > limit) return false;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (out) *out = fields;
  return fields.size() == count;
}

// True when the key is `name` or an item's key `<item>.name`.
bool key_is(const std::string &key, const std::string &name) {
  return key == name || (key.size() > name.size() && key.ends_with("." + name));
}

class SkinFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ini = read_ini(env("TUNMIRA_INI")); }
  static std::string picture(const std::string &file_path) {
    std::string path = env("TUNMIRA_SKIN_DIR") + "/" + file_path;
    for (char &c : path)
      if (c == '\\') c = '/';
    return path;
  }
  static inline std::map<std::string, Section> ini;
};

TEST_F(SkinFile, HoldsEveryLanguageNameAndMessageTextTheWizardReads) {
  const Section &msg = ini["MSG"];
  for (const char *code :
       {"EN", "FR", "DE", "DK", "SV", "ES", "IT", "PT", "NL", "IN", "AR", "GR", "PO", "TH", "TR", "RU"})
    EXPECT_FALSE(msg.count(std::string("Language_") + code) == 0 ||
                 msg.at(std::string("Language_") + code).empty())
        << code;
  const std::vector<std::string> keys = {
      "FILENOTFOUND",     "ADOBEREADER",       "TITLE",       "SMAEDOMAIN",     "CONFIGURE1",
      "CONFIGURE2",       "CONFIGURE3",        "FINDFAIL1",   "FINDFAIL2",      "FINDFAIL3",
      "FINDFAIL4",        "TUNNELNAME0",       "TUNNELNAME1", "TUNNELNAME2",    "TUNNELNAME3",
      "AUTHERISEFAILURE", "TUNNELNAMEEXIST",   "TUNNELFULL1", "TUNNELFULL2",    "INVALIDUSERNAME",
      "INVALIDPASSWORD",  "INVALIDTUNNELNAME", "INVALIDKEY",  "INVALIDADDRESS", "INVALID"};
  ASSERT_EQ(keys.size(), 25u);
  for (const auto &key : keys) {
    auto found = msg.find("MSG_" + key);
    ASSERT_NE(found, msg.end()) << key;
    EXPECT_FALSE(found->second.empty()) << key;
    EXPECT_LT(found->second.size(), 512u) << key << " is longer than the reader takes";
    // Only the user guide's text is a format, with exactly one string in it; the others are shown as
    // they are or put into other texts.
    auto percent = std::count(found->second.begin(), found->second.end(), '%');
    if (key == "FILENOTFOUND") {
      EXPECT_EQ(percent, 1);
      EXPECT_NE(found->second.find("%s"), std::string::npos);
    } else {
      EXPECT_EQ(percent, 0) << key;
    }
  }
}

TEST_F(SkinFile, CommonValuesAndEveryColourAndPairHaveTheirReadersForm) {
  const Section &common = ini["Common"];
  for (const char *key : {"TextColor", "FontName", "FontSize", "FontWeight", "Transparent", "BkColor",
                          "ActiveColor", "NoActiveColor", "ClickOffset"})
    EXPECT_EQ(common.count(key), 1u) << key;
  for (const auto &[name, section] : ini) {
    if (name == "MSG") continue;
    for (const auto &[key, value] : section) {
      if (key_is(key, "TextColor") || key_is(key, "BkColor") || key_is(key, "ActiveColor") ||
          key_is(key, "NoActiveColor")) {
        EXPECT_TRUE(fields(value, 3, 255)) << name << " " << key << "=" << value;
      }
      if (key_is(key, "Position") || key_is(key, "Size") || key_is(key, "ClickOffset")) {
        EXPECT_TRUE(fields(value, 2, 2000)) << name << " " << key << "=" << value;
      }
    }
  }
}

TEST_F(SkinFile, EveryItemHasItsTypeAndLiesInsideItsWindow) {
  for (const Window &w : windows()) {
    SCOPED_TRACE(w.section);
    const Section &s = ini[w.section];
    auto inside = [&](const std::string &item, int width, int height) {
      std::vector<int> at;
      ASSERT_TRUE(s.count(item + ".Position") && fields(s.at(item + ".Position"), 2, 2000, &at)) << item;
      EXPECT_LE(at[0] + width, w.width) << item;
      EXPECT_LE(at[1] + height, w.height) << item;
    };
    auto size = [&](const std::string &item) {
      std::vector<int> wh{0, 0};
      EXPECT_TRUE(s.count(item + ".Size") && fields(s.at(item + ".Size"), 2, 2000, &wh)) << item;
      return wh;
    };
    for (const auto &item : w.bitmaps) {
      ASSERT_EQ(s.count(item + ".Type"), 1u) << item;
      EXPECT_EQ(s.at(item + ".Type"), "Bitmap") << item;
      auto wh = size(item);
      inside(item, wh[0], wh[1]);
      art_check::ImageHeader h = art_check::check_image(picture(s.at(item + ".FilePath")));
      EXPECT_EQ(h.format + h.error, "bmp") << item;
      EXPECT_EQ(h.width, wh[0]) << item << ": the picture would be stretched";
      EXPECT_EQ(h.height, wh[1]) << item << ": the picture would be stretched";
    }
    for (const auto &item : w.buttons) {
      ASSERT_EQ(s.count(item + ".Type"), 1u) << item;
      EXPECT_EQ(s.at(item + ".Type"), "Button") << item;
      auto bytes = art_check::read_file(picture(s.at(item + ".FilePath")));
      art_check::ImageHeader h = art_check::check_bmp(bytes);
      ASSERT_EQ(h.format + h.error, "bmp") << item;
      EXPECT_EQ(h.width % 3, 0) << item << ": the strip's frames are not of one width";
      inside(item, h.width / 3, h.height);
      auto normal = art_check::bmp_frame(bytes, h, 3, 0), pressed = art_check::bmp_frame(bytes, h, 3, 1),
           hover = art_check::bmp_frame(bytes, h, 3, 2);
      EXPECT_TRUE(normal != pressed && normal != hover && pressed != hover) << item << ": frames look alike";
    }
    for (const auto &item : w.statics) {
      ASSERT_EQ(s.count(item + ".Type"), 1u) << item;
      EXPECT_EQ(s.at(item + ".Type"), "Static") << item;
      auto wh = size(item);
      inside(item, wh[0], wh[1]);
    }
  }
}

TEST_F(SkinFile, EveryDrawnPictureIsNamedByTheFile) {
  std::set<std::string> named;
  for (const auto &[name, section] : ini)
    for (const auto &[key, value] : section)
      if (key.size() > 9 && key.ends_with(".FilePath"))
        named.insert(std::filesystem::path(picture(value)).filename());
  int drawn = 0;
  for (const auto &entry : std::filesystem::directory_iterator(env("TUNMIRA_SKIN_DIR") + "/skin")) {
    ++drawn;
    EXPECT_EQ(named.count(entry.path().filename()), 1u) << entry.path() << " is drawn but never shown";
  }
  EXPECT_EQ(drawn, static_cast<int>(named.size()));
}

TEST(ProgramPictures, LocationPicturesFitTheirSlotIconAndCursorAreWhole) {
  const std::string dir = env("TUNMIRA_RESOURCE_ART_DIR");
  for (const char *file : {"picture348.bmp", "picture349.bmp"}) {
    art_check::ImageHeader h = art_check::check_image(dir + "/" + file);
    EXPECT_EQ(h.format + h.error, "bmp") << file;
    EXPECT_EQ(h.width, 280) << file;
    EXPECT_EQ(h.height, 200) << file;
  }
  EXPECT_NE(art_check::read_file(dir + "/picture348.bmp"), art_check::read_file(dir + "/picture349.bmp"));
  auto icon = art_check::read_file(dir + "/icon104.ico");
  art_check::ImageHeader h = art_check::check_ico(icon);
  EXPECT_EQ(h.error, "");
  EXPECT_EQ(h.width, 32);
  EXPECT_EQ(art_check::le(icon, 4, 2), 2u);

  // The hand cursor: one 32 x 32 picture whose hot spot, the fingertip, lies inside it.
  auto cursor = art_check::read_file(dir + "/cursor113.cur");
  h = art_check::check_ico(cursor);
  EXPECT_EQ(h.format + h.error, "cur");
  EXPECT_EQ(h.width, 32);
  EXPECT_EQ(art_check::le(cursor, 4, 2), 1u);
  EXPECT_LT(art_check::le(cursor, 10, 2), 32u);
  EXPECT_LT(art_check::le(cursor, 12, 2), 32u);
  EXPECT_NE(art_check::le(cursor, 10, 4), 0u) << "a hot spot at the corner misses the fingertip";
}

}  // namespace
}  // namespace tunmira
