// Loads the vorn module on the stand-in kernel with the engine device model behind its registers.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kservices.h"
#include "quorix_device.h"
#include "vorn_image.h"
#include "vorn_matcher.h"
#include "vorn_module.h"
#include "vorn_records.h"

namespace vorn_test {

// Memory below 4 GiB, so its address fits the 32-bit header address of a policy download.
class LowBuffer {
 public:
  explicit LowBuffer(size_t size);
  ~LowBuffer();
  LowBuffer(const LowBuffer &) = delete;
  LowBuffer &operator=(const LowBuffer &) = delete;
  unsigned char *data() const { return data_; }
  uint32_t address() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data_)); }

 private:
  unsigned char *data_;
  size_t size_;
};

struct Delivery {
  kern::Fate fate;
  bool inspected;
};

class VornTest : public ::testing::Test {
 public:
  // An image with IPS enabled and a few applications and threshold rules, valid and not.
  static vorn::EngineImage basic_image();

 protected:
  void SetUp() override;
  void TearDown() override;

  int load_module();
  void unload_module();
  int ioctl(uint32_t cmd, const void *arg);
  // Downloads a packed table (header + stream) through LOAD_RULE_TABLES.
  int download(const std::vector<unsigned char> &packed);
  int download(const vorn::EngineImage &image) { return download(image.packed(1)); }
  // Downloads the basic image and switches inspection on.
  void enable_inspection() { install_image(basic_image()); }
  // Downloads an image and switches inspection on.
  void install_image(const vorn::EngineImage &image);
  // Sends one frame; returns the code the hook reported.
  int send(const std::vector<unsigned char> &bytes, uint16_t ethertype = ETH_P_IP,
           const std::string &device = "eth0");
  Delivery last() const {
    return deliveries.empty() ? Delivery{kern::Fate::kDelivered, false} : deliveries.back();
  }
  bool dropped() const { return !deliveries.empty() && deliveries.back().fate == kern::Fate::kDropped; }
  // Replays a capture of tests/captures as received on eth1, on a clock that follows its stamps;
  // returns the fate of each frame in order.
  std::vector<kern::Fate> replay(const std::string &name);
  // Takes every event waiting in the module's log ring, through GET_LOGS.
  std::vector<vorn::VornLogRecord> events();
  bool printed(const std::string &text) const;
  std::string proc_report() const;

  vorn::SoftwareMatcher matcher;
  std::unique_ptr<quorix::Device> device;
  std::vector<Delivery> deliveries;
  size_t baseline_blocks = 0;
  bool loaded = false;
};

}  // namespace vorn_test
