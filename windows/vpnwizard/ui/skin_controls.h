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
  void MoveTo(long x, long y) override;
  void ResizeTo(long width, long height) override;
};

// A .bmp file made into a bitmap for the screen; nullptr when the file is missing or damaged.
HBITMAP LoadBmpFile(const std::string &path);

// How a skinned label lays out its text (DrawText flags), from its static control style and the text.
UINT SkinLabelTextFormat(LONG style, const std::string &text);

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

  SkinColour textColour() const { return textColour_; }
  SkinColour bkColour() const { return bkColour_; }
  bool transparent() const { return transparent_; }
  const LOGFONTA &font() const { return logFont_; }

 protected:
  void OnSubclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void RemakeFont();
  void Update();
  void Paint();

  COLORREF textColour_;
  COLORREF bkColour_ = 0;
  HBRUSH defaultBrush_ = nullptr;
  HBRUSH bkBrush_ = nullptr;
  LOGFONTA logFont_{};
  HFONT font_ = nullptr;
  bool transparent_ = false;
};

class CSkinBitmap : public CSkinPlacedControl, public SkinBitmapTarget {
 public:
  ~CSkinBitmap() override;
  void SetBitmap(HBITMAP bitmap);
  bool LoadFromFile(const std::string &path) override;
  SIZE bitmapSize() const { return size_; }

 protected:
  void OnSubclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  std::optional<LRESULT> Reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void EraseBackground(HDC dc);
  void RepaintTransparentSiblings(const RECT &painted) const;
  void DrawItemText(const DRAWITEMSTRUCT &item);
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

  long frameWidth() const { return frameWidth_; }
  long frameHeight() const { return frameHeight_; }
  bool hovering() const { return hover_.hovering(); }
  SkinColour activeColour() const { return active_; }
  SkinColour inactiveColour() const { return inactive_; }
  POINT clickOffset() const { return {clickX_, clickY_}; }
  const LOGFONTA &font() const { return logFont_; }
  HWND tooltip() const { return tooltip_; }

 protected:
  void OnSubclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  std::optional<LRESULT> Reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void RemakeFont();
  void Draw(const DRAWITEMSTRUCT &item);
  bool UsesHandCursor() const;

  HBITMAP strip_ = nullptr;
  long frameWidth_ = 0;
  long frameHeight_ = 0;
  rtwin::HoverTracker hover_;
  COLORREF active_ = 0;
  COLORREF inactive_ = 0;
  long clickX_ = 2;
  long clickY_ = 2;
  LOGFONTA logFont_{};
  HFONT font_ = nullptr;
  HWND tooltip_ = nullptr;
};

class CSkinLink : public rtwin::CControl {
 public:
  ~CSkinLink() override;
  // The text shown when the template item has none; set before attaching.
  void SetLinkText(const std::string &text) { linkText_ = text; }
  const std::string &linkText() const { return linkText_; }
  bool hovering() const { return hovering_; }
  bool visited() const { return visited_; }

  static constexpr COLORREF kLinkColour = RGB(0, 0, 238);
  static constexpr COLORREF kVisitedColour = RGB(85, 26, 139);
  static constexpr COLORREF kHoverColour = RGB(255, 0, 0);

 protected:
  void OnSubclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  std::optional<LRESULT> Reflect(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void FitToText();
  void LoadHandCursor();
  void Clicked();

  std::string linkText_;
  bool hovering_ = false;
  bool visited_ = false;
  HFONT normalFont_ = nullptr;
  HFONT underlineFont_ = nullptr;
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
  void OnSubclassed() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Draw(HDC dc);
  void ReleaseImage();

  HDC snapshotDc_ = nullptr;
  HBITMAP snapshot_ = nullptr;
  HGDIOBJ snapshotOld_ = nullptr;
  int resourceId_ = 0;
  void *image_ = nullptr;  // Gdiplus::Image
  HGLOBAL imageBytes_ = nullptr;
};

}  // namespace tunmira
