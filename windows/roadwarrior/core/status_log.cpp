#include "status_log.h"

#include <cstdio>
#include <memory>

namespace dravik {
namespace {
constexpr std::size_t kMaxName = 259;

std::string local_time_text(std::time_t t) {
  std::tm parts{};
#ifdef _WIN32
  localtime_s(&parts, &t);
#else
  localtime_r(&t, &parts);
#endif
  char text[32];
  std::size_t n = std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &parts);
  return std::string(text, n);
}
}  // namespace

StatusLog *StatusLog::instance(const std::string &file_name) {
  // Created once and never destroyed: exports may log during process shutdown.
  static std::once_flag once;
  static StatusLog *log = nullptr;
  std::call_once(once, [&] { log = new StatusLog(file_name); });  // NOLINT: intentionally immortal
  return log;
}

StatusLog::StatusLog(std::string file_name, Clock clock)
    : file_name_(file_name.substr(0, kMaxName)), clock_(std::move(clock)) {}

std::string StatusLog::current_category() const {
  std::lock_guard guard(lock_);
  return category_;
}

std::string StatusLog::format_line(const std::string &category, const std::string &message) const {
  std::string line = local_time_text(clock_()) + " [" + category.substr(0, kMaxName) + "]" + message;
  if (line.size() > kMaxLine) line.resize(kMaxLine);
  return line;
}

bool StatusLog::log(const std::string &category, const std::string &message) {
  // Category and line are set under the same lock so two threads never mix one another's text.
  std::lock_guard guard(lock_);
  category_ = category.substr(0, kMaxName);
  return append_locked(format_line(category_, message));
}

bool StatusLog::write(const std::string &line) {
  std::lock_guard guard(lock_);
  return append_locked(line);
}

bool StatusLog::append_locked(const std::string &line) {
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(file_name_.c_str(), "a"), &std::fclose);
  if (!file) return false;
  std::fputs(line.c_str(), file.get());
  std::fputc('\n', file.get());
  return true;
}

}  // namespace dravik
