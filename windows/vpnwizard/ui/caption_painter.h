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

  // Hooks the window; with paintMessage 0 the caption is drawn in the system style.
  void Install(HWND window, UINT paintMessage, LPARAM parameter);
  void SetCaptionText(const std::string &text) { captionText_ = text; }
  const std::string &CaptionText() const { return captionText_; }
  // Draws the gradient caption into the record's context; with no record the caption font is dropped.
  void DrawGradientCaption(bool active, const CaptionPaintRecord *record);

  // The caption rectangle in window coordinates.
  RECT CaptionRect() const;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  virtual void OnNcPaint(HRGN region);
  virtual BOOL OnNcActivate(BOOL active);
  virtual void OnSetText(LPCSTR text);

 private:
  void PaintCaption();
  void DrawSystemCaption(HDC dc, const RECT &area, bool active);
  void DropBitmaps();

  HBITMAP bitmaps_[2] = {nullptr, nullptr};
  int cachedWidth_ = 0;
  int cachedHeight_ = 0;
  int active_ = -1;
  UINT paintMessage_ = 0;
  LPARAM parameter_ = 0;
  HFONT captionFont_ = nullptr;
  std::string captionText_;
};

}  // namespace tunmira
