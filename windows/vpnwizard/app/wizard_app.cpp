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
CWizardApp *current_app = nullptr;
}  // namespace

CWizardApp &the_app() {
  return *current_app;
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
  if (GdiplusStartup(&gdiplus_token_, &gdiplus, nullptr) != 0) gdiplus_token_ = 0;

  program_folder_ = host_.program_directory();

  fill_language_file_names(LanguageTable);
  CurrentLanguageFile = LanguageTable[kEnglishSlot].file_name;
  if (!SelectLanguageFile(host_, LanguageTable, "MSG", CurrentLanguageFile)) {
    exit_status = 1;
    return false;
  }

  com_started_ = SUCCEEDED(CoInitialize(nullptr));
  firewall_ = firewall_start_step();

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
    CCdStartPage cd_start;
    for (CWizardPage *page : std::initializer_list<CWizardPage *>{
             &welcome00, &welcome01, &welcome10, &remote, &welcome16, &welcome17, &welcome30, &cd_start})
      dialog.AddPage(*page);
    dialog.DoModal();
  }

  if (gdiplus_token_) GdiplusShutdown(gdiplus_token_);
  return false;
}

int CWizardApp::ExitInstance() {
  firewall_exit_step(firewall_);
  if (com_started_) CoUninitialize();
  return exit_status;
}

}  // namespace tunmira

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  tunmira::CWizardApp app;
  tunmira::current_app = &app;
  app.InitInstance();
  return app.ExitInstance();
}
