// Gateway reply pages are network text: parsing must stay within bounds whatever arrives.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  dravik::GatewayReply reply = dravik::parse_reply(text);
  if (reply.version.size() > dravik::GatewayReply::kMaxShortValue ||
      reply.message.size() > dravik::GatewayReply::kMaxValue)
    __builtin_trap();
  (void)reply.valid();
  (void)reply.status_number();
  (void)reply.is_status_page();
  return 0;
}
