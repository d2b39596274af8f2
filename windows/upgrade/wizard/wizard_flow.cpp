#include "wizard_flow.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "device_name.h"
#include "hl_download.h"

namespace upgrade {

PageView view_of(Page page, bool device_list_empty) {
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
      v.adapter_list = true;
      break;
    case Page::kDeviceList:
      v.picture = kPictureDeviceList;
      v.next = v.back = true;
      v.next_enabled = !device_list_empty;
      v.device_list = true;
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

std::optional<std::string> adapter_guid_of_device_name(std::string_view device_name) {
  constexpr std::size_t kPrefix = 8;  // "\DEVICE\"
  if (device_name.size() <= kPrefix) return std::nullopt;
  std::string_view guid = device_name.substr(kPrefix);
  if (guid.size() < 3 || guid.front() != '{' || guid.back() != '}') return std::nullopt;
  return std::string(guid);
}

std::optional<std::string> choose_gateway(const std::vector<GatewayEntry> &adapters, std::string_view guid) {
  if (guid.empty()) return std::nullopt;
  for (const auto &a : adapters) {
    if (a.type != kEthernetAdapterType || a.adapter_name.size() < guid.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < guid.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(a.adapter_name[i])) ==
             std::tolower(static_cast<unsigned char>(guid[i]));
    if (same) return a.gateway;
  }
  return std::nullopt;
}

std::string image_path_in(std::string directory) {
  if (directory.empty() || directory.back() != '\\') directory += '\\';
  return directory + "Bin\\HBX7300NQ.bin";
}

void WizardFlow::show(Page page) {
  page_ = page;
  host_.ShowPage(view_of(page, devices_.empty()));
}

void WizardFlow::start() {
  adapter_count_ = host_.adapter_count();
  show(Page::kWelcome);
}

void WizardFlow::OnNext() {
  if (searching_) return;
  switch (page_) {
    case Page::kNone:
    case Page::kWelcome:
      page_ = Page::kAdapterCount;
      check_adapters();
      break;
    case Page::kAdapterCount:
      check_adapters();
      break;
    case Page::kAdapter:
      open_and_search();
      break;
    case Page::kDeviceList:
      show_versions();
      break;
    case Page::kVersions:
      if (file_version_.empty()) {
        host_.message("You can't upgrade your device!");
        break;
      }
      selected_device_ = device_index_ < devices_.size() ? devices_[device_index_] : std::string();
      show(Page::kUpgrade);
      break;
    case Page::kUpgrade:
    case Page::kDone:
      break;
  }
}

void WizardFlow::check_adapters() {
  adapter_count_ = host_.adapter_count();
  if (adapter_count_ == 0) {
    host_.message("Cannot find any adapter.");
    return;
  }
  host_.select_adapter(0);
  if (adapter_count_ == 1) {
    page_ = Page::kAdapter;
    open_and_search();
    return;
  }
  show(Page::kAdapter);
}

void WizardFlow::open_and_search() {
  std::string device_name = host_.selected_device_name();
  if (device_name.empty()) return;
  // The user pressed Next; a silent refusal would leave them guessing.
  if (host_.OpenAdapter(device_name) != 0) {
    host_.message("Cannot open the adapter.");
    return;
  }
  auto guid = adapter_guid_of_device_name(device_name);
  std::optional<std::string> gateway = guid ? host_.adapter_gateway(*guid) : std::nullopt;
  if (!gateway) {
    host_.message("Get the gateway of the specified adapter error,please try again!");
    return;
  }
  if (gateway->rfind("169.", 0) == 0) {
    host_.message("Please check your Default GateWay(IP)!");
    return;
  }
  searching_ = true;
  host_.busy_cursor(true);
  host_.run_search([&engine = engine_, path = host_.image_path()] { return search_devices(engine, path); },
                   [this](const SearchOutcome &outcome) { on_search_done(outcome); });
}

void WizardFlow::on_search_done(const SearchOutcome &outcome) {
  searching_ = false;
  host_.busy_cursor(false);
  switch (BrowseDevice(outcome)) {
    case BrowseResult::kExited:
      return;
    case BrowseResult::kFailed:
      host_.message("Browse device error!");
      return;
    case BrowseResult::kFound:
      break;
  }
  if (devices_.size() == 1)
    show_versions();
  else
    show(Page::kDeviceList);
}

SearchOutcome search_devices(UpgradeEngine &engine, const std::string &image_path) {
  HLdownload download(engine);
  SearchOutcome outcome;
  outcome.scan = download.ScanDevices(outcome.names);
  if (outcome.names.size() != 1 || outcome.scan == kScanFailed) return outcome;
  auto mac = mac_of_device_name(outcome.names.front());
  if (!mac) return outcome;
  outcome.query = download.QueryDeviceInfo(*mac, outcome.router_block);
  if (outcome.query == 0) outcome.header = download.ReadBinHeader(image_path, outcome.file_block);
  return outcome;
}

WizardFlow::BrowseResult WizardFlow::BrowseDevice(const SearchOutcome &outcome) {
  devices_.clear();
  device_index_ = 0;
  if (outcome.scan == kScanFailed) {
    host_.message("Broadcast Error !");
    return BrowseResult::kFound;
  }
  if (outcome.names.empty()) {
    host_.message("cannot scan your device!");
    host_.exit(1);
    return BrowseResult::kExited;
  }
  if (outcome.names.size() > 1) {
    host_.message("Please check your device type!");
    host_.exit(1);
    return BrowseResult::kExited;
  }
  if (outcome.query != 0) return BrowseResult::kFailed;
  router_version_ = version_text(outcome.router_block);
  devices_.push_back(outcome.names.front());

  file_version_.clear();
  switch (outcome.header) {
    case 0:
      file_version_ = version_text(outcome.file_block);
      break;
    case 2:
      host_.message("Cannot find the file " + host_.image_path() + " in Current directory!");
      break;
    default:
      host_.message("Bad bin file, cannot upgrade your device!");
      break;
  }
  return BrowseResult::kFound;
}

void WizardFlow::OnBack() {
  if (searching_) return;
  bool several_adapters = adapter_count_ > 1;
  switch (page_) {
    case Page::kAdapterCount:
    case Page::kAdapter:
      show(Page::kWelcome);
      break;
    case Page::kDeviceList:
      show(several_adapters ? Page::kAdapter : Page::kWelcome);
      break;
    case Page::kVersions:
      if (devices_.empty())
        show(Page::kDeviceList);
      else
        show(several_adapters ? Page::kAdapter : Page::kWelcome);
      break;
    case Page::kUpgrade:
    case Page::kDone:
      show_versions();
      break;
    case Page::kNone:
    case Page::kWelcome:
      break;
  }
}

void WizardFlow::on_upgrade_succeeded() {
  page_ = static_cast<Page>(static_cast<int>(page_) + 1);
  host_.ShowPage(view_of(Page::kDone, devices_.empty()));
}

ProgressEffect effect_of_progress(std::intptr_t wParam, std::intptr_t lParam) {
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
    e.message = failure_text(lParam);
  }
  return e;
}

std::string failure_text(std::intptr_t code) {
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

std::uint32_t reboot_step_ms(std::string_view setting) {
  // Only whole decimal numbers count: a typing slip must never shorten or remove the wait, which
  // would show success while the router is still restarting.
  std::uint32_t step = 0;
  const char *end = setting.data() + setting.size();
  auto [stop, error] = std::from_chars(setting.data(), end, step);
  bool whole_number = error == std::errc() && stop == end;
  return whole_number && step >= 1 && step <= kRebootStepMaxMs ? step : kRebootStepMs;
}

}  // namespace upgrade
