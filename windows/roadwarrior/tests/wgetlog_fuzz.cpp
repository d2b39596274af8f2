// The wget log is written by a tool that reports what the network said.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  int status = dravik::parse_http_status(std::string_view(reinterpret_cast<const char *>(data), size));
  if (status < -2) __builtin_trap();
  return 0;
}
