#include "road_warrior.h"

#include <cstdio>
#include <initializer_list>
#include <future>
#include <memory>
#include <thread>

#include "name_servers.h"
#include "result_codes.h"
#include "text.h"

namespace dravik {
namespace {

constexpr int kProtocolVersion = 1;
constexpr int kDefaultPort = 443;
constexpr const char *kReachedOnce = "All 1 wget requests did not return a valid vpnserver.conf";
constexpr const char *kWgetDidNotRun = "wget command did not execute properly";

struct ArgCheck {
  const char *value;
  std::size_t limit;
  int code;
  bool (*well_formed)(std::string_view);
  bool may_be_absent = false;  // for an argument the call does not use
};

bool any_text(std::string_view) {
  return true;
}

// The first failing argument decides. Missing arguments fail too, unless the call does not use them:
// they would be formatted as text.
int check_args(std::initializer_list<ArgCheck> checks) {
  for (const ArgCheck &c : checks) {
    if (!c.value) {
      if (c.may_be_absent) continue;
      return c.code;
    }
    std::string_view v(c.value);
    if (v.size() > c.limit || !c.well_formed(v)) return c.code;
  }
  return kOk;
}

constexpr std::size_t kMaxArg = 1024;
constexpr std::size_t kMaxLocalIp = 16;
ArgCheck ini_arg(const char *v) {
  return {v, kMaxArg, kIniArgTooLong, any_text};
}
ArgCheck local_ip_arg(const char *v) {
  return {v, kMaxLocalIp, kLocalIpBad, is_dotted_address_text};
}
// Switching the policy off needs no address; only undoing the DNS changes (dnsFlag 1) does.
ArgCheck reset_local_ip_arg(const char *v, char dns_flag) {
  ArgCheck check = local_ip_arg(v);
  check.may_be_absent = dns_flag != 1;
  return check;
}
ArgCheck gateway_arg(const char *v) {
  return {v, kMaxArg, kGatewayBad, is_host_name};
}
ArgCheck user_arg(const char *v) {
  return {v, kMaxArg, kUserBad, any_text};
}
ArgCheck password_arg(const char *v) {
  return {v, kMaxArg, kPasswordBad, any_text};
}
ArgCheck new_password_arg(const char *v) {
  return {v, kMaxArg, kNewPasswordBad, any_text};
}

int effective_port(int port) {
  return port == 0 ? kDefaultPort : port;
}

bool usable_server(const std::string &value) {
  return !value.empty() && value != "0.0.0.0";
}

void remove_file(const std::string &path) {
  std::remove(path.c_str());
}

bool write_whole_file(const std::string &path, const std::string &text) {
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "w"), &std::fclose);
  if (!file) return false;
  bool ok = std::fputs(text.c_str(), file.get()) >= 0;
  return std::fclose(file.release()) == 0 && ok;
}

std::string http_status_text(int status) {
  return "HTTP returned status of " + std::to_string(status);
}

}  // namespace

// ---- builders ----

std::string gateway_url(const std::string &user, const std::string &password, const std::string &gateway,
                        int port, const std::string &page, const std::string &page_values) {
  // User and password are encoded in both places: a "@", ":" or "/" there must not move the host.
  return "https://" + percent_encode(user) + ":" + percent_encode(password) + "@" + gateway + ":" +
         std::to_string(port) + page + "?version=" + std::to_string(kProtocolVersion) + page_values +
         "?PASSWD=" + percent_encode(password) + "?USER=" + percent_encode(user);
}

std::string wget_command(const WorkDir &dir, const std::string &log_name, const std::string &reply_name,
                         const std::string &url) {
  return "\"" + dir.command_form + "wget.exe\" -t 1 -o " + log_name +
         " --timeout=" + std::to_string(RoadWarrior::kWgetTimeoutSeconds) + " --output-document=\"" +
         dir.command_form + reply_name + "\" " + quote_argument(url);
}

