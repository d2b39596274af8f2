// Each page's answers to Next and Back and what they do to the flow values. The page windows call these,
// so the flow is the same natively and on Windows.
#pragma once

#include <cstdint>

#include "wizard_sheet.h"

namespace tunmira {

// Private message to the main dialog: (wParam, lParam) name the action.
inline constexpr unsigned kWizardCommandMessage = 2024;

// Sends WM_WIZARD_COMMAND to the main dialog.
class CommandPoster {
 public:
  virtual ~CommandPoster() = default;
  virtual void post_wizard_command(std::intptr_t wParam, std::intptr_t lParam) = 0;
};

int welcome00_next();
int welcome01_next();
int welcome01_back();
int welcome10_next();
int welcome10_back();
int page_remote_back();
int cd_start_next(CommandPoster &poster);
int cd_start_back(CommandPoster &poster);

// The two choices of Welcome10: the PC on Router 1's LAN, or both routers over the internet.
void choose_local_mode(AddressingFlags &flags, bool on_router1_lan);

// What the summary page needs from the rest of the wizard.
enum class ConfigureMessage { kNone, kConfigure1, kConfigure2, kConfigure3 };
// How a tunnel-form post ended: the router took the form, it could not be posted, or the user stopped
// the progress dialog first.
enum class PostOutcome { kPosted, kFailed, kStopped };
class ConfigureActions {
 public:
  virtual ~ConfigureActions() = default;
  // Posts the tunnel form to one router with the progress dialog up.
  virtual PostOutcome post_tunnel(RouterId router) = 0;
  // Runs the connect exchange with the progress dialog up, which leaves the connect result.
  virtual void connect() = 0;
  virtual void show_configure_message(ConfigureMessage message) = 0;
  // The plain box "Maybe make a mistake.".
  virtual void show_mistake() = 0;
};

// The post results the summary page keeps.
struct PostResults {
  int router1 = 0;
  int router2 = 0;
};

int welcome16_next(PostResults &results, ConfigureActions &actions);
int welcome16_back(ConfigureActions &actions);

// Which configure message a failed post of the two forms shows.
ConfigureMessage message_for_posts(const PostResults &results);

}  // namespace tunmira
