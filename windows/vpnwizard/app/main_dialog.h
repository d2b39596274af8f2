// The wizard's one top-level window, its CD-start page, the progress dialog shown while a router
// exchange runs, and the adapter choice dialog.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "caption_painter.h"
#include "main_flow.h"
#include "page_flow.h"
#include "router_threads.h"
#include "skinned_items.h"
#include "wizard_sheet_dlg.h"

namespace tunmira {

class CWizardMainDlg : public CWizardSheetDlg {
 public:
  CWizardMainDlg();

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
  std::optional<INT_PTR> on_message(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void LoadDialogSkin();
  void OnWizardMessage(WPARAM wParam, LPARAM lParam);
  void OnNext();
  void OnBack();
  void EnterCdStartMode();
  void apply_bar(const BarView &view);
  void set_background(const std::string &item);
  void OpenUserGuide();
  void RunReaderInstaller();
  void OpenRegistration();
  void SaveUserGuide();
  // ShellExecute "open" through the prompt switch; the shell's result.
  INT_PTR open(const std::string &target);

  SkinnedItems items_;
  CSkinBitmap *background_ = nullptr;
  CCaptionPainter caption_;
};

class CCdStartPage : public CWizardPage, private CommandPoster {
 public:
  CCdStartPage() : CWizardPage(kCdStartId) {}

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
  int OnWizardNext() override { return cd_start_next(*this); }
  int OnWizardBack() override { return cd_start_back(*this); }

 private:
  void post_wizard_command(std::intptr_t wParam, std::intptr_t lParam) override {
    CWizardPage::post_wizard_command(static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
  }
  void OnCdStart();
  SkinnedItems items_;
};

class CProgressDlg : public rtwin::CDialog {
 public:
  CProgressDlg(int type, HWND owner) : rtwin::CDialog(100, owner), type_(type), timer_(type) {}
  ~CProgressDlg() override;

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override { finish(); }
  void OnCancel() override { finish(); }
  std::optional<INT_PTR> on_message(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void show_frame(int frame);
  void Close();
  void finish();
  int type_;
  ProgressTimer timer_;
  HBRUSH brush_ = nullptr;
  SkinnedItems items_;
};

// Runs the progress dialog of a type over `owner`, for run_worker.
ProgressDialog progress_shower(HWND owner);

class CAdapterInfoPage : public rtwin::CDialog {
 public:
  CAdapterInfoPage(HWND owner, std::vector<std::string> names)
      : rtwin::CDialog(341, owner), names_(std::move(names)) {}
  int GetSelection() const { return selection_; }

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  std::optional<INT_PTR> on_message(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  std::vector<std::string> names_;
  int selection_ = 0;
  SkinnedItems items_;
};

}  // namespace tunmira
