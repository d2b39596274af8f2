#include "page_flow.h"

namespace tunmira {

int Welcome00Next() {
  if (WizardStep == kStepCdStart) return kCdStartId;
  WizardStep = kStepWelcome01;
  return kWelcome01Id;
}

int Welcome01Next() {
  WizardStep = kStepWelcome10;
  return kWelcome10Id;
}

int Welcome01Back() {
  WizardStep = kStepWelcome00;
  return kWelcome00Id;
}

int Welcome10Next() {
  WizardStep = kStepRouterEntry;
  return kPageRemoteId;
}

int Welcome10Back() {
  WizardStep = kStepWelcome01;
  return kWelcome01Id;
}

int PageRemoteBack() {
  WizardStep = kStepWelcome10;
  return kWelcome10Id;
}

int CdStartNext(CommandPoster &poster) {
  if (CdStartMode == 1) {
    poster.PostWizardCommand(8, 0);
    return kListNeighbour;
  }
  WizardStep = kStepConfigured;
  return kWelcome30Id;
}

int CdStartBack(CommandPoster &poster) {
  if (CdStartMode != 1) return 1;
  CdStartMode = 0;
  WizardStep = kStepWelcome00;
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
  if (ConfigurePhase == 0) {
    results.router1 = actions.PostTunnel(RouterId::Router1);
    results.router2 = actions.PostTunnel(RouterId::Router2);
    ConfigureMessage message = MessageForPosts(results);
    if (message != ConfigureMessage::kNone) {
      actions.ShowConfigureMessage(message);
      return kStayOnPage;
    }
    ConfigurePhase = 1;
    WizardStep = kStepConfigure;
    return kWelcome16Id;
  }
  if (ConfigurePhase == 1) actions.Connect();
  WizardStep = kStepConfigured;
  return kWelcome30Id;
}

int Welcome16Back(ConfigureActions &actions) {
  if (ConfigurePhase == 1) {
    ConfigurePhase = 0;
    WizardStep = kStepConfigure;
    return kWelcome16Id;
  }
  if (ConfigurePhase != 0) actions.ShowMistake();
  WizardStep = kStepRouterEntry;
  return kPageRemoteId;
}

}  // namespace tunmira