std::string ipsec_conf(const std::string &gateway, const GatewayReply &reply) {
  return "conn HostToRemote\n"
         "\tleft=%any\n"
         "\tright=" +
         gateway +
         "\n"
         "\trightsubnet=" +
         reply.rightsubnet +
         "\n"
         "\tpresharedkey=" +
         reply.presharedkey +
         "\n"
         "\tauto=start\n"
         "\tpfs=yes\n";
}

bool local_address_in_subnet(const std::string &local_ip, const std::string &rightsubnet) {
  std::size_t last_dot = local_ip.rfind('.');
  if (last_dot == std::string::npos) return false;
  std::string network = local_ip.substr(0, last_dot + 1);  // with the dot: a whole part must match
  return rightsubnet.rfind(network, 0) == 0;
}

bool write_status_conf(const WorkDir &dir, const std::string &prefix, const std::string &text) {
  return write_whole_file(dir.file("status.conf"), prefix + "message=" + text + "\n");
}

// ---- helpers ----

struct RoadWarrior::Exchange {
  const char *status_prefix;  // of status.conf
  const char *log_name;
  const char *reply_name;
  int reply_missing;
  std::string url;
  bool log_reached;  // the connect request notes a reached gateway in Log.txt
};

void RoadWarrior::log(const char *category, const std::string &message) {
  if (log_) log_->log(category, message);
}

void RoadWarrior::window(void *handle, const char *text) {
  platform_.set_window_text(handle, text);
}

RunOutcome RoadWarrior::run(const std::string &command_line, const WorkDir &dir, Platform::Duration limit,
                            const RunControl *control) {
  return platform_.run_program(command_line, dir.command_form, limit, control);
}

bool RoadWarrior::run_tool(const std::string &command_line, const WorkDir &dir, Platform::Duration limit) {
  return run(command_line, dir, limit) == RunOutcome::kFinished;
}

bool RoadWarrior::run_tarnwick(const WorkDir &dir, const std::string &arguments) {
  return run_tool("\"" + dir.command_form + "tarnwick.exe\" " + arguments, dir, kDnsToolLimit);
}

void RoadWarrior::flush_and_register_dns(const WorkDir &dir) {
  run_tool("ipconfig /flushdns", dir, kDnsToolLimit);
  run_tool("ipconfig /registerdns", dir, kDnsToolLimit);
}

// One request through wget and its reply, up to a valid reply. An int result is the export's return.
std::variant<GatewayReply, int> RoadWarrior::exchange(const WorkDir &dir, const Exchange &ex) {
  // Nothing an earlier request left may pass for this one's answer.
  remove_file(dir.file(ex.log_name));
  remove_file(dir.file(ex.reply_name));
  if (run(wget_command(dir, ex.log_name, ex.reply_name, ex.url), dir, kWgetLimit) ==
      RunOutcome::kNotStarted) {
    if (!write_status_conf(dir, ex.status_prefix, kWgetDidNotRun)) return kStatusConfUnwritable;
  } else {
    int http = read_http_status(dir.file(ex.log_name));
    if (http == 200) {
      if (ex.log_reached) log("STATUS", "Remote gateway was reached by https ...");
    } else if (http >= 0) {
      if (!write_status_conf(dir, ex.status_prefix, http_status_text(http))) return kStatusConfUnwritable;
      return kHttpNotOk;
    }
  }
  auto reply = read_reply_file(dir.file(ex.reply_name));
  if (!reply) return ex.reply_missing;
  // A status page must say which status; without one it is no answer at all.
  if (!reply->valid() || (reply->is_status_page() && !reply->status_number())) {
    if (!write_status_conf(dir, ex.status_prefix, kReachedOnce)) return kStatusConfUnwritable;
    if (ex.log_reached) log("WARNING", "Remote gateway wasn't reached...");
    return kNoValidReply;
  }
  return *reply;
}

// ---- exports ----

