// Any byte string checked as a skin picture: the reader must refuse or lay it out inside the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "bmp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::span<const std::uint8_t> file(data, size);
  if (auto layout = tunmira::CheckBmpFile(file)) {
    std::size_t block = size - tunmira::kBmpFileHeaderSize;
    if (layout->bitsOffset > block || layout->bitsSize > block - layout->bitsOffset) std::abort();
    if (layout->infoSize + 4 * layout->colourEntries > layout->bitsOffset) std::abort();
    // Touch the first and last byte of the pixels the system would be handed.
    volatile std::uint8_t first = data[tunmira::kBmpFileHeaderSize + layout->bitsOffset];
    volatile std::uint8_t last =
        data[tunmira::kBmpFileHeaderSize + layout->bitsOffset + layout->bitsSize - 1];
    (void)first;
    (void)last;
  }
  return 0;
}
