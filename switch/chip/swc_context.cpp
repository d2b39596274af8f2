#include "swc_context.h"

namespace {

SwcApiState g_builtin_state;
const SwcContext kBuiltinContext{-1, &g_builtin_state, nullptr};
SwcInstalledContext g_installed{&kBuiltinContext, false};

}  // namespace

void swc_context_install(const SwcContext *context) {
  g_installed.handed = context && context->state ? context : &kBuiltinContext;
  g_installed.phy_ready = false;
}

SwcInstalledContext &swc_installed_context() {
  return g_installed;
}
