#include "work_dir.h"

#include "reply.h"
#include "result_codes.h"
#include "text.h"

namespace dravik {
namespace {
constexpr std::size_t kMaxIniPath = 1023;
constexpr std::size_t kMaxIniLine = 1023;
constexpr std::string_view kWorkDirKey = "workingDir=";

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
}  // namespace

std::variant<WorkDir, int> make_work_dir(std::string_view value) {
  if (value.find('"') != std::string_view::npos || !is_printable(value)) return kBadWorkDir;
  WorkDir dir;
  while (!value.empty()) {
    std::size_t end = value.find('\\');
    std::string_view piece = value.substr(0, end);
    if (!piece.empty()) {
      dir.command_form += std::string(piece) + "\\\\";
      dir.file_form += std::string(piece) + "/";
    }
    if (end == std::string_view::npos) break;
    value.remove_prefix(end + 1);
  }
  if (dir.file_form.empty()) return kBadWorkDir;
  return dir;
}

std::variant<std::string, int> parse_rw_ini(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  while (i < text.size() && !is_space(text[i])) ++i;  // the first word (the section name)
  while (i < text.size() && is_space(text[i])) ++i;
  if (i >= text.size()) return kIniEmpty;
  std::string_view line = text.substr(i);
  line = line.substr(0, line.find('\n'));
  if (line.size() > kMaxIniLine || line.substr(0, kWorkDirKey.size()) != kWorkDirKey) return kBadWorkDir;
  return trim_right(line.substr(kWorkDirKey.size()));
}

std::variant<WorkDir, int> load_work_dir(std::string_view ini_path) {
  if (ini_path.size() > kMaxIniPath) return kIniPathTooLong;
  std::string path(ini_path);
  for (char &c : path)
    if (c == '\\') c = '/';
  auto text = read_text_file(path);
  if (!text) return kIniUnreadable;
  auto value = parse_rw_ini(*text);
  if (auto *code = std::get_if<int>(&value)) return *code;
  return make_work_dir(std::get<std::string>(value));
}

}  // namespace dravik
