#include "skin_loader.h"

#include <cstdio>

namespace tunmira {
namespace {
constexpr std::size_t kSkinValueCapacity = 2048;

std::string format(const char *format, const std::string &a, const std::string &b = {}) {
  std::string text(64 + a.size() + b.size() + std::char_traits<char>::length(format), '\0');
  int n = std::snprintf(text.data(), text.size(), format, a.c_str(), b.c_str());
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

void place(SkinPlaced &control, SkinPair position, SkinPair size) {
  auto placed = [](long v, double factor) { return DisplayScaled ? scale_place(v, factor) : v; };
  if (position.x != -1 && position.y != -1)
    control.move_to(placed(position.x, PageScaleX), placed(position.y, PageScaleY));
  if (size.x != -1 && size.y != -1) control.resize_to(placed(size.x, PageScaleX), placed(size.y, PageScaleY));
}

}  // namespace

void SkinLoader::SetSkinFile(const std::string &file_name) {
  arabic_ = file_name == "Arabic.ini";
  greek_ = file_name == "Greek.ini";
  indonesian_ = file_name == "Indonesian.ini";
  thai_ = file_name == "Thai.ini";
  polish_ = file_name == "Polish.ini";
  turkish_ = file_name == "Turkish.ini";
  program_directory_ = host_.program_directory();
  skin_path_ = program_directory_ + file_name;
}

int SkinLoader::charset() const {
  if (arabic_) return kCharsetArabic;
  if (greek_) return kCharsetGreek;
  if (thai_) return kCharsetThai;
  if (indonesian_ || polish_) return kCharsetAnsiDefault;
  if (turkish_) return kCharsetTurkish;
  return kCharsetDefault;
}

std::string SkinLoader::read(const std::string &section, const std::string &key) {
  return host_.read_profile_string(skin_path_, section, key, kSkinValueCapacity);
}

std::string SkinLoader::read_item(const std::string &section, const std::string &item, const char *suffix) {
  return read(section, item + suffix);
}

void SkinLoader::LoadSkinCommon() {
  const std::string common = "Common";
  if (auto v = read(common, "TextColor"); !v.empty()) text_colour = parse_skin_colour(v);
  if (auto v = read(common, "FontName"); !v.empty()) font_name = v;
  if (auto v = read(common, "FontSize"); !v.empty()) font_size = skin_number(v);
  if (auto v = read(common, "FontWeight"); !v.empty()) font_weight = skin_number(v);
  if (auto v = read(common, "Transparent"); !v.empty()) transparent = v == "1";
  if (auto v = read(common, "BkColor"); !v.empty()) bk_colour = parse_skin_colour(v);
  if (auto v = read(common, "ActiveColor"); !v.empty()) active_colour = parse_skin_colour(v);
  if (auto v = read(common, "NoActiveColor"); !v.empty()) no_active_colour = parse_skin_colour(v);
  if (auto v = read(common, "ClickOffset"); !v.empty()) {
    SkinPair offset = parse_skin_pair(v);
    click_offset_x = offset.x;
    click_offset_y = offset.y;
  }
}

bool SkinLoader::check_type(const std::string &section, const std::string &item, const char *type) {
  if (read_item(section, item, ".Type") == type) return true;
  host_.show_plain_message(
      format("Load user interface setting failure, type not match,[SectionName]=%s,[KeyName]=%s", section,
             item + ".Type"));
  return false;
}

bool SkinLoader::read_file_path(const std::string &section, const std::string &item, std::string &full_path) {
  std::string file = read_item(section, item, ".FilePath");
  if (file.empty()) {
    host_.show_plain_message(format("Load user interface setting failure,[SectionName]=%s,[KeyName]=%s",
                                    section, item + ".FilePath"));
    return false;
  }
  full_path = program_directory_ + file;
  return true;
}

SkinFontSize SkinLoader::read_font_size(const std::string &section, const std::string &item) {
  std::string value = read_item(section, item, ".FontSize");
  return value.empty() ? SkinFontSize{font_size, 0, 0} : parse_skin_font_size(value);
}

bool SkinLoader::LoadBitmapItem(const std::string &section, const std::string &item,
                                SkinBitmapTarget *control) {
  std::string path;
  if (!check_type(section, item, "Bitmap") || !read_file_path(section, item, path)) return false;
  SkinPair position = parse_skin_pair(read_item(section, item, ".Position"));
  SkinPair size = parse_skin_pair(read_item(section, item, ".Size"));
  if (control == nullptr) return false;
  if (!control->LoadFromFile(path)) {
    host_.show_plain_message(format("Load bitmap file failure,file name=%s", path));
    return false;
  }
  if (position.x != -1 && position.y != -1) control->move_to(position.x, position.y);
  if (size.x != -1 && size.y != -1) control->resize_to(size.x, size.y);
  return true;
}

bool SkinLoader::LoadStaticItem(const std::string &section, const std::string &item,
                                SkinLabelTarget *control) {
  if (!check_type(section, item, "Static")) return false;
  auto read_scaled = [&](const char *suffix) {
    SkinPair pair = parse_skin_pair(read_item(section, item, suffix));
    if (pair != SkinPair{} && DisplayScaled)
      pair = {scale_read(pair.x, DialogScaleX), scale_read(pair.y, DialogScaleY)};
    return pair;
  };
  SkinPair position = read_scaled(".Position");
  SkinPair size = read_scaled(".Size");
  std::string value = read_item(section, item, ".TextColor");
  SkinColour colour = value.empty() ? text_colour : parse_skin_colour(value);
  std::string text = read_item(section, item, ".TextString");
  std::string face = read_item(section, item, ".FontName");
  if (face.empty()) face = font_name;
  SkinFontSize font_size_value = read_font_size(section, item);
  value = read_item(section, item, ".FontWeight");
  long weight = value.empty() ? font_weight : skin_number(value);
  value = read_item(section, item, ".Transparent");
  bool clear = value.empty() ? transparent : value == "1";
  value = read_item(section, item, ".BkColor");
  SkinColour background = value.empty() ? bk_colour : parse_skin_colour(value);
  if (control == nullptr) return false;

  control->SetFontWeight(weight);
  control->SetFontUnderline(false);
  control->SetFontItalic(false);
  if (font_size_value.points == -1) {
    long width = font_size_value.width;
    long height = font_size_value.height;
    if (DisplayScaled) {
      width = scale_place(width, PageScaleX);
      height = scale_place(height, PageScaleY);
    }
    control->SetFontSize(width, height);
  } else {
    control->SetFontSizePoints(font_size_value.points);
  }
  control->SetFontName(face, charset());
  control->SetTransparent(clear);
  control->SetText(text);
  control->SetTextColor(colour);
  control->SetBkColor(background);
  place(*control, position, size);
  return true;
}

bool SkinLoader::LoadButtonItem(const std::string &section, const std::string &item,
                                SkinButtonTarget *control) {
  std::string path;
  if (!check_type(section, item, "Button") || !read_file_path(section, item, path)) return false;
  SkinPair position = parse_skin_pair(read_item(section, item, ".Position"));
  std::string text = unescape_button_text(read_item(section, item, ".TextString"));
  std::string face = read_item(section, item, ".FontName");
  if (face.empty()) face = font_name;
  SkinFontSize font_size_value = read_font_size(section, item);
  std::string value = read_item(section, item, ".FontWeight");
  long weight = value.empty() ? font_weight : skin_number(value);
  value = read_item(section, item, ".ActiveColor");
  SkinColour active = value.empty() ? active_colour : parse_skin_colour(value);
  value = read_item(section, item, ".NoActiveColor");
  SkinColour inactive = value.empty() ? no_active_colour : parse_skin_colour(value);
  value = read_item(section, item, ".ClickOffset");
  SkinPair offset = value.empty() ? SkinPair{click_offset_x, click_offset_y} : parse_skin_pair(value);
  std::string tooltip = read_item(section, item, ".ToolTip");
  if (control == nullptr) return false;
  if (!control->LoadBitmap(path)) {
    host_.show_plain_message(format("Load bitmap file failure,file name=%s", path));
    return false;
  }

  control->SetColors(active, inactive);
  control->SetClickOffset(offset.x, offset.y);
  control->SetFontWeight(weight);
  control->SetFontUnderline(false);
  control->SetFontItalic(false);
  if (font_size_value.points == -1)
    control->SetFontSize(font_size_value.width, font_size_value.height);
  else
    control->SetFontSizePoints(font_size_value.points);
  control->SetFontName(face, charset());
  control->SetTooltip(tooltip, true);
  control->SetText(text);
  place(*control, position, SkinPair{});
  return true;
}

}  // namespace tunmira