int RoadWarrior::conn_start(const ConnectionArgs &a) {
  if (int rc = check_args({ini_arg(a.ini_path), local_ip_arg(a.local_ip), gateway_arg(a.gateway),
                           user_arg(a.user), password_arg(a.password)}))
    return rc;
  auto loaded = load_work_dir(a.ini_path);
  if (auto *code = std::get_if<int>(&loaded)) return *code;
  const WorkDir &dir = std::get<WorkDir>(loaded);
  std::string remembered = platform_.current_directory();
  if (!platform_.set_current_directory(dir.command_form)) return kBadWorkDir;

  window(a.window, "Connecting....");
  Exchange ex{"rwConnStart ",
              "wget_error.txt",
              "vpnserver.conf",
              kReplyMissing,
              gateway_url(a.user, a.password, a.gateway, effective_port(a.port), "/StartConnection.htm",
                          "?IP=" + percent_encode(a.local_ip)),
              true};
  auto result = exchange(dir, ex);
  if (auto *code = std::get_if<int>(&result)) return *code;
  const GatewayReply &reply = std::get<GatewayReply>(result);

  if (reply.is_status_page()) {
    if (!write_status_conf(dir, ex.status_prefix, reply.message)) return kStatusConfUnwritable;
    return *reply.status_number();
  }
  if (!reply.provisions()) {
    // An empty subnet or key would switch on a policy that protects nothing.
    if (!write_status_conf(dir, ex.status_prefix, kReachedOnce)) return kStatusConfUnwritable;
    log("WARNING", "Remote gateway wasn't reached...");
    return kNoValidReply;
  }
  return provision(a, dir, reply, remembered);
}

int RoadWarrior::provision(const ConnectionArgs &a, const WorkDir &dir, const GatewayReply &reply,
                           const std::string &remembered) {
  log("STATUS", "Provisioning...");
  window(a.window, "Provisioning....");
  if (!write_whole_file(dir.file("ipsec.conf"), ipsec_conf(a.gateway, reply))) {
    log("ERROR", "Opening \"ipsec.conf\" failed.");
    return kIpsecConfUnwritable;
  }
  if (!reply.domain.empty() && (!is_domain_name(reply.domain) ||
                                !run_tarnwick(dir, "SEARCHLIST EDIT " + quote_argument(reply.domain))))
    return kSearchListFailed;
  if (a.dns_flag == 1) {
    for (const std::string *server : {&reply.dnsserver2, &reply.dnsserver}) {
      if (!usable_server(*server)) continue;
      if (!is_ipv4_address(*server) ||
          !run_tarnwick(dir, "NAMESERVER EDIT " + quote_argument(*server) + " " + quote_argument(a.local_ip)))
        return kNameServerFailed;
    }
  }
  window(a.window, "Activating Policy....");
  if (!run_tool("ipsec.exe", dir, kIpsecLimit)) return undo_dns(a, dir, reply);

  flush_and_register_dns(dir);
  platform_.set_current_directory(remembered);
  if (local_address_in_subnet(a.local_ip, reply.rightsubnet)) {
    log("WARNING", "Local IP address conflicts the subnet of remote VPN Server.");
    return kSubnetConflict;
  }
  return kOk;
}

int RoadWarrior::undo_dns(const ConnectionArgs &a, const WorkDir &dir, const GatewayReply &reply) {
  if (a.dns_flag == 1) {
    for (const std::string *server : {&reply.dnsserver2, &reply.dnsserver}) {
      if (usable_server(*server) && !remove_name_server(platform_.registry(), *server, a.local_ip))
        return kSearchListFailed;
    }
  }
  if (!reply.domain.empty() && !run_tarnwick(dir, "SEARCHLIST DELETE " + quote_argument(reply.domain)))
    return kSearchListFailed;
  return kIpsecNotStarted;
}

