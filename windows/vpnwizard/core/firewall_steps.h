// What the wizard does with the platform firewall when it starts and when it ends: on the one system
// version whose firewall blocks it, it allows exceptions and adds itself to the authorised
// applications, and takes both back at exit. The steps run over FirewallOps so they can be checked
// without the platform.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tunmira {

// Error codes of the firewall operations; 0 is success.
enum FW_ERROR_CODE : int {
  kFwOk = 0,
  kFwNotInitialized = 1,  // also: Initialize on an object that already holds a profile
  kFwNoManager = 2,
  kFwNoLocalPolicy = 3,
  kFwNoProfile = 4,
  kFwEnabledUnreadable = 5,
  kFwNullArgument = 7,
  kFwNoApplicationList = 8,
  kFwApplicationEnabledUnreadable = 9,
  kFwNoApplicationObject = 10,
  kFwEmptyArgument = 11,
  kFwImagePathNotSet = 12,
  kFwNameNotSet = 13,
  kFwNotAdded = 14,
  kFwNotRemoved = 15,
  kFwExceptionsSetting = 22,
};

// The operations of one firewall helper object (FirewallHelper on the platform).
class FirewallOps {
 public:
  virtual ~FirewallOps() = default;
  virtual FW_ERROR_CODE Initialize() = 0;
  virtual FW_ERROR_CODE Release() = 0;
  virtual FW_ERROR_CODE IsFirewallEnabled(int &enabled) = 0;
  virtual FW_ERROR_CODE AddAuthorizedApplication(const wchar_t *image_path, const wchar_t *name) = 0;
  virtual FW_ERROR_CODE RemoveAuthorizedApplication(const wchar_t *image_path) = 0;
  virtual FW_ERROR_CODE GetExceptionsNotAllowed(int &not_allowed) = 0;
  virtual FW_ERROR_CODE SetExceptionsNotAllowed(int not_allowed) = 0;
};

using FirewallFactory = std::function<std::unique_ptr<FirewallOps>()>;

// The name the wizard's entry carries in the authorised-application list.
inline constexpr const wchar_t *kFirewallEntryName = L"Tunmira";

// What the start step leaves for the exit step.
struct FirewallMemory {
  bool asked_for_entry = false;
  bool exceptions_were_off = false;
};

// The system version the firewall step acts on: 5.1 with the service-pack text exactly
// "Service Pack 2" (defined with the language tables).
bool is_xp_sp2_version(unsigned major, unsigned minor, std::string_view service_pack);

// A test seam for systems that report another version: "major.minor;service pack text" in the
// environment variable TUNMIRA_WINDOWS_VERSION replaces what the system reports. false when the text
// is not of that form (the system's own version is used then).
inline constexpr const char *kWindowsVersionVariable = "TUNMIRA_WINDOWS_VERSION";
bool parse_version_override(std::string_view text, unsigned &major, unsigned &minor,
                            std::string &service_pack);

// Start: only on that version. Failures leave the firewall as it was; none stops the wizard.
FirewallMemory firewall_at_start(bool is_xp_sp2, const FirewallFactory &make_helper,
                                 const std::wstring &image_path);
// Exit: only when the start step asked for the entry.
void firewall_at_exit(const FirewallMemory &memory, const FirewallFactory &make_helper,
                      const std::wstring &image_path);

}  // namespace tunmira
