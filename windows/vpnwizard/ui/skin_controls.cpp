#include "skin_controls.h"

#include <commctrl.h>
#include <gdiplus.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "bmp_file.h"
#include "button_layout.h"

namespace tunmira {
namespace {

constexpr int kHandCursor = 113;
constexpr UINT_PTR kLinkHoverTimer = 100;
constexpr DWORD kMaxBmpFile = 64u << 20;

std::string window_text(HWND window) {
  int n = GetWindowTextLengthA(window);
  if (n <= 0) return {};
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), n + 1)));
  return text;
}

LOGFONTA font_of(HWND window) {
  LOGFONTA font{};
  auto current = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
  GetObjectA(current ? static_cast<HGDIOBJ>(current) : GetStockObject(SYSTEM_FONT), sizeof font, &font);
  return font;
}

// Height of a font of `points` points on the screen.
LONG point_height(long points) {
  HDC screen = GetDC(nullptr);
  LONG height = -MulDiv(static_cast<int>(points), GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  return height;
}

void set_face_name(LOGFONTA &font, const std::string &name, int charset) {
  std::fill(std::begin(font.lfFaceName), std::end(font.lfFaceName), '\0');
  name.copy(font.lfFaceName, LF_FACESIZE - 1);
  font.lfCharSet = static_cast<BYTE>(charset);
}

std::vector<std::uint8_t> read_whole_file(const std::string &path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::vector<std::uint8_t> bytes;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= kMaxBmpFile) {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
        read != bytes.size())
      bytes.clear();
  }
  CloseHandle(file);
  return bytes;
}

HWND make_tooltip(HWND owner) {
  return CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, GetModuleHandleA(nullptr), nullptr);
}

TOOLINFOA tool_for(HWND window, const std::string &text) {
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = window;
  tool.uId = 1;
  GetClientRect(window, &tool.rect);
  tool.lpszText = const_cast<char *>(text.c_str());
  return tool;
}

