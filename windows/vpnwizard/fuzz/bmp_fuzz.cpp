// Any byte string checked as a skin picture: the reader must refuse or lay it out inside the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "bmp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::span<const std::uint8_t> file(data, size);
  if (auto layout = tunmira::check_bmp_file(file)) {
    std::size_t block = size - tunmira::kBmpFileHeaderSize;
    if (layout->bits_offset > block || layout->bits_size > block - layout->bits_offset) std::abort();
    if (layout->info_size + 4 * layout->colour_entries > layout->bits_offset) std::abort();
    // Touch the first and last byte of the pixels the system would be handed.
    volatile std::uint8_t first = data[tunmira::kBmpFileHeaderSize + layout->bits_offset];
    volatile std::uint8_t last =
        data[tunmira::kBmpFileHeaderSize + layout->bits_offset + layout->bits_size - 1];
    (void)first;
    (void)last;
  }
  return 0;
}
