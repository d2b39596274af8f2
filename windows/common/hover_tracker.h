// Whether the mouse rests on a control: the control feeds its own mouse messages in and redraws when
// told. The system is asked for one hover and one leave notice per visit, so a control that the mouse
// merely crosses never lights up, and one the mouse leaves always goes back.
#pragma once

#include <windows.h>

namespace rtwin {

class HoverTracker {
 public:
  // Takes one of the control's messages; true when the control should redraw (the mouse came to rest
  // on it or left it).
  bool on_message(HWND control, UINT message);
  bool hovering() const { return hover_; }

 private:
  bool hover_ = false;
  bool tracking_ = false;
};

}  // namespace rtwin
