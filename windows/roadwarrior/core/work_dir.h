#pragma once
// The caller's rw.ini and the work directory it names.

#include <string>
#include <string_view>
#include <variant>

namespace dravik {

struct WorkDir {
  std::string commandForm;  // each piece followed by two backslashes: command lines, current directory
  std::string fileForm;     // each piece followed by "/": opening files

  std::string file(std::string_view name) const { return fileForm + std::string(name); }
};

// Both forms of a "workingDir=" value; -17 when the value has no piece or holds a quote or a control
// character (it is put into quoted command-line arguments).
std::variant<WorkDir, int> makeWorkDir(std::string_view value);

// The work directory value from the text of rw.ini: the first whitespace-delimited word is skipped, the
// next line must begin with "workingDir=" (-17), and its rest, without line end and trailing blanks,
// is the value. Nothing after the first word gives -10.
std::variant<std::string, int> parseRwIni(std::string_view text);

// rw.ini path check and rewrite ("/" for "\"; -8 over 1023 characters), file read (-9), parse, and
// the two forms of the directory.
std::variant<WorkDir, int> loadWorkDir(std::string_view iniPath);

}  // namespace dravik
