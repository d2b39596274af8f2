// What the main dialog shows and does, kept apart from its window: the bottom bar for each step, the
// wizard commands, the progress dialog's timer, the display scale and the shell's error texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tunmira {

// Controls of the main dialog's template.
enum MainControl : int {
  kBackgroundPicture = 1006,
  kPagePlaceholder = 1007,
  kNextButton = 1029,
  kBackButton = 1003,
  kExitButton = 2557,
  kGoButton = 1031,
  kTestingButton = 2869,
  kUserGuideLink = 2886,
  kLinkSeparator = 2887,
  kDownloadGuideLink = 2888,
  kRegistrationLink = 2889,
  kLabel9 = 2900,
  kLabel6 = 2901,
  kLabel11 = 2902,
  kLabel12 = 2903,
  kLabel13 = 2904,
  kLabel8 = 2905,
  kLabel14 = 2906,
};

// The bar after an action: every control of `hidden` is hidden first, then every one of `shown` shown.
struct BarView {
  std::vector<int> hidden;
  std::vector<int> shown;
  // Back to the start: the background picture goes back to "background" (command (0, 100)).
  bool post_start_background = false;
};

BarView initial_bar();
BarView bar_after_next(int wizard_step, int configure_phase);
BarView bar_after_back(int wizard_step);
BarView bar_for_cd_start();

// WM_WIZARD_COMMAND (wParam, lParam).
struct WizardCommandEffect {
  enum Action { kNone, kNext, kOpenUserGuide, kSaveUserGuide, kOpenRegistration } action = kNone;
  // Background picture item of section "DialogMain" to load, or empty.
  std::string background;
  // The start button of the first page: stop its timer, switch the background and go next.
  bool start_wizard = false;
};
WizardCommandEffect effect_of_wizard_command(std::intptr_t wParam, std::intptr_t lParam);

// The progress dialog: its label item by type, and the frame and close rule of its 2-second timer.
inline constexpr int kProgressTimerId = 400;
inline constexpr unsigned kProgressTimerMs = 2000;
std::optional<std::string> progress_label_of(int type);

class ProgressTimer {
 public:
  explicit ProgressTimer(int type) : type_(type) {}
  // One timer tick: advances the frame; true when the dialog closes now.
  bool tick(bool done);
  int frame() const { return frame_; }

 private:
  int type_;
  int frame_ = 0;
  int ticks_after_done_ = 0;
};

// The skin is drawn for these window sizes on a 96 dots-per-inch screen.
inline constexpr int kMainDesignWidth = 638;
inline constexpr int kMainDesignHeight = 478;
inline constexpr int kPageDesignWidth = 638;

// Display scale: the main dialog's factors when the screen is not 96 dots per inch.
struct DisplayScale {
  bool scaled = false;
  double x = 1.0;
  double y = 1.0;
};
DisplayScale main_dialog_scale(int dots_per_inch, int window_width, int window_height);
// A page's factors from its own window size (design size 638 x 403).
DisplayScale page_scale(int window_width, int window_height);

// A skin rectangle made window coordinates: each value times its factor, rounded, when scaled.
struct ScaledRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  ScaledRect(int l, int t, int r, int b, const DisplayScale &scale);
};

// The text for a ShellExecute result of 32 or less; `installer` words result 31 as the reader
// installer does.
std::string shell_error_text(int result, bool installer = false);

}  // namespace tunmira
