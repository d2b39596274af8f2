// Fuzzes the control command parser.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static swchip::ChipModel chip;
  static swchip::Driver driver(chip);
  static swchip::Control control(chip, driver);
  const std::string_view line(reinterpret_cast<const char *>(data), size);
  if (line.rfind("power-on", 0) != 0) control.execute(line);
  return 0;
}
