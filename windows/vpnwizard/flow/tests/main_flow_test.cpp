// The main dialog's tables: bar controls per step, wizard commands, the progress timer, the scale.
#include <gtest/gtest.h>

#include <set>

#include "main_flow.h"

namespace tunmira {
namespace {

// The controls visible after the view is applied to a dialog where `before` were visible.
std::set<int> visible(const BarView &view, std::set<int> before = {}) {
  for (int id : view.hidden) before.erase(id);
  before.insert(view.shown.begin(), view.shown.end());
  return before;
}

const std::set<int> kLabels = {kLabel6, kLabel11, kLabel12, kLabel13, kLabel8, kLabel14};

std::set<int> labels_and(std::set<int> more) {
  more.insert(kLabels.begin(), kLabels.end());
  return more;
}

TEST(BarVisibility, AfterNextByStepAndPhase) {
  // Everything was visible: the step's set alone remains.
  std::set<int> all = {
      kBackgroundPicture, kNextButton,    kBackButton,        kExitButton,       kGoButton, kTestingButton,
      kUserGuideLink,     kLinkSeparator, kDownloadGuideLink, kRegistrationLink, kLabel9,   kLabel6,
      kLabel11,           kLabel12,       kLabel13,           kLabel8,           kLabel14};
  EXPECT_EQ(visible(bar_after_next(5, 0), all),
            labels_and({kBackgroundPicture, kExitButton, kBackButton, kGoButton}));
  EXPECT_EQ(visible(bar_after_next(5, 1), all),
            labels_and({kBackgroundPicture, kExitButton, kTestingButton}));
  EXPECT_EQ(visible(bar_after_next(5, 2), all), kLabels);
  EXPECT_EQ(visible(bar_after_next(6, 0), all), labels_and({kBackgroundPicture}));
  EXPECT_EQ(visible(bar_after_next(8, 0), all), labels_and({kBackgroundPicture}));
  EXPECT_EQ(visible(bar_after_next(7, 1), all), labels_and({kBackgroundPicture, kDownloadGuideLink,
                                                            kLinkSeparator, kRegistrationLink, kExitButton}));
  for (int step : {1, 2, 4})
    EXPECT_EQ(visible(bar_after_next(step, 0), all),
              labels_and({kBackgroundPicture, kBackButton, kExitButton, kNextButton}));
}

TEST(BarVisibility, AfterBackAndAtStart) {
  BarView start = bar_after_back(0);
  EXPECT_TRUE(start.post_start_background);
  EXPECT_EQ(visible(start, {kNextButton, kBackButton, kRegistrationLink}),
            labels_and({kBackgroundPicture, kUserGuideLink, kLabel9, kExitButton}));
  EXPECT_FALSE(bar_after_back(5).post_start_background);
  EXPECT_EQ(visible(bar_after_back(5), {kTestingButton}),
            labels_and({kGoButton, kBackButton, kExitButton, kBackgroundPicture}));
  EXPECT_EQ(visible(bar_after_back(2), {kGoButton}),
            labels_and({kBackButton, kExitButton, kBackgroundPicture, kNextButton}));
  EXPECT_EQ(visible(initial_bar(), {kNextButton, kGoButton, kBackButton, kTestingButton, kBackgroundPicture}),
            labels_and({kBackgroundPicture, kLabel9, kUserGuideLink, kExitButton}));
  EXPECT_EQ(visible(bar_for_cd_start(), {kExitButton, kLabel9, kUserGuideLink}),
            std::set<int>{kBackgroundPicture});
}

TEST(WizardCommands, Table) {
  EXPECT_EQ(effect_of_wizard_command(1217, 0).action, WizardCommandEffect::kNext);
  EXPECT_EQ(effect_of_wizard_command(1218, 5).action, WizardCommandEffect::kNext);
  EXPECT_EQ(effect_of_wizard_command(2886, 0).action, WizardCommandEffect::kOpenUserGuide);
  EXPECT_EQ(effect_of_wizard_command(2888, 0).action, WizardCommandEffect::kSaveUserGuide);
  EXPECT_EQ(effect_of_wizard_command(2889, 0).action, WizardCommandEffect::kOpenRegistration);
  EXPECT_EQ(effect_of_wizard_command(0, 100).background, "background");
  EXPECT_EQ(effect_of_wizard_command(1, 100).background, "background_nothing");
  EXPECT_EQ(effect_of_wizard_command(2, 100).background, "background_norton");
  EXPECT_EQ(effect_of_wizard_command(3, 100).background, "background_ses1");
  for (auto [w, l] : {std::pair<int, int>{4, 100}, {-1, 100}, {1, 200}, {8, 0}}) {
    WizardCommandEffect effect = effect_of_wizard_command(w, l);
    EXPECT_EQ(effect.action, WizardCommandEffect::kNone) << w << "," << l;
    EXPECT_TRUE(effect.background.empty()) << w << "," << l;
    EXPECT_FALSE(effect.start_wizard) << w << "," << l;
  }
  EXPECT_TRUE(effect_of_wizard_command(0, 200).start_wizard);
}

TEST(ProgressDialog, LabelsAndCloseRule) {
  EXPECT_EQ(progress_label_of(0), "FindDevice");
  EXPECT_EQ(progress_label_of(3), "FindDevice");
  EXPECT_EQ(progress_label_of(4), "ConfigureLeft");
  EXPECT_EQ(progress_label_of(5), "ConfigureRight");
  EXPECT_EQ(progress_label_of(6), "CheckConnect");
  EXPECT_EQ(progress_label_of(4369), "Upgrade");
  EXPECT_EQ(progress_label_of(9), std::nullopt);

  ProgressTimer configure(4);
  EXPECT_FALSE(configure.tick(false));
  EXPECT_TRUE(configure.tick(true));

  // Type 1 waits six ticks after the work ended; frames cycle 1, 2, 3, 0.
  ProgressTimer setup(1);
  EXPECT_FALSE(setup.tick(false));
  EXPECT_EQ(setup.frame(), 1);
  for (int i = 1; i < 6; ++i) EXPECT_FALSE(setup.tick(true)) << i;
  EXPECT_TRUE(setup.tick(true));
  EXPECT_EQ(setup.frame(), (1 + 6) % 4);

  ProgressTimer other(9);
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(other.tick(true));
}

TEST(Scale, NinetySixDotsKeepsSkinValues) {
  DisplayScale plain = main_dialog_scale(96, 1000, 700);
  EXPECT_FALSE(plain.scaled);
  ScaledRect r(10, 20, 30, 40, plain);
  EXPECT_EQ(r.left + r.top + r.right + r.bottom, 100);

  DisplayScale big = main_dialog_scale(120, 638 * 2, 478);
  EXPECT_TRUE(big.scaled);
  EXPECT_DOUBLE_EQ(big.x, 2.0);
  EXPECT_NEAR(big.y, 1.25, 1e-12);

  // A page of the design size keeps every coordinate.
  DisplayScale page = page_scale(638, 403);
  ScaledRect same(13, 7, 625, 401, page);
  EXPECT_EQ(same.left, 13);
  EXPECT_EQ(same.top, 7);
  EXPECT_EQ(same.right, 625);
  EXPECT_EQ(same.bottom, 401);
  ScaledRect half(3, 3, 5, 5, DisplayScale{true, 0.5, 1.5});
  EXPECT_EQ(half.left, 2);  // 1.5 rounds up
  EXPECT_EQ(half.top, 5);   // 4.5 rounds up
  EXPECT_EQ(half.right, 3);
  EXPECT_EQ(half.bottom, 8);
}

TEST(ShellErrors, TableAndInstallerWording) {
  EXPECT_EQ(shell_error_text(2), "The specified file was not found.");
  EXPECT_EQ(shell_error_text(31), "There is no application associated with the given filename extension.");
  EXPECT_EQ(shell_error_text(31, true), "There is no application associated with the given file extension.");
  EXPECT_EQ(shell_error_text(32), "The specified dynamic-link library was not found.");
  EXPECT_EQ(shell_error_text(0), "The document could not be opened (error 0).");
}

}  // namespace
}  // namespace tunmira
