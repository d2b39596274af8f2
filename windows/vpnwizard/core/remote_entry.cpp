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

void refuse(FieldErrors &errors, FieldSlot slot, bool refused) {
  if (refused) errors.flags[slot] = 1;
}

void mark(FieldErrors &errors, FieldSlot slot, std::string_view key) {
  errors.flags[slot] = 1;
  errors.message_keys[slot] = key;
}

bool octets_valid(const Octets &octets) {
  return AreValidOctets(octets[0], octets[1], octets[2], octets[3]) == 1;
}

// A router given by address gets the typed octets as its WAN address; by name, its DNS name.
void check_router_address(int by_name, const Octets &octets, const std::string &dns_name,
                          RouterSettings &router, FieldErrors &errors, FieldSlot address_slot,
                          FieldSlot name_slot) {
  if (by_name == 1) {
    refuse(errors, name_slot, IsNotEmpty(dns_name) == 0);
    return;
  }
  router.wan_octets = octets;
  if (!octets_valid(octets)) {
    errors.flags[address_slot] = 1;
    return;
  }
  router.wan_address = join_octets(octets);
}

std::array<std::uint8_t, 4> octet_values(const Octets &octets) {
  std::array<std::uint8_t, 4> values{};
  for (std::size_t i = 0; i < 4; ++i) {
    values[i] = static_cast<std::uint8_t>(std::min<std::uint32_t>(read_decimal_digits(octets[i]), 255));
  }
  return values;
}

// The summary page is shown next: a fresh configure phase on step 5.
int go_to_summary(RemoteState &state) {
  state.configure_phase = 0;
  state.wizard_step = 5;
  return kSummaryPageTemplate;
}

}  // namespace

bool FieldErrors::any() const {
  return std::any_of(flags.begin(), flags.end(), [](int flag) { return flag != 0; });
}

FieldErrors cleared_field_errors() {
  FieldErrors errors;
  errors.message_keys = kFieldMessages;
  return errors;
}

std::string join_octets(const Octets &octets) {
  return octets[0] + "." + octets[1] + "." + octets[2] + "." + octets[3];
}

bool split_address(std::string_view address, Octets &octets) {
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
  FieldErrors errors = cleared_field_errors();
  plan.router1.user = inputs.router1_user;
  plan.router1.password = inputs.router1_password;
  plan.router2.user = inputs.router2_user;
  plan.router2.password = inputs.router2_password;
  plan.tunnel_name = inputs.tunnel_name;
  plan.preshared_key = inputs.preshared_key;
  plan.router1.dns_name = inputs.router1_dns_name;
  plan.router2.dns_name = inputs.router2_dns_name;

  // Passwords may be empty: a router may have none.
  refuse(errors, kErrRouter1User, IsNotEmpty(inputs.router1_user) == 0);
  refuse(errors, kErrRouter2User, IsNotEmpty(inputs.router2_user) == 0);
  refuse(errors, kErrTunnelName, IsValidName(inputs.tunnel_name) == 0);
  refuse(errors, kErrPresharedKey, IsNotEmpty(inputs.preshared_key) == 0);
  if (flags.LocalMode == 0) {
    check_router_address(flags.Router1ByName, inputs.router1_octets, inputs.router1_dns_name, plan.router1,
                         errors, kErrRouter1Address, kErrRouter1DnsName);
  }
  check_router_address(flags.Router2ByName, inputs.router2_octets, inputs.router2_dns_name, plan.router2,
                       errors, kErrRouter2Address, kErrRouter2DnsName);
  return errors;
}

ReadJudgement CheckReadResults(int router1_result, int router2_result, int local_mode, FieldErrors &errors,
                               const MessageSource &messages) {
  ReadJudgement judgement;
  std::string full;
  if (router1_result == kReadRefused) {
    mark(errors, kErrRouter1User, kAuthorisationFailure);
    mark(errors, kErrRouter1Password, kAuthorisationFailure);
  } else if (router1_result == kReadTunnelNameUsed) {
    mark(errors, kErrTunnelName, kTunnelNameExists);
  } else if (router1_result == kReadTunnelsFull) {
    full += messages.text("MSG_TUNNELFULL1");
  }
  if (router2_result == kReadRefused || router2_result == kReadNoWanAddress) {
    mark(errors, kErrRouter2User, kAuthorisationFailure);
    mark(errors, kErrRouter2Password, kAuthorisationFailure);
  } else if (router2_result == kReadTunnelNameUsed) {
    mark(errors, kErrTunnelName, kTunnelNameExists);
  } else if (router2_result == kReadTunnelsFull) {
    full += messages.text("MSG_TUNNELFULL2");
  }
  if (!full.empty()) judgement.dialogs.push_back(full);

  if (router1_result == kReadUnreachable) {
    if (router2_result == kReadUnreachable) {
      judgement.dialogs.push_back(messages.text("MSG_FINDFAIL4"));
    } else {
      judgement.dialogs.push_back(messages.text(local_mode == 1 ? "MSG_FINDFAIL1" : "MSG_FINDFAIL2"));
    }
  } else if (router2_result == kReadUnreachable) {
    judgement.dialogs.push_back(messages.text("MSG_FINDFAIL3"));
  }
  judgement.success = router1_result == kReadOk && router2_result == kReadOk;
  return judgement;
}

