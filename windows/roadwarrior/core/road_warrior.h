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
  const char *iniPath = nullptr;
  const char *localIp = nullptr;
  const char *gateway = nullptr;
  const char *user = nullptr;
  const char *password = nullptr;
  int port = 0;
  char dnsFlag = 0;
};

struct PasswordArgs {
  void *window = nullptr;
  const char *iniPath = nullptr;
  const char *gateway = nullptr;
  const char *user = nullptr;
  const char *password = nullptr;
  const char *newPassword = nullptr;
  int port = 0;
};

class RoadWarrior {
 public:
  // wget's own timeout, and how long an ISAKMP request may take before it is given up.
  static constexpr int kWgetTimeoutSeconds = 10;
  static constexpr Platform::Duration kIsakmpWait{10000};
  // wget ends itself after its timeout; a tool that hangs anyway is ended after this.
  static constexpr Platform::Duration kWgetLimit{120000};

  RoadWarrior(Platform &platform, StatusLog *log) : platform_(platform), log_(log) {}

  int connStart(const ConnectionArgs &args);
  int connStop(const ConnectionArgs &args);
  int resetNetwork(void *window, const char *iniPath, const char *localIp, char dnsFlag);
  int pwSet(const PasswordArgs &args);
  int requestIsakmp(const ConnectionArgs &args);

 private:
  struct Exchange;
  struct IsakmpRequest;
  enum class IsakmpOutcome { Ran, NotStarted };

  std::variant<GatewayReply, int> exchange(const WorkDir &dir, const Exchange &ex);
  int provision(const ConnectionArgs &args, const WorkDir &dir, const GatewayReply &reply,
                const std::string &rememberedDir);
  int undoDns(const ConnectionArgs &args, const WorkDir &dir, const GatewayReply &reply);
  IsakmpOutcome runIsakmpRequest(const IsakmpRequest &request, const RunControl &control);

  bool run(const std::string &commandLine, const WorkDir &dir, Platform::Duration limit = Platform::kNoLimit,
           const RunControl *control = nullptr);
  bool runTarnwick(const WorkDir &dir, const std::string &arguments);
  void flushAndRegisterDns(const WorkDir &dir);
  void log(const char *category, const std::string &message);
  void window(void *window, const char *text);

  Platform &platform_;
  StatusLog *log_;
  std::atomic<bool> isakmpBusy_{false};
};

// Builders of the command lines and files, exposed for the tests.
std::string gatewayUrl(const std::string &user, const std::string &password, const std::string &gateway,
                       int port, const std::string &page, const std::string &pageValues);
std::string wgetCommand(const WorkDir &dir, const std::string &logName, const std::string &replyName,
                        const std::string &url);
std::string ipsecConf(const std::string &gateway, const GatewayReply &reply);
// True when the local address's network part (up to its last ".") starts the remote subnet as a
// whole part: 10.1.2.3 conflicts with 10.1.2.0/24, not with 10.1.20.0/24.
bool localAddressInSubnet(const std::string &localIp, const std::string &rightsubnet);
// Writes "<prefix>message=<text>\n" as the whole of status.conf.
bool writeStatusConf(const WorkDir &dir, const std::string &prefix, const std::string &text);

}  // namespace dravik
