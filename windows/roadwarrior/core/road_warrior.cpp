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
  bool (*wellFormed)(std::string_view);
};

bool anyText(std::string_view) {
  return true;
}

// The first failing argument decides. Missing arguments fail too: they would be formatted as text.
int checkArgs(std::initializer_list<ArgCheck> checks) {
  for (const ArgCheck &c : checks) {
    if (!c.value) return c.code;
    std::string_view v(c.value);
    if (v.size() > c.limit || !c.wellFormed(v)) return c.code;
  }
  return kOk;
}

constexpr std::size_t kMaxArg = 1024;
constexpr std::size_t kMaxLocalIp = 16;
ArgCheck iniArg(const char *v) {
  return {v, kMaxArg, kIniArgTooLong, anyText};
}
ArgCheck localIpArg(const char *v) {
  return {v, kMaxLocalIp, kLocalIpBad, isDottedAddressText};
}
ArgCheck gatewayArg(const char *v) {
  return {v, kMaxArg, kGatewayBad, isHostName};
}
ArgCheck userArg(const char *v) {
  return {v, kMaxArg, kUserBad, anyText};
}
ArgCheck passwordArg(const char *v) {
  return {v, kMaxArg, kPasswordBad, anyText};
}
ArgCheck newPasswordArg(const char *v) {
  return {v, kMaxArg, kNewPasswordBad, anyText};
}

int effectivePort(int port) {
  return port == 0 ? kDefaultPort : port;
}

bool usableServer(const std::string &value) {
  return !value.empty() && value != "0.0.0.0";
}

void removeFile(const std::string &path) {
  std::remove(path.c_str());
}

bool writeWholeFile(const std::string &path, const std::string &text) {
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "w"), &std::fclose);
  if (!file) return false;
  bool ok = std::fputs(text.c_str(), file.get()) >= 0;
  return std::fclose(file.release()) == 0 && ok;
}

std::string httpStatusText(int status) {
  return "HTTP returned status of " + std::to_string(status);
}

}  // namespace

// ---- builders ----

std::string gatewayUrl(const std::string &user, const std::string &password, const std::string &gateway,
                       int port, const std::string &page, const std::string &pageValues) {
  // User and password are encoded in both places: a "@", ":" or "/" there must not move the host.
  return "https://" + percentEncode(user) + ":" + percentEncode(password) + "@" + gateway + ":" +
         std::to_string(port) + page + "?version=" + std::to_string(kProtocolVersion) + pageValues +
         "?PASSWD=" + percentEncode(password) + "?USER=" + percentEncode(user);
}

std::string wgetCommand(const WorkDir &dir, const std::string &logName, const std::string &replyName,
                        const std::string &url) {
  return "\"" + dir.commandForm + "wget.exe\" -t 1 -o " + logName +
         " --timeout=" + std::to_string(RoadWarrior::kWgetTimeoutSeconds) + " --output-document=\"" +
         dir.commandForm + replyName + "\" " + quoteArgument(url);
}

