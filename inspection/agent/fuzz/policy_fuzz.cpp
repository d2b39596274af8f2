// Policy files are untrusted. The input is taken as a decrypted payload: it is given a valid
// checksum and sealed with the library's key, so the fuzzer reaches the header and section walk
// rather than stopping at the cipher. The same bytes are also parsed as a file as they stand.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ipc.h"
#include "policy_builder.h"
#include "policy_format.h"
#include "rul_agent.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace vornagent;
  ParsedPolicy parsed;
  parse_policy(data, size, kKeyMaterial, parsed);

  if (size > kRawPolicySize - 16) return 0;
  std::vector<uint8_t> payload(data, data + size);
  payload.resize((payload.size() / 8 + 1) * 8, 0);
  builder::fix_payload_checksum(payload);
  std::vector<uint8_t> file = builder::seal_policy(payload, kKeyMaterial);
  parse_policy(file.data(), file.size(), kKeyMaterial, parsed);
  return 0;
}
