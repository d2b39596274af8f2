#include "skin_loader.h"

#include <cstdio>

namespace tunmira {
namespace {
constexpr std::size_t kSkinValueCapacity = 2048;

std::string Format(const char *format, const std::string &a, const std::string &b = {}) {
  std::string text(64 + a.size() + b.size() + std::char_traits<char>::length(format), '\0');
  int n = std::snprintf(text.data(), text.size(), format, a.c_str(), b.c_str());
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

void Place(SkinPlaced &control, SkinPair position, SkinPair size) {
  auto placed = [](long v, double factor) { return DisplayScaled ? ScalePlace(v, factor) : v; };
  if (position.x != -1 && position.y != -1)
    control.MoveTo(placed(position.x, PageScaleX), placed(position.y, PageScaleY));
  if (size.x != -1 && size.y != -1) control.ResizeTo(placed(size.x, PageScaleX), placed(size.y, PageScaleY));
}

}  // namespace

void SkinLoader::SetSkinFile(const std::string &fileName) {
  arabic_ = fileName == "Arabic.ini";
  greek_ = fileName == "Greek.ini";
  indonesian_ = fileName == "Indonesian.ini";
  thai_ = fileName == "Thai.ini";
  polish_ = fileName == "Polish.ini";
  turkish_ = fileName == "Turkish.ini";
  programDirectory_ = host_.ProgramDirectory();
  skinPath_ = programDirectory_ + fileName;
}

int SkinLoader::Charset() const {
  if (arabic_) return kCharsetArabic;
  if (greek_) return kCharsetGreek;
  if (thai_) return kCharsetThai;
  if (indonesian_ || polish_) return kCharsetAnsiDefault;
  if (turkish_) return kCharsetTurkish;
  return kCharsetDefault;
}

std::string SkinLoader::Read(const std::string &section, const std::string &key) {
  return host_.ReadProfileString(skinPath_, section, key, kSkinValueCapacity);
}

std::string SkinLoader::ReadItem(const std::string &section, const std::string &item, const char *suffix) {
  return Read(section, item + suffix);
}

void SkinLoader::LoadSkinCommon() {
  const std::string common = "Common";
  if (auto v = Read(common, "TextColor"); !v.empty()) textColour = ParseSkinColour(v);
  if (auto v = Read(common, "FontName"); !v.empty()) fontName = v;
  if (auto v = Read(common, "FontSize"); !v.empty()) fontSize = SkinNumber(v);
  if (auto v = Read(common, "FontWeight"); !v.empty()) fontWeight = SkinNumber(v);
  if (auto v = Read(common, "Transparent"); !v.empty()) transparent = v == "1";
  if (auto v = Read(common, "BkColor"); !v.empty()) bkColour = ParseSkinColour(v);
  if (auto v = Read(common, "ActiveColor"); !v.empty()) activeColour = ParseSkinColour(v);
  if (auto v = Read(common, "NoActiveColor"); !v.empty()) noActiveColour = ParseSkinColour(v);
  if (auto v = Read(common, "ClickOffset"); !v.empty()) {
    SkinPair offset = ParseSkinPair(v);
    clickOffsetX = offset.x;
    clickOffsetY = offset.y;
  }
}

bool SkinLoader::CheckType(const std::string &section, const std::string &item, const char *type) {
  if (ReadItem(section, item, ".Type") == type) return true;
  host_.ShowPlainMessage(
      Format("Load user interface setting failure, type not match,[SectionName]=%s,[KeyName]=%s", section,
             item + ".Type"));
  return false;
}

bool SkinLoader::ReadFilePath(const std::string &section, const std::string &item, std::string &fullPath) {
  std::string file = ReadItem(section, item, ".FilePath");
  if (file.empty()) {
    host_.ShowPlainMessage(Format("Load user interface setting failure,[SectionName]=%s,[KeyName]=%s",
                                  section, item + ".FilePath"));
    return false;
  }
  fullPath = programDirectory_ + file;
  return true;
}

SkinFontSize SkinLoader::ReadFontSize(const std::string &section, const std::string &item) {
  std::string value = ReadItem(section, item, ".FontSize");
  return value.empty() ? SkinFontSize{fontSize, 0, 0} : ParseSkinFontSize(value);
}

bool SkinLoader::LoadBitmapItem(const std::string &section, const std::string &item,
                                SkinBitmapTarget *control) {
  std::string path;
  if (!CheckType(section, item, "Bitmap") || !ReadFilePath(section, item, path)) return false;
  SkinPair position = ParseSkinPair(ReadItem(section, item, ".Position"));
  SkinPair size = ParseSkinPair(ReadItem(section, item, ".Size"));
  if (control == nullptr) return false;
  if (!control->LoadFromFile(path)) {
    host_.ShowPlainMessage(Format("Load bitmap file failure,file name=%s", path));
    return false;
  }
  if (position.x != -1 && position.y != -1) control->MoveTo(position.x, position.y);
  if (size.x != -1 && size.y != -1) control->ResizeTo(size.x, size.y);
  return true;
}

bool SkinLoader::LoadStaticItem(const std::string &section, const std::string &item,
                                SkinLabelTarget *control) {
  if (!CheckType(section, item, "Static")) return false;
  auto readScaled = [&](const char *suffix) {
    SkinPair pair = ParseSkinPair(ReadItem(section, item, suffix));
    if (pair != SkinPair{} && DisplayScaled)
      pair = {ScaleRead(pair.x, DialogScaleX), ScaleRead(pair.y, DialogScaleY)};
    return pair;
  };
  SkinPair position = readScaled(".Position");
  SkinPair size = readScaled(".Size");
  std::string value = ReadItem(section, item, ".TextColor");
  SkinColour colour = value.empty() ? textColour : ParseSkinColour(value);
  std::string text = ReadItem(section, item, ".TextString");
  std::string face = ReadItem(section, item, ".FontName");
  if (face.empty()) face = fontName;
  SkinFontSize fontSizeValue = ReadFontSize(section, item);
  value = ReadItem(section, item, ".FontWeight");
  long weight = value.empty() ? fontWeight : SkinNumber(value);
  value = ReadItem(section, item, ".Transparent");
  bool clear = value.empty() ? transparent : value == "1";
  value = ReadItem(section, item, ".BkColor");
  SkinColour background = value.empty() ? bkColour : ParseSkinColour(value);
  if (control == nullptr) return false;

  control->SetFontWeight(weight);
  control->SetFontUnderline(false);
  control->SetFontItalic(false);
  if (fontSizeValue.points == -1) {
    long width = fontSizeValue.width;
    long height = fontSizeValue.height;
    if (DisplayScaled) {
      width = ScalePlace(width, PageScaleX);
      height = ScalePlace(height, PageScaleY);
    }
    control->SetFontSize(width, height);
  } else {
    control->SetFontSizePoints(fontSizeValue.points);
  }
  control->SetFontName(face, Charset());
  control->SetTransparent(clear);
  control->SetText(text);
  control->SetTextColor(colour);
  control->SetBkColor(background);
  Place(*control, position, size);
  return true;
}

bool SkinLoader::LoadButtonItem(const std::string &section, const std::string &item,
                                SkinButtonTarget *control) {
  std::string path;
  if (!CheckType(section, item, "Button") || !ReadFilePath(section, item, path)) return false;
  SkinPair position = ParseSkinPair(ReadItem(section, item, ".Position"));
  std::string text = UnescapeButtonText(ReadItem(section, item, ".TextString"));
  std::string face = ReadItem(section, item, ".FontName");
  if (face.empty()) face = fontName;
  SkinFontSize fontSizeValue = ReadFontSize(section, item);
  std::string value = ReadItem(section, item, ".FontWeight");
  long weight = value.empty() ? fontWeight : SkinNumber(value);
  value = ReadItem(section, item, ".ActiveColor");
  SkinColour active = value.empty() ? activeColour : ParseSkinColour(value);
  value = ReadItem(section, item, ".NoActiveColor");
  SkinColour inactive = value.empty() ? noActiveColour : ParseSkinColour(value);
  value = ReadItem(section, item, ".ClickOffset");
  SkinPair offset = value.empty() ? SkinPair{clickOffsetX, clickOffsetY} : ParseSkinPair(value);
  std::string tooltip = ReadItem(section, item, ".ToolTip");
  if (control == nullptr) return false;
  if (!control->LoadBitmap(path)) {
    host_.ShowPlainMessage(Format("Load bitmap file failure,file name=%s", path));
    return false;
  }

  control->SetColors(active, inactive);
  control->SetClickOffset(offset.x, offset.y);
  control->SetFontWeight(weight);
  control->SetFontUnderline(false);
  control->SetFontItalic(false);
  if (fontSizeValue.points == -1)
    control->SetFontSize(fontSizeValue.width, fontSizeValue.height);
  else
    control->SetFontSizePoints(fontSizeValue.points);
  control->SetFontName(face, Charset());
  control->SetTooltip(tooltip, true);
  control->SetText(text);
  Place(*control, position, SkinPair{});
  return true;
}

}  // namespace tunmira
