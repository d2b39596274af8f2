// The engine's host on Windows: progress goes to the wizard dialog as posted WM_UPGRADE_PROGRESS
// messages, the reboot wait is started through the dialog's callback, and the transfer loop serves the
// worker thread's own message queue.
#pragma once

#include <windows.h>

#include <functional>

#include "engine_ports.h"

namespace upgrade {

inline constexpr UINT WM_UPGRADE_PROGRESS = 1781;

class WindowEngineHost final : public EngineHost {
 public:
  WindowEngineHost(HWND dialog, std::function<void()> start_reboot_wait)
      : dialog_(dialog), start_reboot_wait_(std::move(start_reboot_wait)) {}

  // wParam and lParam are pointer-sized: -1 arrives as (WPARAM)-1 and compares as -1 when signed.
  void post_progress(std::intptr_t wParam, std::intptr_t lParam) override;
  void start_reboot_wait() override;
  // Removes one message from this thread's queue: WM_QUIT is posted again so the thread still sees it
  // when the transfer ends; anything else is translated and dispatched.
  void pump_one_message() override;

 private:
  HWND dialog_;
  std::function<void()> start_reboot_wait_;
};

}  // namespace upgrade
