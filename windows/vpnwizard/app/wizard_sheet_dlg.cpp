#include "wizard_sheet_dlg.h"

#include "main_flow.h"
#include "skin_values.h"

namespace tunmira {
namespace {
constexpr COLORREF kSheetBackground = 0xEBEBEB;
constexpr COLORREF kSheetText = 0xC1804E;

CWizardPage &as_window(WizardPage &page) {
  return static_cast<CWizardPage &>(page);
}
}  // namespace

CWizardSheetDlg::~CWizardSheetDlg() {
  if (background_) DeleteObject(background_);
}

BOOL CWizardSheetDlg::OnInitDialog() {
  // Keyboard navigation enters the child page.
  SetWindowLongPtrA(hwnd(), GWL_EXSTYLE, GetWindowLongPtrA(hwnd(), GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  sheet_.ShowFirstPage();
  draggable_ = true;
  background_ = CreateSolidBrush(kSheetBackground);
  return TRUE;
}

void CWizardSheetDlg::OnCancel() {
  if (sheet_.query_cancel()) EndDialog(IDCANCEL);
}

void CWizardSheetDlg::OnDestroy() {
  sheet_.destroy_pages();
  draggable_ = false;
}

bool CWizardSheetDlg::create_page_window(WizardPage &page) {
  CWizardPage &window = as_window(page);
  window.set_parent_window(hwnd());
  window.set_sheet_dialog(this);
  if (!window.Create()) return false;
  // On an unscaled screen a page is as wide as the skin drawn for it (see the main dialog).
  if (!DisplayScaled && (GetWindowLongPtrA(window.hwnd(), GWL_STYLE) & WS_CHILD)) {
    RECT rect;
    GetWindowRect(window.hwnd(), &rect);
    SetWindowPos(window.hwnd(), nullptr, 0, 0, kPageDesignWidth, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return true;
}

void CWizardSheetDlg::place_and_show_page_window(WizardPage &page) {
  CWizardPage &window = as_window(page);
  if (GetWindowLongPtrA(window.hwnd(), GWL_STYLE) & WS_CHILD) {
    window.place_over_item(placeholder_id_);
  } else {
    // The explanation page is also a modal dialog of its own, so its template makes a popup: it goes
    // over the placeholder in screen coordinates.
    RECT rect;
    GetWindowRect(GetDlgItem(hwnd(), placeholder_id_), &rect);
    SetWindowPos(window.hwnd(), nullptr, rect.left, rect.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  EnableWindow(window.hwnd(), TRUE);
  ShowWindow(window.hwnd(), SW_SHOW);
  InvalidateRect(window.hwnd(), nullptr, TRUE);
  UpdateWindow(window.hwnd());
}

void CWizardSheetDlg::hide_page_window(WizardPage &page) {
  ShowWindow(as_window(page).hwnd(), SW_HIDE);
}

void CWizardSheetDlg::destroy_page_window(WizardPage &page) {
  as_window(page).destroy();
}

void CWizardSheetDlg::set_item_caption(int id, const char *caption) {
  SetDlgItemTextA(hwnd(), id, caption);
}

std::optional<INT_PTR> CWizardSheetDlg::on_message(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_LBUTTONDOWN:
      if (!draggable_) break;
      // The window follows the mouse as if its caption had been taken.
      PostMessageA(hwnd(), WM_NCLBUTTONDOWN, HTCAPTION, lParam);
      return 0;
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(background_);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kSheetText);
      SetBkColor(dc, kSheetBackground);
      if (message == WM_CTLCOLORSTATIC) SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(background_);
    }
  }
  return std::nullopt;
}

}  // namespace tunmira
