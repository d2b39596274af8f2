#include "window_engine_host.h"

namespace upgrade {

void WindowEngineHost::post_progress(std::intptr_t wParam, std::intptr_t lParam) {
  PostMessageA(dialog_, WM_UPGRADE_PROGRESS, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

void WindowEngineHost::start_reboot_wait() {
  if (start_reboot_wait_) start_reboot_wait_();
}

void WindowEngineHost::pump_one_message() {
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return;
  if (message.message == WM_QUIT) {
    PostQuitMessage(static_cast<int>(message.wParam));
    return;
  }
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

}  // namespace upgrade