int RoadWarrior::reset_network(void *handle, const char *ini_path, const char *local_ip, char dns_flag) {
  if (int rc = check_args({ini_arg(ini_path), reset_local_ip_arg(local_ip, dns_flag)})) return rc;
  auto loaded = load_work_dir(ini_path);
  if (auto *code = std::get_if<int>(&loaded)) return *code;
  const WorkDir &dir = std::get<WorkDir>(loaded);
  std::string remembered = platform_.current_directory();
  if (!platform_.set_current_directory(dir.command_form)) return kBadWorkDir;

  window(handle, "Deactivating Policy....");
  if (!run_tool("ipsec.exe -off", dir, kIpsecLimit)) return kIpsecNotStarted;
  if (dns_flag == 1) {
    // Only the reply's own lines count: words inside its message must not decide what is removed.
    auto reply = read_reply_file(dir.file("vpnserver.conf"));
    if (!reply) return kReplyMissing;
    for (const std::string *server : {&reply->dnsserver, &reply->dnsserver2}) {
      if (usable_server(*server) && !remove_name_server(platform_.registry(), *server, local_ip))
        return kNameServerFailed;
    }
    if (is_domain_name(reply->domain) &&
        !run_tarnwick(dir, "SEARCHLIST DELETE " + quote_argument(reply->domain)))
      return kSearchListFailed;
  }
  platform_.set_current_directory(remembered);
  return kOk;
}

int RoadWarrior::conn_stop(const ConnectionArgs &a) {
  if (int rc = check_args({ini_arg(a.ini_path), reset_local_ip_arg(a.local_ip, a.dns_flag),
                           gateway_arg(a.gateway), user_arg(a.user), password_arg(a.password)}))
    return rc;
  auto loaded = load_work_dir(a.ini_path);
  if (auto *code = std::get_if<int>(&loaded)) return *code;
  const WorkDir &dir = std::get<WorkDir>(loaded);
  // The gateway ends the session even when the host's own reset failed: it must not keep a tunnel up
  // for a client that is leaving. The reset's error, the first, is still what the call returns.
  const int reset_rc = reset_network(a.window, a.ini_path, a.local_ip, a.dns_flag);
  const int rc = stop_at_gateway(a, dir);
  return reset_rc != kOk ? reset_rc : rc;
}

int RoadWarrior::stop_at_gateway(const ConnectionArgs &a, const WorkDir &dir) {
  if (!platform_.set_current_directory(dir.command_form)) return kBadWorkDir;

  window(a.window, "Disconnecting from Server....");
  Exchange ex{"rwConnStop ",
              "wget_stop_error.txt",
              "stopconn.conf",
              kReplyMissing,
              gateway_url(a.user, a.password, a.gateway, effective_port(a.port), "/StopConnection.htm",
                          "?status=disable?IP=" + percent_encode(a.local_ip ? a.local_ip : "")),
              false};
  auto result = exchange(dir, ex);
  if (auto *code = std::get_if<int>(&result)) return *code;
  const GatewayReply &reply = std::get<GatewayReply>(result);
  flush_and_register_dns(dir);
  if (!reply.is_status_page()) return kNotStatusPage;
  if (!write_status_conf(dir, ex.status_prefix, reply.message)) return kStatusConfUnwritable;
  return *reply.status_number();
}

