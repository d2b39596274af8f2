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
  WindowEngineHost(HWND dialog, std::function<void()> startRebootWait)
      : dialog_(dialog), startRebootWait_(std::move(startRebootWait)) {}

  // wParam and lParam are pointer-sized: -1 arrives as (WPARAM)-1 and compares as -1 when signed.
  void PostProgress(std::intptr_t wParam, std::intptr_t lParam) override;
  void StartRebootWait() override;
  // Removes one message from this thread's queue: WM_QUIT is posted again so the thread still sees it
  // when the transfer ends; anything else is translated and dispatched.
  void PumpOneMessage() override;

 private:
  HWND dialog_;
  std::function<void()> startRebootWait_;
};

}  // namespace upgrade
