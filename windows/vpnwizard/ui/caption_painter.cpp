#include "caption_painter.h"

#include "caption_geometry.h"
#include "stay_active.h"

namespace tunmira {
namespace {

constexpr int kProgramIcon = 104;

// Runs `pass` with the window's visible style cleared, so the system's default handling draws nothing.
template <typename Pass>
LRESULT invisibly(HWND window, Pass pass) {
  LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
  bool visible = (style & WS_VISIBLE) != 0;
  if (visible) SetWindowLongPtrA(window, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_VISIBLE));
  LRESULT result = pass();
  if (visible) SetWindowLongPtrA(window, GWL_STYLE, GetWindowLongPtrA(window, GWL_STYLE) | WS_VISIBLE);
  return result;
}

void fill_rect(HDC dc, const RECT &rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

}  // namespace

CCaptionPainter::~CCaptionPainter() {
  Hook(nullptr);
  drop_bitmaps();
  if (caption_font_) DeleteObject(caption_font_);
}

void CCaptionPainter::Install(HWND window, UINT paint_message, LPARAM parameter) {
  paint_message_ = paint_message;
  parameter_ = parameter;
  Hook(window);
}

void CCaptionPainter::drop_bitmaps() {
  for (HBITMAP &bitmap : bitmaps_) {
    if (bitmap) DeleteObject(bitmap);
    bitmap = nullptr;
  }
}

RECT CCaptionPainter::caption_rect() const {
  RECT window;
  GetWindowRect(hwnd(), &window);
  OffsetRect(&window, -window.left, -window.top);
  bool thick = (GetWindowLongPtrA(hwnd(), GWL_STYLE) & WS_THICKFRAME) != 0;
  int frame_x = GetSystemMetrics(thick ? SM_CXFRAME : SM_CXDLGFRAME);
  int frame_y = GetSystemMetrics(thick ? SM_CYFRAME : SM_CYDLGFRAME);
  RECT caption = window;
  caption.left += frame_x;
  caption.right -= frame_x;
  caption.top = frame_y;
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
      cached_width_ = cached_height_ = 0;
      if (paint_message_) SendMessageA(hwnd(), paint_message_, 0, 0);
      return CWindowHook::WindowProc(message, wParam, lParam);
    default:
      return CWindowHook::WindowProc(message, wParam, lParam);
  }
}

void CCaptionPainter::OnNcPaint(HRGN region) {
  RECT window;
  GetWindowRect(hwnd(), &window);
  RECT caption = caption_rect();
  OffsetRect(&caption, window.left, window.top);
  auto handle = reinterpret_cast<UINT_PTR>(region);
  if (handle > 1 && !RectInRegion(region, &caption)) {
    CWindowHook::WindowProc(WM_NCPAINT, reinterpret_cast<WPARAM>(region), 0);
    return;
  }
  HRGN rest = CreateRectRgnIndirect(&window);
  if (handle > 1) CombineRgn(rest, region, nullptr, RGN_COPY);
  HRGN caption_region = CreateRectRgnIndirect(&caption);
  CombineRgn(rest, rest, caption_region, RGN_DIFF);
  CWindowHook::WindowProc(WM_NCPAINT, reinterpret_cast<WPARAM>(rest), 0);
  DeleteObject(caption_region);
  DeleteObject(rest);
  // The system left the caption alone; put the picture there.
  PaintCaption();
}

BOOL CCaptionPainter::OnNcActivate(BOOL active) {
  // A disabled window (one that owns a modal dialog) always looks inactive; a window marked to stay active
  // keeps its active look whatever the system says.
  int state = !IsWindowEnabled(hwnd()) ? 0 : rtwin::is_marked_stay_active(hwnd()) ? 1 : (active ? 1 : 0);
  if (state == active_) return TRUE;
  invisibly(hwnd(), [&] { return CWindowHook::WindowProc(WM_NCACTIVATE, static_cast<WPARAM>(state), 0); });
  active_ = state;
  SendMessageA(hwnd(), WM_NCPAINT, 0, 0);
  return TRUE;
}

void CCaptionPainter::OnSetText(LPCSTR text) {
  invisibly(hwnd(), [&] { return CWindowHook::WindowProc(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); });
  SendMessageA(hwnd(), WM_NCPAINT, 0, 0);
  cached_width_ = cached_height_ = 0;
  PaintCaption();
}

