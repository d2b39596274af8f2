// Device search, device information and the image header check that precede a transfer.
#pragma once

#include <string>
#include <vector>

#include "upgrade_engine.h"

namespace upgrade {

enum DownloadResult : int {
  kDiscoverSendFailed = 10,
  kInfoQuerySendFailed = 3,
  kInfoTimerFailed = 12,
  kScanFailed = -1,
};

class HLdownload {
 public:
  explicit HLdownload(UpgradeEngine &engine) : engine_(engine) {}

  // Three broadcast discovers 1980 ms apart; devices in order of first answer, each once.
  int DiscoverDevices(std::vector<Mac> &devices);
  // Discovery under 0x8888, then under 0x0000 when nobody answered; sorted device names, or -1.
  int ScanDevices(std::vector<std::string> &names);
  // 0 with `out` filled, 3 when the query cannot be sent, 4 when the device never answers, 12 when a
  // retransmission cannot be sent.
  int QueryDeviceInfo(const Mac &device, DeviceInfoBlock &out);
  // 0 found, 2 the file cannot be opened or read, 3 no header in the file.
  int ReadBinHeader(const std::string &path, DeviceInfoBlock &out);

 private:
  bool is_discovery_reply(const ParsedFrame &frame) const;

  UpgradeEngine &engine_;
};

}  // namespace upgrade
