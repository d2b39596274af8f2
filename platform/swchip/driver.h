// The switch I/O driver's requests carried out on the chip model.
//
// `Driver::handle` takes one request code and its record (as the device's ioctl would) and answers
// 0 or a negative errno. The simulator process serves it over its socket; tests call it in-process.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "chip_model.h"
#include "wire.h"

namespace swchip {

// Which register accesses a fault rule makes fail.
enum class AccessKind { kAny, kSpiRead, kSpiWrite, kBusRead, kBusWrite };

struct FaultRule {
  AccessKind kind = AccessKind::kAny;
  int block = -1;      // -1: every block
  int remaining = -1;  // failures still to give; -1: for ever
};

class Driver {
 public:
  explicit Driver(ChipModel &chip) : chip_(chip) {}

  // One driver request; `record` holds exactly the request's record size.
  int handle(uint32_t code, std::span<uint8_t> record);

  // A batch of SPI register accesses (wire.h): each op is carried out as its own SPI request would be,
  // faults included. The results of the ops handled, in order; fewer than the ops when a poll read busy.
  std::vector<swgenio::wire::BatchOpResult> run_batch(std::span<const swgenio::wire::BatchOp> ops);

  // Requests and batches served so far: how many round trips the clients took.
  uint64_t exchanges() const { return exchanges_; }

  void add_fault(const FaultRule &rule) { faults_.push_back(rule); }
  void clear_faults() { faults_.clear(); }

  uint32_t spi_timing(size_t i) const { return spi_timing_[i]; }
  uint32_t cpu_gpio_direction() const { return gpio_direction_; }
  uint32_t cpu_gpio_output() const { return gpio_output_; }
  // Level of the CPU GPIO lines configured as inputs.
  void set_cpu_gpio_input(uint32_t levels) { gpio_input_ = levels; }

  static constexpr const char *kVersionText = "swchipd simulated SwGenIO 1.0";

 private:
  bool should_fail(AccessKind kind, unsigned block);
  int spi_transfer(std::span<uint8_t> record);
  // One register access of a batch through the SPI path; 0 or a negative errno.
  int spi_access(const swgenio::wire::BatchOp &op, uint32_t &value);
  int bus_read(std::span<uint8_t> record);
  int bus_write(std::span<uint8_t> record);
  int gpio_request(uint32_t code, std::span<uint8_t> record);

  ChipModel &chip_;
  std::vector<FaultRule> faults_;
  uint64_t exchanges_ = 0;
  uint32_t spi_timing_[3] = {0, 0, 0};
  uint32_t gpio_direction_ = 0;
  uint32_t gpio_output_ = 0;
  uint32_t gpio_input_ = 0;
};

}  // namespace swchip
