#include "remote_entry.h"

#include <algorithm>
#include <cstdint>

#include "text_checks.h"

namespace tunmira {

namespace {

constexpr std::array<std::string_view, kFieldSlotCount> kFieldMessages = {
    "MSG_INVALIDUSERNAME",   "MSG_INVALIDPASSWORD", "MSG_INVALIDUSERNAME", "MSG_INVALIDPASSWORD",
    "MSG_INVALIDTUNNELNAME", "MSG_INVALIDKEY",      "MSG_INVALIDADDRESS",  "MSG_INVALIDADDRESS",
    "MSG_INVALID",           "MSG_INVALID"};

constexpr std::string_view kAuthorisationFailure = "MSG_AUTHERISEFAILURE";
constexpr std::string_view kTunnelNameExists = "MSG_TUNNELNAMEEXIST";

void Refuse(FieldErrors &errors, FieldSlot slot, bool refused) {
  if (refused) errors.flags[slot] = 1;
}

void Mark(FieldErrors &errors, FieldSlot slot, std::string_view key) {
  errors.flags[slot] = 1;
  errors.messageKeys[slot] = key;
}

bool OctetsValid(const Octets &octets) {
  return AreValidOctets(octets[0], octets[1], octets[2], octets[3]) == 1;
}

// A router given by address gets the typed octets as its WAN address; by name, its DNS name.
void CheckRouterAddress(int byName, const Octets &octets, const std::string &dnsName, RouterSettings &router,
                        FieldErrors &errors, FieldSlot addressSlot, FieldSlot nameSlot) {
  if (byName == 1) {
    Refuse(errors, nameSlot, IsNotEmpty(dnsName) == 0);
    return;
  }
  router.wanOctets = octets;
  if (!OctetsValid(octets)) {
    errors.flags[addressSlot] = 1;
    return;
  }
  router.wanAddress = JoinOctets(octets);
}

std::array<std::uint8_t, 4> OctetValues(const Octets &octets) {
  std::array<std::uint8_t, 4> values{};
  for (std::size_t i = 0; i < 4; ++i) {
    values[i] = static_cast<std::uint8_t>(std::min<std::uint32_t>(ReadDecimalDigits(octets[i]), 255));
  }
  return values;
}

// The summary page is shown next: a fresh configure phase on step 5.
int GoToSummary(RemoteState &state) {
  state.configurePhase = 0;
  state.wizardStep = 5;
  return kSummaryPageTemplate;
}

}  // namespace

bool FieldErrors::Any() const {
  return std::any_of(flags.begin(), flags.end(), [](int flag) { return flag != 0; });
}

FieldErrors ClearedFieldErrors() {
  FieldErrors errors;
  errors.messageKeys = kFieldMessages;
  return errors;
}

std::string JoinOctets(const Octets &octets) {
  return octets[0] + "." + octets[1] + "." + octets[2] + "." + octets[3];
}

bool SplitAddress(std::string_view address, Octets &octets) {
  Octets pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t dot = i < 3 ? address.find('.', start) : address.size();
    if (dot == std::string_view::npos) return false;
    pieces[i] = std::string(address.substr(start, dot - start));
    start = dot + 1;
  }
  if (pieces[3].find('.') != std::string::npos) return false;
  octets = pieces;
  return true;
}

FieldErrors ValidateFields(const RemoteInputs &inputs, const AddressingFlags &flags, TunnelPlan &plan) {
  FieldErrors errors = ClearedFieldErrors();
  plan.router1.user = inputs.router1User;
  plan.router1.password = inputs.router1Password;
  plan.router2.user = inputs.router2User;
  plan.router2.password = inputs.router2Password;
  plan.tunnelName = inputs.tunnelName;
  plan.presharedKey = inputs.presharedKey;
  plan.router1.dnsName = inputs.router1DnsName;
  plan.router2.dnsName = inputs.router2DnsName;

  // Passwords may be empty: a router may have none.
  Refuse(errors, kErrRouter1User, IsNotEmpty(inputs.router1User) == 0);
  Refuse(errors, kErrRouter2User, IsNotEmpty(inputs.router2User) == 0);
  Refuse(errors, kErrTunnelName, IsValidName(inputs.tunnelName) == 0);
  Refuse(errors, kErrPresharedKey, IsNotEmpty(inputs.presharedKey) == 0);
  if (flags.localMode == 0) {
    CheckRouterAddress(flags.router1ByName, inputs.router1Octets, inputs.router1DnsName, plan.router1, errors,
                       kErrRouter1Address, kErrRouter1DnsName);
  }
  CheckRouterAddress(flags.router2ByName, inputs.router2Octets, inputs.router2DnsName, plan.router2, errors,
                     kErrRouter2Address, kErrRouter2DnsName);
  return errors;
}

