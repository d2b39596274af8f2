// The main dialog's tables: bar controls per step, wizard commands, the progress timer, the scale.
#include <gtest/gtest.h>

#include <set>

#include "main_flow.h"

namespace tunmira {
namespace {

// The controls visible after the view is applied to a dialog where `before` were visible.
std::set<int> Visible(const BarView &view, std::set<int> before = {}) {
  for (int id : view.hidden) before.erase(id);
  before.insert(view.shown.begin(), view.shown.end());
  return before;
}

const std::set<int> kLabels = {kLabel6, kLabel11, kLabel12, kLabel13, kLabel8, kLabel14};

std::set<int> LabelsAnd(std::set<int> more) {
  more.insert(kLabels.begin(), kLabels.end());
  return more;
}

TEST(BarVisibility, AfterNextByStepAndPhase) {
  // Everything was visible: the step's set alone remains.
  std::set<int> all = {
      kBackgroundPicture, kNextButton,    kBackButton,        kExitButton,       kGoButton, kTestingButton,
      kUserGuideLink,     kLinkSeparator, kDownloadGuideLink, kRegistrationLink, kLabel9,   kLabel6,
      kLabel11,           kLabel12,       kLabel13,           kLabel8,           kLabel14};
  EXPECT_EQ(Visible(BarAfterNext(5, 0), all),
            LabelsAnd({kBackgroundPicture, kExitButton, kBackButton, kGoButton}));
  EXPECT_EQ(Visible(BarAfterNext(5, 1), all), LabelsAnd({kBackgroundPicture, kExitButton, kTestingButton}));
  EXPECT_EQ(Visible(BarAfterNext(5, 2), all), kLabels);
  EXPECT_EQ(Visible(BarAfterNext(6, 0), all), LabelsAnd({kBackgroundPicture}));
  EXPECT_EQ(Visible(BarAfterNext(8, 0), all), LabelsAnd({kBackgroundPicture}));
  EXPECT_EQ(Visible(BarAfterNext(7, 1), all), LabelsAnd({kBackgroundPicture, kDownloadGuideLink,
                                                         kLinkSeparator, kRegistrationLink, kExitButton}));
  for (int step : {1, 2, 4})
    EXPECT_EQ(Visible(BarAfterNext(step, 0), all),
              LabelsAnd({kBackgroundPicture, kBackButton, kExitButton, kNextButton}));
}

TEST(BarVisibility, AfterBackAndAtStart) {
  BarView start = BarAfterBack(0);
  EXPECT_TRUE(start.postStartBackground);
  EXPECT_EQ(Visible(start, {kNextButton, kBackButton, kRegistrationLink}),
            LabelsAnd({kBackgroundPicture, kUserGuideLink, kLabel9, kExitButton}));
  EXPECT_FALSE(BarAfterBack(5).postStartBackground);
  EXPECT_EQ(Visible(BarAfterBack(5), {kTestingButton}),
            LabelsAnd({kGoButton, kBackButton, kExitButton, kBackgroundPicture}));
  EXPECT_EQ(Visible(BarAfterBack(2), {kGoButton}),
            LabelsAnd({kBackButton, kExitButton, kBackgroundPicture, kNextButton}));
  EXPECT_EQ(Visible(InitialBar(), {kNextButton, kGoButton, kBackButton, kTestingButton, kBackgroundPicture}),
            LabelsAnd({kBackgroundPicture, kLabel9, kUserGuideLink, kExitButton}));
  EXPECT_EQ(Visible(BarForCdStart(), {kExitButton, kLabel9, kUserGuideLink}),
            std::set<int>{kBackgroundPicture});
}

TEST(WizardCommands, Table) {
  EXPECT_EQ(EffectOfWizardCommand(1217, 0).action, WizardCommandEffect::kNext);
  EXPECT_EQ(EffectOfWizardCommand(1218, 5).action, WizardCommandEffect::kNext);
  EXPECT_EQ(EffectOfWizardCommand(2886, 0).action, WizardCommandEffect::kOpenUserGuide);
  EXPECT_EQ(EffectOfWizardCommand(2888, 0).action, WizardCommandEffect::kSaveUserGuide);
  EXPECT_EQ(EffectOfWizardCommand(2889, 0).action, WizardCommandEffect::kOpenRegistration);
  EXPECT_EQ(EffectOfWizardCommand(0, 100).background, "background");
  EXPECT_EQ(EffectOfWizardCommand(1, 100).background, "background_nothing");
  EXPECT_EQ(EffectOfWizardCommand(2, 100).background, "background_norton");
  EXPECT_EQ(EffectOfWizardCommand(3, 100).background, "background_ses1");
  for (auto [w, l] : {std::pair<int, int>{4, 100}, {-1, 100}, {1, 200}, {8, 0}}) {
    WizardCommandEffect effect = EffectOfWizardCommand(w, l);
    EXPECT_EQ(effect.action, WizardCommandEffect::kNone) << w << "," << l;
    EXPECT_TRUE(effect.background.empty()) << w << "," << l;
    EXPECT_FALSE(effect.startWizard) << w << "," << l;
  }
  EXPECT_TRUE(EffectOfWizardCommand(0, 200).startWizard);
}

TEST(ProgressDialog, LabelsAndCloseRule) {
  EXPECT_EQ(ProgressLabelOf(0), "FindDevice");
  EXPECT_EQ(ProgressLabelOf(3), "FindDevice");
  EXPECT_EQ(ProgressLabelOf(4), "ConfigureLeft");
  EXPECT_EQ(ProgressLabelOf(5), "ConfigureRight");
  EXPECT_EQ(ProgressLabelOf(6), "CheckConnect");
  EXPECT_EQ(ProgressLabelOf(4369), "Upgrade");
  EXPECT_EQ(ProgressLabelOf(9), std::nullopt);

  ProgressTimer configure(4);
  EXPECT_FALSE(configure.Tick(false));
  EXPECT_TRUE(configure.Tick(true));

  // Type 1 waits six ticks after the work ended; frames cycle 1, 2, 3, 0.
  ProgressTimer setup(1);
  EXPECT_FALSE(setup.Tick(false));
  EXPECT_EQ(setup.frame(), 1);
  for (int i = 1; i < 6; ++i) EXPECT_FALSE(setup.Tick(true)) << i;
  EXPECT_TRUE(setup.Tick(true));
  EXPECT_EQ(setup.frame(), (1 + 6) % 4);

  ProgressTimer other(9);
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(other.Tick(true));
}

TEST(Scale, NinetySixDotsKeepsSkinValues) {
  DisplayScale plain = MainDialogScale(96, 1000, 700);
  EXPECT_FALSE(plain.scaled);
  ScaledRect r(10, 20, 30, 40, plain);
  EXPECT_EQ(r.left + r.top + r.right + r.bottom, 100);

  DisplayScale big = MainDialogScale(120, 638 * 2, 478);
  EXPECT_TRUE(big.scaled);
  EXPECT_DOUBLE_EQ(big.x, 2.0);
  EXPECT_NEAR(big.y, 1.25, 1e-12);

  // A page of the design size keeps every coordinate.
  DisplayScale page = PageScale(638, 403);
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
  EXPECT_EQ(ShellErrorText(2), "The specified file was not found.");
  EXPECT_EQ(ShellErrorText(31), "There is no application associated with the given filename extension.");
  EXPECT_EQ(ShellErrorText(31, true), "There is no application associated with the given file extension.");
  EXPECT_EQ(ShellErrorText(32), "The specified dynamic-link library was not found.");
  EXPECT_EQ(ShellErrorText(0), "The document could not be opened (error 0).");
}

}  // namespace
}  // namespace tunmira
