// Starts one router double (router_double.py) from a Windows test program running under wine, and
// reads back the requests it recorded.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tunmira::test {

struct LoggedRequest {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of the first header with that name, or "<absent>".
  std::string header(const std::string &name) const;
};

// The Windows name wine gives a host path ("/tmp/x" -> "Z:\tmp\x").
std::string host_path_for_windows(const std::string &host_path);
// The whole content of a host file.
std::string read_host_file(const std::string &host_path);

class RouterDouble {
 public:
  // address: the loopback address to serve on; options: further command-line options of the double.
  RouterDouble(const std::string &address, const std::vector<std::string> &options);
  ~RouterDouble();
  RouterDouble(const RouterDouble &) = delete;
  RouterDouble &operator=(const RouterDouble &) = delete;

  int port() const { return port_; }
  bool started() const { return port_ > 0; }
  std::vector<LoggedRequest> requests() const;

 private:
  std::string folder_;  // host path of this double's ready and log files
  int port_ = 0;
  int pid_ = 0;
};

}  // namespace tunmira::test
