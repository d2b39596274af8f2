// The .bmp files of the skin, checked before anything is drawn from them: every header field is
// compared with the file's size so that a damaged file is refused and nothing is read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tunmira {

// Where the parts of a checked file lie, as offsets into the block after the 14-byte file header.
struct BmpLayout {
  std::size_t info_offset = 0;  // the information header (always 0)
  std::size_t info_size = 0;
  std::size_t colour_entries = 0;  // 4-byte entries (masks included) after the information header
  std::size_t bits_offset = 0;
  std::size_t bits_size = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;  // negative for a top-down picture
  std::uint16_t bit_count = 0;
  std::uint32_t compression = 0;
};

constexpr std::size_t kBmpFileHeaderSize = 14;
constexpr std::size_t kBmpInfoHeaderSize = 40;

// Checks a whole .bmp file; nullopt when it is not one this reader can draw safely.
std::optional<BmpLayout> check_bmp_file(std::span<const std::uint8_t> file);

}  // namespace tunmira
