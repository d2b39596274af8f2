#include "fake_platform.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "text.h"

namespace dravik::testing {

void FakeRegistry::add_interface(const std::string &name, std::vector<std::string> ip_addresses,
                                 std::string dhcp, std::optional<std::string> name_server) {
  std::map<std::string, RegistryValue> values;
  values["IPAddress"] = {RegistryValue::Kind::kMultiString, std::move(ip_addresses)};
  values["DhcpIPAddress"] = {RegistryValue::Kind::kString, {std::move(dhcp)}};
  if (name_server) values["NameServer"] = {RegistryValue::Kind::kString, {*name_server}};
  keys.emplace_back(name, std::move(values));
}

std::map<std::string, RegistryValue> *FakeRegistry::find(const std::string &iface) {
  for (auto &[name, values] : keys)
    if (name == iface) return &values;
  return nullptr;
}

std::optional<std::string> FakeRegistry::string_value(const std::string &iface, const std::string &name) {
  auto v = read(iface, name);
  if (!v || v->strings.empty()) return std::nullopt;
  return v->strings.front();
}

std::optional<std::vector<std::string>> FakeRegistry::interfaces() {
  if (!openable) return std::nullopt;
  std::vector<std::string> names;
  for (auto &key : keys) names.push_back(key.first);
  return names;
}

std::optional<RegistryValue> FakeRegistry::read(const std::string &iface, const std::string &name) {
  auto *values = find(iface);
  if (!values || !values->count(name)) return std::nullopt;
  return values->at(name);
}

bool FakeRegistry::write_string(const std::string &iface, const std::string &name, const std::string &value) {
  auto *values = find(iface);
  if (!values || fail_writes) return false;
  (*values)[name] = {RegistryValue::Kind::kString, {value}};
  return true;
}

bool FakeRegistry::remove(const std::string &iface, const std::string &name) {
  auto *values = find(iface);
  return values && values->erase(name) == 1;
}

std::string FakePlatform::native_path(const std::string &command_form) {
  std::string path = command_form;
  for (std::size_t at; (at = path.find("\\\\")) != std::string::npos;) path.replace(at, 2, "/");
  return path;
}

namespace {
std::string program_name(const std::vector<std::string> &argv) {
  if (argv.empty()) return {};
  std::string first = argv.front();
  std::size_t slash = first.find_last_of("\\/");
  return slash == std::string::npos ? first : first.substr(slash + 1);
}

void write_file(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}
}  // namespace

RunOutcome FakePlatform::run_program(const std::string &command_line, const std::string &directory,
                                     Duration limit, const RunControl *control) {
  ProgramRun run{command_line, split_command_line(command_line), directory, limit};
  runs.push_back(run);
  std::string name = program_name(run.argv);
  if (name == "wget.exe") return run_wget(run.argv, directory, control);
  const bool starts = name == "ipsec.exe"      ? ipsec_starts
                      : name == "tarnwick.exe" ? tarnwick_starts
                                               : name == "ipconfig";
  if (!starts) return RunOutcome::kNotStarted;
  if (!hanging.count(name)) return RunOutcome::kFinished;
  if (limit == kNoLimit) throw std::runtime_error(name + " waited for without a limit");
  return RunOutcome::kEnded;
}

RunOutcome FakePlatform::run_wget(const std::vector<std::string> &argv, const std::string &directory,
                                  const RunControl *control) {
  WgetScript script = wget.empty() ? WgetScript::not_started() : wget.front();
  if (!wget.empty()) wget.pop_front();
  if (!script.starts) return RunOutcome::kNotStarted;
  std::string dir = native_path(directory);
  std::string log_name, document;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if (argv[i] == "-o" && i + 1 < argv.size()) log_name = argv[++i];
    if (argv[i].rfind("--output-document=", 0) == 0) document = native_path(argv[i].substr(18));
  }
  write_file(document, "");  // wget truncates its output document first
  if (while_wget_runs) while_wget_runs();
  if (script.hangs) {
    while (!control || !control->cancelled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    wget_was_cancelled = true;
    return RunOutcome::kEnded;
  }
  if (script.write_log) {
    std::string log = "Connecting to gateway... connected.\n";
    if (script.http_status >= 0)
      log += "HTTP request sent, awaiting response... " + std::to_string(script.http_status) + " Reason\n";
    write_file(dir + log_name, log);
  }
  if (script.http_status == 200) write_file(document, script.body);
  return RunOutcome::kFinished;
}

std::string FakePlatform::current_directory() {
  return std::filesystem::current_path().string();
}

bool FakePlatform::set_current_directory(const std::string &directory) {
  return chdir(native_path(directory).c_str()) == 0;
}

void FakePlatform::set_window_text(void *window, const std::string &text) {
  windows.push_back(window);
  window_texts.push_back(text);
}

bool FakePlatform::wait_for(std::future<void> &done, Duration) {
  if (isakmp_wait_times_out) return done.wait_for(Duration(0)) == std::future_status::ready;
  done.wait();
  return true;
}

std::vector<ProgramRun> FakePlatform::runs_of(const std::string &program) const {
  std::vector<ProgramRun> found;
  for (const auto &run : runs)
    if (program_name(run.argv) == program) found.push_back(run);
  return found;
}

WorkArea::WorkArea() {
  static std::atomic<int> counter{0};
  dir = std::filesystem::temp_directory_path() /
        ("dravik-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  ini_path = dir / "rw.ini";
  write("rw.ini", "[RoadWarrior]\nworkingDir=" + dir.string() + "\n");
}

WorkArea::~WorkArea() {
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
  std::filesystem::remove_all(dir, ignored);
}

std::string WorkArea::read(const std::string &name) const {
  std::ifstream in(dir / name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WorkArea::exists(const std::string &name) const {
  return std::filesystem::exists(dir / name);
}

void WorkArea::write(const std::string &name, const std::string &text) const {
  std::ofstream(dir / name, std::ios::binary) << text;
}

}  // namespace dravik::testing
