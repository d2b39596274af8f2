#include "wizard_pages.h"

#include "language.h"
#include "main_dialog.h"
#include "prompts.h"
#include "resource.h"
#include "router_threads.h"
#include "skin_values.h"
#include "wizard_app.h"

namespace tunmira {
namespace {

constexpr COLORREF kChoiceText = 0xC1804E;
constexpr COLORREF kChoiceBackgrounds[2] = {0xF9F8F9, 0xF4F4F4};

int choice_index(int id) {
  return id == IDC_CHOICE_LOCAL ? 0 : 1;
}

std::string lan_text(const RouterSettings &router) {
  return router.lan_address + "/" + router.subnet_mask;
}

std::string prompt_log() {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("RT_PROMPT_LOG", path, sizeof path);
  return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

}  // namespace

void UpdateWindowRegion(HWND window) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return;
  HRGN region = CreateRoundRectRgn(0, 0, rect.right - rect.left, rect.bottom - rect.top, 20, 20);
  // The system owns the region from here and deletes the one it replaces.
  if (region && !SetWindowRgn(window, region, TRUE)) DeleteObject(region);
}

void show_wizard_message(HWND owner, const std::string &text) {
  // Automated runs see the text in the prompt log instead of a dialog that waits for a click.
  if (!prompt_log().empty()) {
    rtwin::message_box_text(owner, text, "", MB_OK);
    return;
  }
  CMessageDlg dialog(owner);
  dialog.SetText(text);
  dialog.DoModal();
}

BOOL CWelcome00Page::OnInitDialog() {
  CWizardPage::OnInitDialog();
  if (DisplayScaled) {
    RECT rect;
    GetWindowRect(hwnd(), &rect);
    DisplayScale scale = page_scale(rect.right - rect.left, rect.bottom - rect.top);
    PageScaleX = scale.x;
    PageScaleY = scale.y;
  }
  CWizardApp &app = the_app();
  app.skin().SetSkinFile(CurrentLanguageFile);
  items_.set_dialog(hwnd());
  items_.bitmap("Welcome00", "Background", IDC_BACKGROUND);
  items_.label("Welcome00", "Label1", IDC_LABEL1);
  items_.label("Welcome00", "Label2", IDC_LABEL2);
  items_.button("Welcome00", "start", IDC_START);
  app.skin().SetSkinFile("English.ini");
  const std::string &folder = app.program_folder();
  app.documents() = {folder + "Manual\\HBX7300NQ.pdf", folder + "Upgrade\\PDK31TY_EN.lang",
                     folder + "License\\License_EN.rtf"};
  LoadMessageTexts(app.host(), MessageTexts, CurrentLanguageFile);
  return TRUE;
}

bool CWelcome00Page::OnCommand(int id, int code) {
  if (id != IDC_START || code != BN_CLICKED) return false;
  post_wizard_command(0, 200);
  return true;
}

BOOL CWelcome01Page::OnInitDialog() {
  CWizardPage::OnInitDialog();
  items_.set_dialog(hwnd());
  items_.bitmap("Welcome01", "Background", IDC_BACKGROUND);
  items_.bitmap("Welcome01", "MyICON", IDC_MYICON);
  items_.label("Welcome01", "Label1", IDC_LABEL1);
  items_.label("Welcome01", "Label2", IDC_LABEL2);
  return TRUE;
}

BOOL CWelcome10Page::OnInitDialog() {
  CWizardPage::OnInitDialog();
  items_.set_dialog(hwnd());
  items_.bitmap("Welcome10", "Background", IDC_BACKGROUND);
  items_.label("Welcome10", "Label1", IDC_LABEL1);
  for (int i = 0; i < 2; ++i) choice_brushes_[i] = CreateSolidBrush(kChoiceBackgrounds[i]);
  CheckRadioButton(hwnd(), IDC_CHOICE_LOCAL, IDC_CHOICE_INTERNET,
                   wizard_routers().flags.LocalMode == 1 ? IDC_CHOICE_LOCAL : IDC_CHOICE_INTERNET);
  show_mode_picture();
  return TRUE;
}

void CWelcome10Page::show_mode_picture() {
  bool local = wizard_routers().flags.LocalMode == 1;
  show_item(IDC_PICTURE_LOCAL, local);
  show_item(IDC_PICTURE_INTERNET, !local);
}

bool CWelcome10Page::OnCommand(int id, int code) {
  if ((id != IDC_CHOICE_LOCAL && id != IDC_CHOICE_INTERNET) || code != BN_CLICKED) return false;
  choose_local_mode(wizard_routers().flags, id == IDC_CHOICE_LOCAL);
  show_mode_picture();
  return true;
}

std::optional<INT_PTR> CWelcome10Page::on_message(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CTLCOLORBTN || message == WM_CTLCOLORSTATIC) {
    int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
    if (id == IDC_CHOICE_LOCAL || id == IDC_CHOICE_INTERNET) {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kChoiceText);
      SetBkColor(dc, kChoiceBackgrounds[choice_index(id)]);
      return reinterpret_cast<INT_PTR>(choice_brushes_[choice_index(id)]);
    }
  }
  if (message == WM_DESTROY)
    for (HBRUSH &brush : choice_brushes_) {
      if (brush) DeleteObject(brush);
      brush = nullptr;
    }
  return CWizardPage::on_message(message, wParam, lParam);
}

