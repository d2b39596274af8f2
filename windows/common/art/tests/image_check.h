// Header checks of the pictures the build draws: is a file a whole, well-formed BMP, JPEG or icon, and how
// large is its picture. Every field is checked against the file's length before it is used.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace art_check {

struct ImageHeader {
  std::string format;  // "bmp", "jpeg", "ico" or "cur"; empty when the file is none of them
  int width = 0;
  int height = 0;
  int bits_per_pixel = 0;  // BMP only
  std::string error;       // why the file was refused
};

inline std::vector<std::uint8_t> read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::uint32_t le(const std::vector<std::uint8_t> &b, std::size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | b[at + static_cast<std::size_t>(i)];
  return value;
}

inline std::uint32_t be16(const std::vector<std::uint8_t> &b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] << 8 | b[at + 1]);
}

// An uncompressed BMP with a 40-byte information header: the layout the wizards' bitmap reader takes.
inline ImageHeader check_bmp(const std::vector<std::uint8_t> &b) {
  ImageHeader h;
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return h.error = "no BM file header", h;
  h.format = "bmp";
  if (le(b, 2, 4) != b.size()) return h.error = "file size field differs from the file's length", h;
  if (le(b, 14, 4) != 40) return h.error = "information header is not 40 bytes", h;
  auto width = static_cast<std::int32_t>(le(b, 18, 4));
  auto height = static_cast<std::int32_t>(le(b, 22, 4));
  h.bits_per_pixel = static_cast<int>(le(b, 28, 2));
  if (width <= 0 || height == 0 || height == INT32_MIN) return h.error = "empty picture", h;
  if (le(b, 26, 2) != 1) return h.error = "planes is not 1", h;
  if (le(b, 30, 4) != 0) return h.error = "compressed", h;
  if (h.bits_per_pixel != 24 && h.bits_per_pixel != 32) return h.error = "not a true-colour picture", h;
  h.width = width;
  h.height = height < 0 ? -height : height;
  std::uint64_t stride =
      (static_cast<std::uint64_t>(width) * static_cast<unsigned>(h.bits_per_pixel) + 31) / 32 * 4;
  std::uint64_t bits_at = le(b, 10, 4);
  if (bits_at < 54 || bits_at + stride * static_cast<std::uint64_t>(h.height) > b.size())
    return h.error = "pixel rows run past the end of the file", h;
  return h;
}

// A baseline or progressive JPEG: markers walked from the start of image to the frame header, and the
// file closed by an end-of-image marker.
inline ImageHeader check_jpeg(const std::vector<std::uint8_t> &b) {
  ImageHeader h;
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return h.error = "no start-of-image marker", h;
  h.format = "jpeg";
  if (b[b.size() - 2] != 0xFF || b[b.size() - 1] != 0xD9) return h.error = "no end-of-image marker", h;
  std::size_t at = 2;
  while (at + 4 <= b.size()) {
    if (b[at] != 0xFF) return h.error = "marker expected", h;
    std::uint8_t marker = b[at + 1];
    std::size_t length = be16(b, at + 2);
    if (length < 2 || at + 2 + length > b.size()) return h.error = "segment runs past the end of the file", h;
    bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (length < 8) return h.error = "short frame header", h;
      h.height = static_cast<int>(be16(b, at + 5));
      h.width = static_cast<int>(be16(b, at + 7));
      if (h.width == 0 || h.height == 0) return h.error = "empty picture", h;
      return h;
    }
    at += 2 + length;
  }
  return h.error = "no frame header", h;
}

// An icon or cursor file: its directory and every picture it lists lie inside the file. The size is
// that of the largest picture (0 in an entry means 256).
inline ImageHeader check_ico(const std::vector<std::uint8_t> &b) {
  ImageHeader h;
  if (b.size() < 6 || le(b, 0, 2) != 0 || (le(b, 2, 2) != 1 && le(b, 2, 2) != 2))
    return h.error = "no icon directory", h;
  h.format = le(b, 2, 2) == 1 ? "ico" : "cur";
  const std::size_t count = le(b, 4, 2);
  if (count == 0) return h.error = "no pictures", h;
  if (6 + 16 * count > b.size()) return h.error = "directory runs past the end of the file", h;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = 6 + 16 * i;
    const std::uint64_t size = le(b, entry + 8, 4), at = le(b, entry + 12, 4);
    if (size == 0 || at < 6 + 16 * count || at + size > b.size())
      return h.error = "picture runs past the end of the file", h;
    const int width = b[entry] ? b[entry] : 256, height = b[entry + 1] ? b[entry + 1] : 256;
    if (width > h.width) h.width = width, h.height = height;
  }
  return h;
}

// The pixels of frame `index` of a strip of `frames` equal frames side by side, row by row, from a
// BMP that check_bmp accepted.
inline std::vector<std::uint8_t> bmp_frame(const std::vector<std::uint8_t> &b, const ImageHeader &h,
                                           int frames, int index) {
  const std::size_t bytes_per_pixel = static_cast<std::size_t>(h.bits_per_pixel / 8);
  const std::size_t stride = (static_cast<std::size_t>(h.width) * bytes_per_pixel + 3) / 4 * 4;
  const std::size_t frame_width = static_cast<std::size_t>(h.width / frames);
  std::vector<std::uint8_t> pixels;
  for (std::size_t row = 0; row < static_cast<std::size_t>(h.height); ++row) {
    auto first = b.begin() +
                 static_cast<std::ptrdiff_t>(le(b, 10, 4) + row * stride +
                                             static_cast<std::size_t>(index) * frame_width * bytes_per_pixel);
    pixels.insert(pixels.end(), first, first + static_cast<std::ptrdiff_t>(frame_width * bytes_per_pixel));
  }
  return pixels;
}

inline ImageHeader check_image(const std::string &path) {
  auto bytes = read_file(path);
  if (bytes.empty()) return ImageHeader{"", 0, 0, 0, "missing or empty"};
  if (bytes[0] == 'B') return check_bmp(bytes);
  return bytes[0] == 0 ? check_ico(bytes) : check_jpeg(bytes);
}

}  // namespace art_check
