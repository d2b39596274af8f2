// Feeds arbitrary frames through the receive hook, the tracker, the engine model and the interrupt
// handler. Byte 0 selects the EtherType and the device; the rest is the frame after the link header.
#include <cstddef>
#include <cstdint>

#include "kservices.h"
#include "quorix_device.h"
#include "vorn_image.h"
#include "vorn_matcher.h"
#include "vorn_module.h"
#include "vorn_records.h"
#include "vorn_sigc.h"

#include <sys/mman.h>

#include <cstring>

namespace {

struct Module {
  Module() {
    device.set_matcher(&matcher);
    kern::CpuSection cpu;
    vorn::init_module();
    load_signatures();
  }
  void load_signatures() {
    vorn::EngineImage image;
    image.set_enable_word(1);
    image.set_bases(500, 1000);
    // Every anomaly check on, and the detectors with low thresholds so that alarms are reached.
    for (uint8_t app = 201; app <= 204; ++app)
      image.set_app(app, static_cast<uint8_t>(app - 201), 1, "check");
    for (uint8_t rule : {1, 2, 3, 4, 5, 17, 18, 19, 20}) image.set_threshold_rule(rule, 0, 1, 3, "detector");
    vorn::SignatureCompiler compiler;
    const char *patterns[] = {"/etc/passwd", "cmd.exe", "USER root", "\x90\x90\x90\x90", "GET /", "attack"};
    uint16_t id = 1;
    for (const char *p : patterns) {
      vorn::Signature s;
      s.rule_id = id++;
      s.pattern = p;
      s.nocase = id % 2;
      s.category = 2;
      compiler.add(s);
    }
    vorn::HeaderOnlySignature h;
    h.rule = vorn::make_header_rule(3, 0x29, 0, 0, 0, 0, 0, 0);
    compiler.add(h);
    compiler.compile(&image);
    auto packed = image.packed(1);
    void *low =
        mmap(nullptr, packed.size(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    std::memcpy(low, packed.data(), packed.size());
    vorn::ParamtVornPolicyTable table{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(low)), 0};
    kern::chrdev_ioctl(vorn::kVornMajor, vorn::VORN_IOC_LOAD_RULE_TABLES,
                       reinterpret_cast<unsigned long>(&table));
    vorn::ParamtVornStatus on{1, 0};
    kern::chrdev_ioctl(vorn::kVornMajor, vorn::VORN_IOC_SET_STATUS, reinterpret_cast<unsigned long>(&on));
    munmap(low, packed.size());
  }
  vorn::SoftwareMatcher matcher;
  quorix::Device device;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Module module;
  if (size < 1) return 0;
  const uint16_t types[] = {ETH_P_IP, ETH_P_PPP_SES, ETH_P_PPP_DISC, 0x86dd};
  const char *devices[] = {"eth0", "eth1", "ppp0", "lo"};
  uint16_t type = types[data[0] & 3];
  const char *device = devices[(data[0] >> 2) & 3];
  sk_buff *skb = kern::make_frame(device, type, data + 1, size - 1);
  if (skb) kern::receive(skb);
  return 0;
}
