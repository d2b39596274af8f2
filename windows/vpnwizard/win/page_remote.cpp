#include "page_remote.h"

#include <algorithm>

#include "language.h"
#include "main_dialog.h"
#include "page_flow.h"
#include "resource.h"
#include "skin_controls.h"
#include "wizard_pages.h"

namespace tunmira {
namespace {

constexpr const char *kSection = "PageRemote";
constexpr COLORREF kChoiceBackground = RGB(0xE4, 0xE4, 0xE4);

// Edit fields and their text limits.
struct FieldLimit {
  int id;
  int limit;
};
constexpr FieldLimit kLimits[] = {
    {kIdcRouter1User, kUserNameLimit},
    {kIdcRouter2User, kUserNameLimit},
    {kIdcRouter1Password, kPasswordLimit},
    {kIdcRouter2Password, kPasswordLimit},
};

bool IsChoice(int id) {
  return id >= kIdcRouter1ByAddress && id <= kIdcRouter2ByName;
}

}  // namespace

CPageRemote::CPageRemote() : CWizardPage(kRemotePageTemplate) {}

CPageRemote::~CPageRemote() {
  if (choiceBrush_ != nullptr) ::DeleteObject(choiceBrush_);
}

BOOL CPageRemote::OnInitDialog() {
  CWizardPage::OnInitDialog();
  items_.SetDialog(hwnd());
  items_.Bitmap(kSection, "Background", IDC_BACKGROUND);
  for (int i = 0; i <= 6; ++i) items_.Label(kSection, "Label" + std::to_string(i), kIdcLabel0 + i);
  for (int i = 0; i < kFieldSlotCount; ++i) {
    errorLabels_[static_cast<std::size_t>(i)] =
        items_.Label(kSection, "LabelErr" + std::to_string(i + 1), kIdcErrorLabel1 + i);
  }
  for (const FieldLimit &field : kLimits)
    ::SendDlgItemMessageA(hwnd(), field.id, EM_LIMITTEXT, field.limit, 0);
  for (int i = 0; i < 4; ++i) {
    ::SendDlgItemMessageA(hwnd(), kIdcRouter1Octet1 + i, EM_LIMITTEXT, kOctetLimit, 0);
    ::SendDlgItemMessageA(hwnd(), kIdcRouter2Octet1 + i, EM_LIMITTEXT, kOctetLimit, 0);
  }
  choiceBrush_ = ::CreateSolidBrush(kChoiceBackground);

  AddressingFlags &flags = WizardRouters().flags;
  if (flags.localMode == 0) flags.router1ByName = 0;
  flags.router2ByName = 0;
  ShowRowsForMode();
  ApplyRouter1Choice(flags.router1ByName);
  ApplyRouter2Choice(flags.router2ByName);
  ShowFieldErrors(ClearedFieldErrors());
  return TRUE;
}

void CPageRemote::OnSetActive() {
  const AddressingFlags &flags = WizardRouters().flags;
  ShowRowsForMode();
  ApplyRouter1Choice(flags.router1ByName);
  ApplyRouter2Choice(flags.router2ByName);
}

// On Router 1's LAN the PC finds Router 1 by its gateway: its address row is not asked for.
void CPageRemote::ShowRowsForMode() {
  const bool shown = WizardRouters().flags.localMode == 0;
  for (int i = 0; i < 4; ++i) ShowItem(kIdcRouter1Octet1 + i, shown);
  for (int id : {kIdcRouter1ByAddress, kIdcRouter1ByName, kIdcRouter1DnsName, kIdcRouter1Label})
    ShowItem(id, shown);
}

void CPageRemote::ApplyRouter1Choice(int byName) {
  WizardRouters().flags.router1ByName = byName;
  ::CheckRadioButton(hwnd(), kIdcRouter1ByAddress, kIdcRouter1ByName,
                     byName == 1 ? kIdcRouter1ByName : kIdcRouter1ByAddress);
  EnableItem(kIdcRouter1DnsName, byName == 1);
  for (int i = 0; i < 4; ++i) EnableItem(kIdcRouter1Octet1 + i, byName == 0);
}

void CPageRemote::ApplyRouter2Choice(int byName) {
  WizardRouters().flags.router2ByName = byName;
  ::CheckRadioButton(hwnd(), kIdcRouter2ByAddress, kIdcRouter2ByName,
                     byName == 1 ? kIdcRouter2ByName : kIdcRouter2ByAddress);
  EnableItem(kIdcRouter2DnsName, byName == 1);
  for (int i = 0; i < 4; ++i) EnableItem(kIdcRouter2Octet1 + i, byName == 0);
}

bool CPageRemote::OnCommand(int id, int code) {
  if (!IsChoice(id) || code != BN_CLICKED) return false;
  switch (id) {
    case kIdcRouter1ByAddress:
      ApplyRouter1Choice(0);
      break;
    case kIdcRouter1ByName:
      ApplyRouter1Choice(1);
      break;
    case kIdcRouter2ByAddress:
      ApplyRouter2Choice(0);
      break;
    default:
      ApplyRouter2Choice(1);
      break;
  }
  return true;
}

std::optional<INT_PTR> CPageRemote::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CTLCOLORBTN || message == WM_CTLCOLORSTATIC) {
    if (IsChoice(::GetDlgCtrlID(reinterpret_cast<HWND>(lParam)))) {
      ::SetBkColor(reinterpret_cast<HDC>(wParam), kChoiceBackground);
      return reinterpret_cast<INT_PTR>(choiceBrush_);
    }
  }
  return CWizardPage::OnMessage(message, wParam, lParam);
}

