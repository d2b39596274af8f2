// Any text as a skin file: every value form is parsed from it and a loader dresses recording controls.
#include <cstddef>
#include <cstdint>
#include <string>

#include "profile_text.h"
#include "skin_loader.h"
#include "skin_values.h"

namespace {

class TextHost : public tunmira::SkinHost {
 public:
  explicit TextHost(std::string text) : text_(std::move(text)) {}
  std::string read_profile_string(const std::string &, const std::string &section, const std::string &key,
                                  std::size_t capacity) override {
    return tunmira::read_profile_value(text_, section, key, capacity);
  }
  void show_plain_message(const std::string &) override {}
  std::string program_directory() override { return "C:\\"; }
  bool exists_in_current_directory(const std::string &) override { return true; }

 private:
  std::string text_;
};

class Sink : public tunmira::SkinLabelTarget,
             public tunmira::SkinButtonTarget,
             public tunmira::SkinBitmapTarget {
 public:
  void move_to(long, long) override {}
  void resize_to(long, long) override {}
  bool LoadFromFile(const std::string &) override { return true; }
  bool LoadBitmap(const std::string &) override { return true; }
  void SetBkColor(tunmira::SkinColour) override {}
  void SetTextColor(tunmira::SkinColour) override {}
  void SetText(const std::string &) override {}
  void SetFontWeight(long) override {}
  void SetFontName(const std::string &, int) override {}
  void SetFontUnderline(bool) override {}
  void SetFontItalic(bool) override {}
  void SetFontSize(long, long) override {}
  void SetFontSizePoints(long) override {}
  void SetTransparent(bool) override {}
  void SetColors(tunmira::SkinColour, tunmira::SkinColour) override {}
  void SetClickOffset(long, long) override {}
  void SetTooltip(const std::string &, bool) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  tunmira::parse_skin_colour(text);
  tunmira::parse_skin_pair(text);
  tunmira::parse_skin_font_size(text);
  tunmira::unescape_button_text(text);
  tunmira::DisplayScaled = size % 2 == 1;
  tunmira::PageScaleX = tunmira::DialogScaleY = 1.75;
  TextHost host(text);
  tunmira::SkinLoader loader(host);
  loader.SetSkinFile("English.ini");
  loader.LoadSkinCommon();
  Sink sink;
  loader.LoadBitmapItem("S", "A", &sink);
  loader.LoadStaticItem("S", "A", &sink);
  loader.LoadButtonItem("S", "A", &sink);
  return 0;
}
