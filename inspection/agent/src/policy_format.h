// The signature policy file: checking and unpacking it in private memory. Nothing here touches the
// shared segments or the device, so a damaged file can never disturb the policy that is running.
//
// File: u32 masked payload length, then the payload, Blowfish-ECB encrypted. Decrypted payload:
// u32 version, 16 kept bytes, 1 kept byte, u8 number of compressed sections (at most 8), u8 number
// of download sections (at least 1), 1 unused byte, the sections, a 64-byte trailer. A section is
// u32 id, u32 original size, u32 compressed size C, C bytes of zlib stream, u32 check word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "records.h"

namespace vornagent {

constexpr uint32_t kLengthMask = 0x3A71C5E2u;
constexpr std::size_t kPolicyHeaderSize = 24;  // payload bytes before the first section
constexpr std::size_t kSectionOverhead = 16;
constexpr std::size_t kTrailerSize = 64;
constexpr std::size_t kDownloadHeaderSize = 12;
constexpr uint32_t kMaxEngineImage = 0x1000000;
constexpr uint64_t kMaxDecompressedTotal = 16u << 20;

enum class PolicyError {
  kNone,
  kLength,      // masked length out of range
  kDecrypt,     // length not a multiple of the cipher block
  kChecksum,    // payload checksum
  kFormat,      // header counts, section bounds, trailer or download section out of the payload
  kDecompress,  // a compressed section's check word, size or zlib stream
};

struct ParsedPolicy {
  uint32_t payload_length = 0;
  uint32_t version = 0;
  uint8_t kept16[16] = {};
  uint8_t kept_byte = 0;
  uint8_t compressed_count = 0;
  uint8_t download_count = 0;
  uint8_t trailer[kTrailerSize] = {};
  std::vector<SectionEntry> sections;  // offset and size in `decompressed`, compressed size
  std::vector<uint8_t> decompressed;   // the compressed sections unpacked back to back
  std::vector<uint8_t> download;       // the first download section: 12-byte header and stream
};

// Sum of the little-endian words of a range plus its 0..3 remaining bytes, plus 1: 0 when valid.
uint32_t RulCheckSum(const uint8_t *bytes, std::size_t length);

// The Blowfish key of a payload of `payload_length` bytes: the key material with the length added
// to its first little-endian word.
void build_policy_key(const uint8_t (&material)[kKeySize], uint32_t payload_length, uint8_t (&key)[kKeySize]);

// Checks and unpacks a policy file of `size` bytes (the raw segment's contents).
PolicyError parse_policy(const uint8_t *file, std::size_t size, const uint8_t (&material)[kKeySize],
                         ParsedPolicy &out);

uint32_t load_little_endian32(const uint8_t *p);
void store_little_endian32(uint8_t *p, uint32_t value);

}  // namespace vornagent
