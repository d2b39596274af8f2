// The tunnel being built between two routers, and what the wizard reads from each router's pages.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tunmira {

// Every page and every form the wizard exchanges with a router fits in this many bytes.
inline constexpr std::size_t kPageCapacity = 51200;
// A router holds at most this many tunnels.
inline constexpr std::size_t kMaxTunnels = 5;

enum class RouterId { Router1, Router2 };

using Octets = std::array<std::string, 4>;

struct RouterSettings {
  std::string user;
  std::string password;
  std::string wanAddress;
  Octets wanOctets;
  int port = 0;
  std::string lanAddress;
  Octets lanOctets;
  std::string subnetMask;
  Octets maskOctets;
  std::string dnsName;
};

struct TunnelPlan {
  std::string tunnelName;
  std::string presharedKey;
  RouterSettings router1;
  RouterSettings router2;

  RouterSettings &Router(RouterId id) { return id == RouterId::Router1 ? router1 : router2; }
  const RouterSettings &Router(RouterId id) const { return id == RouterId::Router1 ? router1 : router2; }
};

// How the routers are reached. LocalMode: the PC sits on Router 1's LAN and reaches it by its LAN
// address; the ByName flags: that router is given by its DNS name instead of its WAN address.
struct AddressingFlags {
  int localMode = 1;
  int router1ByName = 0;
  int router2ByName = 0;
};

// Tunnel names read from a router's main VPN page.
struct TunnelList {
  std::array<std::string, kMaxTunnels> names;
  std::size_t count = 0;
};

struct TunnelStatusEntry {
  std::string name;
  std::string remoteGateway;
};
using TunnelStatusTable = std::array<TunnelStatusEntry, kMaxTunnels>;

// The host name or address the wizard uses in a router's URLs.
const std::string &RouterHost(const TunnelPlan &plan, const AddressingFlags &flags, RouterId id);

// 443 for Router 1 on the local LAN, 8080 for a router reached over the internet.
int RouterPort(const AddressingFlags &flags, RouterId id);

// Whether the form posted to router `local` must name its peer by DNS name.
int RemoteByName(const AddressingFlags &flags, RouterId local);

RouterId OtherRouter(RouterId id);

}  // namespace tunmira
