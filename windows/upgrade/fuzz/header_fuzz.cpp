// Image files are untrusted: the header search must agree with a plain search of the whole file, for
// any content and any way the reads are cut.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image_file.h"

namespace {

bool naive_find(const std::vector<std::uint8_t> &bytes, upgrade::DeviceInfoBlock &out) {
  for (std::size_t i = 0; i + upgrade::kImageHeaderSize <= bytes.size(); ++i) {
    if (std::memcmp(&bytes[i], upgrade::kHeaderMark, 7) == 0 &&
        std::memcmp(&bytes[i + 63], upgrade::kHeaderMark, 7) == 0) {
      std::memcpy(out.data(), &bytes[i + 7], out.size());
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  upgrade::MemoryImageReader reader(bytes);
  reader.chunk_limit = data[0];  // 0 = whole reads
  upgrade::DeviceInfoBlock found{}, expected{};
  bool hit = upgrade::find_image_header(reader, found) == upgrade::HeaderSearch::kFound;
  if (hit != naive_find(bytes, expected) || (hit && found != expected)) std::abort();
  if (hit) (void)upgrade::version_text(found);
  return 0;
}
