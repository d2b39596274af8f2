#include "controls.h"

#include <cstring>
#include <memory>

#include "prompts.h"

namespace upgrade {

ZAdapterInfo::ZAdapterInfo(const char *adapter_name)
    : valid_(AdapterPacketIo::read_adapter_texts(adapter_name, description_, device_name_)) {}

int ZAdapterListBox::add(const char *adapter_name) {
  auto info = std::make_unique<ZAdapterInfo>(adapter_name);
  if (!info->is_valid()) return -1;
  // The list owns the item from here on and deletes it through WM_DELETEITEM.
  auto index = SendMessageA(hwnd(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(info.get()));
  if (index < 0) return -1;
  info.release();
  return static_cast<int>(index);
}

int ZAdapterListBox::count() const {
  return static_cast<int>(SendMessageA(hwnd(), LB_GETCOUNT, 0, 0));
}

void ZAdapterListBox::select(int index) const {
  SendMessageA(hwnd(), LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void ZAdapterListBox::clear() const {
  SendMessageA(hwnd(), LB_RESETCONTENT, 0, 0);
}

const ZAdapterInfo *ZAdapterListBox::item_at(int index) const {
  if (index < 0) return nullptr;
  auto data = SendMessageA(hwnd(), LB_GETITEMDATA, static_cast<WPARAM>(index), 0);
  return data == LB_ERR ? nullptr : reinterpret_cast<const ZAdapterInfo *>(data);
}

const ZAdapterInfo *ZAdapterListBox::selected() const {
  return item_at(static_cast<int>(SendMessageA(hwnd(), LB_GETCURSEL, 0, 0)));
}

std::string ZAdapterListBox::selected_description() const {
  const ZAdapterInfo *info = selected();
  if (info == nullptr || info->description().empty()) return "=";
  return info->description();
}

void ZAdapterListBox::DrawItem(const DRAWITEMSTRUCT &item) const {
  const ZAdapterInfo *info = reinterpret_cast<const ZAdapterInfo *>(item.itemData);
  if (item.itemID == static_cast<UINT>(-1) || info == nullptr) return;
  if (!(item.itemAction & (ODA_DRAWENTIRE | ODA_SELECT | ODA_FOCUS))) return;
  bool selected = (item.itemState & ODS_SELECTED) != 0;
  RECT rect = item.rcItem;
  HBRUSH brush =
      selected ? GetSysColorBrush(COLOR_HIGHLIGHT) : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  FillRect(item.hDC, &rect, brush);
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(info->icon_id()));
  if (icon) DrawIcon(item.hDC, rect.left + 2, rect.top, icon);
  rect.left += GetSystemMetrics(SM_CXICON) + 4;
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, selected ? RGB(255, 255, 255) : RGB(0, 0, 0));
  DrawTextA(item.hDC, info->description().c_str(), -1, &rect, DT_SINGLELINE | DT_VCENTER);
}

std::optional<LRESULT> ZAdapterListBox::reflect(UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_MEASUREITEM:
      reinterpret_cast<MEASUREITEMSTRUCT *>(lParam)->itemHeight =
          static_cast<UINT>(GetSystemMetrics(SM_CYICON));
      return TRUE;
    case WM_COMPAREITEM: {
      auto *c = reinterpret_cast<COMPAREITEMSTRUCT *>(lParam);
      auto *a = reinterpret_cast<const ZAdapterInfo *>(c->itemData1);
      auto *b = reinterpret_cast<const ZAdapterInfo *>(c->itemData2);
      int r = a->description().compare(b->description());  // byte-wise: unsigned char order
      return r < 0 ? -1 : r > 0 ? 1 : 0;
    }
    case WM_DRAWITEM:
      DrawItem(*reinterpret_cast<DRAWITEMSTRUCT *>(lParam));
      return TRUE;
    case WM_DELETEITEM: {
      std::unique_ptr<ZAdapterInfo> owned(
          reinterpret_cast<ZAdapterInfo *>(reinterpret_cast<DELETEITEMSTRUCT *>(lParam)->itemData));
      return TRUE;
    }
    default:
      return std::nullopt;
  }
}

CHoverButton::~CHoverButton() {
  if (bitmap_) DeleteObject(bitmap_);
}

bool CHoverButton::LoadBitmap(int resource_id) {
  auto loaded = static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource_id),
                                                IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
  if (loaded == nullptr) return false;
  if (bitmap_) DeleteObject(bitmap_);
  bitmap_ = loaded;
  BITMAP info{};
  GetObjectA(bitmap_, sizeof info, &info);
  frame_width_ = info.bmWidth / 3;
  frame_height_ = info.bmHeight;
  SetWindowPos(hwnd(), nullptr, 0, 0, frame_width_, frame_height_,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Invalidate();
  return true;
}

void CHoverButton::DrawItem(const DRAWITEMSTRUCT &item) const {
  if (bitmap_ == nullptr) return;
  int frame = 0;
  if (!(item.itemState & ODS_DISABLED)) {
    if (item.itemState & ODS_SELECTED)
      frame = 1;
    else if (hover_.hovering())
      frame = 2;
  }
  HDC memory = CreateCompatibleDC(item.hDC);
  HGDIOBJ old = SelectObject(memory, bitmap_);
  BitBlt(item.hDC, 0, 0, frame_width_, frame_height_, memory, frame * frame_width_, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
}

std::optional<LRESULT> CHoverButton::reflect(UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_DRAWITEM) return std::nullopt;
  DrawItem(*reinterpret_cast<DRAWITEMSTRUCT *>(lParam));
  return TRUE;
}

LRESULT CHoverButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (hover_.on_message(hwnd(), message)) Invalidate();
  return Default(message, wParam, lParam);
}

