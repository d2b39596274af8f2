// The firewall step under wine. Wine's own firewall reports itself off, so a fake firewall is
// registered in the process for the platform's class ids: the helper reaches it through the same COM
// calls it makes on a real system, and the fake records what was done to it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "firewall_helper.h"

namespace tunmira {
namespace {

struct FakeState {
  bool firewall_enabled = true;
  bool exceptions_not_allowed = true;
  struct Entry {
    std::wstring name;
    bool enabled = true;
  };
  std::map<std::wstring, Entry> applications;
  int managers_made = 0;
};
FakeState fake;

// IUnknown with a reference count and IDispatch without type information, for one interface.
template <typename Interface>
class FakeObject : public Interface {
 public:
  virtual ~FakeObject() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **object) override {
    if (id == IID_IUnknown || id == IID_IDispatch || id == __uuidof(Interface)) {
      *object = static_cast<Interface *>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *,
                                   UINT *) override {
    return E_NOTIMPL;
  }

 private:
  ULONG references_ = 1;
};

template <typename Interface, typename Object>
HRESULT hand(Object *object, Interface **out) {
  *out = object;
  return S_OK;
}

class FakeApplication : public FakeObject<INetFwAuthorizedApplication> {
 public:
  std::wstring name, path;
  bool enabled = true;

