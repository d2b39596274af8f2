#include "profile_text.h"

#include <algorithm>
#include <cctype>

namespace tunmira {
namespace {

std::string_view trim(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view strip_quotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value.remove_prefix(1);
    value.remove_suffix(1);
  }
  return value;
}

}  // namespace

std::string read_profile_value(std::string_view file_text, std::string_view section, std::string_view key,
                               std::size_t capacity) {
  bool in_section = false;
  bool section_seen = false;
  while (!file_text.empty()) {
    std::size_t end = file_text.find('\n');
    std::string_view line = trim(file_text.substr(0, end));
    file_text.remove_prefix(end == std::string_view::npos ? file_text.size() : end + 1);
    if (!line.empty() && line.front() == '[') {
      std::size_t close = line.find(']');
      std::string_view name = trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
      // Only the first section of that name counts.
      if (section_seen) return {};
      in_section = same_name(name, trim(section));
      section_seen = in_section;
      continue;
    }
    if (!in_section) continue;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || !same_name(trim(line.substr(0, equals)), trim(key))) continue;
    std::string_view value = strip_quotes(trim(line.substr(equals + 1)));
    if (capacity == 0) return {};
    return std::string(value.substr(0, capacity - 1));
  }
  return {};
}

}  // namespace tunmira
