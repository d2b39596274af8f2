// Reads classic pcap files (either byte order, microsecond or nanosecond stamps) of Ethernet frames,
// and writes them (little-endian, microsecond stamps), so tests can make the captures they replay.
#pragma once

#include <cstddef>
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

// A capture's frames, and how many of its records were too short to hold an Ethernet header: those
// are no frames and are left out.
struct Capture {
  std::vector<CapturedFrame> frames;
  size_t too_short = 0;
};

// Parses a capture held in memory; throws std::runtime_error for one that is not a readable
// Ethernet capture, or that ends inside a record or its header.
Capture parse_capture(const std::vector<unsigned char> &data);
// Reads and parses a capture file; the error names the file.
Capture read_capture(const std::string &path);
// The frames of read_capture(path).
std::vector<CapturedFrame> read_file(const std::string &path);
// A capture of the frames, each behind an Ethernet header with zero addresses and its EtherType.
std::vector<unsigned char> serialize(const std::vector<CapturedFrame> &frames);
// Writes serialize(frames) to a file; throws std::runtime_error when it cannot.
void write_file(const std::string &path, const std::vector<CapturedFrame> &frames);

}  // namespace pcap
