// Requests of the switch I/O driver behind /dev/swgenio and the records they carry.
//
// Every record is little-endian with fixed widths and no pointers, so the same bytes travel to the real
// driver, over the simulator's socket and into the in-process chip model.
#pragma once

#include <cstddef>
#include <cstdint>

namespace swgenio {

// Request codes in the generic Linux ioctl layout: direction bits 30-31, size bits 16-29, type 8-15,
// number 0-7. The type is 'G'.
inline constexpr uint32_t kSpiTiming = 0x400c4701;         // write, 12 bytes: three u32
inline constexpr uint32_t kCpldSpiReadWrite = 0xc0144702;  // read-write, 20 bytes: u32 length, u8 buffer[16]
inline constexpr uint32_t kDriverVersion = 0x81004719;     // read, 256 bytes of text
inline constexpr uint32_t kCpuGpioDirection = 0x40084728;  // write, 8 bytes: u32 mask, u32 value
inline constexpr uint32_t kCpuGpioSet = 0x40084729;        // write, 8 bytes: u32 mask, u32 value
inline constexpr uint32_t kCpuGpioGet = 0xc008472a;        // read-write, 8 bytes: u32 mask in, u32 value out
inline constexpr uint32_t k32BitRead = 0xc008473e;         // read-write, 8 bytes: u32 offset, u32 value
inline constexpr uint32_t k32BitWrite = 0x4008473f;        // write, 8 bytes: u32 offset, u32 value

inline constexpr uint32_t kDirWrite = 1;  // the caller's record goes to the driver
inline constexpr uint32_t kDirRead = 2;   // the driver fills the caller's record

constexpr uint32_t request_size(uint32_t request) {
  return (request >> 16) & 0x3FFF;
}
constexpr uint32_t request_direction(uint32_t request) {
  return request >> 30;
}

// Largest record any request carries (the driver version text).
inline constexpr size_t kMaxRecord = 256;

struct SpiRecord {
  uint32_t length;     // always 6
  uint8_t buffer[16];  // [0] block << 5 | write << 4 | subblock, [1] register, [2..5] value MSB first
};
static_assert(sizeof(SpiRecord) == 20);
static_assert(offsetof(SpiRecord, buffer) == 4);

struct BusRecord {
  uint32_t offset;  // block << 12 | subblock << 8 | register
  uint32_t value;
};
static_assert(sizeof(BusRecord) == 8);

struct GpioRecord {
  uint32_t mask;
  uint32_t value;
};
static_assert(sizeof(GpioRecord) == 8);

struct SpiTimingRecord {
  uint32_t words[3];
};
static_assert(sizeof(SpiTimingRecord) == 12);

struct VersionRecord {
  char text[256];  // may lack a terminating NUL when the text fills it
};
static_assert(sizeof(VersionRecord) == 256);

static_assert(request_size(kCpldSpiReadWrite) == sizeof(SpiRecord));
static_assert(request_size(k32BitRead) == sizeof(BusRecord));
static_assert(request_size(k32BitWrite) == sizeof(BusRecord));
static_assert(request_size(kSpiTiming) == sizeof(SpiTimingRecord));
static_assert(request_size(kDriverVersion) == sizeof(VersionRecord));
static_assert(request_size(kCpuGpioGet) == sizeof(GpioRecord));

inline constexpr uint32_t kSpiWriteFlag = 0x10;
inline constexpr uint32_t kSpiLength = 6;

// Parallel-bus offset of a register.
constexpr uint32_t bus_offset(uint32_t block, uint32_t subblock, uint32_t reg) {
  return (block & 7) << 12 | (subblock & 15) << 8 | (reg & 0xFF);
}

}  // namespace swgenio
