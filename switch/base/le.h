// Fields at any byte offset of a buffer: little-endian for the records of files and datagrams,
// big-endian for the protocol frames on the wire (records and frames are unaligned).
#pragma once

#include <cstddef>
#include <cstdint>

inline uint16_t le_load16(const uint8_t *p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t le_load32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

inline void le_store16(uint8_t *p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void le_store32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t be_load16(const uint8_t *p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

inline uint32_t be_load32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

inline void be_store16(uint8_t *p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

inline void be_store32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
