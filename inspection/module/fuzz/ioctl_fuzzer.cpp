// Feeds arbitrary records to every /dev/vorn command. Input: byte 0 selects the command, byte 1
// where a LOAD_RULE_TABLES header lies within the input, the rest is the record (and, for a load,
// the header and stream it points at).
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "kservices.h"
#include "quorix_device.h"
#include "vorn_module.h"
#include "vorn_records.h"

namespace {

constexpr uint32_t kCommands[] = {
    vorn::VORN_IOC_GET_STATUS,
    vorn::VORN_IOC_SET_STATUS,
    vorn::VORN_IOC_LOAD_RULE_TABLES,
    vorn::VORN_IOC_GET_LOGS,
    vorn::VORN_IOC_GET_LOGS_LEN,
    vorn::VORN_IOC_GET_P2P_ACTION,
    vorn::VORN_IOC_SET_P2P_ACTION,
    vorn::VORN_IOC_GET_IM_ACTION,
    vorn::VORN_IOC_SET_IM_ACTION,
    vorn::VORN_IOC_GET_ANOMALY_ACTION,
    vorn::VORN_IOC_SET_ANOMALY_ACTION,
    vorn::VORN_IOC_GET_RULE_PORTSCAN,
    vorn::VORN_IOC_SET_RULE_PORTSCAN,
    vorn::VORN_IOC_GET_RULE_DDOS,
    vorn::VORN_IOC_SET_RULE_DDOS,
    0xc0088316,
    0xc0088329,
    0xc0088414,
};
constexpr size_t kBufferSize = 0x40000;

struct Module {
  Module() {
    buffer = static_cast<unsigned char *>(
        mmap(nullptr, kBufferSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0));
    kern::CpuSection cpu;
    vorn::init_module();
  }
  quorix::Device device;
  unsigned char *buffer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Module module;
  if (size < 2 || module.buffer == MAP_FAILED) return 0;
  uint32_t command = kCommands[data[0] % (sizeof kCommands / sizeof kCommands[0])];
  size_t header_offset = data[1];
  data += 2;
  size -= 2;
  std::memset(module.buffer, 0, sizeof(vorn::ParamtVornLogTable));
  std::memcpy(module.buffer, data, std::min(size, kBufferSize));
  if (command == vorn::VORN_IOC_LOAD_RULE_TABLES) {
    uint32_t header = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(module.buffer + 8 + header_offset));
    std::memcpy(module.buffer, &header, 4);
  }
  kern::chrdev_ioctl(vorn::kVornMajor, command, reinterpret_cast<unsigned long>(module.buffer));
  return 0;
}
