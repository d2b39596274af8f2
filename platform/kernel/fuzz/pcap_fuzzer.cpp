// Arbitrary bytes as a pcap capture: parsed or refused, never read past.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "pcap_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  try {
    pcap::parse_capture(std::vector<unsigned char>(data, data + size));
  } catch (const std::runtime_error &) {}
  return 0;
}
