// The wizard's pages other than the router entry page, and its modal message dialog.
#pragma once

#include <windows.h>

#include <string>

#include "page_flow.h"
#include "skinned_items.h"
#include "wizard_page.h"

namespace tunmira {

class CWelcome00Page : public CWizardPage {
 public:
  CWelcome00Page() : CWizardPage(kWelcome00Id) {}

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
  int OnWizardNext() override { return welcome00_next(); }

 private:
  SkinnedItems items_;
};

class CWelcome01Page : public CWizardPage {
 public:
  CWelcome01Page() : CWizardPage(kWelcome01Id) {}

 protected:
  BOOL OnInitDialog() override;
  int OnWizardNext() override { return welcome01_next(); }
  int OnWizardBack() override { return welcome01_back(); }

 private:
  SkinnedItems items_;
};

class CWelcome10Page : public CWizardPage {
 public:
  CWelcome10Page() : CWizardPage(kWelcome10Id) {}

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
  std::optional<INT_PTR> on_message(UINT message, WPARAM wParam, LPARAM lParam) override;
  int OnWizardNext() override { return welcome10_next(); }
  int OnWizardBack() override { return welcome10_back(); }

 private:
  void show_mode_picture();
  SkinnedItems items_;
  HBRUSH choice_brushes_[2] = {nullptr, nullptr};
};

class CWelcome16Page : public CWizardPage, private ConfigureActions {
 public:
  CWelcome16Page() : CWizardPage(kWelcome16Id) {}
  ~CWelcome16Page() override;

 protected:
  BOOL OnInitDialog() override;
  void OnSetActive() override;
  bool OnCommand(int id, int code) override;
  int OnWizardNext() override { return welcome16_next(results_, *this); }
  int OnWizardBack() override { return welcome16_back(*this); }

 private:
  // The skin items, once; the values are shown by OnSetActive.
  void dress();
  // ConfigureActions
  PostOutcome post_tunnel(RouterId router) override;
  void connect() override;
  void show_configure_message(ConfigureMessage message) override;
  void show_mistake() override;

  SkinnedItems items_;
  PostResults results_;
  // The address-row captions and the skin items they are dressed from.
  CSkinLabel *router1_caption_ = nullptr;
  CSkinLabel *router2_caption_ = nullptr;
  std::string router1_caption_item_;
  std::string router2_caption_item_;
};

// The explanation dialog: modal from the summary's button, and a page of the list.
class CWelcome17Page : public CWizardPage {
 public:
  CWelcome17Page() : CWizardPage(kWelcome17Id) {}

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override { EndDialog(IDOK); }
  std::optional<INT_PTR> on_message(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  SkinnedItems items_;
};

class CWelcome30Page : public CWizardPage {
 public:
  CWelcome30Page() : CWizardPage(kWelcome30Id) {}

 protected:
  BOOL OnInitDialog() override;

 private:
  SkinnedItems items_;
};

// The wizard's message dialog: the caller sets the text, then runs it modally.
class CMessageDlg : public rtwin::CDialog {
 public:
  explicit CMessageDlg(HWND owner) : rtwin::CDialog(151, owner) {}
  void SetText(const std::string &text) { text_ = text; }

 protected:
  BOOL OnInitDialog() override;

 private:
  std::string text_;
  SkinnedItems items_;
};

// Shows a message in the wizard's message dialog (logged instead under the prompt switch).
void show_wizard_message(HWND owner, const std::string &text);

// The window region of the wizard's windows: a rounded rectangle over the whole window.
void UpdateWindowRegion(HWND window);

}  // namespace tunmira