CStaticLink::~CStaticLink() {
  if (underlined_) DeleteObject(underlined_);
}

std::optional<LRESULT> CStaticLink::reflect(UINT message, WPARAM wParam, LPARAM) {
  if (message != WM_CTLCOLORSTATIC || no_link) return std::nullopt;
  char class_name[16] = {};
  GetClassNameA(hwnd(), class_name, sizeof class_name);
  LONG style = GetWindowLongA(hwnd(), GWL_STYLE) & SS_TYPEMASK;
  if (lstrcmpiA(class_name, "Static") != 0 || style > SS_RIGHT) return std::nullopt;
  HDC dc = reinterpret_cast<HDC>(wParam);
  if (underlined_ == nullptr) {
    LOGFONTA font{};
    HFONT current = reinterpret_cast<HFONT>(SendMessageA(hwnd(), WM_GETFONT, 0, 0));
    GetObjectA(current ? static_cast<HGDIOBJ>(current) : GetStockObject(DEFAULT_GUI_FONT), sizeof font,
               &font);
    font.lfUnderline = TRUE;
    underlined_ = CreateFontIndirectA(&font);
  }
  SelectObject(dc, underlined_);
  SetTextColor(dc, color_);
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

namespace {
// The help program's hand, or the system's when that program has none.
HCURSOR link_cursor() {
  static HCURSOR cursor = [] {
    HCURSOR found = nullptr;
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
      std::string path = std::string(windows) + "\\winhlp32.exe";
      if (HMODULE help = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        if (HCURSOR hand = LoadCursorA(help, MAKEINTRESOURCEA(106))) found = CopyCursor(hand);
        FreeLibrary(help);
      }
    }
    return found ? found : LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));  // IDC_HAND
  }();
  return cursor;
}
}  // namespace

LRESULT CStaticLink::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETCURSOR:
      if (!no_link) {
        SetCursor(link_cursor());
        return TRUE;
      }
      break;
    case WM_NCHITTEST:
      if (!no_link) return HTCLIENT;  // a static is transparent to the mouse otherwise
      break;
    case WM_LBUTTONUP:
      if (!no_link) open();
      break;
    default:
      break;
  }
  return Default(message, wParam, lParam);
}

