// rw.ini and its work directory: the directory reaches quoted command-line arguments, so whatever is
// accepted must hold no quote and no control character, and quoting must round-trip.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "text.h"
#include "work_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  auto value = dravik::parseRwIni(text);
  if (auto *dir = std::get_if<std::string>(&value)) {
    auto forms = dravik::makeWorkDir(*dir);
    if (auto *wd = std::get_if<dravik::WorkDir>(&forms)) {
      if (wd->commandForm.find('"') != std::string::npos || !dravik::isPrintable(wd->fileForm))
        __builtin_trap();
    }
  }
  std::string arg(text);
  auto argv = dravik::splitCommandLine("x " + dravik::quoteArgument(arg));
  if (argv.size() != 2 || argv[1] != arg) __builtin_trap();
  return 0;
}
