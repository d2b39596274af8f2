// Received frames are untrusted: any bytes, in any transfer state, must be matched or ignored without
// reading past what arrived. The router peer's parser gets the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "hl_upgrade.h"
#include "router_peer.h"

namespace {

struct QuietHost final : upgrade::EngineHost {
  void post_progress(std::intptr_t, std::intptr_t) override {}
  void start_reboot_wait() override {}
};

struct NullPort final : upgrade::FramePort, upgrade::Clock {
  bool own_mac(upgrade::Mac &out) override {
    out = {0, 1, 2, 3, 4, 5};
    return true;
  }
  int send(std::span<const std::uint8_t>) override { return 0; }
  std::size_t receive(upgrade::FrameBuffer &) override { return 0; }
  std::uint32_t now_ms() override { return now += 7; }
  std::uint32_t now = 0;
};

struct OneImage final : upgrade::ImageStore {
  std::unique_ptr<upgrade::ImageReader> open(const std::string &) override {
    // With a header, so that the transfer really starts and every state has an image behind it.
    std::vector<std::uint8_t> image(1300, 0x5A);
    std::copy_n(upgrade::kHeaderMark, upgrade::kHeaderMarkSize, image.begin());
    std::copy_n(upgrade::kHeaderMark, upgrade::kHeaderMarkSize, image.begin() + 63);
    return std::make_unique<upgrade::MemoryImageReader>(std::move(image));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  std::span<const std::uint8_t> frame(data + 1, size - 1);

  upgrade::peer::RouterPeer peer({0x02, 0x5A, 0xC3, 1, 2, 3}, 0x1023);
  peer.handle_frame(frame);

  NullPort port;
  QuietHost host;
  OneImage images;
  upgrade::UpgradeEngine engine(port, port, host, images);
  upgrade::HLupgrade upgrade(engine);
  upgrade::DeviceInfoBlock info{};
  upgrade.StartTransfer({}, "image");
  // Let the frame's own source and EtherType pass the first checks so the deeper matching runs.
  if (frame.size() >= 14) {
    std::copy_n(frame.begin() + 6, 6, engine.transfer.device.begin());
    engine.variant = frame[12] == 0 ? 0 : 1;
  }
  engine.transfer.state = static_cast<upgrade::TransferState>(data[0] % 8);
  engine.transfer.info_target = &info;
  if (auto parsed = upgrade::parse_frame(frame)) {
    upgrade.HandleUpgradeReply(*parsed);
    upgrade.HandleUpgradeReply(*parsed);
  }
  upgrade.CheckTransferTimeout();
  return 0;
}
