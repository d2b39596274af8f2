// A painted caption for a window with a title bar: the caption picture is made once per size and
// activation state, asked from the window through a paint message, and copied over the caption while
// the system's own caption painting is kept out of that area.
#pragma once

#include <windows.h>

#include <string>

#include "window_hook.h"

namespace tunmira {

// Asks the window to draw its caption picture: wParam the active flag, lParam a CaptionPaintRecord*.
// wParam and lParam 0 ask it to drop what it caches (fonts) after a system change.
constexpr UINT WM_CAPTION_PAINT = 1029;

struct CaptionPaintRecord {
  int width;
  int height;
  HDC dc;
  int active;
};

class CCaptionPainter : public rtwin::CWindowHook {
 public:
  ~CCaptionPainter() override;

  // Hooks the window; with paint_message 0 the caption is drawn in the system style.
  void Install(HWND window, UINT paint_message, LPARAM parameter);
  void set_caption_text(const std::string &text) { caption_text_ = text; }
  const std::string &caption_text() const { return caption_text_; }
  // Draws the gradient caption into the record's context; with no record the caption font is dropped.
  void DrawGradientCaption(bool active, const CaptionPaintRecord *record);

  // The caption rectangle in window coordinates.
  RECT caption_rect() const;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  virtual void OnNcPaint(HRGN region);
  virtual BOOL OnNcActivate(BOOL active);
  virtual void OnSetText(LPCSTR text);

 private:
  void PaintCaption();
  void draw_system_caption(HDC dc, const RECT &area, bool active);
  void drop_bitmaps();

  HBITMAP bitmaps_[2] = {nullptr, nullptr};
  int cached_width_ = 0;
  int cached_height_ = 0;
  int active_ = -1;
  UINT paint_message_ = 0;
  LPARAM parameter_ = 0;
  HFONT caption_font_ = nullptr;
  std::string caption_text_;
};

}  // namespace tunmira
