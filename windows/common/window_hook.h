// A chain of hook objects in front of a window's own procedure: each sees the window's messages before
// the window does and passes them on. The first hook of a window takes over its window procedure; the
// last to leave puts the old one back.
#pragma once

#include <windows.h>

namespace rtwin {

class CWindowHook {
 public:
  CWindowHook() = default;
  virtual ~CWindowHook();
  CWindowHook(const CWindowHook &) = delete;
  CWindowHook &operator=(const CWindowHook &) = delete;

  // Hooks `window` in front of its earlier hooks; nullptr takes this hook off its window.
  void Hook(HWND window);
  HWND hwnd() const { return window_; }
  bool is_hooked() const { return window_ != nullptr; }

 protected:
  // Sees every message of the window; the default passes it on down the chain.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Passes on the message being handled, with the arguments it came with.
  LRESULT Default();

 private:
  static LRESULT CALLBACK HookWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static void unhook_all(HWND window);

  HWND window_ = nullptr;
  WNDPROC previous_ = nullptr;
  CWindowHook *next_ = nullptr;
};

}  // namespace rtwin
