// A window marked to stay active keeps the active look of its frame while one of the program's own
// helper windows (a floating tool window, say) holds the activation: windows that paint their own
// caption ask this mark before showing themselves inactive.
#pragma once

#include <windows.h>

namespace rtwin {

// Sets or clears the mark. It takes effect at the window's next activation change.
void mark_stay_active(HWND window, bool stay);
bool is_marked_stay_active(HWND window);

}  // namespace rtwin