void CStaticLink::open() {
  HWND owner = GetParent(hwnd());
  bool opened = rtwin::open_document(owner, link_);
  if (!opened) {
    char text[512] = {};
    GetWindowTextA(hwnd(), text, sizeof text);
    link_ = text;
    opened = rtwin::open_document(owner, link_);
  }
  if (!opened) {
    char text[512] = {};
    if (LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(GetDlgCtrlID(hwnd())), text, sizeof text) >
        0) {
      link_ = text;
      opened = rtwin::open_document(owner, link_);
    }
  }
  if (!opened) {
    MessageBeep(0);
    no_link = true;
    return;
  }
  color_ = RGB(128, 0, 128);
  Invalidate();
}

void CStaticLink::on_detached() {
  if (auto_delete_) std::unique_ptr<CStaticLink> self(this);
}

int &CPictureCtrl::current_picture_id() {
  static int id = 150;
  return id;
}

CPictureCtrl::~CPictureCtrl() {
  if (picture_) picture_->Release();
}

bool CPictureCtrl::load_picture(int resource_id) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(resource_id), "IMAGE");
  if (found == nullptr) return false;
  DWORD size = SizeofResource(module, found);
  const void *bytes = LockResource(LoadResource(module, found));
  if (bytes == nullptr || size == 0) return false;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (memory == nullptr) return false;
  std::memcpy(GlobalLock(memory), bytes, size);
  GlobalUnlock(memory);
  IStream *stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
    GlobalFree(memory);
    return false;
  }
  IPicture *loaded = nullptr;
  HRESULT hr = OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                              reinterpret_cast<void **>(&loaded));
  stream->Release();
  if (FAILED(hr) || loaded == nullptr) return false;
  if (picture_) picture_->Release();
  picture_ = loaded;
  Invalidate();
  return true;
}

void CPictureCtrl::on_subclassed() {
  if (picture_ != nullptr) return;
  int id = current_picture_id();
  if (id != 145 && id != 146 && (id < 150 || id > 155)) id = 150;
  load_picture(id);
  char text[8];
  if (LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(GetDlgCtrlID(hwnd())), text, sizeof text) == 0)
    no_link = true;
}

SIZE CPictureCtrl::picture_size() const {
  SIZE size{0, 0};
  if (picture_ == nullptr) return size;
  OLE_XSIZE_HIMETRIC width = 0;
  OLE_YSIZE_HIMETRIC height = 0;
  picture_->get_Width(&width);
  picture_->get_Height(&height);
  HDC screen = GetDC(nullptr);
  size.cx = MulDiv(width, GetDeviceCaps(screen, LOGPIXELSX), 2540);
  size.cy = MulDiv(height, GetDeviceCaps(screen, LOGPIXELSY), 2540);
  ReleaseDC(nullptr, screen);
  return size;
}

LRESULT CPictureCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd(), &paint);
      if (picture_) {
        SIZE size = picture_size();
        OLE_XSIZE_HIMETRIC width = 0;
        OLE_YSIZE_HIMETRIC height = 0;
        picture_->get_Width(&width);
        picture_->get_Height(&height);
        RECT client;
        GetClientRect(hwnd(), &client);
        IntersectClipRect(dc, 0, 0, client.right, client.bottom);
        picture_->Render(dc, 0, 0, size.cx, size.cy, 0, height, width, -height, nullptr);
      }
      EndPaint(hwnd(), &paint);
      return 0;
    }
    case WM_ERASEBKGND: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      RECT client;
      GetClientRect(hwnd(), &client);
      SIZE size = picture_size();
      ExcludeClipRect(dc, 0, 0, size.cx, size.cy);
      auto brush = reinterpret_cast<HBRUSH>(GetClassLongPtrA(hwnd(), GCLP_HBRBACKGROUND));
      FillRect(dc, &client, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
      SelectClipRgn(dc, nullptr);
      return TRUE;
    }
    default:
      return CStaticLink::WindowProc(message, wParam, lParam);
  }
}

}  // namespace upgrade
