// The upgrade wizard's application: one copy at a time, one modal dialog, then the program ends.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "tavlen_dlg.h"

namespace upgrade {

class CTavlenApp {
 public:
  // False: the program ends when the dialog closes (or at once when a copy already runs).
  bool InitInstance() {
    // Hosting controls needs OLE; the page pictures are decoded through it as well.
    if (FAILED(OleInitialize(nullptr))) return false;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // A second copy would drive the same adapter and router; the running one is found by the
    // caption its dialog really has.
    if (HWND running = FindWindowA(nullptr, "HBX7300NQ Upgrade Utility V1.0")) {
      if (IsIconic(running)) {
        ShowWindow(running, SW_RESTORE);
      } else {
        ShowWindow(running, SW_MINIMIZE);
        ShowWindow(running, SW_RESTORE);
      }
      SetForegroundWindow(running);
      return false;
    }
    CTavlenDlg dialog;
    dialog.DoModal();
    return false;
  }
  int ExitInstance() {
    OleUninitialize();
    return 0;
  }
};

}  // namespace upgrade

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  upgrade::CTavlenApp app;
  app.InitInstance();
  return app.ExitInstance();
}
