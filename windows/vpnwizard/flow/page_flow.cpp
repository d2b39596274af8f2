#include "page_flow.h"

namespace tunmira {

int welcome00_next() {
  WizardState &state = the_wizard_state();
  if (state.WizardStep == kStepCdStart) return kCdStartId;
  state.WizardStep = kStepWelcome01;
  return kWelcome01Id;
}

int welcome01_next() {
  the_wizard_state().WizardStep = kStepWelcome10;
  return kWelcome10Id;
}

int welcome01_back() {
  the_wizard_state().WizardStep = kStepWelcome00;
  return kWelcome00Id;
}

int welcome10_next() {
  the_wizard_state().WizardStep = kStepRouterEntry;
  return kPageRemoteId;
}

int welcome10_back() {
  the_wizard_state().WizardStep = kStepWelcome01;
  return kWelcome01Id;
}

int page_remote_back() {
  the_wizard_state().WizardStep = kStepWelcome10;
  return kWelcome10Id;
}

int cd_start_next(CommandPoster &poster) {
  WizardState &state = the_wizard_state();
  if (state.CdStartMode == 1) {
    poster.post_wizard_command(8, 0);
    return kListNeighbour;
  }
  state.WizardStep = kStepConfigured;
  return kWelcome30Id;
}

int cd_start_back(CommandPoster &poster) {
  WizardState &state = the_wizard_state();
  if (state.CdStartMode != 1) return 1;
  state.CdStartMode = 0;
  state.WizardStep = kStepWelcome00;
  poster.post_wizard_command(0, 100);
  return kWelcome00Id;
}

void choose_local_mode(AddressingFlags &flags, bool on_router1_lan) {
  flags.LocalMode = on_router1_lan ? 1 : 0;
  flags.Router1ByName = 0;
  flags.Router2ByName = 0;
}

ConfigureMessage message_for_posts(const PostResults &results) {
  if (results.router1 == 1 && results.router2 == 1) return ConfigureMessage::kNone;
  if (results.router1 != 1 && results.router2 != 1) return ConfigureMessage::kConfigure3;
  return results.router1 != 1 ? ConfigureMessage::kConfigure1 : ConfigureMessage::kConfigure2;
}

namespace {

// Posts one router's tunnel form into its post result; false when the user stopped the post.
bool post_tunnel_into(int &result, RouterId router, ConfigureActions &actions) {
  const PostOutcome outcome = actions.post_tunnel(router);
  result = outcome == PostOutcome::kPosted ? 1 : 0;
  return outcome != PostOutcome::kStopped;
}

}  // namespace

int welcome16_next(PostResults &results, ConfigureActions &actions) {
  WizardState &state = the_wizard_state();
  if (state.ConfigurePhase == 0) {
    // A stop ends the step where it is: the other router gets no form and no failure is reported,
    // and Go can be pressed again.
    if (!post_tunnel_into(results.router1, RouterId::kRouter1, actions) ||
        !post_tunnel_into(results.router2, RouterId::kRouter2, actions)) {
      return kStayOnPage;
    }
    ConfigureMessage message = message_for_posts(results);
    if (message != ConfigureMessage::kNone) {
      actions.show_configure_message(message);
      return kStayOnPage;
    }
    state.ConfigurePhase = 1;
    state.WizardStep = kStepConfigure;
    return kWelcome16Id;
  }
  if (state.ConfigurePhase == 1) actions.connect();
  state.WizardStep = kStepConfigured;
  return kWelcome30Id;
}

int welcome16_back(ConfigureActions &actions) {
  WizardState &state = the_wizard_state();
  if (state.ConfigurePhase == 1) {
    state.ConfigurePhase = 0;
    state.WizardStep = kStepConfigure;
    return kWelcome16Id;
  }
  if (state.ConfigurePhase != 0) actions.show_mistake();
  state.WizardStep = kStepRouterEntry;
  return kPageRemoteId;
}

}  // namespace tunmira
