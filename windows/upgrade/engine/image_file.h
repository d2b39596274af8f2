// Firmware image access for the engine: a reader seam (so tests can fail reads on purpose), the
// plain-file reader, and the search for the image header "vAnTrOs" + DeviceInfoBlock + "vAnTrOs".
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "upgrade_frame.h"

namespace upgrade {

using DeviceInfoBlock = std::array<std::uint8_t, kInfoBlockSize>;

inline constexpr char kHeaderMark[] = "vAnTrOs";
inline constexpr std::size_t kHeaderMarkSize = 7;
inline constexpr std::size_t kImageHeaderSize = 2 * kHeaderMarkSize + kInfoBlockSize;  // 70

class ImageReader {
 public:
  virtual ~ImageReader() = default;
  // Fills `out` from byte `offset` on as far as the image goes; returns the bytes read (0 at the end)
  // or nullopt when the read failed, which must never be mistaken for the end of the image.
  virtual std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
  virtual std::optional<std::uint64_t> size() = 0;
};

class ImageStore {
 public:
  virtual ~ImageStore() = default;
  // nullptr when the image cannot be opened.
  virtual std::unique_ptr<ImageReader> open(const std::string &path) = 0;
};

// Images as plain files, opened read-only in binary mode.
class FileImageStore final : public ImageStore {
 public:
  std::unique_ptr<ImageReader> open(const std::string &path) override;
};

// Images held in memory (tests, fuzzing): reads stop at `chunk_limit` bytes per call when set, and
// fail from `fail_from` on when set.
class MemoryImageReader final : public ImageReader {
 public:
  explicit MemoryImageReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> out) override;
  std::optional<std::uint64_t> size() override { return bytes_.size(); }

  std::size_t chunk_limit = 0;
  std::optional<std::uint64_t> fail_from;

 private:
  std::vector<std::uint8_t> bytes_;
};

enum class HeaderSearch { kFound = 0, kUnreadable = 2, kNoHeader = 3 };

// Finds the first place where a mark, 56 bytes and a second mark stand; copies the 56 bytes out.
HeaderSearch find_image_header(ImageReader &image, DeviceInfoBlock &out);

// The firmware version of a DeviceInfoBlock (big-endian at bytes 50-51) as "V1.0.23" for 0x1023.
std::string version_text(const DeviceInfoBlock &block);

}  // namespace upgrade
