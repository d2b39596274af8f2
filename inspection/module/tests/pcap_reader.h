// Reads classic pcap files (either byte order, microsecond or nanosecond stamps) of Ethernet frames.
#ifndef INSPECTION_MODULE_TESTS_PCAP_READER_H
#define INSPECTION_MODULE_TESTS_PCAP_READER_H

#include <cstdint>
#include <string>
#include <vector>

namespace vorn_test {

struct CapturedFrame {
  uint32_t seconds = 0;
  uint32_t microseconds = 0;
  uint16_t ethertype = 0;
  std::vector<unsigned char> payload;  // what follows the Ethernet (and any VLAN) header
};

// Throws std::runtime_error for a file that is not a readable Ethernet capture.
std::vector<CapturedFrame> read_pcap(const std::string &path);

}  // namespace vorn_test

#endif
