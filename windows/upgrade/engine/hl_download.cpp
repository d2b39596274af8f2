#include "hl_download.h"

#include <algorithm>

#include "device_name.h"
#include "hl_upgrade.h"

namespace upgrade {
namespace {

constexpr int kDiscoverFrames = 3;
constexpr std::uint16_t kDiscoverPeriodUnits = 2;

bool is_group_address(const Mac &mac) {
  return (mac[0] & 0x01) != 0;
}

}  // namespace

bool HLdownload::is_discovery_reply(const ParsedFrame &frame) const {
  const FrameFields &f = frame.fields;
  return f.ether_type == ether_type_of_variant(engine_.variant) && f.opcode == kOpInfo && f.sequence == 0 &&
         f.remainder == 0 && f.segment == 0 && f.length == kInfoBlockSize &&
         frame.payload.size() >= kInfoBlockSize && !is_group_address(f.source);
}

int HLdownload::DiscoverDevices(std::vector<Mac> &devices) {
  if (engine_.SendDiscoverFrame() != kSent) return kDiscoverSendFailed;
  int sent = 1;
  std::uint32_t last_discover = engine_.clock().now_ms();
  for (;;) {
    if (engine_.TimeoutElapsed(last_discover, kDiscoverPeriodUnits)) {
      if (sent == kDiscoverFrames) return 0;
      if (engine_.SendDiscoverFrame() != kSent) return kDiscoverSendFailed;
      ++sent;
      last_discover = engine_.clock().now_ms();
    }
    auto frame = engine_.receive_frame();
    if (!frame || !is_discovery_reply(*frame)) continue;
    if (std::find(devices.begin(), devices.end(), frame->fields.source) == devices.end()) {
      devices.push_back(frame->fields.source);
    }
  }
}

int HLdownload::ScanDevices(std::vector<std::string> &names) {
  std::vector<Mac> devices;
  engine_.variant = 1;
  if (DiscoverDevices(devices) != 0) return kScanFailed;
  if (devices.empty()) {
    engine_.variant = 0;
    if (DiscoverDevices(devices) != 0) return kScanFailed;
  }
  names.clear();
  for (const Mac &mac : devices) names.push_back(device_name_of_mac(mac));
  std::sort(names.begin(), names.end());
  return static_cast<int>(names.size());
}

int HLdownload::QueryDeviceInfo(const Mac &device, DeviceInfoBlock &out) {
  UpgradeTransfer &t = engine_.transfer;
  t.device = device;
  t.error = kErrNone;
  engine_.arm_timer(1);
  t.info_target = &out;
  t.state = TransferState::kInfoQuerySent;
  HLupgrade upgrade(engine_);
  int result = 0;
  if (engine_.SendInfoQueryFrame() != kSent) {
    t.state = TransferState::kIdle;
    result = kInfoQuerySendFailed;
  } else {
    while (t.state != TransferState::kDone && t.state != TransferState::kFailed) {
      upgrade.ReceiveAndDispatch();
      if (upgrade.CheckTransferTimeout() != 0) {
        result = kInfoTimerFailed;
        break;
      }
    }
    if (result == 0) result = t.error;
  }
  // The target is the caller's block; no later frame may write into it.
  t.info_target = nullptr;
  return result;
}

int HLdownload::ReadBinHeader(const std::string &path, DeviceInfoBlock &out) {
  auto image = engine_.images().open(path);
  if (!image) return static_cast<int>(HeaderSearch::kUnreadable);
  return static_cast<int>(find_image_header(*image, out));
}

}  // namespace upgrade
