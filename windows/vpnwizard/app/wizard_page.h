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
  explicit CWizardPage(int templateId) : rtwin::CDialog(templateId), WizardPage(templateId) {}
  ~CWizardPage() override;

  CWizardSheetDlg *sheetDialog() const { return sheetDialog_; }
  void SetSheetDialog(CWizardSheetDlg *sheet) { sheetDialog_ = sheet; }
  // Posts WM_WIZARD_COMMAND to the main dialog.
  void PostWizardCommand(WPARAM wParam, LPARAM lParam) const;

 protected:
  // The base makes the page's background brush.
  BOOL OnInitDialog() override;
  // Escape never closes a page.
  void OnCancel() override {}
  // Pages that drop the OK command that Enter sends.
  void OnOK() override {}
  std::optional<INT_PTR> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  HBRUSH background() const { return background_; }
  void SetBackgroundColour(COLORREF colour);

 private:
  CWizardSheetDlg *sheetDialog_ = nullptr;
  HBRUSH background_ = nullptr;
  COLORREF backgroundColour_ = RGB(0xF0, 0xF0, 0xF0);
};

}  // namespace tunmira
