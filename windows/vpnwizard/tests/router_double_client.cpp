#include "router_double_client.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tunmira::test {
namespace {

constexpr const char *kPython = "/usr/bin/python3";
constexpr DWORD kReadyWaitMs = 30000;
constexpr DWORD kReadyPollMs = 50;

std::string quoted(const std::string &argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// Starts a host program; wine runs it as a plain host process whose handle cannot be waited on.
bool start_host_program(const std::vector<std::string> &arguments) {
  std::string command_line;
  for (const std::string &argument : arguments) command_line += quoted(argument) + " ";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return false;
  }
  if (process.hThread != nullptr) ::CloseHandle(process.hThread);
  if (process.hProcess != nullptr) ::CloseHandle(process.hProcess);
  return true;
}

std::string unique_folder() {
  static std::atomic<int> counter{0};
  return "/tmp/tunmira-double-" + std::to_string(::GetCurrentProcessId()) + "-" +
         std::to_string(::GetTickCount64()) + "-" + std::to_string(counter++);
}

}  // namespace

std::string LoggedRequest::header(const std::string &name) const {
  for (const auto &[key, value] : headers) {
    if (key == name) return value;
  }
  return "<absent>";
}

std::string host_path_for_windows(const std::string &host_path) {
  std::string path = "Z:" + host_path;
  for (char &c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string read_host_file(const std::string &host_path) {
  std::ifstream in(host_path_for_windows(host_path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

RouterDouble::RouterDouble(const std::string &address, const std::vector<std::string> &options)
    : folder_(unique_folder()) {
  const char *script = std::getenv("TUNMIRA_ROUTER_DOUBLE");
  if (script == nullptr || !::CreateDirectoryA(host_path_for_windows(folder_).c_str(), nullptr)) return;
  std::vector<std::string> arguments = {
      kPython, script,           "--bind",     address, "--ready", folder_ + "/ready",
      "--log", folder_ + "/log", "--lifetime", "240"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  if (!start_host_program(arguments)) return;
  for (DWORD waited = 0; waited < kReadyWaitMs; waited += kReadyPollMs) {
    std::istringstream ready(read_host_file(folder_ + "/ready"));
    if (ready >> port_ >> pid_) return;
    port_ = 0;
    ::Sleep(kReadyPollMs);
  }
}

RouterDouble::~RouterDouble() {
  if (pid_ > 0) start_host_program({"/bin/kill", std::to_string(pid_)});
  std::error_code ignored;
  std::filesystem::remove_all(host_path_for_windows(folder_), ignored);
}

std::vector<LoggedRequest> RouterDouble::requests() const {
  const std::string log = read_host_file(folder_ + "/log");
  std::vector<LoggedRequest> requests;
  std::size_t pos = 0;
  auto next_line = [&](std::string &line) {
    const std::size_t end = log.find('\n', pos);
    if (end == std::string::npos) return false;
    line = log.substr(pos, end - pos);
    pos = end + 1;
    return true;
  };
  std::string line;
  while (next_line(line)) {
    if (!line.starts_with("REQUEST ")) break;
    LoggedRequest request;
    const std::size_t blank = line.find(' ', 8);
    request.method = line.substr(8, blank - 8);
    request.path = line.substr(blank + 1);
    while (next_line(line) && line.starts_with("H ")) {
      const std::size_t colon = line.find(": ");
      request.headers.emplace_back(line.substr(2, colon - 2), line.substr(colon + 2));
    }
    const std::size_t length = std::strtoul(line.c_str() + 5, nullptr, 10);
    request.body = log.substr(pos, length);
    pos += length + 1;
    next_line(line);  // END
    requests.push_back(std::move(request));
  }
  return requests;
}

}  // namespace tunmira::test
