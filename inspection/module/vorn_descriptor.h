// The 64-byte descriptor the module and the matching engine share, and the ring of them in engine
// memory. The module fills bytes 0-35 and hands the descriptor over by clearing the done bit; the
// engine writes the results and sets the bit again.
#pragma once

#include <cstdint>

#include "vorn_module.h"

namespace vorn {

constexpr unsigned kDescriptorSize = 64;

// Filled by the module.
constexpr unsigned kDescPayloadAddress = 0;   // bus address of the payload, plus the engine's offset
constexpr unsigned kDescDestinationPort = 4;  // TCP and UDP; 0 otherwise
constexpr unsigned kDescProtocol = 6;
constexpr unsigned kDescControl = 7;
constexpr uint8_t kDescEndOfRing = 0x80;
constexpr uint8_t kDescInterrupt = 0x40;
constexpr uint8_t kDescFirst = 0x20;
constexpr uint8_t kDescLast = 0x10;
constexpr unsigned kDescPayloadLength = 8;  // 24 bits
constexpr unsigned kDescMark = 11;
// The header fields the engine's header-only rules compare, by protocol:
constexpr unsigned kDescPortField = 12;      // TCP/UDP destination port; ICMP identifier; else IP bytes 6-7
constexpr unsigned kDescSourceField = 14;    // TCP/UDP source port; else IP total length
constexpr unsigned kDescFlagsField = 16;     // TCP flags; ICMP type; else type of service
constexpr unsigned kDescCodeField = 17;      // TCP data offset; ICMP code; else time to live
constexpr unsigned kDescSequenceField = 18;  // ICMP sequence; 0 otherwise
constexpr unsigned kDescHeaderGroups = 20;   // four 4-byte header-rule groups: TCP, UDP, ICMP, other
constexpr unsigned kDescHeaderGroupSize = 4;
constexpr unsigned kDescFilledBytes = 36;

// Written by the engine.
constexpr unsigned kDescResultCount = 36;
constexpr unsigned kDescFlags = 37;
constexpr unsigned kDescDone = 39;
constexpr uint8_t kDescDoneBit = 0x80;
constexpr unsigned kDescResults = 40;
constexpr unsigned kDescMaxResults = 12;

// The mark of a private copy queued by an anomaly check, freed once evaluated.
constexpr uint8_t kPrivateCopyMark = 90;

inline unsigned char *descriptor_at(uint32_t index) {
  return module().qx_desc_table + index * kDescriptorSize;
}
inline bool descriptor_done(const unsigned char *d) {
  return (d[kDescDone] & kDescDoneBit) != 0;
}

}  // namespace vorn