void relay_to_tooltip(HWND tooltip, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (tooltip == nullptr || message < WM_MOUSEFIRST || message > WM_MOUSELAST) return;
  MSG msg{window, message, wParam, lParam, static_cast<DWORD>(GetMessageTime()), {}};
  DWORD pos = GetMessagePos();
  msg.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  SendMessageA(tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

}  // namespace

HBITMAP load_bmp_file(const std::string &path) {
  std::vector<std::uint8_t> file = read_whole_file(path);
  std::optional<BmpLayout> layout = check_bmp_file(file);
  if (!layout) return nullptr;
  const std::uint8_t *block = file.data() + kBmpFileHeaderSize;
  auto *info = reinterpret_cast<const BITMAPINFO *>(block);
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap =
      CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT, block + layout->bits_offset, info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

void CSkinPlacedControl::move_to(long x, long y) {
  SetWindowPos(hwnd(), nullptr, static_cast<int>(x), static_cast<int>(y), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSkinPlacedControl::resize_to(long width, long height) {
  SetWindowPos(hwnd(), nullptr, 0, 0, static_cast<int>(width), static_cast<int>(height),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- CSkinLabel

CSkinLabel::CSkinLabel()
    : text_colour_(GetSysColor(COLOR_WINDOWTEXT)),
      default_brush_(CreateSolidBrush(GetSysColor(COLOR_BTNFACE))) {}

CSkinLabel::~CSkinLabel() {
  if (font_) DeleteObject(font_);
  if (bk_brush_) DeleteObject(bk_brush_);
  if (default_brush_) DeleteObject(default_brush_);
}

void CSkinLabel::on_subclassed() {
  log_font_ = font_of(hwnd());
  remake_font();
}

void CSkinLabel::remake_font() {
  if (font_) DeleteObject(font_);
  font_ = CreateFontIndirectA(&log_font_);
}

void CSkinLabel::Update() {
  if (hwnd() == nullptr) return;
  RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  HWND parent = GetParent(hwnd());
  if (parent == nullptr) return;
  RECT rect;
  GetWindowRect(hwnd(), &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&rect), 2);
  InvalidateRect(parent, &rect, TRUE);
  UpdateWindow(parent);
}

void CSkinLabel::SetBkColor(SkinColour colour) {
  if (bk_brush_) DeleteObject(bk_brush_);
  bk_colour_ = colour;
  bk_brush_ = CreateSolidBrush(colour);
  Update();
}

void CSkinLabel::SetTextColor(SkinColour colour) {
  text_colour_ = colour;
  Update();
}

void CSkinLabel::SetText(const std::string &text) {
  if (hwnd()) SetWindowTextA(hwnd(), text.c_str());
  Update();
}

void CSkinLabel::SetFontWeight(long weight) {
  log_font_.lfWeight = weight;
  remake_font();
  Update();
}

void CSkinLabel::SetFontName(const std::string &name, int charset) {
  set_face_name(log_font_, name, charset);
  remake_font();
  Update();
}

void CSkinLabel::SetFontUnderline(bool on) {
  log_font_.lfUnderline = on;
  remake_font();
  Update();
}

void CSkinLabel::SetFontItalic(bool on) {
  log_font_.lfItalic = on;
  remake_font();
  Update();
}

void CSkinLabel::SetFontSize(long width, long height) {
  log_font_.lfWidth = width;
  log_font_.lfHeight = height;
  remake_font();
  Update();
}

void CSkinLabel::SetFontSizePoints(long points) {
  log_font_.lfHeight = point_height(points);
  log_font_.lfWidth = 0;
  remake_font();
  Update();
}

void CSkinLabel::SetTransparent(bool on) {
  transparent_ = on;
  if (on && hwnd())
    SetWindowLongPtrA(hwnd(), GWL_EXSTYLE, GetWindowLongPtrA(hwnd(), GWL_EXSTYLE) | WS_EX_TRANSPARENT);
  Update();
}

UINT skin_label_text_format(LONG style, const std::string &text) {
  UINT format;
  switch (style & SS_TYPEMASK) {
    case SS_CENTER:
      format = DT_CENTER | DT_WORDBREAK;
      break;
    case SS_RIGHT:
      format = DT_RIGHT | DT_WORDBREAK;
      break;
    case SS_LEFTNOWORDWRAP:
      format = DT_LEFT;
      break;
    default:
      format = DT_WORDBREAK;
  }
  if (style & SS_CENTERIMAGE)
    format = text.find("\r\n") == std::string::npos ? DT_CENTER | DT_VCENTER | DT_SINGLELINE : DT_CENTER;
  if (text.find('\t') != std::string::npos) format |= DT_EXPANDTABS;
  // A label that shows what the user typed or a router reported (a tunnel name holding "&") says so with
  // the static control's own no-prefix style; its text is then drawn as it is, with no mnemonic.
  if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
  return format;
}

void CSkinLabel::paint() {
  PAINTSTRUCT paint;
  HDC screen = BeginPaint(hwnd(), &paint);
  RECT client;
  GetClientRect(hwnd(), &client);
  std::string text = window_text(hwnd());
  HDC dc = screen;
  HBITMAP canvas = nullptr;
  HGDIOBJ old_canvas = nullptr;
  if (!transparent_) {
    dc = CreateCompatibleDC(screen);
    canvas = CreateCompatibleBitmap(screen, client.right, client.bottom);
    old_canvas = SelectObject(dc, canvas);
  }
  SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, text_colour_);
  HGDIOBJ old_font = SelectObject(dc, font_);
  if (!transparent_) FillRect(dc, &client, bk_brush_ ? bk_brush_ : default_brush_);
  DrawTextA(dc, text.c_str(), -1, &client,
            skin_label_text_format(static_cast<LONG>(GetWindowLongPtrA(hwnd(), GWL_STYLE)), text));
  SelectObject(dc, old_font);
  if (!transparent_) {
    BitBlt(screen, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, old_canvas);
    DeleteObject(canvas);
    DeleteDC(dc);
  }
  EndPaint(hwnd(), &paint);
}

LRESULT CSkinLabel::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      paint();
      return 0;
    case WM_ERASEBKGND:
      return TRUE;
    case WM_SYSCOLORCHANGE:
      if (default_brush_) DeleteObject(default_brush_);
      default_brush_ = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
      break;
    default:
      break;
  }
  return Default(message, wParam, lParam);
}

// ---- CSkinBitmap

CSkinBitmap::~CSkinBitmap() {
  if (bitmap_) DeleteObject(bitmap_);
}

void CSkinBitmap::on_subclassed() {
  LONG_PTR style = GetWindowLongPtrA(hwnd(), GWL_STYLE);
  alignment_ = static_cast<LONG>(style & SS_TYPEMASK);
  // A picture is the backdrop of the controls above it: it must not paint over them.
  SetWindowLongPtrA(hwnd(), GWL_STYLE,
                    (style & ~static_cast<LONG_PTR>(SS_TYPEMASK)) | SS_OWNERDRAW | WS_CLIPSIBLINGS);
}

void CSkinBitmap::SetBitmap(HBITMAP bitmap) {
  if (bitmap_ && bitmap_ != bitmap) DeleteObject(bitmap_);
  bitmap_ = bitmap;
  BITMAP info{};
  if (bitmap_ && GetObjectA(bitmap_, sizeof info, &info))
    size_ = {info.bmWidth, info.bmHeight};
  else
    size_ = {0, 0};
  if (hwnd()) {
    Invalidate();
    UpdateWindow(hwnd());
  }
}

bool CSkinBitmap::LoadFromFile(const std::string &path) {
  HBITMAP bitmap = load_bmp_file(path);
  if (bitmap == nullptr) return false;
  SetBitmap(bitmap);
  return true;
}

void CSkinBitmap::erase_background(HDC dc) {
  RECT client, clip;
  GetClientRect(hwnd(), &client);
  if (GetClipBox(dc, &clip) == NULLREGION || IsRectEmpty(&client)) return;
  if (bitmap_ == nullptr) {
    FillRect(dc, &clip, GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, bitmap_);
  int w = client.right, h = client.bottom;
  int sx = MulDiv(clip.left, size_.cx, w), sy = MulDiv(clip.top, size_.cy, h);
  int sw = MulDiv(clip.right - clip.left, size_.cx, w), sh = MulDiv(clip.bottom - clip.top, size_.cy, h);
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchBlt(dc, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, memory, sx, sy, sw, sh,
             SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  repaint_transparent_siblings(clip);
}

// Transparent controls above the picture are not clipped out of it; the picture may have painted over
// them, so they paint again, after it.
void CSkinBitmap::repaint_transparent_siblings(const RECT &painted) const {
  HWND parent = GetParent(hwnd());
  RECT area = painted;
  MapWindowPoints(hwnd(), parent, reinterpret_cast<POINT *>(&area), 2);
  for (HWND sibling = GetWindow(hwnd(), GW_HWNDPREV); sibling; sibling = GetWindow(sibling, GW_HWNDPREV)) {
    if (!IsWindowVisible(sibling) || !(GetWindowLongPtrA(sibling, GWL_EXSTYLE) & WS_EX_TRANSPARENT)) continue;
    RECT rect, overlap;
    GetWindowRect(sibling, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&rect), 2);
    if (IntersectRect(&overlap, &rect, &area)) InvalidateRect(sibling, nullptr, FALSE);
  }
}

void CSkinBitmap::draw_item_text(const DRAWITEMSTRUCT &item) {
  std::string text = window_text(hwnd());
  if (text.empty()) return;
  LONG style = static_cast<LONG>(GetWindowLongPtrA(hwnd(), GWL_STYLE));
  UINT format = DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP;
  if (style & SS_CENTERIMAGE) format |= DT_VCENTER;
  if (alignment_ == SS_CENTER) format |= DT_CENTER;
  if (alignment_ == SS_RIGHT) format |= DT_RIGHT;
  SetBkMode(item.hDC, TRANSPARENT);
  RECT rect = item.rcItem;
  HGDIOBJ old = SelectObject(item.hDC, reinterpret_cast<HFONT>(SendMessageA(hwnd(), WM_GETFONT, 0, 0)));
  DrawTextA(item.hDC, text.c_str(), -1, &rect, format);
  SelectObject(item.hDC, old);
}

LRESULT CSkinBitmap::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) {
    erase_background(reinterpret_cast<HDC>(wParam));
    return TRUE;
  }
  return Default(message, wParam, lParam);
}

std::optional<LRESULT> CSkinBitmap::reflect(UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_DRAWITEM) return std::nullopt;
  draw_item_text(*reinterpret_cast<DRAWITEMSTRUCT *>(lParam));
  return TRUE;
}

