#include "policy_format.h"

#include <zlib.h>

#include <cstring>

#include "vornagent_blowfish.h"

namespace vornagent {

namespace {

constexpr std::size_t kMaxPayload = 819199;

// A cursor over the decrypted payload that refuses to step outside it.
class Reader {
 public:
  Reader(const std::vector<uint8_t> &bytes, std::size_t position) : bytes_(bytes), position_(position) {}
  // 64 bits wide so that a count computed from the file's sizes cannot wrap on a 32-bit processor.
  bool has(uint64_t count) const { return count <= bytes_.size() - position_; }
  std::size_t position() const { return position_; }
  const uint8_t *at() const { return bytes_.data() + position_; }
  uint32_t word(std::size_t offset) const { return load_little_endian32(at() + offset); }
  void skip(std::size_t count) { position_ += count; }

 private:
  const std::vector<uint8_t> &bytes_;
  std::size_t position_;
};

struct RawSection {
  uint32_t id, original_size, compressed_size;
  std::size_t stream;  // payload offset of the stream
};

// Reads one section's header and checks that its stream and check word lie within the payload.
bool read_section(Reader &reader, RawSection &section) {
  if (!reader.has(kSectionOverhead)) return false;
  section = {reader.word(0), reader.word(4), reader.word(8), reader.position() + 12};
  if (!reader.has(kSectionOverhead + uint64_t{section.compressed_size})) return false;
  reader.skip(kSectionOverhead + section.compressed_size);
  return true;
}

PolicyError unpack_sections(const std::vector<uint8_t> &payload, const std::vector<RawSection> &raw,
                            ParsedPolicy &out) {
  uint64_t total = 0;
  for (const RawSection &s : raw) {
    if (RulCheckSum(payload.data() + s.stream, std::size_t{s.compressed_size} + 4) != 0)
      return PolicyError::kDecompress;
    total += s.original_size;
  }
  if (total > kMaxDecompressedTotal) return PolicyError::kDecompress;
  out.decompressed.assign(static_cast<std::size_t>(total), 0);
  std::size_t offset = 0;
  for (const RawSection &s : raw) {
    uLongf produced = s.original_size;
    if (uncompress(out.decompressed.data() + offset, &produced, payload.data() + s.stream,
                   s.compressed_size) != Z_OK)
      return PolicyError::kDecompress;
    out.sections.push_back(
        {static_cast<uint32_t>(offset), static_cast<uint32_t>(produced), s.compressed_size});
    offset += produced;
  }
  return PolicyError::kNone;
}

}  // namespace

uint32_t load_little_endian32(const uint8_t *p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void store_little_endian32(uint8_t *p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t RulCheckSum(const uint8_t *bytes, std::size_t length) {
  uint32_t sum = 1;
  std::size_t i = 0;
  for (; i + 4 <= length; i += 4) sum += load_little_endian32(bytes + i);
  for (; i < length; ++i) sum += bytes[i];
  return sum;
}

void build_policy_key(const uint8_t (&material)[kKeySize], uint32_t payload_length,
                      uint8_t (&key)[kKeySize]) {
  std::memcpy(key, material, kKeySize);
  store_little_endian32(key, load_little_endian32(key) + payload_length);
}

PolicyError parse_policy(const uint8_t *file, std::size_t size, const uint8_t (&material)[kKeySize],
                         ParsedPolicy &out) {
  out = ParsedPolicy{};
  if (size < 4) return PolicyError::kLength;
  uint32_t length = load_little_endian32(file) ^ kLengthMask;
  if (length < 1 || length > kMaxPayload || length > size - 4) return PolicyError::kLength;
  if (length % 8 != 0) return PolicyError::kDecrypt;

  std::vector<uint8_t> payload(file + 4, file + 4 + length);
  uint8_t key[kKeySize];
  build_policy_key(material, length, key);
  if (bw_DecryptMemory(key, kKeySize, payload.data(), payload.size()) != 0) return PolicyError::kDecrypt;
  if (RulCheckSum(payload.data(), payload.size()) != 0) return PolicyError::kChecksum;
  if (payload.size() < kPolicyHeaderSize) return PolicyError::kFormat;

  out.payload_length = length;
  out.version = load_little_endian32(payload.data());
  std::memcpy(out.kept16, payload.data() + 4, sizeof out.kept16);
  out.kept_byte = payload[20];
  out.compressed_count = payload[21];
  out.download_count = payload[22];
  if (out.compressed_count > kMaxCompressedSections || out.download_count == 0) return PolicyError::kFormat;

  Reader reader(payload, kPolicyHeaderSize);
  std::vector<RawSection> compressed(out.compressed_count);
  for (RawSection &s : compressed)
    if (!read_section(reader, s)) return PolicyError::kFormat;
  RawSection download{};
  for (int i = 0; i < out.download_count; ++i) {
    RawSection s{};
    if (!read_section(reader, s)) return PolicyError::kFormat;
    if (i == 0) download = s;
  }
  if (!reader.has(kTrailerSize)) return PolicyError::kFormat;
  std::memcpy(out.trailer, reader.at(), kTrailerSize);
  if (download.original_size > kMaxEngineImage) return PolicyError::kFormat;

  PolicyError unpacked = unpack_sections(payload, compressed, out);
  if (unpacked != PolicyError::kNone) return unpacked;
  const uint8_t *first = payload.data() + download.stream - kDownloadHeaderSize;
  out.download.assign(first, first + kDownloadHeaderSize + download.compressed_size);
  return PolicyError::kNone;
}

}  // namespace vornagent
