#pragma once
// What the connection logic needs from the operating system. The Windows build implements it with
// processes, the registry and windows; the tests implement it with a scripted fake.

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace dravik {

// Lets one thread end a program that another thread waits for.
struct RunControl {
  std::atomic<bool> cancelled{false};
};

// A registry value as the name-server code needs it.
struct RegistryValue {
  enum class Kind { kString, kMultiString, kOther };
  Kind kind = Kind::kOther;
  std::vector<std::string> strings;  // one for String, each part for kMultiString
};

// The TCP/IP interface keys: one sub-key per network interface.
class InterfaceRegistry {
 public:
  virtual ~InterfaceRegistry() = default;
  // Sub-key names in index order; empty when the interfaces key cannot be opened.
  virtual std::optional<std::vector<std::string>> interfaces() = 0;
  virtual std::optional<RegistryValue> read(const std::string &iface, const std::string &name) = 0;
  virtual bool write_string(const std::string &iface, const std::string &name, const std::string &value) = 0;
  virtual bool remove(const std::string &iface, const std::string &name) = 0;
};

// How a started program ended.
enum class RunOutcome {
  kNotStarted,
  kFinished,
  kEnded,  // still running at its time limit or when cancelled, and ended from outside
};

class Platform {
 public:
  using Duration = std::chrono::milliseconds;
  static constexpr Duration kNoLimit = Duration::max();

  virtual ~Platform() = default;

  // Starts a command line without a window, with `directory` (the work directory in its command
  // form) as the program's current directory, and waits until it ends. A program still running when
  // `limit` passes or `control` is cancelled is ended.
  virtual RunOutcome run_program(const std::string &command_line, const std::string &directory,
                                 Duration limit, const RunControl *control) = 0;

  virtual std::string current_directory() = 0;
  virtual bool set_current_directory(const std::string &directory) = 0;

  // Progress text for the caller's window; a null window is ignored.
  virtual void set_window_text(void *window, const std::string &text) = 0;

  virtual InterfaceRegistry &registry() = 0;

  // Waits up to `limit` for a worker to finish; true when it did.
  virtual bool wait_for(std::future<void> &done, Duration limit) = 0;
};

}  // namespace dravik
