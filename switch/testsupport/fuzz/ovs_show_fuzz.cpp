// Open vSwitch's reports as the peer tests read them: any text, cut anywhere, reads without a crash.
#include "ovs_show.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  for (const peers::LacpBond &b : peers::parse_lacp_show(text))
    for (const peers::LacpMember &m : b.members) (void)m.aggregated();
  (void)peers::parse_bond_show(text);
  (void)peers::parse_rstp_show(text);
  return 0;
}
