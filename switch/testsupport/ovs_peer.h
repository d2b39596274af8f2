// Open vSwitch in user space as a protocol peer: ovsdb-server and ovs-vswitchd run inside a network
// namespace of the test with their database, sockets, pid and log files in a temporary folder of their
// own; bridges use the user-space datapath (datapath_type=netdev), so no kernel module is needed. Both
// daemons and the folder are gone when the peer is destroyed.
#pragma once

#include "ovs_show.h"
#include "peer_netns.h"

#include <memory>
#include <string>
#include <vector>

namespace peers {

class OvsPeer {
 public:
  // Starts both daemons in `ns` and waits until ovs-vswitchd answers; throws with the logs on failure.
  explicit OvsPeer(const Netns &ns);
  ~OvsPeer();
  OvsPeer(const OvsPeer &) = delete;
  OvsPeer &operator=(const OvsPeer &) = delete;

  // ovs-vsctl with the given arguments (already quoted where needed) against this peer's database.
  CommandResult vsctl(const std::string &arguments) const;
  // ovs-appctl with the given arguments against this peer's ovs-vswitchd.
  CommandResult appctl(const std::string &arguments) const;

  // A bridge of the user-space datapath; `options` are further "key=value" columns of the bridge.
  bool add_bridge(const std::string &bridge, const std::string &options = "") const;
  bool add_port(const std::string &bridge, const std::string &ifname) const;
  // A load-balancing bond of the given interfaces with active LACP and the fast (one second) LACP timer.
  bool add_lacp_bond(const std::string &bridge, const std::string &bond,
                     const std::vector<std::string> &ifnames) const;

  std::vector<LacpBond> lacp_show() const;
  std::vector<BondState> bond_show() const;
  std::vector<RstpBridgeState> rstp_show() const;
  std::optional<LacpBond> lacp_bond_named(const std::string &bond) const;
  std::optional<RstpBridgeState> rstp_bridge_named(const std::string &bridge) const;

  const std::string &folder() const { return folder_; }
  // Both daemons' logs, for failure messages.
  std::string logs() const;

 private:
  void start();
  void stop();
  const Netns &ns_;
  std::string folder_;
  std::unique_ptr<BackgroundProcess> db_;
  std::unique_ptr<BackgroundProcess> switchd_;
};

// The kernel's Linux bridge inside a namespace, with its 802.1D spanning tree when asked.
class LinuxBridgePeer {
 public:
  // `timers` are further "ip link add ... type bridge" arguments (forward_delay 400 and the like).
  LinuxBridgePeer(const Netns &ns, const std::string &bridge, bool stp, const std::string &timers = "");
  ~LinuxBridgePeer();
  LinuxBridgePeer(const LinuxBridgePeer &) = delete;
  LinuxBridgePeer &operator=(const LinuxBridgePeer &) = delete;

  bool add_port(const std::string &ifname) const;
  // The kernel's port state: "disabled", "listening", "learning", "forwarding", "blocking".
  std::string port_state(const std::string &ifname) const;
  // The bridge's own identifier and the root it sees, as "8000.aabbccddeeff".
  std::string bridge_id() const;
  std::string root_id() const;
  const std::string &name() const { return bridge_; }

 private:
  std::string sys(const std::string &file) const;
  const Netns &ns_;
  std::string bridge_;
};

}  // namespace peers