int RoadWarrior::pw_set(const PasswordArgs &a) {
  if (int rc = check_args({ini_arg(a.ini_path), gateway_arg(a.gateway), user_arg(a.user),
                           password_arg(a.password), new_password_arg(a.new_password)}))
    return rc;
  auto loaded = load_work_dir(a.ini_path);
  if (auto *code = std::get_if<int>(&loaded)) return *code;
  const WorkDir &dir = std::get<WorkDir>(loaded);

  window(a.window, "Connecting to Server....");
  Exchange ex{"rwPwSet ",
              "wget_pwd_error.txt",
              "pwdreset.conf",
              kPasswordReplyMissing,
              gateway_url(a.user, a.password, a.gateway, effective_port(a.port), "/ChangePasswd.htm",
                          "?PASSWORD=" + percent_encode(a.new_password)),
              false};
  auto result = exchange(dir, ex);
  if (auto *code = std::get_if<int>(&result)) return *code;
  const GatewayReply &reply = std::get<GatewayReply>(result);
  window(a.window, "Request received by Server....");
  if (!reply.is_status_page()) return kOk;
  if (!write_status_conf(dir, ex.status_prefix, reply.message)) return kStatusConfUnwritable;
  int status = *reply.status_number();
  if (status == 0) window(a.window, "Password Change Successful....");
  return status;
}

// ---- ISAKMP status request ----

// What the worker works from, copied out of the caller's arguments.
struct RoadWarrior::IsakmpRequest {
  WorkDir dir;
  std::string url;
};

namespace {
constexpr const char *kIsakmpPrefix = "isakmp_status ";
constexpr const char *kIsakmpLog = "wget_request_error.txt";
constexpr const char *kIsakmpReply = "isakmp_status.conf";
}  // namespace

RoadWarrior::IsakmpOutcome RoadWarrior::run_isakmp_request(const IsakmpRequest &r,
                                                           const RunControl &control) {
  remove_file(r.dir.file(kIsakmpReply));
  remove_file(r.dir.file(kIsakmpLog));
  if (run(wget_command(r.dir, kIsakmpLog, kIsakmpReply, r.url), r.dir, kWgetLimit, &control) ==
      RunOutcome::kNotStarted) {
    write_status_conf(r.dir, kIsakmpPrefix, kWgetDidNotRun);
    return IsakmpOutcome::kNotStarted;
  }
  int http = read_http_status(r.dir.file(kIsakmpLog));
  if (http != 200 && http >= 0) write_status_conf(r.dir, kIsakmpPrefix, http_status_text(http));
  return IsakmpOutcome::kRan;
}

int RoadWarrior::request_isakmp(const ConnectionArgs &a) {
  // The limits of the request record the worker works from.
  if (check_args({{a.ini_path, 259, kIsakmpFailed, any_text},
                  {a.local_ip, 19, kIsakmpFailed, is_dotted_address_text},
                  {a.gateway, 49, kIsakmpFailed, is_host_name},
                  {a.user, 49, kIsakmpFailed, any_text},
                  {a.password, 31, kIsakmpFailed, any_text}}))
    return kIsakmpFailed;
  auto loaded = load_work_dir(a.ini_path);
  if (std::holds_alternative<int>(loaded)) return kIsakmpFailed;
  if (isakmp_busy_.exchange(true)) return kIsakmpFailed;
  struct Release {
    std::atomic<bool> &busy;
    ~Release() { busy = false; }
  } release{isakmp_busy_};

  IsakmpRequest request{std::get<WorkDir>(loaded),
                        gateway_url(a.user, a.password, a.gateway, effective_port(a.port), "/CheckIsakmp.htm",
                                    "?IP=" + percent_encode(a.local_ip))};
  RunControl control;
  IsakmpOutcome outcome = IsakmpOutcome::kRan;
  std::promise<void> finished;
  std::future<void> done = finished.get_future();
  // The worker is always joined before this returns, so it may work on these locals.
  std::thread worker([&] {
    outcome = run_isakmp_request(request, control);
    finished.set_value();
  });

  if (!platform_.wait_for(done, kIsakmpWait)) {
    // Too slow: end the wget it waits for (never the thread itself) so it finishes at once.
    control.cancelled = true;
  }
  worker.join();

  int http = read_http_status(request.dir.file(kIsakmpLog));
  if (http == 200) return kOk;
  if (outcome == IsakmpOutcome::kRan) write_status_conf(request.dir, kIsakmpPrefix, http_status_text(http));
  return kIsakmpFailed;
}

}  // namespace dravik