CWelcome16Page::~CWelcome16Page() = default;

BOOL CWelcome16Page::OnInitDialog() {
  CWizardPage::OnInitDialog();
  set_background_colour(0xF5F5F5);
  dress();
  return TRUE;
}

// The captions of the routers' address rows name how each router is given, which the user may change
// after Back; they are dressed with the values.
namespace {
const char *router2_address_caption(const AddressingFlags &flags) {
  return flags.Router2ByName == 1 ? "Label41_DNS" : "Label41";
}
const char *router1_address_caption(const AddressingFlags &flags) {
  return flags.Router1ByName == 1 ? "Label81_DNS" : "Label81";
}
}  // namespace

void CWelcome16Page::dress() {
  const AddressingFlags &flags = wizard_routers().flags;
  items_.set_dialog(hwnd());
  items_.bitmap("Welcome16", "Background", IDC_BACKGROUND);
  items_.button("Welcome16", "ClickButton", IDC_CLICK_BUTTON);
  router2_caption_item_ = router2_address_caption(flags);
  router1_caption_item_ = router1_address_caption(flags);
  const std::string labels[] = {"Label01",  "Label02",
                                "Label11",  "Label21",
                                "Label31",  router2_caption_item_,
                                "Label71",  router1_caption_item_,
                                "Label101", "Label61"};
  int id = IDC_SUMMARY_LABEL_FIRST;
  for (const std::string &label : labels) {
    CSkinLabel *dressed = items_.label("Welcome16", label, id++);
    if (label == router2_caption_item_) router2_caption_ = dressed;
    if (label == router1_caption_item_) router1_caption_ = dressed;
  }
}

// Built each time the page is shown: after Back the user may have changed any value, and what is
// shown here is what Go posts.
void CWelcome16Page::OnSetActive() {
  const RouterWork &work = wizard_routers();
  const AddressingFlags &flags = work.flags;
  auto redress = [&](CSkinLabel *caption, std::string &dressed_as, const char *item) {
    if (caption == nullptr || dressed_as == item) return;
    items_.reload(caption, "Welcome16", item);
    dressed_as = item;
  };
  redress(router2_caption_, router2_caption_item_, router2_address_caption(flags));
  redress(router1_caption_, router1_caption_item_, router1_address_caption(flags));

  const TunnelPlan &plan = work.plan;
  set_item_text(IDC_VALUE_TUNNEL_NAME, plan.tunnel_name);
  set_item_text(IDC_VALUE_MODE, "MainMode");
  auto router_row = [&](int by_name, const RouterSettings &router, int caption, int address, int lan) {
    set_item_text(caption, by_name == 1 ? "IP by DNS Resolved" : "IP-ADDRESS");
    set_item_text(address, by_name == 1 ? router.dns_name : router.wan_address);
    set_item_text(lan, lan_text(router));
  };
  router_row(flags.Router1ByName, plan.router1, IDC_VALUE_ROUTER1_CAPTION, IDC_VALUE_ROUTER1_ADDRESS,
             IDC_VALUE_ROUTER1_LAN);
  router_row(flags.Router2ByName, plan.router2, IDC_VALUE_ROUTER2_CAPTION, IDC_VALUE_ROUTER2_ADDRESS,
             IDC_VALUE_ROUTER2_LAN);
  results_ = {};
}

