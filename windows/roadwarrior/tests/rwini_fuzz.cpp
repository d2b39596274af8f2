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
  auto value = dravik::parse_rw_ini(text);
  if (auto *dir = std::get_if<std::string>(&value)) {
    auto forms = dravik::make_work_dir(*dir);
    if (auto *wd = std::get_if<dravik::WorkDir>(&forms)) {
      if (wd->command_form.find('"') != std::string::npos || !dravik::is_printable(wd->file_form))
        __builtin_trap();
    }
  }
  std::string arg(text);
  auto argv = dravik::split_command_line("x " + dravik::quote_argument(arg));
  if (argv.size() != 2 || argv[1] != arg) __builtin_trap();
  return 0;
}
