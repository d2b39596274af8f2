#include "bmp_file.h"

namespace tunmira {
namespace {

constexpr std::int64_t kMaxSide = 16384;  // far beyond any skin picture; keeps bitmaps allocatable

std::uint32_t le32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint16_t le16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

bool known_bit_count(std::uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

std::optional<BmpLayout> check_bmp_file(std::span<const std::uint8_t> file) {
  if (file.size() < kBmpFileHeaderSize + kBmpInfoHeaderSize || file[0] != 'B' || file[1] != 'M')
    return std::nullopt;
  std::span<const std::uint8_t> block = file.subspan(kBmpFileHeaderSize);

  BmpLayout layout;
  layout.info_size = le32(block, 0);
  layout.width = static_cast<std::int32_t>(le32(block, 4));
  layout.height = static_cast<std::int32_t>(le32(block, 8));
  std::uint16_t planes = le16(block, 12);
  layout.bit_count = le16(block, 14);
  layout.compression = le32(block, 16);
  std::uint32_t used_colours = le32(block, 32);

  if (layout.info_size < kBmpInfoHeaderSize || layout.info_size > block.size()) return std::nullopt;
  std::int64_t height = layout.height < 0 ? -static_cast<std::int64_t>(layout.height) : layout.height;
  if (layout.width <= 0 || layout.width > kMaxSide || height == 0 || height > kMaxSide) return std::nullopt;
  if (planes != 1 || !known_bit_count(layout.bit_count)) return std::nullopt;
  // Uncompressed pictures, and 16- or 32-bit ones with colour masks; run-length and embedded images are
  // refused because their sizes cannot be checked before the system decodes them.
  bool bit_fields = layout.compression == 3;
  if (layout.compression != 0 && !(bit_fields && (layout.bit_count == 16 || layout.bit_count == 32)))
    return std::nullopt;

  if (layout.bit_count <= 8) {
    std::uint32_t full = 1u << layout.bit_count;
    if (used_colours > full) return std::nullopt;
    layout.colour_entries = used_colours == 0 ? full : used_colours;
  } else {
    if (used_colours > 256) return std::nullopt;
    // The masks follow a 40-byte header; later headers carry them inside.
    layout.colour_entries = used_colours + (bit_fields && layout.info_size == kBmpInfoHeaderSize ? 3 : 0);
  }

  std::uint64_t bits_offset = static_cast<std::uint64_t>(layout.info_size) + 4ull * layout.colour_entries;
  std::uint64_t stride = ((static_cast<std::uint64_t>(layout.width) * layout.bit_count + 31) / 32) * 4;
  std::uint64_t bits_size = stride * static_cast<std::uint64_t>(height);
  if (bits_offset > block.size() || bits_size > block.size() - bits_offset) return std::nullopt;
  layout.bits_offset = static_cast<std::size_t>(bits_offset);
  layout.bits_size = static_cast<std::size_t>(bits_size);
  return layout;
}

}  // namespace tunmira
