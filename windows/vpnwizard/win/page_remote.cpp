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
    {kIdcRouter1User, kUserNameLimit},     {kIdcRouter2User, kUserNameLimit},
    {kIdcRouter1Password, kPasswordLimit}, {kIdcRouter2Password, kPasswordLimit},
    {kIdcTunnelName, kTunnelNameLimit},
};

bool is_choice(int id) {
  return id >= kIdcRouter1ByAddress && id <= kIdcRouter2ByName;
}

}  // namespace

CPageRemote::CPageRemote() : CWizardPage(kRemotePageTemplate) {}

CPageRemote::~CPageRemote() {
  if (choice_brush_ != nullptr) ::DeleteObject(choice_brush_);
}

BOOL CPageRemote::OnInitDialog() {
  CWizardPage::OnInitDialog();
  items_.set_dialog(hwnd());
  items_.bitmap(kSection, "Background", IDC_BACKGROUND);
  for (int i = 0; i <= 6; ++i) items_.label(kSection, "Label" + std::to_string(i), kIdcLabel0 + i);
  for (int i = 0; i < kFieldSlotCount; ++i) {
    error_labels_[static_cast<std::size_t>(i)] =
        items_.label(kSection, "LabelErr" + std::to_string(i + 1), kIdcErrorLabel1 + i);
  }
  for (const FieldLimit &field : kLimits)
    ::SendDlgItemMessageA(hwnd(), field.id, EM_LIMITTEXT, field.limit, 0);
  for (int i = 0; i < 4; ++i) {
    ::SendDlgItemMessageA(hwnd(), kIdcRouter1Octet1 + i, EM_LIMITTEXT, kOctetLimit, 0);
    ::SendDlgItemMessageA(hwnd(), kIdcRouter2Octet1 + i, EM_LIMITTEXT, kOctetLimit, 0);
  }
  choice_brush_ = ::CreateSolidBrush(kChoiceBackground);

  AddressingFlags &flags = wizard_routers().flags;
  if (flags.LocalMode == 0) flags.Router1ByName = 0;
  flags.Router2ByName = 0;
  show_rows_for_mode();
  apply_router1_choice(flags.Router1ByName);
  apply_router2_choice(flags.Router2ByName);
  ShowFieldErrors(cleared_field_errors());
  return TRUE;
}

void CPageRemote::OnSetActive() {
  const AddressingFlags &flags = wizard_routers().flags;
  show_rows_for_mode();
  apply_router1_choice(flags.Router1ByName);
  apply_router2_choice(flags.Router2ByName);
}

// On Router 1's LAN the PC finds Router 1 by its gateway: its address row is not asked for.
void CPageRemote::show_rows_for_mode() {
  const bool shown = wizard_routers().flags.LocalMode == 0;
  for (int i = 0; i < 4; ++i) show_item(kIdcRouter1Octet1 + i, shown);
  for (int id : {kIdcRouter1ByAddress, kIdcRouter1ByName, kIdcRouter1DnsName, kIdcRouter1Label})
    show_item(id, shown);
}

void CPageRemote::apply_router1_choice(int by_name) {
  wizard_routers().flags.Router1ByName = by_name;
  ::CheckRadioButton(hwnd(), kIdcRouter1ByAddress, kIdcRouter1ByName,
                     by_name == 1 ? kIdcRouter1ByName : kIdcRouter1ByAddress);
  enable_item(kIdcRouter1DnsName, by_name == 1);
  for (int i = 0; i < 4; ++i) enable_item(kIdcRouter1Octet1 + i, by_name == 0);
}

void CPageRemote::apply_router2_choice(int by_name) {
  wizard_routers().flags.Router2ByName = by_name;
  ::CheckRadioButton(hwnd(), kIdcRouter2ByAddress, kIdcRouter2ByName,
                     by_name == 1 ? kIdcRouter2ByName : kIdcRouter2ByAddress);
  enable_item(kIdcRouter2DnsName, by_name == 1);
  for (int i = 0; i < 4; ++i) enable_item(kIdcRouter2Octet1 + i, by_name == 0);
}