void CCaptionPainter::PaintCaption() {
  if (IsIconic(hwnd())) return;
  HDC window_dc = GetWindowDC(hwnd());
  HDC memory = CreateCompatibleDC(window_dc);
  RECT caption = caption_rect();
  int width = caption.right - caption.left;
  int height = caption.bottom - caption.top;
  if (width <= 0 || height <= 0) {
    DeleteDC(memory);
    ReleaseDC(hwnd(), window_dc);
    return;
  }
  if (width != cached_width_ || height != cached_height_) {
    drop_bitmaps();
    cached_width_ = width;
    cached_height_ = height;
  }
  int state = active_ > 0 ? 1 : 0;
  HBITMAP &bitmap = bitmaps_[state];
  bool fresh = bitmap == nullptr;
  if (fresh) bitmap = CreateCompatibleBitmap(window_dc, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  if (fresh) {
    CaptionPaintRecord record{width, height, memory, state};
    if (paint_message_)
      SendMessageA(hwnd(), paint_message_, static_cast<WPARAM>(state), reinterpret_cast<LPARAM>(&record));
    else
      draw_system_caption(memory, RECT{0, 0, width, height}, state != 0);
  }
  BitBlt(window_dc, caption.left, caption.top, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(hwnd(), window_dc);
}

void CCaptionPainter::draw_system_caption(HDC dc, const RECT &area, bool active) {
  RECT rect = area;
  DrawCaption(hwnd(), dc, &rect, DC_TEXT | DC_ICON | (active ? DC_ACTIVE : 0));
  int button_size = GetSystemMetrics(SM_CXSIZE);
  if (HICON icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kProgramIcon),
                                                 IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR))) {
    RECT box{2 + 2, 1 + 1, 2 + button_size, 1 + button_size - 1};
    DrawIconEx(dc, box.left, box.top, icon, box.right - box.left, box.bottom - box.top, 0, nullptr,
               DI_NORMAL);
    DestroyIcon(icon);
  }
  LONG_PTR style = GetWindowLongPtrA(hwnd(), GWL_STYLE);
  if ((style & WS_CAPTION) != WS_CAPTION) return;
  LONG_PTR ex_style = GetWindowLongPtrA(hwnd(), GWL_EXSTYLE);
  int width = button_size - 2;
  int height = GetSystemMetrics(SM_CYSIZE) - 4;
  RECT button{area.right - width, 2, area.right, 2 + height};
  DrawFrameControl(dc, &button, DFC_CAPTION, DFCS_CAPTIONCLOSE);
  OffsetRect(&button, -width, 0);
  if (style & WS_MAXIMIZEBOX)
    DrawFrameControl(dc, &button, DFC_CAPTION, IsZoomed(hwnd()) ? DFCS_CAPTIONRESTORE : DFCS_CAPTIONMAX);
  else if (ex_style & WS_EX_CONTEXTHELP)
    DrawFrameControl(dc, &button, DFC_CAPTION, DFCS_CAPTIONHELP);
  OffsetRect(&button, -(width - 2), 0);
  if (style & WS_MINIMIZEBOX) DrawFrameControl(dc, &button, DFC_CAPTION, DFCS_CAPTIONMIN);
}

void CCaptionPainter::DrawGradientCaption(bool active, const CaptionPaintRecord *record) {
  if (record == nullptr) {
    if (caption_font_) DeleteObject(caption_font_);
    caption_font_ = nullptr;
    return;
  }
  SkinColour base = active ? 0 : GetSysColor(COLOR_INACTIVECAPTION);
  for (const CaptionFill &fill : gradient_caption_fills(record->width, base))
    fill_rect(record->dc, RECT{fill.left, 0, fill.right, record->height}, fill.colour);
  if (caption_font_ == nullptr) {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
      caption_font_ = CreateFontIndirectA(&metrics.lfCaptionFont);
  }
  HGDIOBJ old_font = caption_font_ ? SelectObject(record->dc, caption_font_) : nullptr;
  SetBkMode(record->dc, TRANSPARENT);
  SetTextColor(record->dc, caption_text_colour(base));
  RECT area{0, 0, record->width, record->height};
  DrawTextA(record->dc, caption_text_.c_str(), -1, &area, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
  if (old_font) SelectObject(record->dc, old_font);
}

}  // namespace tunmira