// ---- CSkinButton

CSkinButton::~CSkinButton() {
  if (strip_) DeleteObject(strip_);
  if (font_) DeleteObject(font_);
}

void CSkinButton::on_subclassed() {
  LONG_PTR style = GetWindowLongPtrA(hwnd(), GWL_STYLE);
  SetWindowLongPtrA(hwnd(), GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
  SetWindowLongPtrA(hwnd(), GWL_EXSTYLE, GetWindowLongPtrA(hwnd(), GWL_EXSTYLE) | WS_EX_TRANSPARENT);
  log_font_ = font_of(hwnd());
  remake_font();
}

void CSkinButton::remake_font() {
  if (font_) DeleteObject(font_);
  font_ = CreateFontIndirectA(&log_font_);
  Invalidate();
}

bool CSkinButton::LoadBitmap(const std::string &path) {
  HBITMAP strip = load_bmp_file(path);
  if (strip == nullptr) return false;
  if (strip_) DeleteObject(strip_);
  strip_ = strip;
  BITMAP info{};
  GetObjectA(strip_, sizeof info, &info);
  frame_width_ = info.bmWidth / 3;
  frame_height_ = info.bmHeight;
  if (hwnd()) resize_to(frame_width_, frame_height_);
  Invalidate();
  return true;
}

void CSkinButton::SetColors(SkinColour active, SkinColour inactive) {
  active_ = active;
  inactive_ = inactive;
  Invalidate();
}

void CSkinButton::SetClickOffset(long x, long y) {
  click_x_ = x;
  click_y_ = y;
}

void CSkinButton::SetFontWeight(long weight) {
  log_font_.lfWeight = weight;
  remake_font();
}

void CSkinButton::SetFontUnderline(bool on) {
  log_font_.lfUnderline = on;
  remake_font();
}

void CSkinButton::SetFontItalic(bool on) {
  log_font_.lfItalic = on;
  remake_font();
}

void CSkinButton::SetFontSizePoints(long points) {
  log_font_.lfHeight = point_height(points);
  log_font_.lfWidth = 0;
  remake_font();
}

void CSkinButton::SetFontSize(long width, long height) {
  log_font_.lfWidth = width;
  log_font_.lfHeight = height;
  remake_font();
}

void CSkinButton::SetFontName(const std::string &name, int charset) {
  set_face_name(log_font_, name, charset);
  remake_font();
}

void CSkinButton::SetTooltip(const std::string &text, bool activate) {
  if (hwnd() == nullptr) return;
  if (tooltip_ == nullptr) {
    tooltip_ = make_tooltip(hwnd());
    if (tooltip_ == nullptr) return;
    SendMessageA(tooltip_, TTM_ACTIVATE, FALSE, 0);
  }
  TOOLINFOA tool = tool_for(hwnd(), text);
  if (SendMessageA(tooltip_, TTM_GETTOOLCOUNT, 0, 0) == 0)
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageA(tooltip_, TTM_ACTIVATE, activate, 0);
}

void CSkinButton::SetText(const std::string &text) {
  if (hwnd()) SetWindowTextA(hwnd(), text.c_str());
  Invalidate();
}

bool CSkinButton::uses_hand_cursor() const {
  static constexpr int kIds[] = {313,  1289, 1514, 1689, 1989, 2189, 2378, 2414,
                                 2445, 2526, 2530, 2534, 2542, 2546, 2550, 2705};
  int id = GetDlgCtrlID(hwnd());
  return std::find(std::begin(kIds), std::end(kIds), id) != std::end(kIds);
}

void CSkinButton::draw(const DRAWITEMSTRUCT &item) {
  RECT client = item.rcItem;
  if (strip_ == nullptr || frame_width_ <= 0) {
    FillRect(item.hDC, &client, GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  ButtonFrame frame = (item.itemState & ODS_SELECTED) ? ButtonFrame::kPressed
                      : hover_.hovering()             ? ButtonFrame::kHover
                                                      : ButtonFrame::kNormal;
  // The text goes onto a copy of the frame, so a caption that changes never leaves its old text behind.
  HDC strip_dc = CreateCompatibleDC(item.hDC);
  HGDIOBJ old_strip = SelectObject(strip_dc, strip_);
  HDC frame_dc = CreateCompatibleDC(item.hDC);
  HBITMAP frame_bitmap =
      CreateCompatibleBitmap(item.hDC, static_cast<int>(frame_width_), static_cast<int>(frame_height_));
  HGDIOBJ old_frame = SelectObject(frame_dc, frame_bitmap);
  long frame_left = static_cast<long>(frame) * frame_width_;
  BitBlt(frame_dc, 0, 0, static_cast<int>(frame_width_), static_cast<int>(frame_height_), strip_dc,
         static_cast<int>(frame_left), 0, SRCCOPY);

  std::string text = window_text(hwnd());
  HGDIOBJ old_font = SelectObject(frame_dc, font_);
  SetBkMode(frame_dc, TRANSPARENT);
  ::SetTextColor(frame_dc, frame == ButtonFrame::kNormal ? inactive_ : active_);
  SIZE extent{};
  GetTextExtentPoint32A(frame_dc, text.c_str(), static_cast<int>(text.size()), &extent);
  long top = button_text_top(frame_height_, button_text_lines(text), extent.cy);
  ButtonTextBox box = button_text_rect(frame, frame_width_, frame_height_, top, click_x_, click_y_);
  RECT rect{static_cast<LONG>(box.left - frame_left), static_cast<LONG>(box.top),
            static_cast<LONG>(box.right - frame_left), static_cast<LONG>(box.bottom)};
  DrawTextA(frame_dc, text.c_str(), -1, &rect, DT_CENTER);
  SelectObject(frame_dc, old_font);

  BitBlt(item.hDC, 0, 0, static_cast<int>(frame_width_), static_cast<int>(frame_height_), frame_dc, 0, 0,
         SRCCOPY);
  SelectObject(frame_dc, old_frame);
  DeleteObject(frame_bitmap);
  DeleteDC(frame_dc);
  SelectObject(strip_dc, old_strip);
  DeleteDC(strip_dc);
}

std::optional<LRESULT> CSkinButton::reflect(UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_DRAWITEM) return std::nullopt;
  draw(*reinterpret_cast<DRAWITEMSTRUCT *>(lParam));
  return TRUE;
}

LRESULT CSkinButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  relay_to_tooltip(tooltip_, hwnd(), message, wParam, lParam);
  if (hover_.on_message(hwnd(), message)) Invalidate();
  if (message == WM_SETCURSOR && uses_hand_cursor()) {
    if (hover_.hovering()) {
      if (HCURSOR hand = LoadCursorA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kHandCursor)))
        SetCursor(hand);
    }
    return TRUE;
  }
  return Default(message, wParam, lParam);
}

