// Fuzzes the simulator's request path: datagram decoding (single requests and batches) and the driver
// request or batch on the chip model, and the client's decoding of replies.
#include <cstddef>
#include <cstdint>

#include "driver.h"
#include "wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static swchip::ChipModel chip;
  static swchip::Driver driver(chip);
  if (swgenio::wire::is_batch({data, size})) {
    const auto batch = swgenio::wire::decode_batch_request({data, size});
    if (batch.error == 0) driver.run_batch(batch.ops);
  } else {
    auto decoded = swgenio::wire::decode_request({data, size});
    if (decoded.error == 0) driver.handle(decoded.request.code, decoded.request.record);
  }
  swgenio::wire::decode_reply({data, size});
  swgenio::wire::decode_batch_reply({data, size}, size % (swgenio::wire::kMaxBatchOps + 1));
  return 0;
}
