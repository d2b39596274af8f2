// The wizard's own controls, each attached to a dialog-template item: text labels, pictures from .bmp
// files, buttons drawn from a three-frame strip, links that report their click to the main window, and
// PNG pictures from the program's resources.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "dialog.h"
#include "hover_tracker.h"
#include "skin_loader.h"

namespace tunmira {

// The private message that carries the wizard's commands to the main window.
constexpr UINT WM_WIZARD_COMMAND = 2024;

// Moves and resizes a control in its parent's client area without touching its z-order.
class CSkinPlacedControl : public rtwin::CControl, public virtual SkinPlaced {
 public:
  void move_to(long x, long y) override;
  void resize_to(long width, long height) override;
};

// A .bmp file made into a bitmap for the screen; nullptr when the file is missing or damaged.
HBITMAP load_bmp_file(const std::string &path);

// How a skinned label lays out its text (DrawText flags), from its static control style and the text.
UINT skin_label_text_format(LONG style, const std::string &text);

class CSkinLabel : public CSkinPlacedControl, public SkinLabelTarget {
 public:
  CSkinLabel();
  ~CSkinLabel() override;

  void SetBkColor(SkinColour colour) override;
  void SetTextColor(SkinColour colour) override;
  void SetText(const std::string &text) override;
  void SetFontWeight(long weight) override;
  void SetFontName(const std::string &name, int charset) override;
  void SetFontUnderline(bool on) override;
  void SetFontItalic(bool on) override;
  void SetFontSize(long width, long height) override;
  void SetFontSizePoints(long points) override;
  void SetTransparent(bool on) override;

  SkinColour text_colour() const { return text_colour_; }
  SkinColour bk_colour() const { return bk_colour_; }
  bool transparent() const { return transparent_; }
  const LOGFONTA &font() const { return log_font_; }

 protected:
  void on_subclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void remake_font();
  void Update();
  void paint();

  COLORREF text_colour_;
  COLORREF bk_colour_ = 0;
  HBRUSH default_brush_ = nullptr;
  HBRUSH bk_brush_ = nullptr;
  LOGFONTA log_font_{};
  HFONT font_ = nullptr;
  bool transparent_ = false;
};

class CSkinBitmap : public CSkinPlacedControl, public SkinBitmapTarget {
 public:
  ~CSkinBitmap() override;
  void SetBitmap(HBITMAP bitmap);
  bool LoadFromFile(const std::string &path) override;
  SIZE bitmap_size() const { return size_; }

 protected:
  void on_subclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  std::optional<LRESULT> reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void erase_background(HDC dc);
  void repaint_transparent_siblings(const RECT &painted) const;
  void draw_item_text(const DRAWITEMSTRUCT &item);
  HBITMAP bitmap_ = nullptr;
  SIZE size_{0, 0};
  LONG alignment_ = SS_LEFT;  // the template's alignment, kept when the item turns owner-drawn
};

class CSkinButton : public CSkinPlacedControl, public SkinButtonTarget {
 public:
  ~CSkinButton() override;

  bool LoadBitmap(const std::string &path) override;
  void SetColors(SkinColour active, SkinColour inactive) override;
  void SetClickOffset(long x, long y) override;
  void SetFontWeight(long weight) override;
  void SetFontUnderline(bool on) override;
  void SetFontItalic(bool on) override;
  void SetFontSizePoints(long points) override;
  void SetFontSize(long width, long height) override;
  void SetFontName(const std::string &name, int charset) override;
  void SetTooltip(const std::string &text, bool activate) override;
  void SetText(const std::string &text) override;

  long frame_width() const { return frame_width_; }
  long frame_height() const { return frame_height_; }
  bool hovering() const { return hover_.hovering(); }
  SkinColour active_colour() const { return active_; }
  SkinColour inactive_colour() const { return inactive_; }
  POINT click_offset() const { return {click_x_, click_y_}; }
  const LOGFONTA &font() const { return log_font_; }
  HWND tooltip() const { return tooltip_; }

 protected:
  void on_subclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  std::optional<LRESULT> reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void remake_font();
  void draw(const DRAWITEMSTRUCT &item);
  bool uses_hand_cursor() const;

  HBITMAP strip_ = nullptr;
  long frame_width_ = 0;
  long frame_height_ = 0;
  rtwin::HoverTracker hover_;
  COLORREF active_ = 0;
  COLORREF inactive_ = 0;
  long click_x_ = 2;
  long click_y_ = 2;
  LOGFONTA log_font_{};
  HFONT font_ = nullptr;
  HWND tooltip_ = nullptr;
};

class CSkinLink : public rtwin::CControl {
 public:
  ~CSkinLink() override;
  // The text shown when the template item has none; set before attaching.
  void set_link_text(const std::string &text) { link_text_ = text; }
  const std::string &link_text() const { return link_text_; }
  bool hovering() const { return hovering_; }
  bool visited() const { return visited_; }

  static constexpr COLORREF kLinkColour = RGB(0, 0, 238);
  static constexpr COLORREF kVisitedColour = RGB(85, 26, 139);
  static constexpr COLORREF kHoverColour = RGB(255, 0, 0);

 protected:
  void on_subclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  std::optional<LRESULT> reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void fit_to_text();
  void load_hand_cursor();
  void clicked();

  std::string link_text_;
  bool hovering_ = false;
  bool visited_ = false;
  HFONT normal_font_ = nullptr;
  HFONT underline_font_ = nullptr;
  HCURSOR hand_ = nullptr;
  HWND tooltip_ = nullptr;
};

class CPngStatic : public rtwin::CControl {
 public:
  ~CPngStatic() override;
  // Shows the "PNG" resource `id` of the program over the background snapshot; false when there is no
  // such resource or it is not a picture.
  bool SetImage(int id);

 protected:
  void on_subclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void draw(HDC dc);
  void release_image();

  HDC snapshot_dc_ = nullptr;
  HBITMAP snapshot_ = nullptr;
  HGDIOBJ snapshot_old_ = nullptr;
  int resource_id_ = 0;
  void *image_ = nullptr;  // Gdiplus::Image
  HGLOBAL image_bytes_ = nullptr;
};

}  // namespace tunmira