ReadJudgement CheckReadResults(int router1Result, int router2Result, int localMode, FieldErrors &errors,
                               const MessageSource &messages) {
  ReadJudgement judgement;
  std::string full;
  if (router1Result == kReadRefused) {
    Mark(errors, kErrRouter1User, kAuthorisationFailure);
    Mark(errors, kErrRouter1Password, kAuthorisationFailure);
  } else if (router1Result == kReadTunnelNameUsed) {
    Mark(errors, kErrTunnelName, kTunnelNameExists);
  } else if (router1Result == kReadTunnelsFull) {
    full += messages.Text("MSG_TUNNELFULL1");
  }
  if (router2Result == kReadRefused || router2Result == kReadNoWanAddress) {
    Mark(errors, kErrRouter2User, kAuthorisationFailure);
    Mark(errors, kErrRouter2Password, kAuthorisationFailure);
  } else if (router2Result == kReadTunnelNameUsed) {
    Mark(errors, kErrTunnelName, kTunnelNameExists);
  } else if (router2Result == kReadTunnelsFull) {
    full += messages.Text("MSG_TUNNELFULL2");
  }
  if (!full.empty()) judgement.dialogs.push_back(full);

  if (router1Result == kReadUnreachable) {
    if (router2Result == kReadUnreachable) {
      judgement.dialogs.push_back(messages.Text("MSG_FINDFAIL4"));
    } else {
      judgement.dialogs.push_back(messages.Text(localMode == 1 ? "MSG_FINDFAIL1" : "MSG_FINDFAIL2"));
    }
  } else if (router2Result == kReadUnreachable) {
    judgement.dialogs.push_back(messages.Text("MSG_FINDFAIL3"));
  }
  judgement.success = router1Result == kReadOk && router2Result == kReadOk;
  return judgement;
}

std::optional<std::string> TunnelTo(const TunnelStatusTable &table, int count, std::string_view remoteWan) {
  const int rows = std::clamp(count, 0, static_cast<int>(table.size()));
  for (int i = 0; i < rows; ++i) {
    if (table[static_cast<std::size_t>(i)].remoteGateway == remoteWan)
      return table[static_cast<std::size_t>(i)].name;
  }
  return std::nullopt;
}

std::string ExistingTunnelMessage(const TunnelPlan &plan, const RouterReadState &router1,
                                  const RouterReadState &router2, const MessageSource &messages) {
  const auto fromRouter1 = TunnelTo(router1.status, router1.tunnelCount, plan.router2.wanAddress);
  const auto fromRouter2 = TunnelTo(router2.status, router2.tunnelCount, plan.router1.wanAddress);
  if (!fromRouter1 && !fromRouter2) return {};
  std::string text = messages.Text("MSG_TUNNELNAME0");
  if (fromRouter1) text += " " + messages.Text("MSG_TUNNELNAME1") + " " + *fromRouter1 + ". ";
  if (fromRouter2) text += " " + *fromRouter2 + " " + messages.Text("MSG_TUNNELNAME2") + ". ";
  text += messages.Text("MSG_TUNNELNAME3");
  return text;
}

bool IsGatewayAddress(std::string_view gateway) {
  return !gateway.empty() && gateway != "0.0.0.0";
}

std::string AdapterChoiceName(std::string_view description) {
  const std::size_t dash = description.rfind('-');
  return std::string(dash == std::string_view::npos ? description : description.substr(0, dash));
}

std::optional<std::string> ChooseDefaultGateway(const std::vector<AdapterGateway> &adapters,
                                                const AdapterChooser &chooser) {
  if (adapters.empty()) return std::nullopt;
  if (adapters.size() == 1) return adapters.front().gateway;
  std::vector<std::string> names;
  names.reserve(adapters.size());
  for (const AdapterGateway &adapter : adapters) names.push_back(AdapterChoiceName(adapter.description));
  const std::optional<int> choice = chooser(names);
  if (!choice) return std::string();
  if (*choice < 0 || static_cast<std::size_t>(*choice) >= adapters.size()) return std::nullopt;
  return adapters[static_cast<std::size_t>(*choice)].gateway;
}

int RemoteWizardNext(RemotePageHost &host, RemoteState &state) {
  state.plan.router1.port = RouterPort(state.flags, RouterId::Router1);
  state.plan.router2.port = RouterPort(state.flags, RouterId::Router2);
  for (RouterReadState &router : state.routers) router.result = kReadOk;

  FieldErrors errors = ValidateFields(host.ReadInputs(), state.flags, state.plan);
  host.ShowFieldErrors(errors);
  if (errors.Any()) return -1;

  if (state.flags.localMode == 1) {
    const std::optional<std::string> gateway = host.DefaultGateway();
    if (!gateway) {
      host.ShowMessage(host.Text("MSG_FINDFAIL1"));
      return -1;
    }
    state.plan.router1.lanAddress = *gateway;
    // An empty choice (the user cancelled the adapter choice) leaves empty octets, which no read
    // can reach.
    if (!SplitAddress(*gateway, state.plan.router1.lanOctets)) state.plan.router1.lanOctets = Octets{};
  }

  if (!host.ReadRouter(RouterId::Router1) || !host.ReadRouter(RouterId::Router2)) return -1;

  const ReadJudgement judgement =
      CheckReadResults(state.routers[0].result, state.routers[1].result, state.flags.localMode, errors, host);
  for (const std::string &text : judgement.dialogs) host.ShowMessage(text);
  if (!judgement.success) {
    host.ShowFieldErrors(errors);
    return -1;
  }

  const TunnelPlan &plan = state.plan;
  if (SameSubnet(OctetValues(plan.router1.lanOctets), OctetValues(plan.router1.maskOctets),
                 OctetValues(plan.router2.lanOctets), OctetValues(plan.router2.maskOctets)) == 1) {
    host.ShowMessage(host.Text("MSG_SMAEDOMAIN"));
    return -1;
  }

  const std::string existing = ExistingTunnelMessage(plan, state.routers[0], state.routers[1], host);
  if (!existing.empty()) {
    host.ShowMessage(existing);
    return -1;
  }
  return GoToSummary(state);
}

}  // namespace tunmira
