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

std::string Quoted(const std::string &argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// Starts a host program; wine runs it as a plain host process whose handle cannot be waited on.
bool StartHostProgram(const std::vector<std::string> &arguments) {
  std::string commandLine;
  for (const std::string &argument : arguments) commandLine += Quoted(argument) + " ";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return false;
  }
  if (process.hThread != nullptr) ::CloseHandle(process.hThread);
  if (process.hProcess != nullptr) ::CloseHandle(process.hProcess);
  return true;
}

std::string UniqueFolder() {
  static std::atomic<int> counter{0};
  return "/tmp/tunmira-double-" + std::to_string(::GetCurrentProcessId()) + "-" +
         std::to_string(::GetTickCount64()) + "-" + std::to_string(counter++);
}

}  // namespace

std::string LoggedRequest::Header(const std::string &name) const {
  for (const auto &[key, value] : headers) {
    if (key == name) return value;
  }
  return "<absent>";
}

std::string HostPathForWindows(const std::string &hostPath) {
  std::string path = "Z:" + hostPath;
  for (char &c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string ReadHostFile(const std::string &hostPath) {
  std::ifstream in(HostPathForWindows(hostPath), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

RouterDouble::RouterDouble(const std::string &address, const std::vector<std::string> &options)
    : folder_(UniqueFolder()) {
  const char *script = std::getenv("TUNMIRA_ROUTER_DOUBLE");
  if (script == nullptr || !::CreateDirectoryA(HostPathForWindows(folder_).c_str(), nullptr)) return;
  std::vector<std::string> arguments = {
      kPython, script,           "--bind",     address, "--ready", folder_ + "/ready",
      "--log", folder_ + "/log", "--lifetime", "240"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  if (!StartHostProgram(arguments)) return;
  for (DWORD waited = 0; waited < kReadyWaitMs; waited += kReadyPollMs) {
    std::istringstream ready(ReadHostFile(folder_ + "/ready"));
    if (ready >> port_ >> pid_) return;
    port_ = 0;
    ::Sleep(kReadyPollMs);
  }
}

RouterDouble::~RouterDouble() {
  if (pid_ > 0) StartHostProgram({"/bin/kill", std::to_string(pid_)});
  std::error_code ignored;
  std::filesystem::remove_all(HostPathForWindows(folder_), ignored);
}

std::vector<LoggedRequest> RouterDouble::Requests() const {
  const std::string log = ReadHostFile(folder_ + "/log");
  std::vector<LoggedRequest> requests;
  std::size_t pos = 0;
  auto nextLine = [&](std::string &line) {
    const std::size_t end = log.find('\n', pos);
    if (end == std::string::npos) return false;
    line = log.substr(pos, end - pos);
    pos = end + 1;
    return true;
  };
  std::string line;
  while (nextLine(line)) {
    if (!line.starts_with("REQUEST ")) break;
    LoggedRequest request;
    const std::size_t blank = line.find(' ', 8);
    request.method = line.substr(8, blank - 8);
    request.path = line.substr(blank + 1);
    while (nextLine(line) && line.starts_with("H ")) {
      const std::size_t colon = line.find(": ");
      request.headers.emplace_back(line.substr(2, colon - 2), line.substr(colon + 2));
    }
    const std::size_t length = std::strtoul(line.c_str() + 5, nullptr, 10);
    request.body = log.substr(pos, length);
    pos += length + 1;
    nextLine(line);  // END
    requests.push_back(std::move(request));
  }
  return requests;
}

}  // namespace tunmira::test