std::string ipsecConf(const std::string &gateway, const GatewayReply &reply) {
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

bool localAddressInSubnet(const std::string &localIp, const std::string &rightsubnet) {
  std::size_t lastDot = localIp.rfind('.');
  if (lastDot == std::string::npos) return false;
  std::string network = localIp.substr(0, lastDot + 1);  // with the dot: a whole part must match
  return rightsubnet.rfind(network, 0) == 0;
}

bool writeStatusConf(const WorkDir &dir, const std::string &prefix, const std::string &text) {
  return writeWholeFile(dir.file("status.conf"), prefix + "message=" + text + "\n");
}

// ---- helpers ----

struct RoadWarrior::Exchange {
  const char *statusPrefix;  // of status.conf
  const char *logName;
  const char *replyName;
  int replyMissing;
  std::string url;
  bool logReached;  // the connect request notes a reached gateway in Log.txt
};

void RoadWarrior::log(const char *category, const std::string &message) {
  if (log_) log_->log(category, message);
}

void RoadWarrior::window(void *handle, const char *text) {
  platform_.setWindowText(handle, text);
}

bool RoadWarrior::run(const std::string &commandLine, const WorkDir &dir, Platform::Duration limit,
                      const RunControl *control) {
  return platform_.runProgram(commandLine, dir.commandForm, limit, control);
}

bool RoadWarrior::runTarnwick(const WorkDir &dir, const std::string &arguments) {
  return run("\"" + dir.commandForm + "tarnwick.exe\" " + arguments, dir);
}

void RoadWarrior::flushAndRegisterDns(const WorkDir &dir) {
  run("ipconfig /flushdns", dir);
  run("ipconfig /registerdns", dir);
}

// One request through wget and its reply, up to a valid reply. An int result is the export's return.
std::variant<GatewayReply, int> RoadWarrior::exchange(const WorkDir &dir, const Exchange &ex) {
  // Nothing an earlier request left may pass for this one's answer.
  removeFile(dir.file(ex.logName));
  removeFile(dir.file(ex.replyName));
  if (!run(wgetCommand(dir, ex.logName, ex.replyName, ex.url), dir, kWgetLimit)) {
    if (!writeStatusConf(dir, ex.statusPrefix, kWgetDidNotRun)) return kStatusConfUnwritable;
  } else {
    int http = readHttpStatus(dir.file(ex.logName));
    if (http == 200) {
      if (ex.logReached) log("STATUS", "Remote gateway was reached by https ...");
    } else if (http >= 0) {
      if (!writeStatusConf(dir, ex.statusPrefix, httpStatusText(http))) return kStatusConfUnwritable;
      return kHttpNotOk;
    }
  }
  auto reply = readReplyFile(dir.file(ex.replyName));
  if (!reply) return ex.replyMissing;
  // A status page must say which status; without one it is no answer at all.
  if (!reply->valid() || (reply->isStatusPage() && !reply->statusNumber())) {
    if (!writeStatusConf(dir, ex.statusPrefix, kReachedOnce)) return kStatusConfUnwritable;
    if (ex.logReached) log("WARNING", "Remote gateway wasn't reached...");
    return kNoValidReply;
  }
  return *reply;
}

// ---- exports ----

int RoadWarrior::connStart(const ConnectionArgs &a) {
  if (int rc = checkArgs({iniArg(a.iniPath), localIpArg(a.localIp), gatewayArg(a.gateway), userArg(a.user),
                          passwordArg(a.password)}))
    return rc;
  auto loaded = loadWorkDir(a.iniPath);
  if (auto *code = std::get_if<int>(&loaded)) return *code;
  const WorkDir &dir = std::get<WorkDir>(loaded);
  std::string remembered = platform_.currentDirectory();
  if (!platform_.setCurrentDirectory(dir.commandForm)) return kBadWorkDir;

  window(a.window, "Connecting....");
  Exchange ex{"rwConnStart ",
              "wget_error.txt",
              "vpnserver.conf",
              kReplyMissing,
              gatewayUrl(a.user, a.password, a.gateway, effectivePort(a.port), "/StartConnection.htm",
                         "?IP=" + percentEncode(a.localIp)),
              true};
  auto result = exchange(dir, ex);
  if (auto *code = std::get_if<int>(&result)) return *code;
  const GatewayReply &reply = std::get<GatewayReply>(result);

  if (reply.isStatusPage()) {
    if (!writeStatusConf(dir, ex.statusPrefix, reply.message)) return kStatusConfUnwritable;
    return *reply.statusNumber();
  }
  if (!reply.provisions()) {
    // An empty subnet or key would switch on a policy that protects nothing.
    if (!writeStatusConf(dir, ex.statusPrefix, kReachedOnce)) return kStatusConfUnwritable;
    log("WARNING", "Remote gateway wasn't reached...");
    return kNoValidReply;
  }
  return provision(a, dir, reply, remembered);
}

int RoadWarrior::provision(const ConnectionArgs &a, const WorkDir &dir, const GatewayReply &reply,
                           const std::string &remembered) {
  log("STATUS", "Provisioning...");
  window(a.window, "Provisioning....");
  if (!writeWholeFile(dir.file("ipsec.conf"), ipsecConf(a.gateway, reply))) {
    log("ERROR", "Opening \"ipsec.conf\" failed.");
    return kIpsecConfUnwritable;
  }
  if (!reply.domain.empty() &&
      (!isDomainName(reply.domain) || !runTarnwick(dir, "SEARCHLIST EDIT " + quoteArgument(reply.domain))))
    return kSearchListFailed;
  if (a.dnsFlag == 1) {
    for (const std::string *server : {&reply.dnsserver2, &reply.dnsserver}) {
      if (!usableServer(*server)) continue;
      if (!isIpv4Address(*server) ||
          !runTarnwick(dir, "NAMESERVER EDIT " + quoteArgument(*server) + " " + quoteArgument(a.localIp)))
        return kNameServerFailed;
    }
  }
  window(a.window, "Activating Policy....");
  if (!run("ipsec.exe", dir)) return undoDns(a, dir, reply);

  flushAndRegisterDns(dir);
  platform_.setCurrentDirectory(remembered);
  if (localAddressInSubnet(a.localIp, reply.rightsubnet)) {
    log("WARNING", "Local IP address conflicts the subnet of remote VPN Server.");
    return kSubnetConflict;
  }
  return kOk;
}

int RoadWarrior::undoDns(const ConnectionArgs &a, const WorkDir &dir, const GatewayReply &reply) {
  if (a.dnsFlag == 1) {
    for (const std::string *server : {&reply.dnsserver2, &reply.dnsserver}) {
      if (usableServer(*server) && !removeNameServer(platform_.registry(), *server, a.localIp))
        return kSearchListFailed;
    }
  }
  if (!reply.domain.empty() && !runTarnwick(dir, "SEARCHLIST DELETE " + quoteArgument(reply.domain)))
    return kSearchListFailed;
  return kIpsecNotStarted;
}

int RoadWarrior::resetNetwork(void *handle, const char *iniPath, const char *localIp, char dnsFlag) {
  if (int rc = checkArgs({iniArg(iniPath), localIpArg(localIp)})) return rc;
  auto loaded = loadWorkDir(iniPath);
  if (auto *code = std::get_if<int>(&loaded)) return *code;
  const WorkDir &dir = std::get<WorkDir>(loaded);
  std::string remembered = platform_.currentDirectory();
  if (!platform_.setCurrentDirectory(dir.commandForm)) return kBadWorkDir;

  window(handle, "Deactivating Policy....");
  if (!run("ipsec.exe -off", dir)) return kIpsecNotStarted;
  if (dnsFlag == 1) {
    // Only the reply's own lines count: words inside its message must not decide what is removed.
    auto reply = readReplyFile(dir.file("vpnserver.conf"));
    if (!reply) return kReplyMissing;
    for (const std::string *server : {&reply->dnsserver, &reply->dnsserver2}) {
      if (usableServer(*server) && !removeNameServer(platform_.registry(), *server, localIp))
        return kNameServerFailed;
    }
    if (isDomainName(reply->domain) && !runTarnwick(dir, "SEARCHLIST DELETE " + quoteArgument(reply->domain)))
      return kSearchListFailed;
  }
  platform_.setCurrentDirectory(remembered);
  return kOk;
}

int RoadWarrior::connStop(const ConnectionArgs &a) {
  if (int rc = checkArgs({iniArg(a.iniPath), localIpArg(a.localIp), gatewayArg(a.gateway), userArg(a.user),
                          passwordArg(a.password)}))
    return rc;
  auto loaded = loadWorkDir(a.iniPath);
  if (auto *code = std::get_if<int>(&loaded)) return *code;
  const WorkDir &dir = std::get<WorkDir>(loaded);
  if (int rc = resetNetwork(a.window, a.iniPath, a.localIp, a.dnsFlag)) return rc;
  if (!platform_.setCurrentDirectory(dir.commandForm)) return kBadWorkDir;

  window(a.window, "Disconnecting from Server....");
  Exchange ex{"rwConnStop ",
              "wget_stop_error.txt",
              "stopconn.conf",
              kReplyMissing,
              gatewayUrl(a.user, a.password, a.gateway, effectivePort(a.port), "/StopConnection.htm",
                         "?status=disable?IP=" + percentEncode(a.localIp)),
              false};
  auto result = exchange(dir, ex);
  if (auto *code = std::get_if<int>(&result)) return *code;
  const GatewayReply &reply = std::get<GatewayReply>(result);
  flushAndRegisterDns(dir);
  if (!reply.isStatusPage()) return kNotStatusPage;
  if (!writeStatusConf(dir, ex.statusPrefix, reply.message)) return kStatusConfUnwritable;
  return *reply.statusNumber();
}

int RoadWarrior::pwSet(const PasswordArgs &a) {
  if (int rc = checkArgs({iniArg(a.iniPath), gatewayArg(a.gateway), userArg(a.user), passwordArg(a.password),
                          newPasswordArg(a.newPassword)}))
    return rc;
  auto loaded = loadWorkDir(a.iniPath);
  if (auto *code = std::get_if<int>(&loaded)) return *code;
  const WorkDir &dir = std::get<WorkDir>(loaded);

  window(a.window, "Connecting to Server....");
  Exchange ex{"rwPwSet ",
              "wget_pwd_error.txt",
              "pwdreset.conf",
              kPasswordReplyMissing,
              gatewayUrl(a.user, a.password, a.gateway, effectivePort(a.port), "/ChangePasswd.htm",
                         "?PASSWORD=" + percentEncode(a.newPassword)),
              false};
  auto result = exchange(dir, ex);
  if (auto *code = std::get_if<int>(&result)) return *code;
  const GatewayReply &reply = std::get<GatewayReply>(result);
  window(a.window, "Request received by Server....");
  if (!reply.isStatusPage()) return kOk;
  if (!writeStatusConf(dir, ex.statusPrefix, reply.message)) return kStatusConfUnwritable;
  int status = *reply.statusNumber();
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

RoadWarrior::IsakmpOutcome RoadWarrior::runIsakmpRequest(const IsakmpRequest &r, const RunControl &control) {
  removeFile(r.dir.file(kIsakmpReply));
  removeFile(r.dir.file(kIsakmpLog));
  if (!run(wgetCommand(r.dir, kIsakmpLog, kIsakmpReply, r.url), r.dir, kWgetLimit, &control)) {
    writeStatusConf(r.dir, kIsakmpPrefix, kWgetDidNotRun);
    return IsakmpOutcome::NotStarted;
  }
  int http = readHttpStatus(r.dir.file(kIsakmpLog));
  if (http != 200 && http >= 0) writeStatusConf(r.dir, kIsakmpPrefix, httpStatusText(http));
  return IsakmpOutcome::Ran;
}

int RoadWarrior::requestIsakmp(const ConnectionArgs &a) {
  // The limits of the request record the worker works from.
  if (checkArgs({{a.iniPath, 259, kIsakmpFailed, anyText},
                 {a.localIp, 19, kIsakmpFailed, isDottedAddressText},
                 {a.gateway, 49, kIsakmpFailed, isHostName},
                 {a.user, 49, kIsakmpFailed, anyText},
                 {a.password, 31, kIsakmpFailed, anyText}}))
    return kIsakmpFailed;
  auto loaded = loadWorkDir(a.iniPath);
  if (std::holds_alternative<int>(loaded)) return kIsakmpFailed;
  if (isakmpBusy_.exchange(true)) return kIsakmpFailed;
  struct Release {
    std::atomic<bool> &busy;
    ~Release() { busy = false; }
  } release{isakmpBusy_};

  IsakmpRequest request{std::get<WorkDir>(loaded),
                        gatewayUrl(a.user, a.password, a.gateway, effectivePort(a.port), "/CheckIsakmp.htm",
                                   "?IP=" + percentEncode(a.localIp))};
  RunControl control;
  IsakmpOutcome outcome = IsakmpOutcome::Ran;
  std::promise<void> finished;
  std::future<void> done = finished.get_future();
  // The worker is always joined before this returns, so it may work on these locals.
  std::thread worker([&] {
    outcome = runIsakmpRequest(request, control);
    finished.set_value();
  });

  if (!platform_.waitFor(done, kIsakmpWait)) {
    // Too slow: end the wget it waits for (never the thread itself) so it finishes at once.
    control.cancelled = true;
  }
  worker.join();

  int http = readHttpStatus(request.dir.file(kIsakmpLog));
  if (http == 200) return kOk;
  if (outcome == IsakmpOutcome::Ran) writeStatusConf(request.dir, kIsakmpPrefix, httpStatusText(http));
  return kIsakmpFailed;
}

}  // namespace dravik
