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

int ChoiceIndex(int id) {
  return id == IDC_CHOICE_LOCAL ? 0 : 1;
}

std::string LanText(const RouterSettings &router) {
  return router.lanAddress + "/" + router.subnetMask;
}

std::string PromptLog() {
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

void ShowWizardMessage(HWND owner, const std::string &text) {
  // Automated runs see the text in the prompt log instead of a dialog that waits for a click.
  if (!PromptLog().empty()) {
    rtwin::MessageBoxText(owner, text, "", MB_OK);
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
    DisplayScale scale = PageScale(rect.right - rect.left, rect.bottom - rect.top);
    PageScaleX = scale.x;
    PageScaleY = scale.y;
  }
  CWizardApp &app = TheApp();
  app.skin().SetSkinFile(CurrentLanguageFile);
  items_.SetDialog(hwnd());
  items_.Bitmap("Welcome00", "Background", IDC_BACKGROUND);
  items_.Label("Welcome00", "Label1", IDC_LABEL1);
  items_.Label("Welcome00", "Label2", IDC_LABEL2);
  items_.Button("Welcome00", "start", IDC_START);
  app.skin().SetSkinFile("English.ini");
  const std::string &folder = app.programFolder();
  app.documents() = {folder + "Manual\\HBX7300NQ.pdf", folder + "Upgrade\\PDK31TY_EN.lang",
                     folder + "License\\License_EN.rtf"};
  LoadMessageTexts(app.host(), MessageTexts, CurrentLanguageFile);
  return TRUE;
}

bool CWelcome00Page::OnCommand(int id, int code) {
  if (id != IDC_START || code != BN_CLICKED) return false;
  PostWizardCommand(0, 200);
  return true;
}

BOOL CWelcome01Page::OnInitDialog() {
  CWizardPage::OnInitDialog();
  items_.SetDialog(hwnd());
  items_.Bitmap("Welcome01", "Background", IDC_BACKGROUND);
  items_.Bitmap("Welcome01", "MyICON", IDC_MYICON);
  items_.Label("Welcome01", "Label1", IDC_LABEL1);
  items_.Label("Welcome01", "Label2", IDC_LABEL2);
  return TRUE;
}

BOOL CWelcome10Page::OnInitDialog() {
  CWizardPage::OnInitDialog();
  items_.SetDialog(hwnd());
  items_.Bitmap("Welcome10", "Background", IDC_BACKGROUND);
  items_.Label("Welcome10", "Label1", IDC_LABEL1);
  for (int i = 0; i < 2; ++i) choiceBrushes_[i] = CreateSolidBrush(kChoiceBackgrounds[i]);
  CheckRadioButton(hwnd(), IDC_CHOICE_LOCAL, IDC_CHOICE_INTERNET,
                   WizardRouters().flags.localMode == 1 ? IDC_CHOICE_LOCAL : IDC_CHOICE_INTERNET);
  ShowModePicture();
  return TRUE;
}

void CWelcome10Page::ShowModePicture() {
  bool local = WizardRouters().flags.localMode == 1;
  ShowItem(IDC_PICTURE_LOCAL, local);
  ShowItem(IDC_PICTURE_INTERNET, !local);
}

bool CWelcome10Page::OnCommand(int id, int code) {
  if ((id != IDC_CHOICE_LOCAL && id != IDC_CHOICE_INTERNET) || code != BN_CLICKED) return false;
  ChooseLocalMode(WizardRouters().flags, id == IDC_CHOICE_LOCAL);
  ShowModePicture();
  return true;
}

std::optional<INT_PTR> CWelcome10Page::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CTLCOLORBTN || message == WM_CTLCOLORSTATIC) {
    int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
    if (id == IDC_CHOICE_LOCAL || id == IDC_CHOICE_INTERNET) {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kChoiceText);
      SetBkColor(dc, kChoiceBackgrounds[ChoiceIndex(id)]);
      return reinterpret_cast<INT_PTR>(choiceBrushes_[ChoiceIndex(id)]);
    }
  }
  if (message == WM_DESTROY)
    for (HBRUSH &brush : choiceBrushes_) {
      if (brush) DeleteObject(brush);
      brush = nullptr;
    }
  return CWizardPage::OnMessage(message, wParam, lParam);
}

CWelcome16Page::~CWelcome16Page() = default;

BOOL CWelcome16Page::OnInitDialog() {
  CWizardPage::OnInitDialog();
  SetBackgroundColour(0xF5F5F5);
  BuildSummary();
  return TRUE;
}

