#include "wizard_flow.h"

#include <cctype>
#include <cstdio>

#include "device_name.h"
#include "hl_download.h"

namespace upgrade {

PageView ViewOf(Page page, bool deviceListEmpty) {
  PageView v;
  v.page = page;
  switch (page) {
    case Page::kNone:
    case Page::kWelcome:
    case Page::kAdapterCount:
      v.picture = kPictureWelcome;
      v.next = true;
      break;
    case Page::kAdapter:
      v.picture = kPictureAdapter;
      v.next = v.back = true;
      v.adapterList = true;
      break;
    case Page::kDeviceList:
      v.picture = kPictureDeviceList;
      v.next = v.back = true;
      v.nextEnabled = !deviceListEmpty;
      v.deviceList = true;
      break;
    case Page::kVersions:
      v.picture = kPictureVersions;
      v.next = v.back = true;
      v.versions = true;
      break;
    case Page::kUpgrade:
      v.picture = kPictureUpgrade;
      v.back = v.upgrade = v.progress = true;
      break;
    case Page::kDone:
      v.picture = kPictureDone;
      break;
  }
  return v;
}

std::optional<std::string> AdapterGuidOfDeviceName(std::string_view deviceName) {
  constexpr std::size_t kPrefix = 8;  // "\DEVICE\"
  if (deviceName.size() <= kPrefix) return std::nullopt;
  std::string_view guid = deviceName.substr(kPrefix);
  if (guid.size() < 3 || guid.front() != '{' || guid.back() != '}') return std::nullopt;
  return std::string(guid);
}

std::optional<std::string> ChooseGateway(const std::vector<GatewayEntry> &adapters, std::string_view guid) {
  if (guid.empty()) return std::nullopt;
  for (const auto &a : adapters) {
    if (a.type != kEthernetAdapterType || a.adapterName.size() < guid.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < guid.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(a.adapterName[i])) ==
             std::tolower(static_cast<unsigned char>(guid[i]));
    if (same) return a.gateway;
  }
  return std::nullopt;
}

std::string ImagePathIn(std::string directory) {
  if (directory.empty() || directory.back() != '\\') directory += '\\';
  return directory + "Bin\\HBX7300NQ.bin";
}

void WizardFlow::Show(Page page) {
  page_ = page;
  host_.ShowPage(ViewOf(page, devices_.empty()));
}

void WizardFlow::Start() {
  adapterCount_ = host_.AdapterCount();
  Show(Page::kWelcome);
}

void WizardFlow::OnNext() {
  switch (page_) {
    case Page::kNone:
    case Page::kWelcome:
      page_ = Page::kAdapterCount;
      CheckAdapters();
      break;
    case Page::kAdapterCount:
      CheckAdapters();
      break;
    case Page::kAdapter:
      OpenAndSearch();
      break;
    case Page::kDeviceList:
      ShowVersions();
      break;
    case Page::kVersions:
      if (fileVersion_.empty()) {
        host_.Message("You can't upgrade your device!");
        break;
      }
      selectedDevice_ = deviceIndex_ < devices_.size() ? devices_[deviceIndex_] : std::string();
      Show(Page::kUpgrade);
      break;
    case Page::kUpgrade:
    case Page::kDone:
      break;
  }
}

void WizardFlow::CheckAdapters() {
  adapterCount_ = host_.AdapterCount();
  if (adapterCount_ == 0) {
    host_.Message("Cannot find any adapter.");
    return;
  }
  host_.SelectAdapter(0);
  if (adapterCount_ == 1) {
    page_ = Page::kAdapter;
    OpenAndSearch();
    return;
  }
  Show(Page::kAdapter);
}

void WizardFlow::OpenAndSearch() {
  std::string deviceName = host_.SelectedDeviceName();
  if (deviceName.empty()) return;
  // The user pressed Next; a silent refusal would leave them guessing.
  if (host_.OpenAdapter(deviceName) != 0) {
    host_.Message("Cannot open the adapter.");
    return;
  }
  auto guid = AdapterGuidOfDeviceName(deviceName);
  std::optional<std::string> gateway = guid ? host_.AdapterGateway(*guid) : std::nullopt;
  if (!gateway) {
    host_.Message("Get the gateway of the specified adapter error,please try again!");
    return;
  }
  if (gateway->rfind("169.", 0) == 0) {
    host_.Message("Please check your Default GateWay(IP)!");
    return;
  }
  switch (BrowseDevice()) {
    case BrowseResult::kExited:
      return;
    case BrowseResult::kFailed:
      host_.Message("Browse device error!");
      return;
    case BrowseResult::kFound:
      break;
  }
  if (devices_.size() == 1)
    ShowVersions();
  else
    Show(Page::kDeviceList);
}

WizardFlow::BrowseResult WizardFlow::BrowseDevice() {
  struct Busy {
    WizardHost &h;
    explicit Busy(WizardHost &host) : h(host) { h.BusyCursor(true); }
    ~Busy() { h.BusyCursor(false); }
  } busy(host_);
  HLdownload download(engine_);
  std::vector<std::string> names;
  devices_.clear();
  deviceIndex_ = 0;
  if (download.ScanDevices(names) == kScanFailed) {
    host_.Message("Broadcast Error !");
    return BrowseResult::kFound;
  }
  if (names.empty()) {
    host_.Message("cannot scan your device!");
    host_.Exit(1);
    return BrowseResult::kExited;
  }
  if (names.size() > 1) {
    host_.Message("Please check your device type!");
    host_.Exit(1);
    return BrowseResult::kExited;
  }
  auto mac = MacOfDeviceName(names.front());
  DeviceInfoBlock block{};
  if (!mac || download.QueryDeviceInfo(*mac, block) != 0) return BrowseResult::kFailed;
  routerVersion_ = VersionText(block);
  devices_.push_back(names.front());

  std::string path = host_.ImagePath();
  DeviceInfoBlock header{};
  fileVersion_.clear();
  switch (download.ReadBinHeader(path, header)) {
    case 0:
      fileVersion_ = VersionText(header);
      break;
    case 2:
      host_.Message("Cannot find the file " + path + " in Current directory!");
      break;
    default:
      host_.Message("Bad bin file, cannot upgrade your device!");
      break;
  }
  return BrowseResult::kFound;
}

void WizardFlow::OnBack() {
  bool severalAdapters = adapterCount_ > 1;
  switch (page_) {
    case Page::kAdapterCount:
    case Page::kAdapter:
      Show(Page::kWelcome);
      break;
    case Page::kDeviceList:
      Show(severalAdapters ? Page::kAdapter : Page::kWelcome);
      break;
    case Page::kVersions:
      if (devices_.empty())
        Show(Page::kDeviceList);
      else
        Show(severalAdapters ? Page::kAdapter : Page::kWelcome);
      break;
    case Page::kUpgrade:
    case Page::kDone:
      ShowVersions();
      break;
    case Page::kNone:
    case Page::kWelcome:
      break;
  }
}

void WizardFlow::OnUpgradeSucceeded() {
  page_ = static_cast<Page>(static_cast<int>(page_) + 1);
  host_.ShowPage(ViewOf(Page::kDone, devices_.empty()));
}

ProgressEffect EffectOfProgress(std::intptr_t wParam, std::intptr_t lParam) {
  ProgressEffect e;
  char text[64];
  if (lParam == kRebootTick) {
    e.kind = ProgressEffect::kPosition;
    e.position = static_cast<int>(wParam);
  } else if (wParam == 0 && lParam == 0) {
    e.kind = ProgressEffect::kStarted;
    e.position = 0;
    e.status = "Erasing EEPROM...";
  } else if (wParam >= 1 && wParam <= 100) {
    e.kind = ProgressEffect::kStatus;
    e.position = static_cast<int>(wParam);
    std::snprintf(text, sizeof text, "FW Upgrade completed %d%c", static_cast<int>(wParam), '%');
    e.status = text;
  } else if (wParam >= 101 && wParam <= 200) {
    e.kind = ProgressEffect::kStatus;
    e.position = static_cast<int>(wParam - 100);
    std::snprintf(text, sizeof text, "Verifying EEPROM... %d%c", static_cast<int>(wParam - 100), '%');
    e.status = text;
  } else if (wParam == kRebootDone && lParam == 0) {
    e.kind = ProgressEffect::kRebooted;
  } else if (wParam == kUpgradeSucceeded && lParam == 0) {
    e.kind = ProgressEffect::kSucceeded;
    e.status = "Upgrade successfully.";
  } else if (wParam == kProgressFailed) {
    e.kind = ProgressEffect::kFailed;
    e.status = "Upgrade not completed, please retry.";
    e.message = FailureText(lParam);
  }
  return e;
}

std::string FailureText(std::intptr_t code) {
  switch (code) {
    case 6:
      return "Sequence number error.";
    case 7:
      return "Programming error.";
    case 9:
      return "Verifying error.";
    case 10:
      return "Check pid error.";
    case 11:
      return "Invalid file format.";
    case 12:
      return "Internal error.";
    case 13:
      return "Insufficient flash.";
    case 14:
      return "Write to flash error.";
    default:
      return "Recover process fail, \nPlease turn off/on the power then press \"Upgrade\" button again.";
  }
}

}  // namespace upgrade
