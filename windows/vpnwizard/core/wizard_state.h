// The values the wizard's pages, main dialog and workers share for the whole run, in one record.
#pragma once

#include <atomic>

namespace tunmira {

struct WizardState {
  // The step the main dialog reads to show its bar controls (a StepValue).
  int WizardStep = 0;
  // The summary page's phase: 0 before the tunnel forms are posted, 1 once both are.
  int ConfigurePhase = 0;
  // 1 while the wizard runs from the CD start page.
  int CdStartMode = 0;
  // Set to 1 by a worker as its last step (or by the progress dialog when the user stops it); cleared
  // by the page before it starts a worker. The progress dialog polls it on its timer.
  std::atomic<int> ProgressDone{0};
};

// The one state of this run of the wizard.
WizardState &the_wizard_state();

}  // namespace tunmira
