// Dresses a window's controls from the skin sections of the current language file.
#pragma once

#include <string>

#include "skin_host.h"
#include "skin_values.h"

namespace tunmira {

// Font character sets by language.
constexpr int kCharsetDefault = 0;
constexpr int kCharsetAnsiDefault = 1;
constexpr int kCharsetArabic = 178;
constexpr int kCharsetGreek = 161;
constexpr int kCharsetThai = 222;
constexpr int kCharsetTurkish = 162;

// What the loader needs of a control it dresses; the skinned controls implement these.
class SkinPlaced {
 public:
  virtual ~SkinPlaced() = default;
  // Moves keeping size and z-order; resizes keeping position and z-order.
  virtual void move_to(long x, long y) = 0;
  virtual void resize_to(long width, long height) = 0;
};

class SkinBitmapTarget : public virtual SkinPlaced {
 public:
  virtual bool LoadFromFile(const std::string &path) = 0;
};

class SkinLabelTarget : public virtual SkinPlaced {
 public:
  virtual void SetBkColor(SkinColour colour) = 0;
  virtual void SetTextColor(SkinColour colour) = 0;
  virtual void SetText(const std::string &text) = 0;
  virtual void SetFontWeight(long weight) = 0;
  virtual void SetFontName(const std::string &name, int charset) = 0;
  virtual void SetFontUnderline(bool on) = 0;
  virtual void SetFontItalic(bool on) = 0;
  virtual void SetFontSize(long width, long height) = 0;
  virtual void SetFontSizePoints(long points) = 0;
  virtual void SetTransparent(bool on) = 0;
};

class SkinButtonTarget : public virtual SkinPlaced {
 public:
  virtual bool LoadBitmap(const std::string &path) = 0;
  virtual void SetColors(SkinColour active, SkinColour inactive) = 0;
  virtual void SetClickOffset(long x, long y) = 0;
  virtual void SetFontWeight(long weight) = 0;
  virtual void SetFontUnderline(bool on) = 0;
  virtual void SetFontItalic(bool on) = 0;
  virtual void SetFontSizePoints(long points) = 0;
  virtual void SetFontSize(long width, long height) = 0;
  virtual void SetFontName(const std::string &name, int charset) = 0;
  virtual void SetTooltip(const std::string &text, bool activate) = 0;
  virtual void SetText(const std::string &text) = 0;
};

class SkinLoader {
 public:
  explicit SkinLoader(SkinHost &host) : host_(host) {}

  // Chooses the language flags by the file name and points the loader at that file beside the program.
  void SetSkinFile(const std::string &file_name);
  // Section "Common": the defaults of every item; a missing key keeps its default.
  void LoadSkinCommon();

  // Each dresses one control from `section`; false (after one message box) when the item fails. With
  // no control the keys are still read and checked, and the result is false.
  bool LoadBitmapItem(const std::string &section, const std::string &item, SkinBitmapTarget *control);
  bool LoadStaticItem(const std::string &section, const std::string &item, SkinLabelTarget *control);
  bool LoadButtonItem(const std::string &section, const std::string &item, SkinButtonTarget *control);

  const std::string &skin_path() const { return skin_path_; }
  const std::string &program_directory() const { return program_directory_; }
  // The character set of skinned text for the current language.
  int charset() const;

  // The "Common" defaults.
  std::string font_name = "Helvetica Narrow";
  long font_size = 10;
  long font_weight = 400;
  SkinColour text_colour = make_skin_colour(255, 255, 255);
  SkinColour bk_colour = make_skin_colour(0, 0, 0);
  bool transparent = true;
  SkinColour no_active_colour = make_skin_colour(255, 255, 255);
  SkinColour active_colour = make_skin_colour(255, 255, 255);
  long click_offset_x = 2;
  long click_offset_y = 2;

 private:
  std::string read(const std::string &section, const std::string &key);
  std::string read_item(const std::string &section, const std::string &item, const char *suffix);
  bool check_type(const std::string &section, const std::string &item, const char *type);
  bool read_file_path(const std::string &section, const std::string &item, std::string &full_path);
  SkinFontSize read_font_size(const std::string &section, const std::string &item);

  SkinHost &host_;
  std::string skin_path_;
  std::string program_directory_;
  bool arabic_ = false;
  bool greek_ = false;
  bool indonesian_ = false;
  bool thai_ = false;
  bool polish_ = false;
  bool turkish_ = false;
};

}  // namespace tunmira
