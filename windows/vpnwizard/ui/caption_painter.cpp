#include "caption_painter.h"

#include "caption_geometry.h"
#include "stay_active.h"

namespace tunmira {
namespace {

constexpr int kProgramIcon = 104;

// Runs `pass` with the window's visible style cleared, so the system's default handling draws nothing.
template <typename Pass>
LRESULT Invisibly(HWND window, Pass pass) {
  LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
  bool visible = (style & WS_VISIBLE) != 0;
  if (visible) SetWindowLongPtrA(window, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_VISIBLE));
  LRESULT result = pass();
  if (visible) SetWindowLongPtrA(window, GWL_STYLE, GetWindowLongPtrA(window, GWL_STYLE) | WS_VISIBLE);
  return result;
}

void Fill(HDC dc, const RECT &rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

}  // namespace

CCaptionPainter::~CCaptionPainter() {
  Hook(nullptr);
  DropBitmaps();
  if (captionFont_) DeleteObject(captionFont_);
}

void CCaptionPainter::Install(HWND window, UINT paintMessage, LPARAM parameter) {
  paintMessage_ = paintMessage;
  parameter_ = parameter;
  Hook(window);
}

void CCaptionPainter::DropBitmaps() {
  for (HBITMAP &bitmap : bitmaps_) {
    if (bitmap) DeleteObject(bitmap);
    bitmap = nullptr;
  }
}

RECT CCaptionPainter::CaptionRect() const {
  RECT window;
  GetWindowRect(hwnd(), &window);
  OffsetRect(&window, -window.left, -window.top);
  bool thick = (GetWindowLongPtrA(hwnd(), GWL_STYLE) & WS_THICKFRAME) != 0;
  int frameX = GetSystemMetrics(thick ? SM_CXFRAME : SM_CXDLGFRAME);
  int frameY = GetSystemMetrics(thick ? SM_CYFRAME : SM_CYDLGFRAME);
  RECT caption = window;
  caption.left += frameX;
  caption.right -= frameX;
  caption.top = frameY;
  caption.bottom = caption.top + GetSystemMetrics(SM_CYCAPTION) - GetSystemMetrics(SM_CYBORDER);
  return caption;
}

LRESULT CCaptionPainter::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCPAINT:
      OnNcPaint(reinterpret_cast<HRGN>(wParam));
      return 0;
    case WM_NCACTIVATE:
      return OnNcActivate(static_cast<BOOL>(wParam));
    case WM_SETTEXT:
      OnSetText(reinterpret_cast<LPCSTR>(lParam));
      return 0;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
      cachedWidth_ = cachedHeight_ = 0;
      if (paintMessage_) SendMessageA(hwnd(), paintMessage_, 0, 0);
      return CWindowHook::WindowProc(message, wParam, lParam);
    default:
      return CWindowHook::WindowProc(message, wParam, lParam);
  }
}

void CCaptionPainter::OnNcPaint(HRGN region) {
  RECT window;
  GetWindowRect(hwnd(), &window);
  RECT caption = CaptionRect();
  OffsetRect(&caption, window.left, window.top);
  auto handle = reinterpret_cast<UINT_PTR>(region);
  if (handle > 1 && !RectInRegion(region, &caption)) {
    CWindowHook::WindowProc(WM_NCPAINT, reinterpret_cast<WPARAM>(region), 0);
    return;
  }
  HRGN rest = CreateRectRgnIndirect(&window);
  if (handle > 1) CombineRgn(rest, region, nullptr, RGN_COPY);
  HRGN captionRegion = CreateRectRgnIndirect(&caption);
  CombineRgn(rest, rest, captionRegion, RGN_DIFF);
  CWindowHook::WindowProc(WM_NCPAINT, reinterpret_cast<WPARAM>(rest), 0);
  DeleteObject(captionRegion);
  DeleteObject(rest);
  // The system left the caption alone; put the picture there.
  PaintCaption();
}

BOOL CCaptionPainter::OnNcActivate(BOOL active) {
  // A disabled window (one that owns a modal dialog) always looks inactive; a window marked to stay active
  // keeps its active look whatever the system says.
  int state = !IsWindowEnabled(hwnd()) ? 0 : rtwin::IsMarkedStayActive(hwnd()) ? 1 : (active ? 1 : 0);
  if (state == active_) return TRUE;
  Invisibly(hwnd(), [&] { return CWindowHook::WindowProc(WM_NCACTIVATE, static_cast<WPARAM>(state), 0); });
  active_ = state;
  SendMessageA(hwnd(), WM_NCPAINT, 0, 0);
  return TRUE;
}

