#include "page_flow.h"

namespace tunmira {

int Welcome00Next() {
  WizardState &state = TheWizardState();
  if (state.WizardStep == kStepCdStart) return kCdStartId;
  state.WizardStep = kStepWelcome01;
  return kWelcome01Id;
}

int Welcome01Next() {
  TheWizardState().WizardStep = kStepWelcome10;
  return kWelcome10Id;
}

int Welcome01Back() {
  TheWizardState().WizardStep = kStepWelcome00;
  return kWelcome00Id;
}

int Welcome10Next() {
  TheWizardState().WizardStep = kStepRouterEntry;
  return kPageRemoteId;
}

int Welcome10Back() {
  TheWizardState().WizardStep = kStepWelcome01;
  return kWelcome01Id;
}

int PageRemoteBack() {
  TheWizardState().WizardStep = kStepWelcome10;
  return kWelcome10Id;
}

int CdStartNext(CommandPoster &poster) {
  WizardState &state = TheWizardState();
  if (state.CdStartMode == 1) {
    poster.PostWizardCommand(8, 0);
    return kListNeighbour;
  }
  state.WizardStep = kStepConfigured;
  return kWelcome30Id;
}

int CdStartBack(CommandPoster &poster) {
  WizardState &state = TheWizardState();
  if (state.CdStartMode != 1) return 1;
  state.CdStartMode = 0;
  state.WizardStep = kStepWelcome00;
  poster.PostWizardCommand(0, 100);
  return kWelcome00Id;
}

void ChooseLocalMode(AddressingFlags &flags, bool onRouter1Lan) {
  flags.localMode = onRouter1Lan ? 1 : 0;
  flags.router1ByName = 0;
  flags.router2ByName = 0;
}

ConfigureMessage MessageForPosts(const PostResults &results) {
  if (results.router1 == 1 && results.router2 == 1) return ConfigureMessage::kNone;
  if (results.router1 != 1 && results.router2 != 1) return ConfigureMessage::kConfigure3;
  return results.router1 != 1 ? ConfigureMessage::kConfigure1 : ConfigureMessage::kConfigure2;
}

int Welcome16Next(PostResults &results, ConfigureActions &actions) {
  WizardState &state = TheWizardState();
  if (state.ConfigurePhase == 0) {
    results.router1 = actions.PostTunnel(RouterId::Router1);
    results.router2 = actions.PostTunnel(RouterId::Router2);
    ConfigureMessage message = MessageForPosts(results);
    if (message != ConfigureMessage::kNone) {
      actions.ShowConfigureMessage(message);
      return kStayOnPage;
    }
    state.ConfigurePhase = 1;
    state.WizardStep = kStepConfigure;
    return kWelcome16Id;
  }
  if (state.ConfigurePhase == 1) actions.Connect();
  state.WizardStep = kStepConfigured;
  return kWelcome30Id;
}

int Welcome16Back(ConfigureActions &actions) {
  WizardState &state = TheWizardState();
  if (state.ConfigurePhase == 1) {
    state.ConfigurePhase = 0;
    state.WizardStep = kStepConfigure;
    return kWelcome16Id;
  }
  if (state.ConfigurePhase != 0) actions.ShowMistake();
  state.WizardStep = kStepRouterEntry;
  return kPageRemoteId;
}

}  // namespace tunmira