bool CWelcome16Page::OnCommand(int id, int code) {
  if (id != IDC_CLICK_BUTTON || code != BN_CLICKED) return false;
  CWelcome17Page explanation;
  explanation.set_parent_window(hwnd());
  explanation.DoModal();
  return true;
}

PostOutcome CWelcome16Page::post_tunnel(RouterId router) {
  RouterWork &work = wizard_routers();
  WorkerJob job;
  job.work = &work;
  job.router = router;
  int index = router == RouterId::kRouter1 ? 0 : 1;
  work.post_results[index] = 0;
  if (!run_worker(PostTunnelThread, job, router == RouterId::kRouter1 ? 4 : 5, progress_shower(hwnd())))
    return job.stopped ? PostOutcome::kStopped : PostOutcome::kFailed;
  return work.post_results[index] == 1 ? PostOutcome::kPosted : PostOutcome::kFailed;
}

void CWelcome16Page::connect() {
  RouterWork &work = wizard_routers();
  WorkerJob job;
  job.work = &work;
  work.connect_result = 0;
  // A stopped connect counts as not connected, whatever the worker wrote before it noticed.
  if (!run_worker(ConnectThread, job, 6, progress_shower(hwnd()))) work.connect_result = 0;
}

void CWelcome16Page::show_configure_message(ConfigureMessage message) {
  std::size_t index = message == ConfigureMessage::kConfigure1   ? kMsgConfigure1
                      : message == ConfigureMessage::kConfigure2 ? kMsgConfigure2
                                                                 : kMsgConfigure3;
  show_wizard_message(hwnd(), MessageTexts[index]);
}

void CWelcome16Page::show_mistake() {
  rtwin::message_box_text(hwnd(), "Maybe make a mistake.", "", MB_OK);
}

BOOL CWelcome17Page::OnInitDialog() {
  CWizardPage::OnInitDialog();
  items_.set_dialog(hwnd());
  items_.bitmap("Welcome17", "Background", IDC_BACKGROUND);
  items_.button("Welcome17", "Close", IDOK);
  int id = IDC_EXPLAIN_LABEL_FIRST;
  for (int row = 1; row <= 8; ++row)
    for (int column = 1; column <= 2; ++column) {
      std::string name = row == 1 ? "Label0" + std::to_string(column)
                                  : "Label" + std::to_string(row - 1) + std::to_string(column);
      items_.label("Welcome17", name, id++);
    }
  UpdateWindowRegion(hwnd());
  return TRUE;
}

std::optional<INT_PTR> CWelcome17Page::on_message(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SIZE) UpdateWindowRegion(hwnd());
  return CWizardPage::on_message(message, wParam, lParam);
}

BOOL CWelcome30Page::OnInitDialog() {
  CWizardPage::OnInitDialog();
  items_.set_dialog(hwnd());
  items_.bitmap("Welcome30", "Background", IDC_BACKGROUND);
  bool connected = wizard_routers().connect_result == 1;
  items_.label("Welcome30", connected ? "Label1" : "Label1_f", IDC_LABEL1);
  items_.label("Welcome30", connected ? "Label2" : "Label2_f", IDC_LABEL2);
  return TRUE;
}

BOOL CMessageDlg::OnInitDialog() {
  items_.set_dialog(hwnd());
  items_.bitmap("messagefindfail", "Background", IDC_BACKGROUND);
  if (CSkinLabel *label = items_.label("messagefindfail", "Label1", IDC_LABEL1))
    label->SetText(text_);
  else
    set_item_text(IDC_LABEL1, text_);
  items_.button("messagefindfail", "Continue", IDOK);
  return TRUE;
}

}  // namespace tunmira
