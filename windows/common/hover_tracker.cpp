#include "hover_tracker.h"

namespace rtwin {

bool HoverTracker::on_message(HWND control, UINT message) {
  switch (message) {
    case WM_MOUSEMOVE:
      // Asked again after every leave: a notice is delivered once per request.
      if (!tracking_) {
        TRACKMOUSEEVENT track{sizeof track, TME_HOVER | TME_LEAVE, control, 1};
        tracking_ = TrackMouseEvent(&track) != FALSE;
      }
      return false;
    case WM_MOUSEHOVER:
      hover_ = true;
      return true;
    case WM_MOUSELEAVE:
      hover_ = tracking_ = false;
      return true;
    default:
      return false;
  }
}

}  // namespace rtwin
