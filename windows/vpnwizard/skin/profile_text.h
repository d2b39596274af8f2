// Private-profile (ini) text read the way the system call reads it: sections and keys match without
// regard to case, the first match wins, the value is trimmed of spaces and tabs and loses one pair of
// surrounding quotes, and the result is cut to the caller's buffer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tunmira {

std::string read_profile_value(std::string_view file_text, std::string_view section, std::string_view key,
                               std::size_t capacity);

}  // namespace tunmira
