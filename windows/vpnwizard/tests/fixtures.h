// Reads the committed page and form fixtures named by the test environment.
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tunmira::test {

inline std::string ReadFixture(const char *dirVariable, const std::string &name) {
  const char *dir = std::getenv(dirVariable);
  if (dir == nullptr) throw std::runtime_error(std::string(dirVariable) + " is not set");
  std::ifstream in(std::string(dir) + "/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("missing fixture " + name);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string Page(const std::string &name) {
  return ReadFixture("TUNMIRA_PAGES_DIR", name);
}
inline std::string FormTemplate(const std::string &name) {
  return ReadFixture("TUNMIRA_FORMS_DIR", name);
}
inline std::string GoldenForm(const std::string &name) {
  return ReadFixture("TUNMIRA_GOLDEN_DIR", name);
}

}  // namespace tunmira::test
