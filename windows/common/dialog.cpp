#include "dialog.h"

#include <commctrl.h>

namespace rtwin {
namespace {
constexpr char kObjectProperty[] = "rtwin.control";
constexpr UINT_PTR kSubclassId = 0x5254;
}  // namespace

CControl::~CControl() {
  Detach();
}

bool CControl::SubclassDlgItem(int id, HWND dialog) {
  HWND window = GetDlgItem(dialog, id);
  if (window == nullptr || hwnd_ != nullptr) return false;
  if (!SetWindowSubclass(window, subclass_proc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) return false;
  hwnd_ = window;
  SetPropA(window, kObjectProperty, this);
  on_subclassed();
  return true;
}

void CControl::Detach() {
  if (hwnd_ == nullptr) return;
  RemovePropA(hwnd_, kObjectProperty);
  RemoveWindowSubclass(hwnd_, subclass_proc, kSubclassId);
  hwnd_ = nullptr;
}

CControl *CControl::FromHandle(HWND window) {
  return window ? static_cast<CControl *>(GetPropA(window, kObjectProperty)) : nullptr;
}

std::optional<LRESULT> CControl::reflect(UINT, WPARAM, LPARAM) {
  return std::nullopt;
}

LRESULT CControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return Default(message, wParam, lParam);
}

LRESULT CControl::Default(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefSubclassProc(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK CControl::subclass_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR data) {
  auto *self = reinterpret_cast<CControl *>(data);
  if (message == WM_NCDESTROY) {
    LRESULT r = DefSubclassProc(window, message, wParam, lParam);
    self->Detach();
    self->on_detached();
    return r;
  }
  return self->WindowProc(message, wParam, lParam);
}

INT_PTR CDialog::DoModal() {
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(template_id_), parent_, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create() {
  if (hwnd_ != nullptr) return true;
  HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(template_id_), parent_,
                                   DialogProc, reinterpret_cast<LPARAM>(this));
  return window != nullptr;
}

void CDialog::place_over_item(int placeholder_id) const {
  HWND placeholder = GetDlgItem(parent_, placeholder_id);
  if (hwnd_ == nullptr || placeholder == nullptr) return;
  RECT rect;
  GetWindowRect(placeholder, &rect);
  POINT corner{rect.left, rect.top};
  ScreenToClient(parent_, &corner);
  SetWindowPos(hwnd_, nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialog::destroy() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

bool CDialog::post_to_parent(UINT message, WPARAM wParam, LPARAM lParam) const {
  return parent_ != nullptr && PostMessageA(parent_, message, wParam, lParam) != FALSE;
}

std::string CDialog::item_text(int id) const {
  HWND control = item(id);
  int n = control ? GetWindowTextLengthA(control) : 0;
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  if (n > 0)
    text.resize(static_cast<std::size_t>(GetWindowTextA(control, text.data(), n + 1)));
  else
    text.clear();
  return text;
}

std::optional<INT_PTR> CDialog::on_message(UINT, WPARAM, LPARAM) {
  return std::nullopt;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto *self = reinterpret_cast<CDialog *>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    self->hwnd_ = window;
    return self->OnInitDialog();
  }
  auto *self = reinterpret_cast<CDialog *>(GetWindowLongPtrA(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  INT_PTR result = self->dispatch(message, wParam, lParam);
  if (message == WM_NCDESTROY) self->hwnd_ = nullptr;
  return result;
}

// A dialog procedure hands results of these messages back as its return value, not DWLP_MSGRESULT.
static bool returns_directly(UINT message) {
  return message == WM_COMPAREITEM || (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) ||
         message == WM_QUERYDRAGICON;
}

INT_PTR CDialog::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND about = nullptr;
  switch (message) {
    case WM_DRAWITEM:
      about = reinterpret_cast<DRAWITEMSTRUCT *>(lParam)->hwndItem;
      break;
    case WM_COMPAREITEM:
      about = reinterpret_cast<COMPAREITEMSTRUCT *>(lParam)->hwndItem;
      break;
    case WM_DELETEITEM:
      about = reinterpret_cast<DELETEITEMSTRUCT *>(lParam)->hwndItem;
      break;
    case WM_MEASUREITEM:
      about = GetDlgItem(hwnd_, static_cast<int>(reinterpret_cast<MEASUREITEMSTRUCT *>(lParam)->CtlID));
      break;
    case WM_COMMAND:
      about = reinterpret_cast<HWND>(lParam);  // a control's notification; nullptr for menus and keys
      break;
    default:
      if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)
        about = reinterpret_cast<HWND>(lParam);
  }
  if (CControl *control = CControl::FromHandle(about)) {
    if (auto r = control->reflect(message, wParam, lParam)) {
      if (returns_directly(message)) return static_cast<INT_PTR>(*r);
      SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, *r);
      return TRUE;
    }
  }
  if (message == WM_COMMAND) {
    int id = LOWORD(wParam);
    int code = HIWORD(wParam);
    if (OnCommand(id, code)) return TRUE;
    if (id == IDOK && code == BN_CLICKED) {
      OnOK();
      return TRUE;
    }
    if (id == IDCANCEL) {
      OnCancel();
      return TRUE;
    }
    return FALSE;
  }
  if (message == WM_DESTROY) OnDestroy();
  if (auto r = on_message(message, wParam, lParam)) {
    if (returns_directly(message)) return *r;
    SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, *r);
    return TRUE;
  }
  return FALSE;
}

}  // namespace rtwin
