#include "work_dir.h"

#include "reply.h"
#include "result_codes.h"
#include "text.h"

namespace dravik {
namespace {
constexpr std::size_t kMaxIniPath = 1023;
constexpr std::size_t kMaxIniLine = 1023;
constexpr std::string_view kWorkDirKey = "workingDir=";

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
}  // namespace

std::variant<WorkDir, int> makeWorkDir(std::string_view value) {
  if (value.find('"') != std::string_view::npos || !isPrintable(value)) return kBadWorkDir;
  WorkDir dir;
  while (!value.empty()) {
    std::size_t end = value.find('\\');
    std::string_view piece = value.substr(0, end);
    if (!piece.empty()) {
      dir.commandForm += std::string(piece) + "\\\\";
      dir.fileForm += std::string(piece) + "/";
    }
    if (end == std::string_view::npos) break;
    value.remove_prefix(end + 1);
  }
  if (dir.fileForm.empty()) return kBadWorkDir;
  return dir;
}

std::variant<std::string, int> parseRwIni(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  while (i < text.size() && !isSpace(text[i])) ++i;  // the first word (the section name)
  while (i < text.size() && isSpace(text[i])) ++i;
  if (i >= text.size()) return kIniEmpty;
  std::string_view line = text.substr(i);
  line = line.substr(0, line.find('\n'));
  if (line.size() > kMaxIniLine || line.substr(0, kWorkDirKey.size()) != kWorkDirKey) return kBadWorkDir;
  return trimRight(line.substr(kWorkDirKey.size()));
}

std::variant<WorkDir, int> loadWorkDir(std::string_view iniPath) {
  if (iniPath.size() > kMaxIniPath) return kIniPathTooLong;
  std::string path(iniPath);
  for (char &c : path)
    if (c == '\\') c = '/';
  auto text = readTextFile(path);
  if (!text) return kIniUnreadable;
  auto value = parseRwIni(*text);
  if (auto *code = std::get_if<int>(&value)) return *code;
  return makeWorkDir(std::get<std::string>(value));
}

}  // namespace dravik
