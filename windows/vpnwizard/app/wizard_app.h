// The wizard's application object: one copy at a time, the platform services, the language and skin,
// the main dialog with its pages run modally, and the clean-up at exit.
#pragma once

#include <windows.h>

#include <string>

#include "firewall_helper.h"
#include "skin_loader.h"
#include "win_skin_host.h"

namespace tunmira {

// The documents the help actions open, set by the first page.
struct CurrentDocuments {
  std::string userGuide;
  std::string upgradeText;
  std::string licence;
};

class CWizardApp {
 public:
  CWizardApp() : skin_(host_) {}

  // False in every case: the program ends when it returns.
  bool InitInstance();
  // The exit status of the process.
  int ExitInstance();
  // 0 when another copy runs (it is brought forward), 1 otherwise.
  int FindRunningInstance();

  SkinLoader &skin() { return skin_; }
  Win32SkinHost &host() { return host_; }
  const std::string &programFolder() const { return programFolder_; }
  CurrentDocuments &documents() { return documents_; }
  HWND mainWindow() const { return mainWindow_; }
  void SetMainWindow(HWND window) { mainWindow_ = window; }
  // Set when the language file is missing: the program ends with this status.
  int exitStatus = 0;

 private:
  Win32SkinHost host_;
  SkinLoader skin_;
  FirewallMemory firewall_;
  std::string programFolder_;
  CurrentDocuments documents_;
  HWND mainWindow_ = nullptr;
  ULONG_PTR gdiplusToken_ = 0;
  bool comStarted_ = false;
};

CWizardApp &TheApp();

}  // namespace tunmira
