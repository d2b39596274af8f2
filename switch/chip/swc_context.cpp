#include "swc_context.h"

namespace {

swc_api_state g_builtin_state;
const swc_context kBuiltinContext{-1, &g_builtin_state, nullptr};
swc_installed_context_t g_installed{&kBuiltinContext, false};

}  // namespace

void swc_context_install(const swc_context *context) {
  g_installed.handed = context && context->state ? context : &kBuiltinContext;
  g_installed.phy_ready = false;
}

swc_installed_context_t &swc_installed_context() {
  return g_installed;
}
