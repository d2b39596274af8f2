#include "profile_text.h"

#include <algorithm>
#include <cctype>

namespace tunmira {
namespace {

std::string_view Trim(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value.remove_prefix(1);
    value.remove_suffix(1);
  }
  return value;
}

}  // namespace

std::string ReadProfileValue(std::string_view fileText, std::string_view section, std::string_view key,
                             std::size_t capacity) {
  bool inSection = false;
  bool sectionSeen = false;
  while (!fileText.empty()) {
    std::size_t end = fileText.find('\n');
    std::string_view line = Trim(fileText.substr(0, end));
    fileText.remove_prefix(end == std::string_view::npos ? fileText.size() : end + 1);
    if (!line.empty() && line.front() == '[') {
      std::size_t close = line.find(']');
      std::string_view name = Trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
      // Only the first section of that name counts.
      if (sectionSeen) return {};
      inSection = SameName(name, Trim(section));
      sectionSeen = inSection;
      continue;
    }
    if (!inSection) continue;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || !SameName(Trim(line.substr(0, equals)), Trim(key))) continue;
    std::string_view value = StripQuotes(Trim(line.substr(equals + 1)));
    if (capacity == 0) return {};
    return std::string(value.substr(0, capacity - 1));
  }
  return {};
}

}  // namespace tunmira
