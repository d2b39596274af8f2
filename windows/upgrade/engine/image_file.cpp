#include "image_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace upgrade {
namespace {

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool seek_to(std::FILE *f, std::uint64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<long long>(offset), whence) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), whence) == 0;
#endif
}

std::optional<std::uint64_t> tell_of(std::FILE *f) {
#ifdef _WIN32
  long long at = _ftelli64(f);
#else
  off_t at = ftello(f);
#endif
  if (at < 0) return std::nullopt;
  return static_cast<std::uint64_t>(at);
}

class FileImageReader final : public ImageReader {
 public:
  explicit FileImageReader(FilePtr file) : file_(std::move(file)) {}

  std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> out) override {
    if (!seek_to(file_.get(), offset, SEEK_SET)) return std::nullopt;
    std::size_t got = 0;
    while (got < out.size()) {
      std::size_t n = std::fread(out.data() + got, 1, out.size() - got, file_.get());
      got += n;
      if (n == 0) break;
    }
    if (std::ferror(file_.get())) {
      std::clearerr(file_.get());
      return std::nullopt;
    }
    return got;
  }

  std::optional<std::uint64_t> size() override {
    if (!seek_to(file_.get(), 0, SEEK_END)) return std::nullopt;
    return tell_of(file_.get());
  }

 private:
  FilePtr file_;
};

bool mark_at(const std::uint8_t *at) {
  return std::memcmp(at, kHeaderMark, kHeaderMarkSize) == 0;
}

}  // namespace

std::unique_ptr<ImageReader> FileImageStore::open(const std::string &path) {
  if (path.empty()) return nullptr;
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return nullptr;
  return std::make_unique<FileImageReader>(std::move(file));
}

std::optional<std::size_t> MemoryImageReader::read_at(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (fail_from && offset + out.size() > *fail_from) return std::nullopt;
  if (offset >= bytes_.size()) return 0;
  std::size_t n = std::min<std::uint64_t>(out.size(), bytes_.size() - offset);
  if (chunk_limit != 0) n = std::min(n, chunk_limit);
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
  return n;
}

HeaderSearch find_image_header(ImageReader &image, DeviceInfoBlock &out) {
  constexpr std::size_t kSecondMarkAt = kHeaderMarkSize + kInfoBlockSize;  // 63
  std::vector<std::uint8_t> window;
  std::array<std::uint8_t, 4096> chunk;
  std::uint64_t offset = 0;
  for (;;) {
    auto got = image.read_at(offset, chunk);
    if (!got) return HeaderSearch::kUnreadable;
    if (*got == 0) return HeaderSearch::kNoHeader;
    offset += *got;
    window.insert(window.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(*got));
    for (std::size_t i = 0; i + kImageHeaderSize <= window.size(); ++i) {
      if (mark_at(&window[i]) && mark_at(&window[i + kSecondMarkAt])) {
        std::copy_n(window.begin() + static_cast<std::ptrdiff_t>(i + kHeaderMarkSize), kInfoBlockSize,
                    out.begin());
        return HeaderSearch::kFound;
      }
    }
    // Keep what could still be the start of a header that the next read completes.
    std::size_t keep = std::min(window.size(), kImageHeaderSize - 1);
    window.erase(window.begin(), window.end() - static_cast<std::ptrdiff_t>(keep));
  }
}

std::string version_text(const DeviceInfoBlock &block) {
  unsigned version = (static_cast<unsigned>(block[50]) << 8) | block[51];
  char digits[5];
  std::snprintf(digits, sizeof digits, "%04x", version);
  char text[16];
  std::snprintf(text, sizeof text, "V%c.%c.%s", digits[0], digits[1], digits + 2);
  return text;
}

}  // namespace upgrade
