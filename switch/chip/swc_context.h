// The context the daemon hands in (device, API state, PHY context), held once for every layer of the
// switch API: register I/O takes its device from it, the API layers their state record, the PHY layer
// its PHY state.
#pragma once

#include "swc_state.h"

struct SwcInstalledContext {
  // The caller's context; never null: until one is installed, a built-in context with no device and a
  // built-in state, so that calls made without one fail cleanly instead of touching memory nobody
  // allocated.
  const SwcContext *handed;
  // The caller's PHY state holds whatever its allocation left until swc_phy_init fills it in.
  bool phy_ready;
};

// Installs the caller's context for every layer; nullptr, or a context without a state record, installs
// the built-in one. The PHY state counts as not yet initialised either way.
void swc_context_install(const SwcContext *context);

// The installed context: the one record every layer reaches.
SwcInstalledContext &swc_installed_context();

// The current API state record (the built-in one while no context is installed).
inline SwcApiState *swc_state() {
  return swc_installed_context().handed->state;
}
