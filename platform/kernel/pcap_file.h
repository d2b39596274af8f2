// Reads classic pcap files (either byte order, microsecond or nanosecond stamps) of Ethernet frames.
#ifndef PLATFORM_KERNEL_PCAP_FILE_H
#define PLATFORM_KERNEL_PCAP_FILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace pcap {

struct CapturedFrame {
  uint32_t seconds = 0;
  uint32_t microseconds = 0;
  uint16_t ethertype = 0;
  std::vector<unsigned char> payload;  // what follows the Ethernet (and any VLAN) header
};

// Parses a capture held in memory; throws std::runtime_error for one that is not a readable
// Ethernet capture.
std::vector<CapturedFrame> parse(const std::vector<unsigned char> &data);
// Reads and parses a capture file.
std::vector<CapturedFrame> read_file(const std::string &path);

}  // namespace pcap

#endif
