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

enum class RouterId { kRouter1, kRouter2 };

using Octets = std::array<std::string, 4>;

struct RouterSettings {
  std::string user;
  std::string password;
  std::string wan_address;
  Octets wan_octets;
  int port = 0;
  std::string lan_address;
  Octets lan_octets;
  std::string subnet_mask;
  Octets mask_octets;
  std::string dns_name;
};

struct TunnelPlan {
  std::string tunnel_name;
  std::string preshared_key;
  RouterSettings router1;
  RouterSettings router2;

  RouterSettings &router(RouterId id) { return id == RouterId::kRouter1 ? router1 : router2; }
  const RouterSettings &router(RouterId id) const { return id == RouterId::kRouter1 ? router1 : router2; }
};

// How the routers are reached. LocalMode: the PC sits on Router 1's LAN and reaches it by its LAN
// address; the ByName flags: that router is given by its DNS name instead of its WAN address.
struct AddressingFlags {
  int LocalMode = 1;
  int Router1ByName = 0;
  int Router2ByName = 0;
};

// Tunnel names read from a router's main VPN page.
struct TunnelList {
  std::array<std::string, kMaxTunnels> names;
  std::size_t count = 0;
};

struct TunnelStatusEntry {
  std::string name;
  std::string remote_gateway;
};
using TunnelStatusTable = std::array<TunnelStatusEntry, kMaxTunnels>;

// The host name or address the wizard uses in a router's URLs.
const std::string &router_host(const TunnelPlan &plan, const AddressingFlags &flags, RouterId id);

// 443 for Router 1 on the local LAN, 8080 for a router reached over the internet.
int router_port(const AddressingFlags &flags, RouterId id);

// Whether the form posted to router `local` must name its peer by DNS name.
int RemoteByName(const AddressingFlags &flags, RouterId local);

RouterId other_router(RouterId id);

}  // namespace tunmira
