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

std::string WindowText(HWND window) {
  int n = GetWindowTextLengthA(window);
  if (n <= 0) return {};
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), n + 1)));
  return text;
}

LOGFONTA FontOf(HWND window) {
  LOGFONTA font{};
  auto current = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
  GetObjectA(current ? static_cast<HGDIOBJ>(current) : GetStockObject(SYSTEM_FONT), sizeof font, &font);
  return font;
}

// Height of a font of `points` points on the screen.
LONG PointHeight(long points) {
  HDC screen = GetDC(nullptr);
  LONG height = -MulDiv(static_cast<int>(points), GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  return height;
}

void SetFaceName(LOGFONTA &font, const std::string &name, int charset) {
  std::fill(std::begin(font.lfFaceName), std::end(font.lfFaceName), '\0');
  name.copy(font.lfFaceName, LF_FACESIZE - 1);
  font.lfCharSet = static_cast<BYTE>(charset);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string &path) {
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

HWND MakeTooltip(HWND owner) {
  return CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, GetModuleHandleA(nullptr), nullptr);
}

TOOLINFOA ToolFor(HWND window, const std::string &text) {
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = window;
  tool.uId = 1;
  GetClientRect(window, &tool.rect);
  tool.lpszText = const_cast<char *>(text.c_str());
  return tool;
}

void RelayToTooltip(HWND tooltip, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (tooltip == nullptr || message < WM_MOUSEFIRST || message > WM_MOUSELAST) return;
  MSG msg{window, message, wParam, lParam, static_cast<DWORD>(GetMessageTime()), {}};
  DWORD pos = GetMessagePos();
  msg.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  SendMessageA(tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

}  // namespace

HBITMAP LoadBmpFile(const std::string &path) {
  std::vector<std::uint8_t> file = ReadWholeFile(path);
  std::optional<BmpLayout> layout = CheckBmpFile(file);
  if (!layout) return nullptr;
  const std::uint8_t *block = file.data() + kBmpFileHeaderSize;
  auto *info = reinterpret_cast<const BITMAPINFO *>(block);
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap =
      CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT, block + layout->bitsOffset, info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

void CSkinPlacedControl::MoveTo(long x, long y) {
  SetWindowPos(hwnd(), nullptr, static_cast<int>(x), static_cast<int>(y), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSkinPlacedControl::ResizeTo(long width, long height) {
  SetWindowPos(hwnd(), nullptr, 0, 0, static_cast<int>(width), static_cast<int>(height),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- CSkinLabel

CSkinLabel::CSkinLabel()
    : textColour_(GetSysColor(COLOR_WINDOWTEXT)),
      defaultBrush_(CreateSolidBrush(GetSysColor(COLOR_BTNFACE))) {}

CSkinLabel::~CSkinLabel() {
  if (font_) DeleteObject(font_);
  if (bkBrush_) DeleteObject(bkBrush_);
  if (defaultBrush_) DeleteObject(defaultBrush_);
}

void CSkinLabel::OnSubclassed() {
  logFont_ = FontOf(hwnd());
  RemakeFont();
}

void CSkinLabel::RemakeFont() {
  if (font_) DeleteObject(font_);
  font_ = CreateFontIndirectA(&logFont_);
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
  if (bkBrush_) DeleteObject(bkBrush_);
  bkColour_ = colour;
  bkBrush_ = CreateSolidBrush(colour);
  Update();
}

void CSkinLabel::SetTextColor(SkinColour colour) {
  textColour_ = colour;
  Update();
}

void CSkinLabel::SetText(const std::string &text) {
  if (hwnd()) SetWindowTextA(hwnd(), text.c_str());
  Update();
}

void CSkinLabel::SetFontWeight(long weight) {
  logFont_.lfWeight = weight;
  RemakeFont();
  Update();
}

void CSkinLabel::SetFontName(const std::string &name, int charset) {
  SetFaceName(logFont_, name, charset);
  RemakeFont();
  Update();
}

void CSkinLabel::SetFontUnderline(bool on) {
  logFont_.lfUnderline = on;
  RemakeFont();
  Update();
}

void CSkinLabel::SetFontItalic(bool on) {
  logFont_.lfItalic = on;
  RemakeFont();
  Update();
}

void CSkinLabel::SetFontSize(long width, long height) {
  logFont_.lfWidth = width;
  logFont_.lfHeight = height;
  RemakeFont();
  Update();
}

void CSkinLabel::SetFontSizePoints(long points) {
  logFont_.lfHeight = PointHeight(points);
  logFont_.lfWidth = 0;
  RemakeFont();
  Update();
}

void CSkinLabel::SetTransparent(bool on) {
  transparent_ = on;
  if (on && hwnd())
    SetWindowLongPtrA(hwnd(), GWL_EXSTYLE, GetWindowLongPtrA(hwnd(), GWL_EXSTYLE) | WS_EX_TRANSPARENT);
  Update();
}

UINT SkinLabelTextFormat(LONG style, const std::string &text) {
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

void CSkinLabel::Paint() {
  PAINTSTRUCT paint;
  HDC screen = BeginPaint(hwnd(), &paint);
  RECT client;
  GetClientRect(hwnd(), &client);
  std::string text = WindowText(hwnd());
  HDC dc = screen;
  HBITMAP canvas = nullptr;
  HGDIOBJ oldCanvas = nullptr;
  if (!transparent_) {
    dc = CreateCompatibleDC(screen);
    canvas = CreateCompatibleBitmap(screen, client.right, client.bottom);
    oldCanvas = SelectObject(dc, canvas);
  }
  SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, textColour_);
  HGDIOBJ oldFont = SelectObject(dc, font_);
  if (!transparent_) FillRect(dc, &client, bkBrush_ ? bkBrush_ : defaultBrush_);
  DrawTextA(dc, text.c_str(), -1, &client,
            SkinLabelTextFormat(static_cast<LONG>(GetWindowLongPtrA(hwnd(), GWL_STYLE)), text));
  SelectObject(dc, oldFont);
  if (!transparent_) {
    BitBlt(screen, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldCanvas);
    DeleteObject(canvas);
    DeleteDC(dc);
  }
  EndPaint(hwnd(), &paint);
}

LRESULT CSkinLabel::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return TRUE;
    case WM_SYSCOLORCHANGE:
      if (defaultBrush_) DeleteObject(defaultBrush_);
      defaultBrush_ = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
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

void CSkinBitmap::OnSubclassed() {
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
  HBITMAP bitmap = LoadBmpFile(path);
  if (bitmap == nullptr) return false;
  SetBitmap(bitmap);
  return true;
}

void CSkinBitmap::EraseBackground(HDC dc) {
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
  RepaintTransparentSiblings(clip);
}

// Transparent controls above the picture are not clipped out of it; the picture may have painted over
// them, so they paint again, after it.
void CSkinBitmap::RepaintTransparentSiblings(const RECT &painted) const {
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

void CSkinBitmap::DrawItemText(const DRAWITEMSTRUCT &item) {
  std::string text = WindowText(hwnd());
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
    EraseBackground(reinterpret_cast<HDC>(wParam));
    return TRUE;
  }
  return Default(message, wParam, lParam);
}

std::optional<LRESULT> CSkinBitmap::Reflect(UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_DRAWITEM) return std::nullopt;
  DrawItemText(*reinterpret_cast<DRAWITEMSTRUCT *>(lParam));
  return TRUE;
}

// ---- CSkinButton

CSkinButton::~CSkinButton() {
  if (strip_) DeleteObject(strip_);
  if (font_) DeleteObject(font_);
}

void CSkinButton::OnSubclassed() {
  LONG_PTR style = GetWindowLongPtrA(hwnd(), GWL_STYLE);
  SetWindowLongPtrA(hwnd(), GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
  SetWindowLongPtrA(hwnd(), GWL_EXSTYLE, GetWindowLongPtrA(hwnd(), GWL_EXSTYLE) | WS_EX_TRANSPARENT);
  logFont_ = FontOf(hwnd());
  RemakeFont();
}

void CSkinButton::RemakeFont() {
  if (font_) DeleteObject(font_);
  font_ = CreateFontIndirectA(&logFont_);
  Invalidate();
}

bool CSkinButton::LoadBitmap(const std::string &path) {
  HBITMAP strip = LoadBmpFile(path);
  if (strip == nullptr) return false;
  if (strip_) DeleteObject(strip_);
  strip_ = strip;
  BITMAP info{};
  GetObjectA(strip_, sizeof info, &info);
  frameWidth_ = info.bmWidth / 3;
  frameHeight_ = info.bmHeight;
  if (hwnd()) ResizeTo(frameWidth_, frameHeight_);
  Invalidate();
  return true;
}

void CSkinButton::SetColors(SkinColour active, SkinColour inactive) {
  active_ = active;
  inactive_ = inactive;
  Invalidate();
}

void CSkinButton::SetClickOffset(long x, long y) {
  clickX_ = x;
  clickY_ = y;
}

void CSkinButton::SetFontWeight(long weight) {
  logFont_.lfWeight = weight;
  RemakeFont();
}

void CSkinButton::SetFontUnderline(bool on) {
  logFont_.lfUnderline = on;
  RemakeFont();
}

void CSkinButton::SetFontItalic(bool on) {
  logFont_.lfItalic = on;
  RemakeFont();
}

void CSkinButton::SetFontSizePoints(long points) {
  logFont_.lfHeight = PointHeight(points);
  logFont_.lfWidth = 0;
  RemakeFont();
}

void CSkinButton::SetFontSize(long width, long height) {
  logFont_.lfWidth = width;
  logFont_.lfHeight = height;
  RemakeFont();
}

void CSkinButton::SetFontName(const std::string &name, int charset) {
  SetFaceName(logFont_, name, charset);
  RemakeFont();
}

void CSkinButton::SetTooltip(const std::string &text, bool activate) {
  if (hwnd() == nullptr) return;
  if (tooltip_ == nullptr) {
    tooltip_ = MakeTooltip(hwnd());
    if (tooltip_ == nullptr) return;
    SendMessageA(tooltip_, TTM_ACTIVATE, FALSE, 0);
  }
  TOOLINFOA tool = ToolFor(hwnd(), text);
  if (SendMessageA(tooltip_, TTM_GETTOOLCOUNT, 0, 0) == 0)
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageA(tooltip_, TTM_ACTIVATE, activate, 0);
}

void CSkinButton::SetText(const std::string &text) {
  if (hwnd()) SetWindowTextA(hwnd(), text.c_str());
  Invalidate();
}

bool CSkinButton::UsesHandCursor() const {
  static constexpr int kIds[] = {313,  1289, 1514, 1689, 1989, 2189, 2378, 2414,
                                 2445, 2526, 2530, 2534, 2542, 2546, 2550, 2705};
  int id = GetDlgCtrlID(hwnd());
  return std::find(std::begin(kIds), std::end(kIds), id) != std::end(kIds);
}

void CSkinButton::Draw(const DRAWITEMSTRUCT &item) {
  RECT client = item.rcItem;
  if (strip_ == nullptr || frameWidth_ <= 0) {
    FillRect(item.hDC, &client, GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  ButtonFrame frame = (item.itemState & ODS_SELECTED) ? ButtonFrame::Pressed
                      : hover_.hovering()             ? ButtonFrame::Hover
                                                      : ButtonFrame::Normal;
  // The text goes onto a copy of the frame, so a caption that changes never leaves its old text behind.
  HDC stripDc = CreateCompatibleDC(item.hDC);
  HGDIOBJ oldStrip = SelectObject(stripDc, strip_);
  HDC frameDc = CreateCompatibleDC(item.hDC);
  HBITMAP frameBitmap =
      CreateCompatibleBitmap(item.hDC, static_cast<int>(frameWidth_), static_cast<int>(frameHeight_));
  HGDIOBJ oldFrame = SelectObject(frameDc, frameBitmap);
  long frameLeft = static_cast<long>(frame) * frameWidth_;
  BitBlt(frameDc, 0, 0, static_cast<int>(frameWidth_), static_cast<int>(frameHeight_), stripDc,
         static_cast<int>(frameLeft), 0, SRCCOPY);

  std::string text = WindowText(hwnd());
  HGDIOBJ oldFont = SelectObject(frameDc, font_);
  SetBkMode(frameDc, TRANSPARENT);
  ::SetTextColor(frameDc, frame == ButtonFrame::Normal ? inactive_ : active_);
  SIZE extent{};
  GetTextExtentPoint32A(frameDc, text.c_str(), static_cast<int>(text.size()), &extent);
  long top = ButtonTextTop(frameHeight_, ButtonTextLines(text), extent.cy);
  ButtonTextBox box = ButtonTextRect(frame, frameWidth_, frameHeight_, top, clickX_, clickY_);
  RECT rect{static_cast<LONG>(box.left - frameLeft), static_cast<LONG>(box.top),
            static_cast<LONG>(box.right - frameLeft), static_cast<LONG>(box.bottom)};
  DrawTextA(frameDc, text.c_str(), -1, &rect, DT_CENTER);
  SelectObject(frameDc, oldFont);

  BitBlt(item.hDC, 0, 0, static_cast<int>(frameWidth_), static_cast<int>(frameHeight_), frameDc, 0, 0,
         SRCCOPY);
  SelectObject(frameDc, oldFrame);
  DeleteObject(frameBitmap);
  DeleteDC(frameDc);
  SelectObject(stripDc, oldStrip);
  DeleteDC(stripDc);
}

std::optional<LRESULT> CSkinButton::Reflect(UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_DRAWITEM) return std::nullopt;
  Draw(*reinterpret_cast<DRAWITEMSTRUCT *>(lParam));
  return TRUE;
}

LRESULT CSkinButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  RelayToTooltip(tooltip_, hwnd(), message, wParam, lParam);
  if (hover_.OnMessage(hwnd(), message)) Invalidate();
  if (message == WM_SETCURSOR && UsesHandCursor()) {
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
  if (normalFont_) DeleteObject(normalFont_);
  if (underlineFont_) DeleteObject(underlineFont_);
  if (hand_) DestroyCursor(hand_);
}

void CSkinLink::OnSubclassed() {
  SetWindowLongPtrA(hwnd(), GWL_STYLE, GetWindowLongPtrA(hwnd(), GWL_STYLE) | SS_NOTIFY);
  std::string windowText = WindowText(hwnd());
  if (linkText_.empty()) linkText_ = windowText;
  if (windowText.empty()) SetWindowTextA(hwnd(), linkText_.c_str());

  LOGFONTA font{};
  auto current = reinterpret_cast<HFONT>(SendMessageA(hwnd(), WM_GETFONT, 0, 0));
  HGDIOBJ source = current ? static_cast<HGDIOBJ>(current) : GetStockObject(DEFAULT_GUI_FONT);
  if (source == nullptr) source = GetStockObject(ANSI_VAR_FONT);
  GetObjectA(source, sizeof font, &font);
  normalFont_ = CreateFontIndirectA(&font);
  font.lfUnderline = TRUE;
  underlineFont_ = CreateFontIndirectA(&font);
  SendMessageA(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_), FALSE);

  FitToText();
  LoadHandCursor();
  tooltip_ = MakeTooltip(hwnd());
  if (tooltip_) {
    TOOLINFOA tool = ToolFor(hwnd(), linkText_);
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void CSkinLink::FitToText() {
  HWND parent = GetParent(hwnd());
  std::string text = WindowText(hwnd());
  HDC dc = GetDC(hwnd());
  HGDIOBJ old = SelectObject(dc, underlineFont_);
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

void CSkinLink::LoadHandCursor() {
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

void CSkinLink::Clicked() {
  hovering_ = false;
  HWND main = GetAncestor(hwnd(), GA_ROOTOWNER);
  if (main) SendMessageA(main, WM_WIZARD_COMMAND, static_cast<WPARAM>(GetDlgCtrlID(hwnd())), 0);
  visited_ = true;
  Invalidate();
}

std::optional<LRESULT> CSkinLink::Reflect(UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_CTLCOLORSTATIC) {
    auto dc = reinterpret_cast<HDC>(wParam);
    ::SetTextColor(dc, hovering_ ? kHoverColour : visited_ ? kVisitedColour : kLinkColour);
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
  }
  if (message == WM_COMMAND && HIWORD(wParam) == STN_CLICKED) {
    Clicked();
    return 0;
  }
  return std::nullopt;
}

LRESULT CSkinLink::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  RelayToTooltip(tooltip_, hwnd(), message, wParam, lParam);
  switch (message) {
    case WM_MOUSEMOVE:
      if (!hovering_) {
        hovering_ = true;
        SendMessageA(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(underlineFont_), FALSE);
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
          SendMessageA(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_), FALSE);
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
  ReleaseImage();
  if (snapshotDc_) {
    SelectObject(snapshotDc_, snapshotOld_);
    DeleteDC(snapshotDc_);
  }
  if (snapshot_) DeleteObject(snapshot_);
}

void CPngStatic::OnSubclassed() {
  RECT client;
  GetClientRect(hwnd(), &client);
  HWND parent = GetParent(hwnd());
  HDC parentDc = GetDC(parent);
  snapshotDc_ = CreateCompatibleDC(parentDc);
  snapshot_ = CreateCompatibleBitmap(parentDc, client.right, client.bottom);
  snapshotOld_ = SelectObject(snapshotDc_, snapshot_);
  POINT corner{0, 0};
  MapWindowPoints(hwnd(), parent, &corner, 1);
  BitBlt(snapshotDc_, 0, 0, client.right, client.bottom, parentDc, corner.x, corner.y, SRCCOPY);
  ReleaseDC(parent, parentDc);
}

void CPngStatic::ReleaseImage() {
  delete static_cast<Gdiplus::Image *>(image_);
  image_ = nullptr;
  // The image decodes from these bytes on demand, so they go only after it.
  if (imageBytes_) GlobalFree(imageBytes_);
  imageBytes_ = nullptr;
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
  ReleaseImage();
  image_ = image;
  imageBytes_ = copy;
  resourceId_ = id;
  if (hwnd()) {
    HDC dc = GetDC(hwnd());
    Draw(dc);
    ReleaseDC(hwnd(), dc);
  }
  return true;
}

void CPngStatic::Draw(HDC dc) {
  RECT client;
  GetClientRect(hwnd(), &client);
  if (snapshotDc_) BitBlt(dc, 0, 0, client.right, client.bottom, snapshotDc_, 0, 0, SRCCOPY);
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
      Draw(dc);
      EndPaint(hwnd(), &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return TRUE;
    case WM_DESTROY:
      ReleaseImage();
      break;
    default:
      break;
  }
  return Default(message, wParam, lParam);
}

}  // namespace tunmira
