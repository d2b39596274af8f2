// Runs every page reader over one untrusted page.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "page_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view page(reinterpret_cast<const char *>(data), size);
  tunmira::TunnelList list;
  std::string address;
  tunmira::Octets octets;
  tunmira::TunnelStatusTable table;
  int count = 0;
  tunmira::CheckTunnelName(page, "office", list);
  tunmira::ParseWanIp(page, address, octets);
  tunmira::ParseLanIp(page, address, octets);
  tunmira::ParseSubnetMask(page, address, octets);
  tunmira::ParseTunnelCount(page, 5, count);
  tunmira::ParseTunnelStatus(page, table, count, 5, [](std::string_view) {});
  tunmira::CheckStatusUp(page);
  tunmira::CheckConnectResult(page);
  return 0;
}
