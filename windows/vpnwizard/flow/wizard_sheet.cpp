#include "wizard_sheet.h"

namespace tunmira {

WizardPage *WizardSheet::FindActivePage() const {
  for (WizardPage *page : pages_)
    if (page->active_) return page;
  return nullptr;
}

WizardPage *WizardSheet::FindPageById(int id) const {
  for (WizardPage *page : pages_)
    if (page->template_id_ == id) return page;
  return nullptr;
}

int WizardSheet::PageIndex(const WizardPage *page) const {
  for (std::size_t i = 0; i < pages_.size(); ++i)
    if (pages_[i] == page) return static_cast<int>(i);
  return -1;
}

bool WizardSheet::ShowPage(WizardPage &page) {
  if (!page.created_) {
    if (!windows_.create_page_window(page)) return false;
    page.created_ = true;
    page.sheet_ = this;
    if (!page.OnPageCreated()) return false;
  }
  if (!HideActivePage()) return false;
  windows_.place_and_show_page_window(page);
  page.OnSetActive();
  page.active_ = true;
  return true;
}

bool WizardSheet::HideActivePage() {
  WizardPage *active = FindActivePage();
  if (active == nullptr) return true;
  if (!active->OnKillActive()) return false;
  windows_.hide_page_window(*active);
  active->active_ = false;
  return true;
}

bool WizardSheet::ShowFirstPage() {
  if (!HideActivePage()) return false;
  windows_.set_item_caption(kSheetNextButton, "Setup");
  windows_.set_item_caption(kSheetBackButton, "Install");
  return !pages_.empty() && ShowPage(*pages_.front());
}

void WizardSheet::move(WizardPage &from, int answer, int neighbour_offset) {
  if (answer == kStayOnPage) return;
  WizardPage *to = nullptr;
  if (answer == kListNeighbour) {
    int index = PageIndex(&from) + neighbour_offset;
    if (index >= 0 && index < static_cast<int>(pages_.size())) to = pages_[static_cast<std::size_t>(index)];
  } else {
    to = FindPageById(answer);
  }
  if (to != nullptr) ShowPage(*to);
}

void WizardSheet::GoNextPage() {
  WizardPage *active = FindActivePage();
  if (active == nullptr) return;
  move(*active, active->OnWizardNext(), +1);
}

void WizardSheet::GoBackPage() {
  WizardState &state = the_wizard_state();
  WizardPage *active = FindActivePage();
  if (active == nullptr) return;
  state.WizardStep = PageIndex(active);
  if (state.WizardStep == 0) return;
  move(*active, active->OnWizardBack(), -1);
}

void WizardSheet::destroy_pages() {
  for (WizardPage *page : pages_) {
    if (!page->created_ || !page->OnKillActive()) continue;
    page->OnPageDestroy();
    windows_.destroy_page_window(*page);
    page->created_ = false;
    page->active_ = false;
  }
}

bool WizardSheet::query_cancel() const {
  for (WizardPage *page : pages_)
    if (page->created_ && !page->OnQueryCancel()) return false;
  return true;
}

}  // namespace tunmira