std::optional<std::string> tunnel_to(const TunnelStatusTable &table, int count, std::string_view remote_wan) {
  const int rows = std::clamp(count, 0, static_cast<int>(table.size()));
  for (int i = 0; i < rows; ++i) {
    if (table[static_cast<std::size_t>(i)].remote_gateway == remote_wan)
      return table[static_cast<std::size_t>(i)].name;
  }
  return std::nullopt;
}

std::string existing_tunnel_message(const TunnelPlan &plan, const RouterReadState &router1,
                                    const RouterReadState &router2, const MessageSource &messages) {
  const auto from_router1 = tunnel_to(router1.status, router1.tunnel_count, plan.router2.wan_address);
  const auto from_router2 = tunnel_to(router2.status, router2.tunnel_count, plan.router1.wan_address);
  if (!from_router1 && !from_router2) return {};
  std::string text = messages.text("MSG_TUNNELNAME0");
  if (from_router1) text += " " + messages.text("MSG_TUNNELNAME1") + " " + *from_router1 + ". ";
  if (from_router2) text += " " + *from_router2 + " " + messages.text("MSG_TUNNELNAME2") + ". ";
  text += messages.text("MSG_TUNNELNAME3");
  return text;
}

bool is_gateway_address(std::string_view gateway) {
  return !gateway.empty() && gateway != "0.0.0.0";
}

std::string adapter_choice_name(std::string_view description) {
  const std::size_t dash = description.rfind('-');
  return std::string(dash == std::string_view::npos ? description : description.substr(0, dash));
}

std::optional<std::string> choose_default_gateway(const std::vector<AdapterGateway> &adapters,
                                                  const AdapterChooser &chooser) {
  if (adapters.empty()) return std::nullopt;
  if (adapters.size() == 1) return adapters.front().gateway;
  std::vector<std::string> names;
  names.reserve(adapters.size());
  for (const AdapterGateway &adapter : adapters) names.push_back(adapter_choice_name(adapter.description));
  const std::optional<int> choice = chooser(names);
  if (!choice) return std::string();
  if (*choice < 0 || static_cast<std::size_t>(*choice) >= adapters.size()) return std::nullopt;
  return adapters[static_cast<std::size_t>(*choice)].gateway;
}

int remote_wizard_next(RemotePageHost &host, RemoteState &state) {
  state.plan.router1.port = router_port(state.flags, RouterId::kRouter1);
  state.plan.router2.port = router_port(state.flags, RouterId::kRouter2);
  for (RouterReadState &router : state.routers) router.result = kReadOk;

  FieldErrors errors = ValidateFields(host.read_inputs(), state.flags, state.plan);
  host.ShowFieldErrors(errors);
  if (errors.any()) return -1;

  if (state.flags.LocalMode == 1) {
    const std::optional<std::string> gateway = host.default_gateway();
    if (!gateway) {
      host.show_message(host.text("MSG_FINDFAIL1"));
      return -1;
    }
    state.plan.router1.lan_address = *gateway;
    // An empty choice (the user cancelled the adapter choice) leaves empty octets, which no read
    // can reach.
    if (!split_address(*gateway, state.plan.router1.lan_octets)) state.plan.router1.lan_octets = Octets{};
  }

  if (!host.read_router(RouterId::kRouter1) || !host.read_router(RouterId::kRouter2)) return -1;

  const ReadJudgement judgement =
      CheckReadResults(state.routers[0].result, state.routers[1].result, state.flags.LocalMode, errors, host);
  for (const std::string &text : judgement.dialogs) host.show_message(text);
  if (!judgement.success) {
    host.ShowFieldErrors(errors);
    return -1;
  }

  const TunnelPlan &plan = state.plan;
  if (SameSubnet(octet_values(plan.router1.lan_octets), octet_values(plan.router1.mask_octets),
                 octet_values(plan.router2.lan_octets), octet_values(plan.router2.mask_octets)) == 1) {
    host.show_message(host.text("MSG_SMAEDOMAIN"));
    return -1;
  }

  const std::string existing = existing_tunnel_message(plan, state.routers[0], state.routers[1], host);
  if (!existing.empty()) {
    host.show_message(existing);
    return -1;
  }
  return go_to_summary(state);
}

}  // namespace tunmira
