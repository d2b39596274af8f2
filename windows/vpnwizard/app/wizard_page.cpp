#include "wizard_page.h"

#include "skin_controls.h"
#include "wizard_sheet_dlg.h"

namespace tunmira {
namespace {
// Texts of pages and the sheet: 0xC1804E on the page's light background.
constexpr COLORREF kPageTextColour = 0xC1804E;
}  // namespace

CWizardPage::~CWizardPage() {
  if (background_) DeleteObject(background_);
}

void CWizardPage::post_wizard_command(WPARAM wParam, LPARAM lParam) const {
  if (sheet_dialog_ && sheet_dialog_->hwnd())
    PostMessageA(sheet_dialog_->hwnd(), WM_WIZARD_COMMAND, wParam, lParam);
}

void CWizardPage::set_background_colour(COLORREF colour) {
  background_colour_ = colour;
  if (background_) DeleteObject(background_);
  background_ = CreateSolidBrush(colour);
}

BOOL CWizardPage::OnInitDialog() {
  set_background_colour(background_colour_);
  return TRUE;
}

std::optional<INT_PTR> CWizardPage::on_message(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(background_);
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kPageTextColour);
      SetBkColor(dc, background_colour_);
      if (message == WM_CTLCOLORSTATIC) SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(background_);
    }
  }
  (void)lParam;
  return std::nullopt;
}

}  // namespace tunmira
