#pragma once
// The library's status log: one time-stamped line per event appended to a text file, opened and closed
// per line so the file can be read (or removed) while the library stays loaded.

#include <ctime>
#include <functional>
#include <mutex>
#include <string>

namespace dravik {

class StatusLog {
 public:
  using Clock = std::function<std::time_t()>;

  // The process-wide log; the first call fixes the file name, later calls return the same object.
  static StatusLog *instance(const std::string &file_name);

  explicit StatusLog(
      std::string file_name, Clock clock = [] { return std::time(nullptr); });

  // Makes the category current (it stays current for later entries) and appends one line.
  bool log(const std::string &category, const std::string &message);

  // Appends one line and a line end; false when the file cannot be opened.
  bool write(const std::string &line);

  std::string current_category() const;
  const std::string &file_name() const { return file_name_; }

  // Longest line written, time and category included; longer messages are cut.
  static constexpr std::size_t kMaxLine = 259;

 private:
  std::string format_line(const std::string &category, const std::string &message) const;
  bool append_locked(const std::string &line);

  std::string file_name_;
  std::string category_ = "Status";
  Clock clock_;
  mutable std::mutex lock_;
};

}  // namespace dravik
