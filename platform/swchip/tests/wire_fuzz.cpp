// Fuzzes the simulator's request path: datagram decoding and the driver request on the chip model.
#include <cstddef>
#include <cstdint>

#include "driver.h"
#include "wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static swchip::ChipModel chip;
  static swchip::Driver driver(chip);
  auto decoded = swgenio::wire::decode_request({data, size});
  if (decoded.error == 0) driver.handle(decoded.request.code, decoded.request.record);
  swgenio::wire::decode_reply({data, size});
  return 0;
}
