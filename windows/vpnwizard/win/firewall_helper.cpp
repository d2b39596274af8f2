#include "firewall_helper.h"

#include <oleauto.h>

#include <cstdlib>
#include <string>

namespace tunmira {
namespace {

constexpr DWORD kModulePathChars = 260;

// A BSTR owned for the length of one call.
class OwnedBstr {
 public:
  explicit OwnedBstr(const wchar_t *text) : value_(::SysAllocString(text)) {}
  ~OwnedBstr() { ::SysFreeString(value_); }
  OwnedBstr(const OwnedBstr &) = delete;
  OwnedBstr &operator=(const OwnedBstr &) = delete;
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

// Releases a COM interface pointer when it goes out of scope.
template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  ComRef(const ComRef &) = delete;
  ComRef &operator=(const ComRef &) = delete;
  Interface **out() { return &pointer_; }
  Interface *operator->() const { return pointer_; }
  Interface *get() const { return pointer_; }

 private:
  Interface *pointer_ = nullptr;
};

FW_ERROR_CODE check_argument(const wchar_t *text) {
  if (text == nullptr) return kFwNullArgument;
  if (text[0] == L'\0') return kFwEmptyArgument;
  return kFwOk;
}

}  // namespace

FirewallHelper::~FirewallHelper() {
  Release();
}

FW_ERROR_CODE FirewallHelper::Initialize() {
  if (profile_ != nullptr) return kFwNotInitialized;
  ComRef<INetFwMgr> manager;
  if (FAILED(::CoCreateInstance(__uuidof(NetFwMgr), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwMgr),
                                reinterpret_cast<void **>(manager.out()))) ||
      manager.get() == nullptr) {
    return kFwNoManager;
  }
  ComRef<INetFwPolicy> policy;
  if (FAILED(manager->get_LocalPolicy(policy.out())) || policy.get() == nullptr) return kFwNoLocalPolicy;
  if (FAILED(policy->get_CurrentProfile(&profile_)) || profile_ == nullptr) {
    profile_ = nullptr;
    return kFwNoProfile;
  }
  return kFwOk;
}

FW_ERROR_CODE FirewallHelper::Release() {
  if (profile_ != nullptr) profile_->Release();
  profile_ = nullptr;
  return kFwOk;
}

FW_ERROR_CODE FirewallHelper::IsFirewallEnabled(int &enabled) {
  enabled = 0;
  if (profile_ == nullptr) return kFwNotInitialized;
  VARIANT_BOOL value = VARIANT_FALSE;
  if (FAILED(profile_->get_FirewallEnabled(&value))) return kFwEnabledUnreadable;
  enabled = value != VARIANT_FALSE ? 1 : 0;
  return kFwOk;
}

FW_ERROR_CODE FirewallHelper::IsAuthorized(const wchar_t *image_path, int &authorized) {
  authorized = 0;
  if (const FW_ERROR_CODE bad = check_argument(image_path); bad != kFwOk) return bad;
  if (profile_ == nullptr) return kFwNotInitialized;
  ComRef<INetFwAuthorizedApplications> applications;
  if (FAILED(profile_->get_AuthorizedApplications(applications.out())) || applications.get() == nullptr) {
    return kFwNoApplicationList;
  }
  OwnedBstr path(image_path);
  ComRef<INetFwAuthorizedApplication> application;
  // A path the list does not hold is simply not authorised.
  if (FAILED(applications->Item(path.get(), application.out())) || application.get() == nullptr) return kFwOk;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  if (FAILED(application->get_Enabled(&enabled))) return kFwApplicationEnabledUnreadable;
  authorized = enabled != VARIANT_FALSE ? 1 : 0;
  return kFwOk;
}

