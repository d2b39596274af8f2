#pragma once
// The caller's rw.ini and the work directory it names.

#include <string>
#include <string_view>
#include <variant>

namespace dravik {

struct WorkDir {
  std::string command_form;  // each piece followed by two backslashes: command lines, current directory
  std::string file_form;     // each piece followed by "/": opening files

  std::string file(std::string_view name) const { return file_form + std::string(name); }
};

// Both forms of a "workingDir=" value; -17 when the value has no piece or holds a quote or a control
// character (it is put into quoted command-line arguments).
std::variant<WorkDir, int> make_work_dir(std::string_view value);

// The work directory value from the text of rw.ini: the first whitespace-delimited word is skipped, the
// next line must begin with "workingDir=" (-17), and its rest, without line end and trailing blanks,
// is the value. Nothing after the first word gives -10.
std::variant<std::string, int> parse_rw_ini(std::string_view text);

// rw.ini path check and rewrite ("/" for "\"; -8 over 1023 characters), file read (-9), parse, and
// the two forms of the directory.
std::variant<WorkDir, int> load_work_dir(std::string_view ini_path);

}  // namespace dravik
