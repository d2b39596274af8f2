// Reads the committed page and form fixtures named by the test environment.
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tunmira::test {

inline std::string read_fixture(const char *dir_variable, const std::string &name) {
  const char *dir = std::getenv(dir_variable);
  if (dir == nullptr) throw std::runtime_error(std::string(dir_variable) + " is not set");
  std::ifstream in(std::string(dir) + "/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("missing fixture " + name);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string fixture_page(const std::string &name) {
  return read_fixture("TUNMIRA_PAGES_DIR", name);
}
inline std::string form_template(const std::string &name) {
  return read_fixture("TUNMIRA_FORMS_DIR", name);
}
inline std::string golden_form(const std::string &name) {
  return read_fixture("TUNMIRA_GOLDEN_DIR", name);
}

}  // namespace tunmira::test
