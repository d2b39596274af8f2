// The platform firewall's current profile through its COM interfaces: whether the firewall is on,
// the exceptions setting and the authorised-application list.
#pragma once

#include <windows.h>
#include <netfw.h>

#include "firewall_steps.h"

namespace tunmira {

class FirewallHelper : public FirewallOps {
 public:
  FirewallHelper() = default;
  ~FirewallHelper() override;
  FirewallHelper(const FirewallHelper &) = delete;
  FirewallHelper &operator=(const FirewallHelper &) = delete;

  FW_ERROR_CODE Initialize() override;
  FW_ERROR_CODE Release() override;
  FW_ERROR_CODE IsFirewallEnabled(int &enabled) override;
  FW_ERROR_CODE IsAuthorized(const wchar_t *image_path, int &authorized);
  FW_ERROR_CODE AddAuthorizedApplication(const wchar_t *image_path, const wchar_t *name) override;
  FW_ERROR_CODE RemoveAuthorizedApplication(const wchar_t *image_path) override;
  FW_ERROR_CODE GetExceptionsNotAllowed(int &not_allowed) override;
  FW_ERROR_CODE SetExceptionsNotAllowed(int not_allowed) override;

  // The system's version (or the one TUNMIRA_WINDOWS_VERSION names) is 5.1 "Service Pack 2".
  static bool IsWindowsXpSp2();

 private:
  INetFwProfile *profile_ = nullptr;
};

// The wizard's start and exit steps on the platform firewall, for the running module's own path.
FirewallMemory firewall_start_step();
void firewall_exit_step(const FirewallMemory &memory);

}  // namespace tunmira
