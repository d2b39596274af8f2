#include "main_flow.h"

namespace tunmira {
namespace {

const std::vector<int> kBarControls = {
    kBackgroundPicture, kUserGuideLink, kDownloadGuideLink, kRegistrationLink, kLinkSeparator, kLabel9,
    kGoButton,          kTestingButton, kNextButton,        kBackButton,       kExitButton};
const std::vector<int> kStepLabels = {kLabel6, kLabel11, kLabel12, kLabel13, kLabel8, kLabel14};

BarView step_bar() {
  BarView view;
  view.hidden = kBarControls;
  view.shown = kStepLabels;
  return view;
}

void show(BarView &view, std::initializer_list<int> ids) {
  view.shown.insert(view.shown.end(), ids);
}

}  // namespace

BarView initial_bar() {
  BarView view;
  view.hidden = {kLinkSeparator, kDownloadGuideLink, kRegistrationLink, kGoButton,
                 kNextButton,    kBackButton,        kTestingButton};
  view.shown = {kLabel9, kLabel6,  kLabel11,       kLabel12,   kLabel13,
                kLabel8, kLabel14, kUserGuideLink, kExitButton};
  return view;
}

BarView bar_after_next(int wizard_step, int configure_phase) {
  BarView view = step_bar();
  switch (wizard_step) {
    case 5:
      if (configure_phase == 0) show(view, {kBackgroundPicture, kExitButton, kBackButton, kGoButton});
      if (configure_phase == 1) show(view, {kBackgroundPicture, kExitButton, kTestingButton});
      break;
    case 6:
    case 8:
      show(view, {kBackgroundPicture});
      break;
    case 7:
      show(view, {kBackgroundPicture, kDownloadGuideLink, kLinkSeparator, kRegistrationLink, kExitButton});
      break;
    default:
      show(view, {kBackgroundPicture, kBackButton, kExitButton, kNextButton});
  }
  return view;
}

BarView bar_after_back(int wizard_step) {
  BarView view = step_bar();
  if (wizard_step == 0) {
    view.post_start_background = true;
    show(view, {kBackgroundPicture, kUserGuideLink, kLabel9, kExitButton});
  } else if (wizard_step == 5) {
    show(view, {kGoButton, kBackButton, kExitButton, kBackgroundPicture});
  } else {
    show(view, {kBackButton, kExitButton, kBackgroundPicture, kNextButton});
  }
  return view;
}

BarView bar_for_cd_start() {
  BarView view;
  view.hidden = kBarControls;
  view.shown = {kBackgroundPicture};
  return view;
}

WizardCommandEffect effect_of_wizard_command(std::intptr_t wParam, std::intptr_t lParam) {
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
    effect.start_wizard = true;
  }
  return effect;
}

std::optional<std::string> progress_label_of(int type) {
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

bool ProgressTimer::tick(bool done) {
  frame_ = (frame_ + 1) % 4;
  if (!done) return false;
  if (type_ == 0 || (type_ >= 2 && type_ <= 8)) return true;
  if (type_ == 1 || type_ == 4369) return ++ticks_after_done_ >= 6;
  return false;
}

DisplayScale main_dialog_scale(int dots_per_inch, int window_width, int window_height) {
  DisplayScale scale;
  if (dots_per_inch == 96) return scale;
  scale.scaled = true;
  scale.x = window_width * 0.001567398119122257;
  scale.y = window_height * 0.0020920502092050207 + 0.25;
  return scale;
}

DisplayScale page_scale(int window_width, int window_height) {
  return {true, window_width / 638.0, window_height / 403.0};
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

std::string shell_error_text(int result, bool installer) {
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
