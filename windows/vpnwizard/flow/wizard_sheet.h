// The wizard's pages and the moves between them, kept apart from the windows so the whole flow runs
// natively. The sheet dialog implements PageWindows; every page derives from WizardPage.
#pragma once

#include <vector>

#include "tunnel_plan.h"
#include "wizard_state.h"

namespace tunmira {

// Template ids of the pages, in the order the application adds them; each is also the page's identity.
enum PageId : int {
  kWelcome00Id = 312,
  kWelcome01Id = 347,
  kWelcome10Id = 313,
  kPageRemoteId = 343,
  kWelcome16Id = 330,
  kWelcome17Id = 331,
  kWelcome30Id = 334,
  kCdStartId = 310,
};

// Answers of OnWizardNext and OnWizardBack besides a template id.
inline constexpr int kStayOnPage = -1;
inline constexpr int kListNeighbour = 0;

// The step the main dialog reads to show its bar controls.
enum StepValue : int {
  kStepWelcome00 = 0,
  kStepWelcome01 = 1,
  kStepWelcome10 = 2,
  kStepRouterEntry = 4,
  kStepConfigure = 5,
  kStepConfigured = 7,
  kStepCdStart = 8,
};

class WizardSheet;

class WizardPage {
 public:
  explicit WizardPage(int template_id) : template_id_(template_id) {}
  virtual ~WizardPage() = default;
  WizardPage(const WizardPage &) = delete;
  WizardPage &operator=(const WizardPage &) = delete;

  int template_id() const { return template_id_; }
  bool created() const { return created_; }
  bool active() const { return active_; }
  WizardSheet *sheet() const { return sheet_; }

  // Called once right after the page window exists; false stops the showing.
  virtual bool OnPageCreated() { return true; }
  virtual void OnPageDestroy() {}
  // Before the page is hidden; false keeps it.
  virtual bool OnKillActive() { return true; }
  virtual void OnSetActive() {}
  // Before the wizard closes; false keeps it open.
  virtual bool OnQueryCancel() { return true; }
  // kStayOnPage, kListNeighbour or the template id of the page to show.
  virtual int OnWizardBack() { return kListNeighbour; }
  virtual int OnWizardNext() { return kListNeighbour; }

 private:
  friend class WizardSheet;
  int template_id_;
  WizardSheet *sheet_ = nullptr;
  bool created_ = false;
  bool active_ = false;
};

// The window work the sheet asks for; the dialog does it with real windows, tests record it.
class PageWindows {
 public:
  virtual ~PageWindows() = default;
  // Makes the page's window from its template as a child of the sheet; false on failure.
  virtual bool create_page_window(WizardPage &page) = 0;
  // Moves the page's top-left corner onto the placeholder, enables, shows and redraws it.
  virtual void place_and_show_page_window(WizardPage &page) = 0;
  virtual void hide_page_window(WizardPage &page) = 0;
  virtual void destroy_page_window(WizardPage &page) = 0;
  virtual void set_item_caption(int id, const char *caption) = 0;
};

// Ids of the sheet's own hidden Next and Back buttons.
inline constexpr int kSheetNextButton = 12324;
inline constexpr int kSheetBackButton = 12323;

class WizardSheet {
 public:
  explicit WizardSheet(PageWindows &windows) : windows_(windows) {}

  void AddPage(WizardPage &page) { pages_.push_back(&page); }
  const std::vector<WizardPage *> &pages() const { return pages_; }
  WizardPage *FindActivePage() const;
  WizardPage *FindPageById(int id) const;
  int PageIndex(const WizardPage *page) const;

  bool ShowPage(WizardPage &page);
  bool HideActivePage();
  bool ShowFirstPage();
  void GoNextPage();
  void GoBackPage();
  // Every created page is asked and, unless it refuses to go, destroyed.
  void destroy_pages();
  // true when every created page agrees that the wizard closes.
  bool query_cancel() const;

 private:
  void move(WizardPage &from, int answer, int neighbour_offset);
  PageWindows &windows_;
  std::vector<WizardPage *> pages_;
};

}  // namespace tunmira
