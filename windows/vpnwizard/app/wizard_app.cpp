// Tunmira's start-up and exit.
#include "wizard_app.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cstdint>

#include "language.h"
#include "main_dialog.h"
#include "page_remote.h"
#include "resource.h"
#include "wizard_pages.h"

// The flat GDI+ start and stop calls; the class headers are not needed for them.
extern "C" {
struct TunmiraGdiplusStartupInput {
  std::uint32_t GdiplusVersion;
  void *DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};
int WINAPI GdiplusStartup(ULONG_PTR *token, const TunmiraGdiplusStartupInput *input, void *output);
void WINAPI GdiplusShutdown(ULONG_PTR token);
}

namespace tunmira {

namespace {
CWizardApp *theApp = nullptr;
}  // namespace

CWizardApp &TheApp() {
  return *theApp;
}

int CWizardApp::FindRunningInstance() {
  char caption[256] = {};
  LoadStringA(GetModuleHandleA(nullptr), IDS_MAIN_CAPTION, caption, sizeof caption);
  HWND running = FindWindowA(nullptr, caption);
  if (running == nullptr) return 1;
  if (IsIconic(running)) {
    ShowWindow(running, SW_RESTORE);
  } else {
    ShowWindow(running, SW_MINIMIZE);
    ShowWindow(running, SW_SHOWNORMAL);
  }
  return 0;
}

bool CWizardApp::InitInstance() {
  if (FindRunningInstance() == 0) return false;

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  TunmiraGdiplusStartupInput gdiplus{1, nullptr, FALSE, FALSE};
  if (GdiplusStartup(&gdiplusToken_, &gdiplus, nullptr) != 0) gdiplusToken_ = 0;

  programFolder_ = host_.ProgramDirectory();

  FillLanguageFileNames(LanguageTable);
  CurrentLanguageFile = LanguageTable[kEnglishSlot].fileName;
  if (!SelectLanguageFile(host_, LanguageTable, "MSG", CurrentLanguageFile)) {
    exitStatus = 1;
    return false;
  }

  comStarted_ = SUCCEEDED(CoInitialize(nullptr));
  firewall_ = FirewallStartStep();

  skin_.SetSkinFile(CurrentLanguageFile);
  skin_.LoadSkinCommon();

  {
    CWizardMainDlg dialog;
    CWelcome00Page welcome00;
    CWelcome01Page welcome01;
    CWelcome10Page welcome10;
    CPageRemote remote;
    CWelcome16Page welcome16;
    CWelcome17Page welcome17;
    CWelcome30Page welcome30;
    CCdStartPage cdStart;
    for (CWizardPage *page : std::initializer_list<CWizardPage *>{
             &welcome00, &welcome01, &welcome10, &remote, &welcome16, &welcome17, &welcome30, &cdStart})
      dialog.AddPage(*page);
    dialog.DoModal();
  }

  if (gdiplusToken_) GdiplusShutdown(gdiplusToken_);
  return false;
}

int CWizardApp::ExitInstance() {
  FirewallExitStep(firewall_);
  if (comStarted_) CoUninitialize();
  return exitStatus;
}

}  // namespace tunmira

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  tunmira::CWizardApp app;
  tunmira::theApp = &app;
  app.InitInstance();
  return app.ExitInstance();
}
