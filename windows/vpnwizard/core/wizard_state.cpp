#include "wizard_state.h"

namespace tunmira {

WizardState &TheWizardState() {
  static WizardState state;
  return state;
}

}  // namespace tunmira
