#pragma once
// The connection logic behind the rw* exports: gateway exchanges through wget.exe, the IPsec policy,
// the DNS settings, status.conf, progress texts and return codes. The exports are thin calls into one
// RoadWarrior object; everything here runs the same natively against a fake Platform.

#include <atomic>
#include <string>
#include <variant>

#include "platform.h"
#include "reply.h"
#include "status_log.h"
#include "work_dir.h"

namespace dravik {

struct ConnectionArgs {
  void *window = nullptr;
  const char *ini_path = nullptr;
  const char *local_ip = nullptr;
  const char *gateway = nullptr;
  const char *user = nullptr;
  const char *password = nullptr;
  int port = 0;
  char dns_flag = 0;
};

struct PasswordArgs {
  void *window = nullptr;
  const char *ini_path = nullptr;
  const char *gateway = nullptr;
  const char *user = nullptr;
  const char *password = nullptr;
  const char *new_password = nullptr;
  int port = 0;
};

class RoadWarrior {
 public:
  // wget's own timeout, and how long an ISAKMP request may take before it is given up.
  static constexpr int kWgetTimeoutSeconds = 10;
  static constexpr Platform::Duration kIsakmpWait{10000};
  // wget ends itself after its timeout; a tool that hangs anyway is ended after this.
  static constexpr Platform::Duration kWgetLimit{120000};
  // Switching the IPsec policy on or off takes seconds; the DNS tools (tarnwick.exe, ipconfig) return at
  // once. A tool still running after its limit has hung: it is ended and its step has failed.
  static constexpr Platform::Duration kIpsecLimit{30000};
  static constexpr Platform::Duration kDnsToolLimit{10000};

  RoadWarrior(Platform &platform, StatusLog *log) : platform_(platform), log_(log) {}

  int conn_start(const ConnectionArgs &args);
  int conn_stop(const ConnectionArgs &args);
  int reset_network(void *window, const char *ini_path, const char *local_ip, char dns_flag);
  int pw_set(const PasswordArgs &args);
  int request_isakmp(const ConnectionArgs &args);

 private:
  struct Exchange;
  struct IsakmpRequest;
  enum class IsakmpOutcome { kRan, kNotStarted };

  std::variant<GatewayReply, int> exchange(const WorkDir &dir, const Exchange &ex);
  int provision(const ConnectionArgs &args, const WorkDir &dir, const GatewayReply &reply,
                const std::string &remembered_dir);
  int undo_dns(const ConnectionArgs &args, const WorkDir &dir, const GatewayReply &reply);
  // The stop request and its reply; conn_stop's result when the reset went well.
  int stop_at_gateway(const ConnectionArgs &args, const WorkDir &dir);
  IsakmpOutcome run_isakmp_request(const IsakmpRequest &request, const RunControl &control);

  RunOutcome run(const std::string &command_line, const WorkDir &dir, Platform::Duration limit,
                 const RunControl *control = nullptr);
  // True when the tool ran to its end within its limit.
  bool run_tool(const std::string &command_line, const WorkDir &dir, Platform::Duration limit);
  bool run_tarnwick(const WorkDir &dir, const std::string &arguments);
  void flush_and_register_dns(const WorkDir &dir);
  void log(const char *category, const std::string &message);
  void window(void *window, const char *text);

  Platform &platform_;
  StatusLog *log_;
  std::atomic<bool> isakmp_busy_{false};
};

// Builders of the command lines and files, exposed for the tests.
std::string gateway_url(const std::string &user, const std::string &password, const std::string &gateway,
                        int port, const std::string &page, const std::string &page_values);
std::string wget_command(const WorkDir &dir, const std::string &log_name, const std::string &reply_name,
                         const std::string &url);
std::string ipsec_conf(const std::string &gateway, const GatewayReply &reply);
// True when the local address's network part (up to its last ".") starts the remote subnet as a
// whole part: 10.1.2.3 conflicts with 10.1.2.0/24, not with 10.1.20.0/24.
bool local_address_in_subnet(const std::string &local_ip, const std::string &rightsubnet);
// Writes "<prefix>message=<text>\n" as the whole of status.conf.
bool write_status_conf(const WorkDir &dir, const std::string &prefix, const std::string &text);

}  // namespace dravik
