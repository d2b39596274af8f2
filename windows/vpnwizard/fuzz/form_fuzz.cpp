// Fills a form with an untrusted value and checks that the value never adds or removes a field.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tunnel_forms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  const std::size_t split = input.find('\n');
  const std::string form0 = split == std::string::npos ? input : input.substr(0, split);
  const std::string value = split == std::string::npos ? std::string() : input.substr(split + 1);
  std::string form = form0;
  const int result = tunmira::SetFormField("sharedkey", value, form);
  if (result != tunmira::kFieldReplaced && form != form0) std::abort();
  if (std::count(form.begin(), form.end(), '&') != std::count(form0.begin(), form0.end(), '&')) std::abort();
  return 0;
}
