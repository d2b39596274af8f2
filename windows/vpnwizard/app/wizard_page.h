// The window side of the wizard's pages: each page is a child dialog of the sheet, placed over its
// placeholder, and a WizardPage of the flow.
#pragma once

#include <windows.h>

#include "dialog.h"
#include "wizard_sheet.h"

namespace tunmira {

class CWizardSheetDlg;

class CWizardPage : public rtwin::CDialog, public WizardPage {
 public:
  explicit CWizardPage(int template_id) : rtwin::CDialog(template_id), WizardPage(template_id) {}
  ~CWizardPage() override;

  CWizardSheetDlg *sheet_dialog() const { return sheet_dialog_; }
  void set_sheet_dialog(CWizardSheetDlg *sheet) { sheet_dialog_ = sheet; }
  // Posts WM_WIZARD_COMMAND to the main dialog.
  void post_wizard_command(WPARAM wParam, LPARAM lParam) const;

 protected:
  // The base makes the page's background brush.
  BOOL OnInitDialog() override;
  // Escape never closes a page.
  void OnCancel() override {}
  // Pages that drop the OK command that Enter sends.
  void OnOK() override {}
  std::optional<INT_PTR> on_message(UINT message, WPARAM wParam, LPARAM lParam) override;
  HBRUSH background() const { return background_; }
  void set_background_colour(COLORREF colour);

 private:
  CWizardSheetDlg *sheet_dialog_ = nullptr;
  HBRUSH background_ = nullptr;
  COLORREF background_colour_ = RGB(0xF0, 0xF0, 0xF0);
};

}  // namespace tunmira
