#include "window_hook.h"

#include <map>

namespace rtwin {
namespace {

// The most recently installed hook of each hooked window. Used from the user-interface thread only.
std::map<HWND, CWindowHook *> &WindowHookMap() {
  static std::map<HWND, CWindowHook *> map;
  return map;
}

// The message being handled on this thread, for Default.
struct CurrentMessage {
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};
thread_local CurrentMessage current;

}  // namespace

CWindowHook::~CWindowHook() {
  if (window_) Hook(nullptr);
}

void CWindowHook::Hook(HWND window) {
  auto &map = WindowHookMap();
  if (window != nullptr) {
    if (window_ != nullptr) Hook(nullptr);
    auto first = map.find(window);
    if (first == map.end()) {
      previous_ = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWindowHook::HookWndProc)));
      next_ = nullptr;
    } else {
      previous_ = first->second->previous_;
      next_ = first->second;
    }
    map[window] = this;
    window_ = window;
    return;
  }
  if (window_ == nullptr) return;
  auto first = map.find(window_);
  if (first != map.end()) {
    if (first->second == this) {
      if (next_ != nullptr) {
        first->second = next_;
      } else {
        map.erase(first);
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
      }
    } else {
      for (CWindowHook *hook = first->second; hook != nullptr; hook = hook->next_) {
        if (hook->next_ == this) {
          hook->next_ = next_;
          break;
        }
      }
    }
  }
  window_ = nullptr;
  previous_ = nullptr;
  next_ = nullptr;
}

LRESULT CWindowHook::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (next_ != nullptr) return next_->WindowProc(message, wParam, lParam);
  return CallWindowProcA(previous_, window_, message, wParam, lParam);
}

LRESULT CWindowHook::Default() {
  return WindowProc(current.message, current.wParam, current.lParam);
}

void CWindowHook::unhook_all(HWND window) {
  auto &map = WindowHookMap();
  auto first = map.find(window);
  if (first == map.end()) return;
  for (CWindowHook *hook = first->second; hook != nullptr;) {
    CWindowHook *next = hook->next_;
    hook->window_ = nullptr;
    hook->previous_ = nullptr;
    hook->next_ = nullptr;
    hook = next;
  }
  map.erase(first);
}

LRESULT CALLBACK CWindowHook::HookWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CurrentMessage saved = current;
  current = {window, message, wParam, lParam};
  LRESULT result = 0;
  auto &map = WindowHookMap();
  auto first = map.find(window);
  if (first == map.end()) {
    result = DefWindowProcA(window, message, wParam, lParam);
  } else if (message == WM_NCDESTROY) {
    WNDPROC previous = first->second->previous_;
    unhook_all(window);
    // The window is going: its own procedure stays the hook's, so restoring it would change nothing.
    result = CallWindowProcA(previous, window, message, wParam, lParam);
  } else {
    result = first->second->WindowProc(message, wParam, lParam);
  }
  current = saved;
  return result;
}

}  // namespace rtwin
