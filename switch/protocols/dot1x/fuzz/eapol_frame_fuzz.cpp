// Received EAPOL frames are untrusted: reading one and the EAP packet in it must stay inside the
// bytes received, and what is read must lie within them.
#include "eapol_codec.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  using namespace dot1x;
  std::span<const std::uint8_t> input(data, size);
  auto r = parse_eapol(input);
  if (!r.frame || r.frame->body.size() < kEapHeader) return 0;
  if (r.frame->body.data() + r.frame->body.size() > data + size) std::abort();
  auto eap = parse_eap(r.frame->body);
  if (eap.eap && eap.eap->packet.size() > r.frame->body.size()) std::abort();
  return 0;
}