// ---- CSkinLink

CSkinLink::~CSkinLink() {
  if (normal_font_) DeleteObject(normal_font_);
  if (underline_font_) DeleteObject(underline_font_);
  if (hand_) DestroyCursor(hand_);
}

void CSkinLink::on_subclassed() {
  SetWindowLongPtrA(hwnd(), GWL_STYLE, GetWindowLongPtrA(hwnd(), GWL_STYLE) | SS_NOTIFY);
  std::string shown_text = window_text(hwnd());
  if (link_text_.empty()) link_text_ = shown_text;
  if (shown_text.empty()) SetWindowTextA(hwnd(), link_text_.c_str());

  LOGFONTA font{};
  auto current = reinterpret_cast<HFONT>(SendMessageA(hwnd(), WM_GETFONT, 0, 0));
  HGDIOBJ source = current ? static_cast<HGDIOBJ>(current) : GetStockObject(DEFAULT_GUI_FONT);
  if (source == nullptr) source = GetStockObject(ANSI_VAR_FONT);
  GetObjectA(source, sizeof font, &font);
  normal_font_ = CreateFontIndirectA(&font);
  font.lfUnderline = TRUE;
  underline_font_ = CreateFontIndirectA(&font);
  SendMessageA(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(normal_font_), FALSE);

  fit_to_text();
  load_hand_cursor();
  tooltip_ = make_tooltip(hwnd());
  if (tooltip_) {
    TOOLINFOA tool = tool_for(hwnd(), link_text_);
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void CSkinLink::fit_to_text() {
  HWND parent = GetParent(hwnd());
  std::string text = window_text(hwnd());
  HDC dc = GetDC(hwnd());
  HGDIOBJ old = SelectObject(dc, underline_font_);
  SIZE extent{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(hwnd(), dc);

  RECT window, client;
  GetWindowRect(hwnd(), &window);
  GetClientRect(hwnd(), &client);
  if (parent) MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&window), 2);
  int width = extent.cx + (window.right - window.left) - client.right;
  int height = extent.cy + (window.bottom - window.top) - client.bottom;
  LONG style = static_cast<LONG>(GetWindowLongPtrA(hwnd(), GWL_STYLE));
  int top = window.top;
  if (style & SS_CENTERIMAGE) top = window.top + ((window.bottom - window.top) - height) / 2;
  int left = window.left;
  if ((style & SS_TYPEMASK) == SS_CENTER) left = window.left + ((window.right - window.left) - width) / 2;
  if ((style & SS_TYPEMASK) == SS_RIGHT) left = window.right - width;
  SetWindowPos(hwnd(), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSkinLink::load_hand_cursor() {
  char folder[MAX_PATH] = {};
  UINT n = GetWindowsDirectoryA(folder, sizeof folder);
  if (n == 0 || n >= sizeof folder) return;
  std::string path = std::string(folder, n) + "\\winhlp32.exe";
  // Only its resources are wanted: map it as data, never run it.
  HMODULE help = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (help == nullptr) return;
  if (HCURSOR cursor = LoadCursorA(help, MAKEINTRESOURCEA(106)))
    hand_ = reinterpret_cast<HCURSOR>(CopyImage(cursor, IMAGE_CURSOR, 0, 0, 0));
  FreeLibrary(help);
}

void CSkinLink::clicked() {
  hovering_ = false;
  HWND main = GetAncestor(hwnd(), GA_ROOTOWNER);
  if (main) SendMessageA(main, WM_WIZARD_COMMAND, static_cast<WPARAM>(GetDlgCtrlID(hwnd())), 0);
  visited_ = true;
  Invalidate();
}

std::optional<LRESULT> CSkinLink::reflect(UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_CTLCOLORSTATIC) {
    auto dc = reinterpret_cast<HDC>(wParam);
    ::SetTextColor(dc, hovering_ ? kHoverColour : visited_ ? kVisitedColour : kLinkColour);
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
  }
  if (message == WM_COMMAND && HIWORD(wParam) == STN_CLICKED) {
    clicked();
    return 0;
  }
  return std::nullopt;
}

LRESULT CSkinLink::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  relay_to_tooltip(tooltip_, hwnd(), message, wParam, lParam);
  switch (message) {
    case WM_MOUSEMOVE:
      if (!hovering_) {
        hovering_ = true;
        SendMessageA(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(underline_font_), FALSE);
        Invalidate();
        SetTimer(hwnd(), kLinkHoverTimer, 100, nullptr);
      }
      break;
    case WM_TIMER:
      if (wParam == kLinkHoverTimer) {
        DWORD pos = GetMessagePos();
        POINT point{static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
        ScreenToClient(hwnd(), &point);
        RECT client;
        GetClientRect(hwnd(), &client);
        if (!PtInRect(&client, point)) {
          hovering_ = false;
          KillTimer(hwnd(), kLinkHoverTimer);
          SendMessageA(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(normal_font_), FALSE);
          // The underline may reach below the text: redraw a little more of the parent.
          client.bottom += 10;
          HWND parent = GetParent(hwnd());
          MapWindowPoints(hwnd(), parent, reinterpret_cast<POINT *>(&client), 2);
          RedrawWindow(parent, &client, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        }
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (hand_) {
        SetCursor(hand_);
        return TRUE;
      }
      break;
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(hwnd(), &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
      return TRUE;
    }
    case WM_DESTROY:
      KillTimer(hwnd(), kLinkHoverTimer);
      break;
    default:
      break;
  }
  return Default(message, wParam, lParam);
}

// ---- CPngStatic

CPngStatic::~CPngStatic() {
  release_image();
  if (snapshot_dc_) {
    SelectObject(snapshot_dc_, snapshot_old_);
    DeleteDC(snapshot_dc_);
  }
  if (snapshot_) DeleteObject(snapshot_);
}

void CPngStatic::on_subclassed() {
  RECT client;
  GetClientRect(hwnd(), &client);
  HWND parent = GetParent(hwnd());
  HDC parent_dc = GetDC(parent);
  snapshot_dc_ = CreateCompatibleDC(parent_dc);
  snapshot_ = CreateCompatibleBitmap(parent_dc, client.right, client.bottom);
  snapshot_old_ = SelectObject(snapshot_dc_, snapshot_);
  POINT corner{0, 0};
  MapWindowPoints(hwnd(), parent, &corner, 1);
  BitBlt(snapshot_dc_, 0, 0, client.right, client.bottom, parent_dc, corner.x, corner.y, SRCCOPY);
  ReleaseDC(parent, parent_dc);
}

void CPngStatic::release_image() {
  delete static_cast<Gdiplus::Image *>(image_);
  image_ = nullptr;
  // The image decodes from these bytes on demand, so they go only after it.
  if (image_bytes_) GlobalFree(image_bytes_);
  image_bytes_ = nullptr;
}

bool CPngStatic::SetImage(int id) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), "PNG");
  if (resource == nullptr) return false;
  DWORD size = SizeofResource(module, resource);
  HGLOBAL loaded = LoadResource(module, resource);
  const void *bytes = loaded ? LockResource(loaded) : nullptr;
  if (bytes == nullptr || size == 0) return false;
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (copy == nullptr) return false;
  void *target = GlobalLock(copy);
  std::copy_n(static_cast<const std::uint8_t *>(bytes), size, static_cast<std::uint8_t *>(target));
  GlobalUnlock(copy);
  IStream *stream = nullptr;
  if (CreateStreamOnHGlobal(copy, FALSE, &stream) != S_OK) {
    GlobalFree(copy);
    return false;
  }
  auto *image = Gdiplus::Image::FromStream(stream);
  stream->Release();
  if (image == nullptr || image->GetLastStatus() != Gdiplus::Ok) {
    delete image;
    GlobalFree(copy);
    return false;
  }
  release_image();
  image_ = image;
  image_bytes_ = copy;
  resource_id_ = id;
  if (hwnd()) {
    HDC dc = GetDC(hwnd());
    draw(dc);
    ReleaseDC(hwnd(), dc);
  }
  return true;
}

void CPngStatic::draw(HDC dc) {
  RECT client;
  GetClientRect(hwnd(), &client);
  if (snapshot_dc_) BitBlt(dc, 0, 0, client.right, client.bottom, snapshot_dc_, 0, 0, SRCCOPY);
  if (auto *image = static_cast<Gdiplus::Image *>(image_)) {
    Gdiplus::Graphics graphics(dc);
    graphics.DrawImage(image, 0, 0, static_cast<INT>(image->GetWidth()),
                       static_cast<INT>(image->GetHeight()));
  }
}

LRESULT CPngStatic::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd(), &paint);
      draw(dc);
      EndPaint(hwnd(), &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return TRUE;
    case WM_DESTROY:
      release_image();
      break;
    default:
      break;
  }
  return Default(message, wParam, lParam);
}

}  // namespace tunmira
