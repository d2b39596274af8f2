#pragma once
// A scripted stand-in for the operating system: programs are recognised by name and act on the work
// directory as the real tools would; the registry is a table in memory; the current directory is real
// (the status log writes relative to it).

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform.h"

namespace dravik::testing {

struct FakeRegistry : InterfaceRegistry {
  std::vector<std::pair<std::string, std::map<std::string, RegistryValue>>> keys;
  bool openable = true;
  bool fail_writes = false;

  void add_interface(const std::string &name, std::vector<std::string> ip_addresses, std::string dhcp,
                     std::optional<std::string> name_server);
  std::map<std::string, RegistryValue> *find(const std::string &iface);
  std::optional<std::string> string_value(const std::string &iface, const std::string &name);

  std::optional<std::vector<std::string>> interfaces() override;
  std::optional<RegistryValue> read(const std::string &iface, const std::string &name) override;
  bool write_string(const std::string &iface, const std::string &name, const std::string &value) override;
  bool remove(const std::string &iface, const std::string &name) override;
};

// What one wget run does.
struct WgetScript {
  bool starts = true;
  int http_status = 200;  // negative: the log has no status line
  bool write_log = true;
  std::string body;    // saved to the output document on 200
  bool hangs = false;  // runs until ended from outside

  static WgetScript ok(std::string body = {}) { return {true, 200, true, std::move(body), false}; }
  static WgetScript status(int http) { return {true, http, true, {}, false}; }
  static WgetScript not_started() { return {false, 0, false, {}, false}; }
  static WgetScript without_log() { return {true, 200, false, {}, false}; }
  static WgetScript hanging() { return {true, 0, false, {}, true}; }
};

struct ProgramRun {
  std::string command_line;
  std::vector<std::string> argv;
  std::string directory;
  Platform::Duration limit;
};

class FakePlatform : public Platform {
 public:
  std::deque<WgetScript> wget;  // one per wget run, in order
  bool ipsec_starts = true;
  bool tarnwick_starts = true;
  // Programs ("ipsec.exe", "tarnwick.exe", "ipconfig") that never end by themselves: each run lasts
  // until its limit and is ended there; one without a limit would hang the test.
  std::set<std::string> hanging;
  bool isakmp_wait_times_out = false;
  std::vector<ProgramRun> runs;
  std::vector<std::string> window_texts;
  std::vector<void *> windows;
  FakeRegistry reg;
  bool wget_was_cancelled = false;
  std::function<void()> while_wget_runs;  // called from inside each wget run

  RunOutcome run_program(const std::string &command_line, const std::string &directory, Duration limit,
                         const RunControl *control) override;
  std::string current_directory() override;
  bool set_current_directory(const std::string &directory) override;
  void set_window_text(void *window, const std::string &text) override;
  InterfaceRegistry &registry() override { return reg; }
  bool wait_for(std::future<void> &done, Duration limit) override;

  std::vector<ProgramRun> runs_of(const std::string &program) const;

  // A command-form directory as a native path.
  static std::string native_path(const std::string &command_form);

 private:
  RunOutcome run_wget(const std::vector<std::string> &argv, const std::string &directory,
                      const RunControl *control);
};

// A fresh work directory with rw.ini naming it, made current-independent; removed at the end.
struct WorkArea {
  WorkArea();
  ~WorkArea();
  std::filesystem::path dir;
  std::filesystem::path ini_path;
  std::string read(const std::string &name) const;
  bool exists(const std::string &name) const;
  void write(const std::string &name, const std::string &text) const;
};

}  // namespace dravik::testing
