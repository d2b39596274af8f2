#include "ovs_peer.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace peers {

namespace {

const char *const kSchema = "/usr/share/openvswitch/vswitch.ovsschema";

std::string make_folder() {
  char tmpl[] = "/tmp/pv_ovs.XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
  return tmpl;
}

}  // namespace

OvsPeer::OvsPeer(const Netns &ns) : ns_(ns), folder_(make_folder()) {
  try {
    start();
  } catch (...) {
    stop();
    throw;
  }
}

OvsPeer::~OvsPeer() {
  stop();
}

void OvsPeer::start() {
  const std::string &d = folder_;
  const CommandResult db = shell("ovsdb-tool create " + quote(d + "/conf.db") + " " + kSchema);
  if (!db.ok()) throw std::runtime_error("ovsdb-tool create: " + db.output);
  // Both daemons in the foreground as children of the test; every file they make is in the folder
  // (OVS_RUNDIR also holds the bridges' management sockets).
  const std::vector<std::string> prefix = {"ip",
                                           "netns",
                                           "exec",
                                           ns_.name(),
                                           "env",
                                           "OVS_RUNDIR=" + d,
                                           "OVS_DBDIR=" + d,
                                           "OVS_LOGDIR=" + d,
                                           "OVS_SYSCONFDIR=" + d};
  std::vector<std::string> server = prefix;
  server.insert(server.end(), {"ovsdb-server", d + "/conf.db", "--remote=punix:" + d + "/db.sock",
                               "--pidfile=" + d + "/ovsdb-server.pid", "--unixctl=" + d + "/ovsdb-server.ctl",
                               "--log-file=" + d + "/ovsdb-server.log"});
  db_ = std::make_unique<BackgroundProcess>(server, d + "/ovsdb-server.out");
  if (!eventually([&] { return std::filesystem::exists(d + "/db.sock") || !db_->running(); },
                  std::chrono::seconds(10)) ||
      !db_->running())
    throw std::runtime_error("ovsdb-server did not start: " + logs());
  const CommandResult init = vsctl("--no-wait init");
  if (!init.ok()) throw std::runtime_error("ovs-vsctl init: " + init.output);
  std::vector<std::string> switchd = prefix;
  switchd.insert(switchd.end(),
                 {"ovs-vswitchd", "unix:" + d + "/db.sock", "--pidfile=" + d + "/ovs-vswitchd.pid",
                  "--unixctl=" + d + "/ovs-vswitchd.ctl", "--log-file=" + d + "/ovs-vswitchd.log"});
  switchd_ = std::make_unique<BackgroundProcess>(switchd, d + "/ovs-vswitchd.out");
  if (!eventually([&] { return appctl("version").ok() || !switchd_->running(); }, std::chrono::seconds(10)) ||
      !switchd_->running())
    throw std::runtime_error("ovs-vswitchd did not start: " + logs());
}

void OvsPeer::stop() {
  // ovs-vswitchd first: it removes its bridges' devices while the database still answers.
  if (switchd_) switchd_->stop(std::chrono::seconds(5));
  if (db_) db_->stop(std::chrono::seconds(5));
  switchd_.reset();
  db_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

CommandResult OvsPeer::vsctl(const std::string &arguments) const {
  return shell("ovs-vsctl --timeout=20 --db=unix:" + quote(folder_ + "/db.sock") + " " + arguments);
}

CommandResult OvsPeer::appctl(const std::string &arguments) const {
  return shell("ovs-appctl --timeout=10 -t " + quote(folder_ + "/ovs-vswitchd.ctl") + " " + arguments);
}

bool OvsPeer::add_bridge(const std::string &bridge, const std::string &options) const {
  return vsctl("add-br " + quote(bridge) + " -- set bridge " + quote(bridge) + " datapath_type=netdev " +
               options)
      .ok();
}

bool OvsPeer::add_port(const std::string &bridge, const std::string &ifname) const {
  return vsctl("add-port " + quote(bridge) + " " + quote(ifname)).ok();
}

bool OvsPeer::add_lacp_bond(const std::string &bridge, const std::string &bond,
                            const std::vector<std::string> &ifnames) const {
  std::string command = "add-bond " + quote(bridge) + " " + quote(bond);
  for (const std::string &i : ifnames) command += " " + quote(i);
  // Load balancing over every member, as a partner switch expects: an active-backup bond would drop
  // what the switch hashes onto its backup member.
  return vsctl(command + " lacp=active bond_mode=balance-tcp -- set port " + quote(bond) +
               " other_config:lacp-time=fast")
      .ok();
}

std::vector<LacpBond> OvsPeer::lacp_show() const {
  return parse_lacp_show(appctl("lacp/show").output);
}
std::vector<BondState> OvsPeer::bond_show() const {
  return parse_bond_show(appctl("bond/show").output);
}
std::vector<RstpBridgeState> OvsPeer::rstp_show() const {
  return parse_rstp_show(appctl("rstp/show").output);
}

std::optional<LacpBond> OvsPeer::lacp_bond_named(const std::string &bond) const {
  for (LacpBond &b : parse_lacp_show(appctl("lacp/show " + quote(bond)).output))
    if (b.name == bond) return b;
  return std::nullopt;
}

std::optional<RstpBridgeState> OvsPeer::rstp_bridge_named(const std::string &bridge) const {
  for (RstpBridgeState &b : parse_rstp_show(appctl("rstp/show " + quote(bridge)).output))
    if (b.name == bridge) return b;
  return std::nullopt;
}

std::string OvsPeer::logs() const {
  std::string all;
  for (const char *file : {"ovsdb-server.out", "ovsdb-server.log", "ovs-vswitchd.out", "ovs-vswitchd.log"}) {
    const CommandResult r = shell("tail -n 40 " + quote(folder_ + "/" + file));
    all += std::string("\n== ") + file + "\n" + r.output;
  }
  return all;
}

LinuxBridgePeer::LinuxBridgePeer(const Netns &ns, const std::string &bridge, bool stp,
                                 const std::string &timers)
    : ns_(ns), bridge_(bridge) {
  const CommandResult made = ns_.run("ip link add " + quote(bridge_) + " type bridge stp_state " +
                                     std::string(stp ? "1 " : "0 ") + timers);
  if (!made.ok()) throw std::runtime_error("ip link add " + bridge_ + ": " + made.output);
  ns_.run("sysctl -qw net.ipv6.conf." + bridge_ + ".disable_ipv6=1");
  ns_.run("ip link set " + quote(bridge_) + " up");
}

LinuxBridgePeer::~LinuxBridgePeer() {
  ns_.run("ip link del " + quote(bridge_));
}

bool LinuxBridgePeer::add_port(const std::string &ifname) const {
  return ns_.run("ip link set " + quote(ifname) + " master " + quote(bridge_)).ok();
}

std::string LinuxBridgePeer::sys(const std::string &file) const {
  const CommandResult read = ns_.run("cat " + quote("/sys/class/net/" + bridge_ + "/" + file));
  if (!read.ok()) return {};
  std::string text = read.output;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string LinuxBridgePeer::port_state(const std::string &ifname) const {
  static const char *const kNames[] = {"disabled", "listening", "learning", "forwarding", "blocking"};
  const std::string text = sys("brif/" + ifname + "/state");
  const unsigned long value = text.empty() ? 99 : std::strtoul(text.c_str(), nullptr, 10);
  return value < 5 ? kNames[value] : "unknown";
}

std::string LinuxBridgePeer::bridge_id() const {
  return sys("bridge/bridge_id");
}
std::string LinuxBridgePeer::root_id() const {
  return sys("bridge/root_id");
}

}  // namespace peers
