// The texts the wizard takes from its surroundings outside the network: the version named in the
// environment and the gateway address the system reports. A text that is accepted must give back what
// it was made of.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "firewall_steps.h"
#include "remote_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  unsigned major = 0;
  unsigned minor = 0;
  std::string service_pack;
  if (tunmira::parse_version_override(input, major, minor, service_pack)) {
    if (input.substr(input.find(';') + 1) != service_pack) std::abort();
    if (major > 9999 || minor > 9999) std::abort();
  }
  tunmira::Octets octets;
  if (tunmira::split_address(input, octets) && tunmira::join_octets(octets) != input) std::abort();
  return 0;
}
