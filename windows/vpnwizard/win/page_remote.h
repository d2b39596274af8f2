// The wizard page on which the user enters both routers, their web logins, the tunnel name and the
// pre-shared key (template 343, skin section "PageRemote"). Next checks the fields, reads both
// routers in workers and decides whether the tunnel can be built.
#pragma once

#include <windows.h>

#include <array>
#include <optional>
#include <string>

#include "remote_entry.h"
#include "router_threads.h"
#include "skinned_items.h"
#include "wizard_page.h"

namespace tunmira {

// Control ids of template 343.
enum PageRemoteControl : int {
  kIdcRouter1User = 1100,
  kIdcRouter1Password = 1101,
  kIdcRouter2User = 1102,
  kIdcRouter2Password = 1103,
  kIdcTunnelName = 1104,
  kIdcPresharedKey = 1105,
  kIdcRouter1Octet1 = 1110,  // ... 1113
  kIdcRouter2Octet1 = 1120,  // ... 1123
  kIdcRouter1DnsName = 1114,
  kIdcRouter2DnsName = 1124,
  kIdcRouter1ByAddress = 1130,
  kIdcRouter1ByName = 1131,
  kIdcRouter2ByAddress = 1132,
  kIdcRouter2ByName = 1133,
  kIdcRouter1Label = 1140,  // Router 1's address row caption
  kIdcErrorLabel1 = 1150,   // ... 1159: "LabelErr1" to "LabelErr10"
  kIdcLabel0 = 1160,        // ... 1166: "Label0" to "Label6"
};

class CSkinLabel;

class CPageRemote : public CWizardPage, private RemotePageHost {
 public:
  CPageRemote();
  ~CPageRemote() override;

 protected:
  BOOL OnInitDialog() override;
  void OnSetActive() override;
  int OnWizardBack() override;
  int OnWizardNext() override;
  bool OnCommand(int id, int code) override;
  std::optional<INT_PTR> on_message(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // RemotePageHost
  std::string text(std::string_view key) const override;
  RemoteInputs read_inputs() override;
  void ShowFieldErrors(const FieldErrors &errors) override;
  void show_message(const std::string &text) override;
  std::optional<std::string> default_gateway() override;
  bool read_router(RouterId id) override;

  void show_rows_for_mode();
  void apply_router1_choice(int by_name);
  void apply_router2_choice(int by_name);

  SkinnedItems items_;
  std::array<CSkinLabel *, kFieldSlotCount> error_labels_{};
  WorkerJob job_;
  HBRUSH choice_brush_ = nullptr;
};

}  // namespace tunmira