void CCaptionPainter::OnSetText(LPCSTR text) {
  Invisibly(hwnd(), [&] { return CWindowHook::WindowProc(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); });
  SendMessageA(hwnd(), WM_NCPAINT, 0, 0);
  cachedWidth_ = cachedHeight_ = 0;
  PaintCaption();
}

void CCaptionPainter::PaintCaption() {
  if (IsIconic(hwnd())) return;
  HDC windowDc = GetWindowDC(hwnd());
  HDC memory = CreateCompatibleDC(windowDc);
  RECT caption = CaptionRect();
  int width = caption.right - caption.left;
  int height = caption.bottom - caption.top;
  if (width <= 0 || height <= 0) {
    DeleteDC(memory);
    ReleaseDC(hwnd(), windowDc);
    return;
  }
  if (width != cachedWidth_ || height != cachedHeight_) {
    DropBitmaps();
    cachedWidth_ = width;
    cachedHeight_ = height;
  }
  int state = active_ > 0 ? 1 : 0;
  HBITMAP &bitmap = bitmaps_[state];
  bool fresh = bitmap == nullptr;
  if (fresh) bitmap = CreateCompatibleBitmap(windowDc, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  if (fresh) {
    CaptionPaintRecord record{width, height, memory, state};
    if (paintMessage_)
      SendMessageA(hwnd(), paintMessage_, static_cast<WPARAM>(state), reinterpret_cast<LPARAM>(&record));
    else
      DrawSystemCaption(memory, RECT{0, 0, width, height}, state != 0);
  }
  BitBlt(windowDc, caption.left, caption.top, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(hwnd(), windowDc);
}

void CCaptionPainter::DrawSystemCaption(HDC dc, const RECT &area, bool active) {
  RECT rect = area;
  DrawCaption(hwnd(), dc, &rect, DC_TEXT | DC_ICON | (active ? DC_ACTIVE : 0));
  int buttonSize = GetSystemMetrics(SM_CXSIZE);
  if (HICON icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kProgramIcon),
                                                 IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR))) {
    RECT box{2 + 2, 1 + 1, 2 + buttonSize, 1 + buttonSize - 1};
    DrawIconEx(dc, box.left, box.top, icon, box.right - box.left, box.bottom - box.top, 0, nullptr,
               DI_NORMAL);
    DestroyIcon(icon);
  }
  LONG_PTR style = GetWindowLongPtrA(hwnd(), GWL_STYLE);
  if ((style & WS_CAPTION) != WS_CAPTION) return;
  LONG_PTR exStyle = GetWindowLongPtrA(hwnd(), GWL_EXSTYLE);
  int width = buttonSize - 2;
  int height = GetSystemMetrics(SM_CYSIZE) - 4;
  RECT button{area.right - width, 2, area.right, 2 + height};
  DrawFrameControl(dc, &button, DFC_CAPTION, DFCS_CAPTIONCLOSE);
  OffsetRect(&button, -width, 0);
  if (style & WS_MAXIMIZEBOX)
    DrawFrameControl(dc, &button, DFC_CAPTION, IsZoomed(hwnd()) ? DFCS_CAPTIONRESTORE : DFCS_CAPTIONMAX);
  else if (exStyle & WS_EX_CONTEXTHELP)
    DrawFrameControl(dc, &button, DFC_CAPTION, DFCS_CAPTIONHELP);
  OffsetRect(&button, -(width - 2), 0);
  if (style & WS_MINIMIZEBOX) DrawFrameControl(dc, &button, DFC_CAPTION, DFCS_CAPTIONMIN);
}

void CCaptionPainter::DrawGradientCaption(bool active, const CaptionPaintRecord *record) {
  if (record == nullptr) {
    if (captionFont_) DeleteObject(captionFont_);
    captionFont_ = nullptr;
    return;
  }
  SkinColour base = active ? 0 : GetSysColor(COLOR_INACTIVECAPTION);
  for (const CaptionFill &fill : GradientCaptionFills(record->width, base))
    Fill(record->dc, RECT{fill.left, 0, fill.right, record->height}, fill.colour);
  if (captionFont_ == nullptr) {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
      captionFont_ = CreateFontIndirectA(&metrics.lfCaptionFont);
  }
  HGDIOBJ oldFont = captionFont_ ? SelectObject(record->dc, captionFont_) : nullptr;
  SetBkMode(record->dc, TRANSPARENT);
  SetTextColor(record->dc, CaptionTextColour(base));
  RECT area{0, 0, record->width, record->height};
  DrawTextA(record->dc, captionText_.c_str(), -1, &area, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
  if (oldFont) SelectObject(record->dc, oldFont);
}

}  // namespace tunmira
