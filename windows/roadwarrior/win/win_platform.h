#pragma once
// The connection logic's platform on Windows: processes, the current directory, window texts and the
// TCP/IP interface keys of the registry.

#include "platform.h"

namespace dravik {

class WinRegistry : public InterfaceRegistry {
 public:
  std::optional<std::vector<std::string>> interfaces() override;
  std::optional<RegistryValue> read(const std::string &iface, const std::string &name) override;
  bool write_string(const std::string &iface, const std::string &name, const std::string &value) override;
  bool remove(const std::string &iface, const std::string &name) override;
};

class WinPlatform : public Platform {
 public:
  RunOutcome run_program(const std::string &command_line, const std::string &directory, Duration limit,
                         const RunControl *control) override;
  std::string current_directory() override;
  bool set_current_directory(const std::string &directory) override;
  void set_window_text(void *window, const std::string &text) override;
  InterfaceRegistry &registry() override { return registry_; }
  bool wait_for(std::future<void> &done, Duration limit) override;

 private:
  WinRegistry registry_;
};

}  // namespace dravik
