// The wizard's page flow, device search and progress texts, kept apart from the window so they run
// natively against the router peer. The dialog implements WizardHost and draws the pages it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "upgrade_engine.h"

namespace upgrade {

enum class Page : int {
  kNone = 0,
  kWelcome = 1,
  kAdapterCount = 2,
  kAdapter = 3,
  kDeviceList = 4,
  kVersions = 5,
  kUpgrade = 6,
  kDone = 7,
};

// Picture resources of the pages.
enum PictureId : int {
  kPictureWelcome = 150,
  kPictureAdapter = 152,
  kPictureDeviceList = 153,
  kPictureVersions = 154,
  kPictureUpgrade = 145,
  kPictureDone = 155,
};

// What one page shows; every control not named stays as it is.
struct PageView {
  Page page = Page::kNone;
  int picture = kPictureWelcome;
  bool next = false, nextEnabled = true, back = false, close = true, upgrade = false;
  bool adapterList = false;  // the adapter list and its description
  bool deviceList = false;
  bool versions = false;  // model name, router version, file version
  bool progress = false;  // progress bar and status text
};

PageView ViewOf(Page page, bool deviceListEmpty);

class WizardHost {
 public:
  virtual ~WizardHost() = default;
  virtual void ShowPage(const PageView &view) = 0;
  virtual void Message(const std::string &text) = 0;
  // Leaves the program with this status after releasing the adapter.
  virtual void Exit(int status) = 0;
  virtual int AdapterCount() = 0;
  // Selects the item and shows its description.
  virtual void SelectAdapter(int index) = 0;
  // The selected adapter's device name; empty when nothing is selected.
  virtual std::string SelectedDeviceName() = 0;
  // 0 when the adapter is open.
  virtual int OpenAdapter(const std::string &deviceName) = 0;
  // The first gateway of the Ethernet adapter with this GUID, or nullopt.
  virtual std::optional<std::string> AdapterGateway(const std::string &guid) = 0;
  virtual void BusyCursor(bool busy) = 0;
  virtual std::string ImagePath() = 0;
};

// The adapter GUID inside a device name "\DEVICE\{...}": from its ninth character on, and only when
// that is a braced, non-empty GUID, since an empty one would match every adapter.
std::optional<std::string> AdapterGuidOfDeviceName(std::string_view deviceName);

struct GatewayEntry {
  std::string adapterName;
  unsigned type = 0;
  std::string gateway;
};
inline constexpr unsigned kEthernetAdapterType = 6;

// The first Ethernet adapter whose name begins with the GUID (case-insensitively) gives its gateway.
std::optional<std::string> ChooseGateway(const std::vector<GatewayEntry> &adapters, std::string_view guid);

// "<dir>\Bin\HBX7300NQ.bin", with a separator only where the directory lacks one.
std::string ImagePathIn(std::string directory);

class WizardFlow {
 public:
  WizardFlow(WizardHost &host, UpgradeEngine &engine) : host_(host), engine_(engine) {}

  // The welcome page; the adapter count is the listed adapters'.
  void Start();
  void OnNext();
  void OnBack();
  // The router took the image and rebooted: only Close is left.
  void OnUpgradeSucceeded();

  Page page() const { return page_; }
  const std::vector<std::string> &devices() const { return devices_; }
  const std::string &routerVersion() const { return routerVersion_; }
  const std::string &fileVersion() const { return fileVersion_; }
  const std::string &selectedDevice() const { return selectedDevice_; }
  // Picks the device the upgrade goes to (the device list's caret item).
  void SetDeviceIndex(std::size_t index) { deviceIndex_ = index; }

  enum class BrowseResult { kFailed, kFound, kExited };
  BrowseResult BrowseDevice();

 private:
  void Show(Page page);
  void CheckAdapters();
  void OpenAndSearch();
  void ShowVersions() { Show(Page::kVersions); }

  WizardHost &host_;
  UpgradeEngine &engine_;
  Page page_ = Page::kNone;
  int adapterCount_ = 0;
  std::vector<std::string> devices_;
  std::size_t deviceIndex_ = 0;
  std::string routerVersion_, fileVersion_, selectedDevice_;
};

// What a progress report (message 1781) does to the dialog.
struct ProgressEffect {
  enum Kind { kPosition, kStarted, kStatus, kRebooted, kSucceeded, kFailed, kIgnored } kind = kIgnored;
  int position = -1;    // new progress position, -1 to leave it
  std::string status;   // new status text when not empty
  std::string message;  // failure message box text
};
inline constexpr std::intptr_t kRebootTick = 913;
inline constexpr std::intptr_t kRebootDone = 501;
inline constexpr std::intptr_t kUpgradeSucceeded = 201;

ProgressEffect EffectOfProgress(std::intptr_t wParam, std::intptr_t lParam);

// The message box text for a failed transfer's device or engine code.
std::string FailureText(std::intptr_t code);

}  // namespace upgrade
