#include "bmp_file.h"

namespace tunmira {
namespace {

constexpr std::int64_t kMaxSide = 16384;  // far beyond any skin picture; keeps bitmaps allocatable

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint16_t Le16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

bool KnownBitCount(std::uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

std::optional<BmpLayout> CheckBmpFile(std::span<const std::uint8_t> file) {
  if (file.size() < kBmpFileHeaderSize + kBmpInfoHeaderSize || file[0] != 'B' || file[1] != 'M')
    return std::nullopt;
  std::span<const std::uint8_t> block = file.subspan(kBmpFileHeaderSize);

  BmpLayout layout;
  layout.infoSize = Le32(block, 0);
  layout.width = static_cast<std::int32_t>(Le32(block, 4));
  layout.height = static_cast<std::int32_t>(Le32(block, 8));
  std::uint16_t planes = Le16(block, 12);
  layout.bitCount = Le16(block, 14);
  layout.compression = Le32(block, 16);
  std::uint32_t usedColours = Le32(block, 32);

  if (layout.infoSize < kBmpInfoHeaderSize || layout.infoSize > block.size()) return std::nullopt;
  std::int64_t height = layout.height < 0 ? -static_cast<std::int64_t>(layout.height) : layout.height;
  if (layout.width <= 0 || layout.width > kMaxSide || height == 0 || height > kMaxSide) return std::nullopt;
  if (planes != 1 || !KnownBitCount(layout.bitCount)) return std::nullopt;
  // Uncompressed pictures, and 16- or 32-bit ones with colour masks; run-length and embedded images are
  // refused because their sizes cannot be checked before the system decodes them.
  bool bitFields = layout.compression == 3;
  if (layout.compression != 0 && !(bitFields && (layout.bitCount == 16 || layout.bitCount == 32)))
    return std::nullopt;

  if (layout.bitCount <= 8) {
    std::uint32_t full = 1u << layout.bitCount;
    if (usedColours > full) return std::nullopt;
    layout.colourEntries = usedColours == 0 ? full : usedColours;
  } else {
    if (usedColours > 256) return std::nullopt;
    // The masks follow a 40-byte header; later headers carry them inside.
    layout.colourEntries = usedColours + (bitFields && layout.infoSize == kBmpInfoHeaderSize ? 3 : 0);
  }

  std::uint64_t bitsOffset = static_cast<std::uint64_t>(layout.infoSize) + 4ull * layout.colourEntries;
  std::uint64_t stride = ((static_cast<std::uint64_t>(layout.width) * layout.bitCount + 31) / 32) * 4;
  std::uint64_t bitsSize = stride * static_cast<std::uint64_t>(height);
  if (bitsOffset > block.size() || bitsSize > block.size() - bitsOffset) return std::nullopt;
  layout.bitsOffset = static_cast<std::size_t>(bitsOffset);
  layout.bitsSize = static_cast<std::size_t>(bitsSize);
  return layout;
}

}  // namespace tunmira
