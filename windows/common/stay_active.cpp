#include "stay_active.h"

namespace rtwin {
namespace {

// Kept in the window's own property list, so the mark dies with the window and a reused handle never
// inherits it.
constexpr char kStayActiveProperty[] = "rtwin.StayActive";

}  // namespace

void mark_stay_active(HWND window, bool stay) {
  if (stay)
    SetPropA(window, kStayActiveProperty, reinterpret_cast<HANDLE>(1));
  else
    RemovePropA(window, kStayActiveProperty);
}

bool is_marked_stay_active(HWND window) {
  return GetPropA(window, kStayActiveProperty) != nullptr;
}

}  // namespace rtwin
