// The Quorix matching engine as a device model behind its registers, descriptors and interrupts.
//
// The driver programs it exactly as it would the hardware: a pulse on bit 7 of the system control
// register resets it, table bases and the descriptor chain are given as bus address + 0x40000000,
// and writing 1 to DMA fetch enable makes it walk the descriptor chain from the descriptor pointer.
// Each descriptor the software handed over (done bit clear) gets its results from the matcher and
// the done bit; the walk stops at the first descriptor software still owns, and the engine goes idle.
// Completions raise IRQ 16 when a descriptor asks for it; going idle raises IRQ 17.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "kservices.h"

namespace quorix {

constexpr uint32_t kRegisterBase = 0xF7200000;
constexpr uint32_t kRegisterWindow = 0x4000;
constexpr uint32_t kSystemControlBase = 0xF7700000;
constexpr uint32_t kSystemControlWindow = 0x10;
constexpr uint32_t kBusOffset = 0x40000000;  // the engine's view of a bus address
constexpr unsigned kIrqSearchFinish = 16;
constexpr unsigned kIrqQueueEmpty = 17;

enum Register : uint32_t {
  kDescriptorStart = 0x00,
  kFetchEnable = 0x04,
  kStateTableBase = 0x08,
  kRuleTableBase = 0x0c,
  kPatternTableBase = 0x10,
  kMatchedStateBase = 0x14,
  kCharsetTable0 = 0x18,
  kDescriptorPointer = 0x38,
  kStatus = 0x3c,
  kZeroStateWindow = 0x1000,
  kHeaderRuleWindow = 0x2000,
};
constexpr uint32_t kStatusIdle = 0x100;
constexpr unsigned kHeaderRuleCount = 512;
constexpr unsigned kZeroStateWords = 128;
constexpr uint32_t kSystemControlRegister = 0x04;
constexpr uint32_t kResetBit = 0x80;

constexpr unsigned kDescriptorSize = 64;
constexpr unsigned kMaxResults = 12;

// What the engine holds besides the descriptor: table bases as bus addresses (offset removed) and
// the register-file contents.
struct EngineTables {
  uint32_t state_table = 0;
  uint32_t rule_table = 0;
  uint32_t pattern_table = 0;
  uint32_t matched_state_queue = 0;
  std::array<uint32_t, 8> charsets{};
  std::array<uint32_t, kZeroStateWords> zero_state{};
  std::array<uint32_t, kHeaderRuleCount * 3> header_rules{};
  uint32_t generation = 0;         // changes whenever a table base is written
  uint32_t header_generation = 0;  // changes whenever a header rule word is written
};

// Computes a descriptor's results (count byte 36, flags byte 37, ids from byte 40). The payload is
// reached through kern::bus_to_virt; everything read from tables is untrusted.
class Matcher {
 public:
  virtual ~Matcher() = default;
  virtual void match(const EngineTables &tables, unsigned char *descriptor) = 0;
};

class Device {
 public:
  Device();
  ~Device();
  Device(const Device &) = delete;
  Device &operator=(const Device &) = delete;

  void set_matcher(Matcher *matcher) { matcher_ = matcher; }
  // With auto-run (default) a fetch-enable write walks the chain at once; without it the walk waits
  // for run(), so tests can hold descriptors in the engine.
  void set_auto_run(bool on) { auto_run_ = on; }
  // Walks at most `limit` descriptors; returns how many were completed.
  unsigned run(unsigned limit = 1024);

  bool in_reset() const { return in_reset_; }
  bool fetching() const { return fetch_enable_; }
  unsigned resets() const { return resets_; }
  const EngineTables &tables() const { return tables_; }
  uint32_t register_value(uint32_t offset);

 private:
  class Registers;
  class SystemControl;
  uint32_t read_register(uint32_t offset);
  void write_register(uint32_t offset, uint32_t value);
  void write_system_control(uint32_t value);
  void hold_in_reset();

  Matcher *matcher_ = nullptr;
  bool auto_run_ = true;
  bool in_reset_ = false;
  bool fetch_enable_ = false;
  unsigned resets_ = 0;
  uint32_t descriptor_start_ = 0;
  uint32_t descriptor_pointer_ = 0;
  uint32_t status_ = 0;
  uint32_t system_control_ = kResetBit;
  EngineTables tables_;
  std::unique_ptr<Registers> registers_;
  std::unique_ptr<SystemControl> system_control_device_;
};

}  // namespace quorix
