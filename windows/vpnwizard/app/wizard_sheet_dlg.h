// The dialog that owns the wizard's pages: it shows one page at a time over its placeholder control
// and lets the user drag the window by any point of its body.
#pragma once

#include <windows.h>

#include "dialog.h"
#include "wizard_page.h"
#include "wizard_sheet.h"

namespace tunmira {

class CWizardSheetDlg : public rtwin::CDialog, private PageWindows {
 public:
  CWizardSheetDlg(int template_id, int placeholder_id)
      : rtwin::CDialog(template_id), sheet_(*this), placeholder_id_(placeholder_id) {}
  ~CWizardSheetDlg() override;

  void AddPage(CWizardPage &page) { sheet_.AddPage(page); }
  WizardSheet &sheet() { return sheet_; }
  bool GoNextPage() {
    sheet_.GoNextPage();
    return true;
  }
  void GoBackPage() { sheet_.GoBackPage(); }
  bool draggable() const { return draggable_; }

 protected:
  BOOL OnInitDialog() override;
  // Closes the wizard when every created page agrees.
  void OnCancel() override;
  void OnDestroy() override;
  std::optional<INT_PTR> on_message(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // PageWindows
  bool create_page_window(WizardPage &page) override;
  void place_and_show_page_window(WizardPage &page) override;
  void hide_page_window(WizardPage &page) override;
  void destroy_page_window(WizardPage &page) override;
  void set_item_caption(int id, const char *caption) override;

  WizardSheet sheet_;
  int placeholder_id_;
  bool draggable_ = false;
  HBRUSH background_ = nullptr;
};

}  // namespace tunmira
