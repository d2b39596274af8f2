#include "wizard_sheet_dlg.h"

#include "main_flow.h"
#include "skin_values.h"

namespace tunmira {
namespace {
constexpr COLORREF kSheetBackground = 0xEBEBEB;
constexpr COLORREF kSheetText = 0xC1804E;

CWizardPage &AsWindow(WizardPage &page) {
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
  if (sheet_.QueryCancel()) EndDialog(IDCANCEL);
}

void CWizardSheetDlg::OnDestroy() {
  sheet_.DestroyPages();
  draggable_ = false;
}

bool CWizardSheetDlg::CreatePageWindow(WizardPage &page) {
  CWizardPage &window = AsWindow(page);
  window.SetParentWindow(hwnd());
  window.SetSheetDialog(this);
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

void CWizardSheetDlg::PlaceAndShowPageWindow(WizardPage &page) {
  CWizardPage &window = AsWindow(page);
  if (GetWindowLongPtrA(window.hwnd(), GWL_STYLE) & WS_CHILD) {
    window.PlaceOverItem(placeholderId_);
  } else {
    // The explanation page is also a modal dialog of its own, so its template makes a popup: it goes
    // over the placeholder in screen coordinates.
    RECT rect;
    GetWindowRect(GetDlgItem(hwnd(), placeholderId_), &rect);
    SetWindowPos(window.hwnd(), nullptr, rect.left, rect.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  EnableWindow(window.hwnd(), TRUE);
  ShowWindow(window.hwnd(), SW_SHOW);
  InvalidateRect(window.hwnd(), nullptr, TRUE);
  UpdateWindow(window.hwnd());
}

void CWizardSheetDlg::HidePageWindow(WizardPage &page) {
  ShowWindow(AsWindow(page).hwnd(), SW_HIDE);
}

void CWizardSheetDlg::DestroyPageWindow(WizardPage &page) {
  AsWindow(page).Destroy();
}

void CWizardSheetDlg::SetItemCaption(int id, const char *caption) {
  SetDlgItemTextA(hwnd(), id, caption);
}

std::optional<INT_PTR> CWizardSheetDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
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
