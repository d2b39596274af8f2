// The router entry page's decisions, kept apart from its window so they run natively: the field
// checks, the judgement of both router reads, the existing-tunnel message, the choice of the default
// gateway and the whole Next sequence over a host that owns the controls, dialogs and workers.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http_request.h"
#include "tunnel_plan.h"
#include "wizard_state.h"

namespace tunmira {

inline constexpr int kRemotePageTemplate = 343;
inline constexpr int kSummaryPageTemplate = 330;
inline constexpr int kWelcome10Template = 313;

// Text limits of the page's edit fields.
inline constexpr int kUserNameLimit = 62;
inline constexpr int kPasswordLimit = 22;
// A longer name would be taken by the router's tunnel form but never fit the connect post.
inline constexpr int kTunnelNameLimit = static_cast<int>(kMaxTunnelName);
inline constexpr int kOctetLimit = 3;

// What reading one router gave (ReadRouterInfoThread).
enum ReadResult : int {
  kReadRefused = 0,      // the router refused the user name or password (HTTP 401)
  kReadUnreachable = 1,  // any other failure of a page read
  kReadNoLanAddress = 2,
  kReadNoSubnetMask = 3,
  kReadNoTunnelList = 4,
  kReadTunnelNameUsed = 5,
  kReadTunnelsFull = 6,
  kReadNoWanAddress = 7,
  kReadNoTunnelStatus = 8,
  kReadOk = 9,
};

// The number a progress dialog is given: it picks the dialog's picture and label.
enum ProgressType : int {
  kProgressPostRouter1 = 4,
  kProgressPostRouter2 = 5,
  kProgressConnect = 6,
  kProgressReadRouter1 = 7,
  kProgressReadRouter2 = 8,
};

// The ten checked inputs, in the order of their labels "LabelErr1" to "LabelErr10".
enum FieldSlot : int {
  kErrRouter1User = 0,
  kErrRouter1Password,
  kErrRouter2User,
  kErrRouter2Password,
  kErrTunnelName,
  kErrPresharedKey,
  kErrRouter1Address,
  kErrRouter2Address,
  kErrRouter1DnsName,
  kErrRouter2DnsName,
  kFieldSlotCount,
};

// The error flags of the ten inputs and the message key each label shows when its flag is set.
struct FieldErrors {
  std::array<int, kFieldSlotCount> flags{};
  std::array<std::string_view, kFieldSlotCount> message_keys{};

  bool any() const;
};

// All flags 0 and every label back at its own message.
FieldErrors cleared_field_errors();

// The texts of the page's inputs as the user typed them.
struct RemoteInputs {
  std::string router1_user, router1_password;
  std::string router2_user, router2_password;
  std::string tunnel_name, preshared_key;
  Octets router1_octets, router2_octets;
  std::string router1_dns_name, router2_dns_name;
};

// Copies the inputs into the plan and checks every one of them (no early stop). Router 1's address is
// checked only outside LocalMode. A router given by address gets the four octets joined by "." as its
// WAN address. Returns the flags of the refused inputs.
FieldErrors ValidateFields(const RemoteInputs &inputs, const AddressingFlags &flags, TunnelPlan &plan);

// Looks up the text of a message key ("MSG_FINDFAIL1" ...) in the current language.
class MessageSource {
 public:
  virtual ~MessageSource() = default;
  virtual std::string text(std::string_view key) const = 0;
};

// What the page shows after both reads: label changes go into errors; dialogs lists the texts of the
// message dialogs in the order they are shown.
struct ReadJudgement {
  bool success = false;
  std::vector<std::string> dialogs;
};
ReadJudgement CheckReadResults(int router1_result, int router2_result, int local_mode, FieldErrors &errors,
                               const MessageSource &messages);

// What each router read from its summary page.
struct RouterReadState {
  int result = kReadOk;
  int tunnel_count = 0;
  TunnelStatusTable status{};
};

// The name of the first of the first `count` tunnels of table whose remote gateway is exactly
// remote_wan, or nullopt.
std::optional<std::string> tunnel_to(const TunnelStatusTable &table, int count, std::string_view remote_wan);

// The message telling the user which tunnels already join the two routers; empty when none does.
std::string existing_tunnel_message(const TunnelPlan &plan, const RouterReadState &router1,
                                    const RouterReadState &router2, const MessageSource &messages);

// One adapter of the PC that has a gateway.
struct AdapterGateway {
  std::string description;
  std::string gateway;
};

// true when an adapter's first gateway text names a gateway: the system reports "0.0.0.0" (or nothing)
// for an adapter that has none, and no router can be reached there.
bool is_gateway_address(std::string_view gateway);

// The name the adapter choice lists: the description up to its last "-" (all of it without one).
std::string adapter_choice_name(std::string_view description);

// The user's answer to the adapter choice: nullopt for Cancel, else the selected index.
using AdapterChooser = std::function<std::optional<int>(const std::vector<std::string> &names)>;

// The gateway to reach Router 1 by in LocalMode: nullopt when none is found. One adapter gives its
// gateway; several ask chooser (Cancel gives an empty address, an index out of range nothing).
std::optional<std::string> choose_default_gateway(const std::vector<AdapterGateway> &adapters,
                                                  const AdapterChooser &chooser);

// The window side of the entry page: its controls, its dialogs and its workers.
class RemotePageHost : public MessageSource {
 public:
  virtual RemoteInputs read_inputs() = 0;
  virtual void ShowFieldErrors(const FieldErrors &errors) = 0;
  virtual void show_message(const std::string &text) = 0;
  // GetDefaultGateway: nullopt when no gateway was found.
  virtual std::optional<std::string> default_gateway() = 0;
  // Reads router id in a worker behind a modal progress dialog and waits for the worker to end; false
  // when the user stopped the dialog first (the results are then not to be used).
  virtual bool read_router(RouterId id) = 0;
};

// Everything the entry page's Next reads and writes besides its controls.
struct RemoteState {
  TunnelPlan &plan;
  AddressingFlags &flags;
  std::array<RouterReadState, 2> &routers;
  int &wizard_step;
  int &configure_phase;
};

// The page's answer to Next: -1 to stay, or the summary page's template id.
int remote_wizard_next(RemotePageHost &host, RemoteState &state);

// Dotted text of four octet texts, and the octets of a dotted address (false when it has not four).
std::string join_octets(const Octets &octets);
bool split_address(std::string_view address, Octets &octets);

}  // namespace tunmira
