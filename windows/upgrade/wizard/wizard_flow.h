// The wizard's page flow, device search and progress texts, kept apart from the window so they run
// natively against the router peer. The dialog implements WizardHost and draws the pages it is given.
#pragma once

#include <cstdint>
#include <functional>
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
  bool next = false, next_enabled = true, back = false, close = true, upgrade = false;
  bool adapter_list = false;  // the adapter list and its description
  bool device_list = false;
  bool versions = false;  // model name, router version, file version
  bool progress = false;  // progress bar and status text
};

PageView view_of(Page page, bool device_list_empty);

// What the device search found: the scan, the router's information and the image header.
struct SearchOutcome {
  int scan = 0;  // the number of devices, or kScanFailed
  std::vector<std::string> names;
  int query = -1;  // the information query's result, when exactly one device answered
  DeviceInfoBlock router_block{};
  int header = 0;  // the image header search's result, after a successful query
  DeviceInfoBlock file_block{};
};

// The search itself. It touches only the engine and the image file, never the window, so it can run
// on a thread of its own: it takes seconds, over a minute for a router that never answers.
SearchOutcome search_devices(UpgradeEngine &engine, const std::string &image_path);

class WizardHost {
 public:
  virtual ~WizardHost() = default;
  virtual void ShowPage(const PageView &view) = 0;
  virtual void message(const std::string &text) = 0;
  // Leaves the program with this status after releasing the adapter.
  virtual void exit(int status) = 0;
  virtual int adapter_count() = 0;
  // Selects the item and shows its description.
  virtual void select_adapter(int index) = 0;
  // The selected adapter's device name; empty when nothing is selected.
  virtual std::string selected_device_name() = 0;
  // 0 when the adapter is open.
  virtual int OpenAdapter(const std::string &device_name) = 0;
  // The first gateway of the Ethernet adapter with this GUID, or nullopt.
  virtual std::optional<std::string> adapter_gateway(const std::string &guid) = 0;
  virtual void busy_cursor(bool busy) = 0;
  virtual std::string image_path() = 0;
  // Runs `search` where the window keeps answering meanwhile, then `done` with its outcome on the
  // window's thread.
  virtual void run_search(std::function<SearchOutcome()> search,
                          std::function<void(const SearchOutcome &)> done) = 0;
};

// The adapter GUID inside a device name "\DEVICE\{...}": from its ninth character on, and only when
// that is a braced, non-empty GUID, since an empty one would match every adapter.
std::optional<std::string> adapter_guid_of_device_name(std::string_view device_name);

struct GatewayEntry {
  std::string adapter_name;
  unsigned type = 0;
  std::string gateway;
};
inline constexpr unsigned kEthernetAdapterType = 6;

// The first Ethernet adapter whose name begins with the GUID (case-insensitively) gives its gateway.
std::optional<std::string> choose_gateway(const std::vector<GatewayEntry> &adapters, std::string_view guid);

// "<dir>\Bin\HBX7300NQ.bin", with a separator only where the directory lacks one.
std::string image_path_in(std::string directory);

class WizardFlow {
 public:
  WizardFlow(WizardHost &host, UpgradeEngine &engine) : host_(host), engine_(engine) {}

  // The welcome page; the adapter count is the listed adapters'.
  void start();
  // Both are ignored while the device search runs.
  void OnNext();
  void OnBack();
  // The router took the image and rebooted: only Close is left.
  void on_upgrade_succeeded();

  Page page() const { return page_; }
  const std::vector<std::string> &devices() const { return devices_; }
  const std::string &router_version() const { return router_version_; }
  const std::string &file_version() const { return file_version_; }
  const std::string &selected_device() const { return selected_device_; }
  // Picks the device the upgrade goes to (the device list's caret item).
  void set_device_index(std::size_t index) { device_index_ = index; }

  bool searching() const { return searching_; }

 private:
  enum class BrowseResult { kFailed, kFound, kExited };

  void show(Page page);
  void check_adapters();
  void open_and_search();
  void on_search_done(const SearchOutcome &outcome);
  BrowseResult BrowseDevice(const SearchOutcome &outcome);
  void show_versions() { show(Page::kVersions); }

  WizardHost &host_;
  UpgradeEngine &engine_;
  Page page_ = Page::kNone;
  int adapter_count_ = 0;
  std::vector<std::string> devices_;
  std::size_t device_index_ = 0;
  std::string router_version_, file_version_, selected_device_;
  bool searching_ = false;
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

ProgressEffect effect_of_progress(std::intptr_t wParam, std::intptr_t lParam);

// The message box text for a failed transfer's device or engine code.
std::string failure_text(std::intptr_t code);

// Milliseconds per step of the reboot wait (101 steps): the router needs about 24 s to restart.
inline constexpr std::uint32_t kRebootStepMs = 240;
inline constexpr std::uint32_t kRebootStepMaxMs = 1000;

// The step a test may set through UPGRADE_REBOOT_STEP_MS (empty when unset).
std::uint32_t reboot_step_ms(std::string_view setting);

}  // namespace upgrade