  HRESULT STDMETHODCALLTYPE get_Name(BSTR *value) override { return copy(name, value); }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR value) override { return store(name, value); }
  HRESULT STDMETHODCALLTYPE get_ProcessImageFileName(BSTR *value) override { return copy(path, value); }
  HRESULT STDMETHODCALLTYPE put_ProcessImageFileName(BSTR value) override { return store(path, value); }
  HRESULT STDMETHODCALLTYPE get_IpVersion(NET_FW_IP_VERSION *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IpVersion(NET_FW_IP_VERSION) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Scope(NET_FW_SCOPE *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Scope(NET_FW_SCOPE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL *value) override {
    *value = enabled ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL value) override {
    enabled = value != VARIANT_FALSE;
    return S_OK;
  }

 private:
  static HRESULT copy(const std::wstring &text, BSTR *value) {
    *value = ::SysAllocString(text.c_str());
    return S_OK;
  }
  static HRESULT store(std::wstring &text, BSTR value) {
    text = value != nullptr ? value : L"";
    return S_OK;
  }
};

class FakeApplications : public FakeObject<INetFwAuthorizedApplications> {
 public:
  HRESULT STDMETHODCALLTYPE get_Count(LONG *count) override {
    *count = static_cast<LONG>(fake.applications.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Add(INetFwAuthorizedApplication *app) override {
    BSTR path = nullptr;
    BSTR name = nullptr;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    app->get_ProcessImageFileName(&path);
    app->get_Name(&name);
    app->get_Enabled(&enabled);
    fake.applications[path] = {name, enabled != VARIANT_FALSE};
    ::SysFreeString(path);
    ::SysFreeString(name);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Remove(BSTR path) override {
    return fake.applications.erase(path) == 1 ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  HRESULT STDMETHODCALLTYPE Item(BSTR path, INetFwAuthorizedApplication **app) override {
    const auto found = fake.applications.find(path);
    if (found == fake.applications.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    auto *entry = new FakeApplication;
    entry->path = found->first;
    entry->name = found->second.name;
    entry->enabled = found->second.enabled;
    return hand(entry, app);
  }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown **) override { return E_NOTIMPL; }
};

class FakeProfile : public FakeObject<INetFwProfile> {
 public:
  HRESULT STDMETHODCALLTYPE get_Type(NET_FW_PROFILE_TYPE *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_FirewallEnabled(VARIANT_BOOL *value) override {
    *value = fake.firewall_enabled ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_FirewallEnabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ExceptionsNotAllowed(VARIANT_BOOL *value) override {
    *value = fake.exceptions_not_allowed ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ExceptionsNotAllowed(VARIANT_BOOL value) override {
    fake.exceptions_not_allowed = value != VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NotificationsDisabled(VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_NotificationsDisabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL *) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_RemoteAdminSettings(INetFwRemoteAdminSettings **) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_IcmpSettings(INetFwIcmpSettings **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_GloballyOpenPorts(INetFwOpenPorts **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Services(INetFwServices **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_AuthorizedApplications(INetFwAuthorizedApplications **apps) override {
    return hand(new FakeApplications, apps);
  }
};

class FakePolicy : public FakeObject<INetFwPolicy> {
 public:
  HRESULT STDMETHODCALLTYPE get_CurrentProfile(INetFwProfile **profile) override {
    return hand(new FakeProfile, profile);
  }
  HRESULT STDMETHODCALLTYPE GetProfileByType(NET_FW_PROFILE_TYPE, INetFwProfile **) override {
    return E_NOTIMPL;
  }
};

class FakeManager : public FakeObject<INetFwMgr> {
 public:
  HRESULT STDMETHODCALLTYPE get_LocalPolicy(INetFwPolicy **policy) override {
    return hand(new FakePolicy, policy);
  }
  HRESULT STDMETHODCALLTYPE get_CurrentProfileType(NET_FW_PROFILE_TYPE *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RestoreDefaults() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsPortAllowed(BSTR, NET_FW_IP_VERSION, LONG, BSTR, NET_FW_IP_PROTOCOL, VARIANT *,
                                          VARIANT *) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsIcmpTypeAllowed(NET_FW_IP_VERSION, BSTR, BYTE, VARIANT *, VARIANT *) override {
    return E_NOTIMPL;
  }
};

// Makes one kind of fake object for CoCreateInstance.
template <typename Made>
class FakeFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **object) override {
    if (id == IID_IUnknown || id == IID_IClassFactory) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID id, void **object) override {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if constexpr (std::is_same_v<Made, FakeManager>) ++fake.managers_made;
    auto *made = new Made;
    const HRESULT result = made->QueryInterface(id, object);
    made->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

std::wstring module_path() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

void set_version_override(const char *value) {
  std::string assignment = std::string(kWindowsVersionVariable) + "=" + value;
  ::_putenv(assignment.c_str());
}

class Firewall : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    fake = FakeState{};
    set_version_override("5.1;Service Pack 2");
  }
  void TearDown() override {
    unregister();
    set_version_override("");
    ::CoUninitialize();
  }
  void register_fakes() {
    ASSERT_TRUE(SUCCEEDED(::CoRegisterClassObject(__uuidof(NetFwMgr), &managers, CLSCTX_INPROC_SERVER,
                                                  REGCLS_MULTIPLEUSE, &manager_cookie)));
    ASSERT_TRUE(
        SUCCEEDED(::CoRegisterClassObject(__uuidof(NetFwAuthorizedApplication), &applications,
                                          CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &application_cookie)));
  }
  void unregister() {
    if (manager_cookie != 0) ::CoRevokeClassObject(manager_cookie);
    if (application_cookie != 0) ::CoRevokeClassObject(application_cookie);
    manager_cookie = application_cookie = 0;
  }

  FakeFactory<FakeManager> managers;
  FakeFactory<FakeApplication> applications;
  DWORD manager_cookie = 0;
  DWORD application_cookie = 0;
};

TEST_F(Firewall, TheVersionTestFollowsTheSeamAndOtherwiseTheSystem) {
  EXPECT_TRUE(FirewallHelper::IsWindowsXpSp2());
  set_version_override("5.1;Service Pack 3");
  EXPECT_FALSE(FirewallHelper::IsWindowsXpSp2());
  set_version_override("");
  EXPECT_FALSE(FirewallHelper::IsWindowsXpSp2()) << "wine reports another system";
}

TEST_F(Firewall, TheEntryIsAddedAtStartAndRemovedAtExit) {
  register_fakes();
  const FirewallMemory memory = firewall_start_step();
  EXPECT_TRUE(memory.asked_for_entry);
  ASSERT_EQ(fake.applications.count(module_path()), 1u);
  EXPECT_EQ(fake.applications[module_path()].name, L"Tunmira");
  EXPECT_FALSE(fake.exceptions_not_allowed) << "exceptions allowed while the wizard runs";

  firewall_exit_step(memory);
  EXPECT_TRUE(fake.applications.empty());
  EXPECT_TRUE(fake.exceptions_not_allowed) << "switched off again as it was found";
}

TEST_F(Firewall, OnAnotherSystemOrWithTheFirewallOffNothingIsTouched) {
  register_fakes();
  set_version_override("6.1;Service Pack 1");
  firewall_exit_step(firewall_start_step());
  EXPECT_EQ(fake.managers_made, 0);

  set_version_override("5.1;Service Pack 2");
  fake.firewall_enabled = false;
  const FirewallMemory memory = firewall_start_step();
  EXPECT_FALSE(memory.asked_for_entry);
  firewall_exit_step(memory);
  EXPECT_TRUE(fake.applications.empty());
  EXPECT_TRUE(fake.exceptions_not_allowed);
  EXPECT_EQ(fake.managers_made, 1);
}

TEST_F(Firewall, AnEnabledEntryIsKeptAtStartAndRemovedAtExit) {
  register_fakes();
  fake.exceptions_not_allowed = false;
  fake.applications[module_path()] = {L"by hand", true};
  const FirewallMemory memory = firewall_start_step();
  EXPECT_EQ(fake.applications[module_path()].name, L"by hand");
  firewall_exit_step(memory);
  EXPECT_TRUE(fake.applications.empty());
  EXPECT_FALSE(fake.exceptions_not_allowed);
}

TEST_F(Firewall, TheHelperReportsItsErrorCodes) {
  register_fakes();
  FirewallHelper helper;
  int value = 7;
  EXPECT_EQ(helper.IsFirewallEnabled(value), kFwNotInitialized);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(helper.SetExceptionsNotAllowed(0), kFwNotInitialized);
  ASSERT_EQ(helper.Initialize(), kFwOk);
  EXPECT_EQ(helper.Initialize(), kFwNotInitialized);
  EXPECT_EQ(helper.AddAuthorizedApplication(nullptr, L"x"), kFwNullArgument);
  EXPECT_EQ(helper.AddAuthorizedApplication(L"C:\\a.exe", L""), kFwEmptyArgument);
  EXPECT_EQ(helper.IsAuthorized(L"C:\\a.exe", value), kFwOk);
  EXPECT_EQ(value, 0) << "a path not in the list is not an error";
  EXPECT_EQ(helper.AddAuthorizedApplication(L"C:\\a.exe", L"a"), kFwOk);
  EXPECT_EQ(helper.IsAuthorized(L"C:\\a.exe", value), kFwOk);
  EXPECT_EQ(value, 1);
  fake.applications[L"C:\\a.exe"].enabled = false;
  EXPECT_EQ(helper.RemoveAuthorizedApplication(L"C:\\a.exe"), kFwOk);
  EXPECT_EQ(fake.applications.size(), 1u) << "a disabled entry is not authorised, so not removed";
  EXPECT_EQ(helper.Release(), kFwOk);
  EXPECT_EQ(helper.GetExceptionsNotAllowed(value), kFwNotInitialized);
  EXPECT_EQ(value, 1);
}

TEST_F(Firewall, WinesOwnFirewallReadsAsOff) {
  const FirewallMemory memory = firewall_start_step();
  EXPECT_FALSE(memory.asked_for_entry);
  firewall_exit_step(memory);
}

}  // namespace
}  // namespace tunmira
