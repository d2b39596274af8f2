#include "quorix_device.h"

#include <atomic>
#include <cstring>

namespace quorix {

namespace {
// Unique across devices, so a matcher that outlives one device never takes another's header rules
// for those it has already indexed.
uint32_t fresh_header_generation() {
  static std::atomic<uint32_t> counter{0};
  return ++counter;
}
}  // namespace

class Device::Registers : public kern::MmioDevice {
 public:
  explicit Registers(Device &device) : device_(device) {}
  uint32_t read(uint32_t offset) override { return device_.read_register(offset); }
  void write(uint32_t offset, uint32_t value) override { device_.write_register(offset, value); }

 private:
  Device &device_;
};

class Device::SystemControl : public kern::MmioDevice {
 public:
  explicit SystemControl(Device &device) : device_(device) {}
  uint32_t read(uint32_t offset) override {
    return offset == kSystemControlRegister ? device_.system_control_ : 0;
  }
  void write(uint32_t offset, uint32_t value) override {
    if (offset == kSystemControlRegister) device_.write_system_control(value);
  }

 private:
  Device &device_;
};

Device::Device()
    : registers_(std::make_unique<Registers>(*this)),
      system_control_device_(std::make_unique<SystemControl>(*this)) {
  tables_.header_generation = fresh_header_generation();
  kern::map_device(kRegisterBase, kRegisterWindow, registers_.get());
  kern::map_device(kSystemControlBase, kSystemControlWindow, system_control_device_.get());
}

Device::~Device() {
  kern::unmap_device(kRegisterBase);
  kern::unmap_device(kSystemControlBase);
}

uint32_t Device::register_value(uint32_t offset) {
  kern::CpuSection cpu;
  return read_register(offset);
}

uint32_t Device::read_register(uint32_t offset) {
  switch (offset) {
    case kDescriptorStart:
      return descriptor_start_;
    case kFetchEnable:
      return fetch_enable_ ? 1 : 0;
    case kStateTableBase:
      return tables_.state_table ? tables_.state_table + kBusOffset : 0;
    case kRuleTableBase:
      return tables_.rule_table ? tables_.rule_table + kBusOffset : 0;
    case kPatternTableBase:
      return tables_.pattern_table ? tables_.pattern_table + kBusOffset : 0;
    case kMatchedStateBase:
      return tables_.matched_state_queue ? tables_.matched_state_queue + kBusOffset : 0;
    case kDescriptorPointer:
      return descriptor_pointer_;
    case kStatus:
      return (status_ & 0xff) | (fetch_enable_ ? 0 : kStatusIdle);
    default:
      break;
  }
  if (offset >= kCharsetTable0 && offset < kCharsetTable0 + 32)
    return tables_.charsets[(offset - kCharsetTable0) / 4];
  if (offset >= kZeroStateWindow && offset < kZeroStateWindow + kZeroStateWords * 4)
    return tables_.zero_state[(offset - kZeroStateWindow) / 4];
  if (offset >= kHeaderRuleWindow && offset < kHeaderRuleWindow + kHeaderRuleCount * 12)
    return tables_.header_rules[(offset - kHeaderRuleWindow) / 4];
  return 0;
}

void Device::write_register(uint32_t offset, uint32_t value) {
  auto bus = [this](uint32_t v) {
    ++tables_.generation;
    return v >= kBusOffset ? v - kBusOffset : 0;
  };
  switch (offset) {
    case kDescriptorStart:
      descriptor_start_ = value;
      descriptor_pointer_ = value;
      return;
    case kFetchEnable:
      fetch_enable_ = (value & 1) != 0 && !in_reset_;
      if (fetch_enable_ && auto_run_) run();
      return;
    case kStateTableBase:
      tables_.state_table = bus(value);
      return;
    case kRuleTableBase:
      tables_.rule_table = bus(value);
      return;
    case kPatternTableBase:
      tables_.pattern_table = bus(value);
      return;
    case kMatchedStateBase:
      tables_.matched_state_queue = bus(value);
      return;
    case kStatus:
      status_ = value & 0xff;
      return;
    default:
      break;
  }
  if (offset >= kCharsetTable0 && offset < kCharsetTable0 + 32)
    tables_.charsets[(offset - kCharsetTable0) / 4] = value;
  if (offset >= kZeroStateWindow && offset < kZeroStateWindow + kZeroStateWords * 4)
    tables_.zero_state[(offset - kZeroStateWindow) / 4] = value;
  if (offset >= kHeaderRuleWindow && offset < kHeaderRuleWindow + kHeaderRuleCount * 12) {
    tables_.header_rules[(offset - kHeaderRuleWindow) / 4] = value;
    tables_.header_generation = fresh_header_generation();
  }
}

// Bit 7 low holds the engine in reset; the driver's set-clear-set pulse therefore resets it once.
void Device::write_system_control(uint32_t value) {
  bool was_in_reset = in_reset_;
  system_control_ = value;
  in_reset_ = (value & kResetBit) == 0;
  if (in_reset_ && !was_in_reset) hold_in_reset();
}

void Device::hold_in_reset() {
  ++resets_;
  fetch_enable_ = false;
  status_ = 0;
  descriptor_pointer_ = descriptor_start_;
}

unsigned Device::run(unsigned limit) {
  kern::CpuSection cpu;
  unsigned completed = 0;
  bool completion_irq = false;
  bool went_idle = false;
  while (fetch_enable_ && completed < limit) {
    uint32_t bus = descriptor_pointer_ >= kBusOffset ? descriptor_pointer_ - kBusOffset : 0;
    unsigned char *descriptor = bus ? kern::bus_to_virt(bus, kDescriptorSize) : nullptr;
    if (!descriptor) {
      status_ |= 0x01;  // bus error: the chain points outside DMA memory
      fetch_enable_ = false;
      went_idle = true;
      break;
    }
    if (descriptor[39] & 0x80) {  // software owns it: nothing more to do
      fetch_enable_ = false;
      went_idle = true;
      break;
    }
    descriptor[36] = 0;
    descriptor[37] = 0;
    std::memset(descriptor + 40, 0, 24);
    if (matcher_) matcher_->match(tables_, descriptor);
    descriptor[39] |= 0x80;
    ++completed;
    if (descriptor[7] & 0x40) completion_irq = true;
    descriptor_pointer_ = (descriptor[7] & 0x80) ? descriptor_start_ : descriptor_pointer_ + kDescriptorSize;
  }
  if (completion_irq) kern::raise_irq(kIrqSearchFinish);
  if (went_idle) kern::raise_irq(kIrqQueueEmpty);
  return completed;
}

}  // namespace quorix