int CPageRemote::OnWizardBack() {
  ShowFieldErrors(ClearedFieldErrors());
  return PageRemoteBack();
}

int CPageRemote::OnWizardNext() {
  RouterWork &work = WizardRouters();
  RemoteState state{work.plan, work.flags, work.routers, TheWizardState().WizardStep,
                    TheWizardState().ConfigurePhase};
  return RemoteWizardNext(*this, state);
}

std::string CPageRemote::Text(std::string_view key) const {
  const auto found = std::find(kMessageTextKeys.begin(), kMessageTextKeys.end(), key);
  if (found == kMessageTextKeys.end()) return std::string(key);
  return MessageTexts[static_cast<std::size_t>(found - kMessageTextKeys.begin())];
}

RemoteInputs CPageRemote::ReadInputs() {
  RemoteInputs inputs;
  inputs.router1User = ItemText(kIdcRouter1User);
  inputs.router1Password = ItemText(kIdcRouter1Password);
  inputs.router2User = ItemText(kIdcRouter2User);
  inputs.router2Password = ItemText(kIdcRouter2Password);
  inputs.tunnelName = ItemText(kIdcTunnelName);
  inputs.presharedKey = ItemText(kIdcPresharedKey);
  for (int i = 0; i < 4; ++i) {
    inputs.router1Octets[static_cast<std::size_t>(i)] = ItemText(kIdcRouter1Octet1 + i);
    inputs.router2Octets[static_cast<std::size_t>(i)] = ItemText(kIdcRouter2Octet1 + i);
  }
  inputs.router1DnsName = ItemText(kIdcRouter1DnsName);
  inputs.router2DnsName = ItemText(kIdcRouter2DnsName);
  return inputs;
}

void CPageRemote::ShowFieldErrors(const FieldErrors &errors) {
  for (int i = 0; i < kFieldSlotCount; ++i) {
    const std::size_t slot = static_cast<std::size_t>(i);
    const bool shown = errors.flags[slot] != 0;
    if (shown) {
      const std::string text = Text(errors.messageKeys[slot]);
      if (errorLabels_[slot] != nullptr) {
        errorLabels_[slot]->SetText(text);
      } else {
        SetItemText(kIdcErrorLabel1 + i, text);
      }
    }
    ShowItem(kIdcErrorLabel1 + i, shown);
  }
}

void CPageRemote::ShowMessage(const std::string &text) {
  ShowWizardMessage(hwnd(), text);
}

std::optional<std::string> CPageRemote::DefaultGateway() {
  return ChooseDefaultGateway(AdaptersWithGateway(),
                              [this](const std::vector<std::string> &names) -> std::optional<int> {
                                CAdapterInfoPage dialog(hwnd(), names);
                                if (dialog.DoModal() != IDOK) return std::nullopt;
                                return dialog.GetSelection();
                              });
}

bool CPageRemote::ReadRouter(RouterId id) {
  job_.work = &WizardRouters();
  job_.router = id;
  const int type = id == RouterId::Router1 ? kProgressReadRouter1 : kProgressReadRouter2;
  return RunWorker(ReadRouterInfoThread, job_, type, ProgressShower(hwnd()));
}

}  // namespace tunmira