void CWelcome16Page::BuildSummary() {
  const RouterWork &work = WizardRouters();
  const AddressingFlags &flags = work.flags;
  items_.SetDialog(hwnd());
  items_.Bitmap("Welcome16", "Background", IDC_BACKGROUND);
  items_.Button("Welcome16", "ClickButton", IDC_CLICK_BUTTON);
  const std::string labels[] = {"Label01",  "Label02",
                                "Label11",  "Label21",
                                "Label31",  flags.router2ByName == 1 ? "Label41_DNS" : "Label41",
                                "Label71",  flags.router1ByName == 1 ? "Label81_DNS" : "Label81",
                                "Label101", "Label61"};
  int id = IDC_SUMMARY_LABEL_FIRST;
  for (const std::string &label : labels) items_.Label("Welcome16", label, id++);

  const TunnelPlan &plan = work.plan;
  SetItemText(IDC_VALUE_TUNNEL_NAME, plan.tunnelName);
  SetItemText(IDC_VALUE_MODE, "MainMode");
  auto routerRow = [&](int byName, const RouterSettings &router, int caption, int address, int lan) {
    SetItemText(caption, byName == 1 ? "IP by DNS Resolved" : "IP-ADDRESS");
    SetItemText(address, byName == 1 ? router.dnsName : router.wanAddress);
    SetItemText(lan, LanText(router));
  };
  routerRow(flags.router1ByName, plan.router1, IDC_VALUE_ROUTER1_CAPTION, IDC_VALUE_ROUTER1_ADDRESS,
            IDC_VALUE_ROUTER1_LAN);
  routerRow(flags.router2ByName, plan.router2, IDC_VALUE_ROUTER2_CAPTION, IDC_VALUE_ROUTER2_ADDRESS,
            IDC_VALUE_ROUTER2_LAN);
  results_ = {};
}

bool CWelcome16Page::OnCommand(int id, int code) {
  if (id != IDC_CLICK_BUTTON || code != BN_CLICKED) return false;
  CWelcome17Page explanation;
  explanation.SetParentWindow(hwnd());
  explanation.DoModal();
  return true;
}

int CWelcome16Page::PostTunnel(RouterId router) {
  RouterWork &work = WizardRouters();
  WorkerJob job;
  job.work = &work;
  job.router = router;
  int index = router == RouterId::Router1 ? 0 : 1;
  work.postResults[index] = 0;
  if (!RunWorker(PostTunnelThread, job, router == RouterId::Router1 ? 4 : 5, ProgressShower(hwnd())))
    return 0;
  return work.postResults[index];
}

void CWelcome16Page::Connect() {
  RouterWork &work = WizardRouters();
  WorkerJob job;
  job.work = &work;
  work.connectResult = 0;
  RunWorker(ConnectThread, job, 6, ProgressShower(hwnd()));
}

void CWelcome16Page::ShowConfigureMessage(ConfigureMessage message) {
  std::size_t index = message == ConfigureMessage::kConfigure1   ? kMsgConfigure1
                      : message == ConfigureMessage::kConfigure2 ? kMsgConfigure2
                                                                 : kMsgConfigure3;
  ShowWizardMessage(hwnd(), MessageTexts[index]);
}

void CWelcome16Page::ShowMistake() {
  rtwin::MessageBoxText(hwnd(), "Maybe make a mistake.", "", MB_OK);
}

BOOL CWelcome17Page::OnInitDialog() {
  CWizardPage::OnInitDialog();
  items_.SetDialog(hwnd());
  items_.Bitmap("Welcome17", "Background", IDC_BACKGROUND);
  items_.Button("Welcome17", "Close", IDOK);
  int id = IDC_EXPLAIN_LABEL_FIRST;
  for (int row = 1; row <= 8; ++row)
    for (int column = 1; column <= 2; ++column) {
      std::string name = row == 1 ? "Label0" + std::to_string(column)
                                  : "Label" + std::to_string(row - 1) + std::to_string(column);
      items_.Label("Welcome17", name, id++);
    }
  UpdateWindowRegion(hwnd());
  return TRUE;
}

std::optional<INT_PTR> CWelcome17Page::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SIZE) UpdateWindowRegion(hwnd());
  return CWizardPage::OnMessage(message, wParam, lParam);
}

BOOL CWelcome30Page::OnInitDialog() {
  CWizardPage::OnInitDialog();
  items_.SetDialog(hwnd());
  items_.Bitmap("Welcome30", "Background", IDC_BACKGROUND);
  bool connected = WizardRouters().connectResult == 1;
  items_.Label("Welcome30", connected ? "Label1" : "Label1_f", IDC_LABEL1);
  items_.Label("Welcome30", connected ? "Label2" : "Label2_f", IDC_LABEL2);
  return TRUE;
}

BOOL CMessageDlg::OnInitDialog() {
  items_.SetDialog(hwnd());
  items_.Bitmap("messagefindfail", "Background", IDC_BACKGROUND);
  if (CSkinLabel *label = items_.Label("messagefindfail", "Label1", IDC_LABEL1))
    label->SetText(text_);
  else
    SetItemText(IDC_LABEL1, text_);
  items_.Button("messagefindfail", "Continue", IDOK);
  return TRUE;
}

}  // namespace tunmira
