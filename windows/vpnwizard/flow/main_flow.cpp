#include "main_flow.h"

namespace tunmira {
namespace {

const std::vector<int> kBarControls = {
    kBackgroundPicture, kUserGuideLink, kDownloadGuideLink, kRegistrationLink, kLinkSeparator, kLabel9,
    kGoButton,          kTestingButton, kNextButton,        kBackButton,       kExitButton};
const std::vector<int> kStepLabels = {kLabel6, kLabel11, kLabel12, kLabel13, kLabel8, kLabel14};

BarView StepBar() {
  BarView view;
  view.hidden = kBarControls;
  view.shown = kStepLabels;
  return view;
}

void Show(BarView &view, std::initializer_list<int> ids) {
  view.shown.insert(view.shown.end(), ids);
}

}  // namespace

BarView InitialBar() {
  BarView view;
  view.hidden = {kLinkSeparator, kDownloadGuideLink, kRegistrationLink, kGoButton,
                 kNextButton,    kBackButton,        kTestingButton};
  view.shown = {kLabel9, kLabel6,  kLabel11,       kLabel12,   kLabel13,
                kLabel8, kLabel14, kUserGuideLink, kExitButton};
  return view;
}

BarView BarAfterNext(int wizardStep, int configurePhase) {
  BarView view = StepBar();
  switch (wizardStep) {
    case 5:
      if (configurePhase == 0) Show(view, {kBackgroundPicture, kExitButton, kBackButton, kGoButton});
      if (configurePhase == 1) Show(view, {kBackgroundPicture, kExitButton, kTestingButton});
      break;
    case 6:
    case 8:
      Show(view, {kBackgroundPicture});
      break;
    case 7:
      Show(view, {kBackgroundPicture, kDownloadGuideLink, kLinkSeparator, kRegistrationLink, kExitButton});
      break;
    default:
      Show(view, {kBackgroundPicture, kBackButton, kExitButton, kNextButton});
  }
  return view;
}

BarView BarAfterBack(int wizardStep) {
  BarView view = StepBar();
  if (wizardStep == 0) {
    view.postStartBackground = true;
    Show(view, {kBackgroundPicture, kUserGuideLink, kLabel9, kExitButton});
  } else if (wizardStep == 5) {
    Show(view, {kGoButton, kBackButton, kExitButton, kBackgroundPicture});
  } else {
    Show(view, {kBackButton, kExitButton, kBackgroundPicture, kNextButton});
  }
  return view;
}

BarView BarForCdStart() {
  BarView view;
  view.hidden = kBarControls;
  view.shown = {kBackgroundPicture};
  return view;
}

WizardCommandEffect EffectOfWizardCommand(std::intptr_t wParam, std::intptr_t lParam) {
  WizardCommandEffect effect;
  switch (wParam) {
    case 1217:
    case 1218:
      effect.action = WizardCommandEffect::kNext;
      break;
    case kUserGuideLink:
      effect.action = WizardCommandEffect::kOpenUserGuide;
      break;
    case kDownloadGuideLink:
      effect.action = WizardCommandEffect::kSaveUserGuide;
      break;
    case kRegistrationLink:
      effect.action = WizardCommandEffect::kOpenRegistration;
      break;
  }
  if (lParam == 100) {
    static const char *const kBackgrounds[] = {"background", "background_nothing", "background_norton",
                                               "background_ses1"};
    if (wParam >= 0 && wParam < 4) effect.background = kBackgrounds[wParam];
  } else if (lParam == 200 && wParam == 0) {
    effect.startWizard = true;
  }
  return effect;
}

std::optional<std::string> ProgressLabelOf(int type) {
  switch (type) {
    case 0:
    case 3:
      return "FindDevice";
    case 1:
      return "SetupDevice";
    case 2:
      return "CheckInternet";
    case 4:
      return "ConfigureLeft";
    case 5:
      return "ConfigureRight";
    case 6:
      return "CheckConnect";
    case 7:
      return "FindDeviceLeft";
    case 8:
      return "FindDeviceRight";
    case 4369:
      return "Upgrade";
  }
  return std::nullopt;
}

bool ProgressTimer::Tick(bool done) {
  frame_ = (frame_ + 1) % 4;
  if (!done) return false;
  if (type_ == 0 || (type_ >= 2 && type_ <= 8)) return true;
  if (type_ == 1 || type_ == 4369) return ++ticksAfterDone_ >= 6;
  return false;
}

DisplayScale MainDialogScale(int dotsPerInch, int windowWidth, int windowHeight) {
  DisplayScale scale;
  if (dotsPerInch == 96) return scale;
  scale.scaled = true;
  scale.x = windowWidth * 0.001567398119122257;
  scale.y = windowHeight * 0.0020920502092050207 + 0.25;
  return scale;
}

DisplayScale PageScale(int windowWidth, int windowHeight) {
  return {true, windowWidth / 638.0, windowHeight / 403.0};
}

ScaledRect::ScaledRect(int l, int t, int r, int b, const DisplayScale &scale) {
  auto round = [](double v) { return static_cast<int>(v + 0.5); };
  if (!scale.scaled) {
    left = l, top = t, right = r, bottom = b;
    return;
  }
  left = round(l * scale.x);
  right = round(r * scale.x);
  top = round(t * scale.y);
  bottom = round(b * scale.y);
}

std::string ShellErrorText(int result, bool installer) {
  switch (result) {
    case 2:
      return "The specified file was not found.";
    case 3:
      return "The specified path was not found.";
    case 5:
      return "The operating system denied access to the specified file.";
    case 8:
      return "There was not enough memory to complete the operation.";
    case 11:
      return "The .EXE file is invalid (non-Win32 .EXE or error in .EXE image).";
    case 26:
      return "A sharing violation occurred.";
    case 27:
      return "The filename association is incomplete or invalid.";
    case 28:
      return "The DDE transaction could not be completed because the request timed out.";
    case 29:
      return "The DDE transaction failed.";
    case 30:
      return "The DDE transaction could not be completed because other DDE transactions were being "
             "processed.";
    case 31:
      return installer ? "There is no application associated with the given file extension."
                       : "There is no application associated with the given filename extension.";
    case 32:
      return "The specified dynamic-link library was not found.";
  }
  // A result the table does not name still tells the user that nothing was opened.
  return "The document could not be opened (error " + std::to_string(result) + ").";
}

}  // namespace tunmira
