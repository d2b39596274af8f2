#include "wizard_state.h"

namespace tunmira {

WizardState &the_wizard_state() {
  static WizardState state;
  return state;
}

}  // namespace tunmira
