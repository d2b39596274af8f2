#include "fake_platform.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "text.h"

namespace dravik::testing {

void FakeRegistry::addInterface(const std::string &name, std::vector<std::string> ipAddresses,
                                std::string dhcp, std::optional<std::string> nameServer) {
  std::map<std::string, RegistryValue> values;
  values["IPAddress"] = {RegistryValue::Kind::MultiString, std::move(ipAddresses)};
  values["DhcpIPAddress"] = {RegistryValue::Kind::String, {std::move(dhcp)}};
  if (nameServer) values["NameServer"] = {RegistryValue::Kind::String, {*nameServer}};
  keys.emplace_back(name, std::move(values));
}

std::map<std::string, RegistryValue> *FakeRegistry::find(const std::string &iface) {
  for (auto &[name, values] : keys)
    if (name == iface) return &values;
  return nullptr;
}

std::optional<std::string> FakeRegistry::stringValue(const std::string &iface, const std::string &name) {
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

bool FakeRegistry::writeString(const std::string &iface, const std::string &name, const std::string &value) {
  auto *values = find(iface);
  if (!values || failWrites) return false;
  (*values)[name] = {RegistryValue::Kind::String, {value}};
  return true;
}

bool FakeRegistry::remove(const std::string &iface, const std::string &name) {
  auto *values = find(iface);
  return values && values->erase(name) == 1;
}

std::string FakePlatform::nativePath(const std::string &commandForm) {
  std::string path = commandForm;
  for (std::size_t at; (at = path.find("\\\\")) != std::string::npos;) path.replace(at, 2, "/");
  return path;
}

namespace {
std::string programName(const std::vector<std::string> &argv) {
  if (argv.empty()) return {};
  std::string first = argv.front();
  std::size_t slash = first.find_last_of("\\/");
  return slash == std::string::npos ? first : first.substr(slash + 1);
}

void writeFile(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}
}  // namespace

bool FakePlatform::runProgram(const std::string &commandLine, const std::string &directory, Duration,
                              const RunControl *control) {
  ProgramRun run{commandLine, splitCommandLine(commandLine), directory};
  runs.push_back(run);
  std::string name = programName(run.argv);
  if (name == "wget.exe") return runWget(run.argv, directory, control);
  if (name == "ipsec.exe") return ipsecStarts;
  if (name == "tarnwick.exe") return tarnwickStarts;
  return name == "ipconfig";
}

bool FakePlatform::runWget(const std::vector<std::string> &argv, const std::string &directory,
                           const RunControl *control) {
  WgetScript script = wget.empty() ? WgetScript::notStarted() : wget.front();
  if (!wget.empty()) wget.pop_front();
  if (!script.starts) return false;
  std::string dir = nativePath(directory);
  std::string logName, document;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if (argv[i] == "-o" && i + 1 < argv.size()) logName = argv[++i];
    if (argv[i].rfind("--output-document=", 0) == 0) document = nativePath(argv[i].substr(18));
  }
  writeFile(document, "");  // wget truncates its output document first
  if (whileWgetRuns) whileWgetRuns();
  if (script.hangs) {
    while (!control || !control->cancelled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    wgetWasCancelled = true;
    return true;
  }
  if (script.writeLog) {
    std::string log = "Connecting to gateway... connected.\n";
    if (script.httpStatus >= 0)
      log += "HTTP request sent, awaiting response... " + std::to_string(script.httpStatus) + " Reason\n";
    writeFile(dir + logName, log);
  }
  if (script.httpStatus == 200) writeFile(document, script.body);
  return true;
}

std::string FakePlatform::currentDirectory() {
  return std::filesystem::current_path().string();
}

bool FakePlatform::setCurrentDirectory(const std::string &directory) {
  return chdir(nativePath(directory).c_str()) == 0;
}

void FakePlatform::setWindowText(void *window, const std::string &text) {
  windows.push_back(window);
  windowTexts.push_back(text);
}

bool FakePlatform::waitFor(std::future<void> &done, Duration) {
  if (isakmpWaitTimesOut) return done.wait_for(Duration(0)) == std::future_status::ready;
  done.wait();
  return true;
}

std::vector<ProgramRun> FakePlatform::runsOf(const std::string &program) const {
  std::vector<ProgramRun> found;
  for (const auto &run : runs)
    if (programName(run.argv) == program) found.push_back(run);
  return found;
}

WorkArea::WorkArea() {
  static std::atomic<int> counter{0};
  dir = std::filesystem::temp_directory_path() /
        ("dravik-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  iniPath = dir / "rw.ini";
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