bool CPageRemote::OnCommand(int id, int code) {
  if (!is_choice(id) || code != BN_CLICKED) return false;
  switch (id) {
    case kIdcRouter1ByAddress:
      apply_router1_choice(0);
      break;
    case kIdcRouter1ByName:
      apply_router1_choice(1);
      break;
    case kIdcRouter2ByAddress:
      apply_router2_choice(0);
      break;
    default:
      apply_router2_choice(1);
      break;
  }
  return true;
}

std::optional<INT_PTR> CPageRemote::on_message(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CTLCOLORBTN || message == WM_CTLCOLORSTATIC) {
    if (is_choice(::GetDlgCtrlID(reinterpret_cast<HWND>(lParam)))) {
      ::SetBkColor(reinterpret_cast<HDC>(wParam), kChoiceBackground);
      return reinterpret_cast<INT_PTR>(choice_brush_);
    }
  }
  return CWizardPage::on_message(message, wParam, lParam);
}

int CPageRemote::OnWizardBack() {
  ShowFieldErrors(cleared_field_errors());
  return page_remote_back();
}

int CPageRemote::OnWizardNext() {
  RouterWork &work = wizard_routers();
  RemoteState state{work.plan, work.flags, work.routers, the_wizard_state().WizardStep,
                    the_wizard_state().ConfigurePhase};
  return remote_wizard_next(*this, state);
}

std::string CPageRemote::text(std::string_view key) const {
  const auto found = std::find(kMessageTextKeys.begin(), kMessageTextKeys.end(), key);
  if (found == kMessageTextKeys.end()) return std::string(key);
  return MessageTexts[static_cast<std::size_t>(found - kMessageTextKeys.begin())];
}

RemoteInputs CPageRemote::read_inputs() {
  RemoteInputs inputs;
  inputs.router1_user = item_text(kIdcRouter1User);
  inputs.router1_password = item_text(kIdcRouter1Password);
  inputs.router2_user = item_text(kIdcRouter2User);
  inputs.router2_password = item_text(kIdcRouter2Password);
  inputs.tunnel_name = item_text(kIdcTunnelName);
  inputs.preshared_key = item_text(kIdcPresharedKey);
  for (int i = 0; i < 4; ++i) {
    inputs.router1_octets[static_cast<std::size_t>(i)] = item_text(kIdcRouter1Octet1 + i);
    inputs.router2_octets[static_cast<std::size_t>(i)] = item_text(kIdcRouter2Octet1 + i);
  }
  inputs.router1_dns_name = item_text(kIdcRouter1DnsName);
  inputs.router2_dns_name = item_text(kIdcRouter2DnsName);
  return inputs;
}

void CPageRemote::ShowFieldErrors(const FieldErrors &errors) {
  for (int i = 0; i < kFieldSlotCount; ++i) {
    const std::size_t slot = static_cast<std::size_t>(i);
    const bool shown = errors.flags[slot] != 0;
    if (shown) {
      const std::string message = text(errors.message_keys[slot]);
      if (error_labels_[slot] != nullptr) {
        error_labels_[slot]->SetText(message);
      } else {
        set_item_text(kIdcErrorLabel1 + i, message);
      }
    }
    show_item(kIdcErrorLabel1 + i, shown);
  }
}

void CPageRemote::show_message(const std::string &text) {
  show_wizard_message(hwnd(), text);
}

std::optional<std::string> CPageRemote::default_gateway() {
  return choose_default_gateway(adapters_with_gateway(),
                                [this](const std::vector<std::string> &names) -> std::optional<int> {
                                  CAdapterInfoPage dialog(hwnd(), names);
                                  if (dialog.DoModal() != IDOK) return std::nullopt;
                                  return dialog.GetSelection();
                                });
}

bool CPageRemote::read_router(RouterId id) {
  job_.work = &wizard_routers();
  job_.router = id;
  const int type = id == RouterId::kRouter1 ? kProgressReadRouter1 : kProgressReadRouter2;
  return run_worker(ReadRouterInfoThread, job_, type, progress_shower(hwnd()));
}

}  // namespace tunmira
