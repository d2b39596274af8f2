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
  std::string user_guide;
  std::string upgrade_text;
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
  const std::string &program_folder() const { return program_folder_; }
  CurrentDocuments &documents() { return documents_; }
  HWND main_window() const { return main_window_; }
  void set_main_window(HWND window) { main_window_ = window; }
  // Set when the language file is missing: the program ends with this status.
  int exit_status = 0;

 private:
  Win32SkinHost host_;
  SkinLoader skin_;
  FirewallMemory firewall_;
  std::string program_folder_;
  CurrentDocuments documents_;
  HWND main_window_ = nullptr;
  ULONG_PTR gdiplus_token_ = 0;
  bool com_started_ = false;
};

CWizardApp &the_app();

}  // namespace tunmira