FW_ERROR_CODE FirewallHelper::AddAuthorizedApplication(const wchar_t *image_path, const wchar_t *name) {
  if (image_path == nullptr || name == nullptr) return kFwNullArgument;
  if (image_path[0] == L'\0' || name[0] == L'\0') return kFwEmptyArgument;
  int authorized = 0;
  if (const FW_ERROR_CODE failed = IsAuthorized(image_path, authorized); failed != kFwOk) return failed;
  if (authorized == 1) return kFwOk;
  ComRef<INetFwAuthorizedApplications> applications;
  if (FAILED(profile_->get_AuthorizedApplications(applications.out())) || applications.get() == nullptr) {
    return kFwNoApplicationList;
  }
  ComRef<INetFwAuthorizedApplication> application;
  if (FAILED(::CoCreateInstance(__uuidof(NetFwAuthorizedApplication), nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(INetFwAuthorizedApplication),
                                reinterpret_cast<void **>(application.out()))) ||
      application.get() == nullptr) {
    return kFwNoApplicationObject;
  }
  OwnedBstr path(image_path);
  if (FAILED(application->put_ProcessImageFileName(path.get()))) return kFwImagePathNotSet;
  OwnedBstr entry_name(name);
  if (FAILED(application->put_Name(entry_name.get()))) return kFwNameNotSet;
  if (FAILED(applications->Add(application.get()))) return kFwNotAdded;
  return kFwOk;
}

FW_ERROR_CODE FirewallHelper::RemoveAuthorizedApplication(const wchar_t *image_path) {
  int authorized = 0;
  if (const FW_ERROR_CODE failed = IsAuthorized(image_path, authorized); failed != kFwOk) return failed;
  if (authorized == 0) return kFwOk;
  ComRef<INetFwAuthorizedApplications> applications;
  if (FAILED(profile_->get_AuthorizedApplications(applications.out())) || applications.get() == nullptr) {
    return kFwNoApplicationList;
  }
  OwnedBstr path(image_path);
  if (FAILED(applications->Remove(path.get()))) return kFwNotRemoved;
  return kFwOk;
}

FW_ERROR_CODE FirewallHelper::GetExceptionsNotAllowed(int &not_allowed) {
  not_allowed = 1;
  if (profile_ == nullptr) return kFwNotInitialized;
  VARIANT_BOOL value = VARIANT_TRUE;
  if (FAILED(profile_->get_ExceptionsNotAllowed(&value))) return kFwExceptionsSetting;
  not_allowed = value != VARIANT_FALSE ? 1 : 0;
  return kFwOk;
}

FW_ERROR_CODE FirewallHelper::SetExceptionsNotAllowed(int not_allowed) {
  if (profile_ == nullptr) return kFwNotInitialized;
  if (FAILED(profile_->put_ExceptionsNotAllowed(not_allowed != 0 ? VARIANT_TRUE : VARIANT_FALSE))) {
    return kFwExceptionsSetting;
  }
  return kFwOk;
}

bool FirewallHelper::IsWindowsXpSp2() {
  unsigned major = 0;
  unsigned minor = 0;
  std::string service_pack;
  const char *override = std::getenv(kWindowsVersionVariable);
  if (override == nullptr || !parse_version_override(override, major, minor, service_pack)) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!::GetVersionExA(&version)) return false;
    major = version.dwMajorVersion;
    minor = version.dwMinorVersion;
    service_pack = version.szCSDVersion;
  }
  return is_xp_sp2_version(major, minor, service_pack);
}

namespace {

std::wstring module_path() {
  wchar_t path[kModulePathChars] = {};
  ::GetModuleFileNameW(nullptr, path, kModulePathChars);
  return path;
}

std::unique_ptr<FirewallOps> make_helper() {
  return std::make_unique<FirewallHelper>();
}

}  // namespace

FirewallMemory firewall_start_step() {
  return firewall_at_start(FirewallHelper::IsWindowsXpSp2(), make_helper, module_path());
}

void firewall_exit_step(const FirewallMemory &memory) {
  firewall_at_exit(memory, make_helper, module_path());
}

}  // namespace tunmira
