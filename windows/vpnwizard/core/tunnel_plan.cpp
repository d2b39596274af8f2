#include "tunnel_plan.h"

namespace tunmira {

const std::string &router_host(const TunnelPlan &plan, const AddressingFlags &flags, RouterId id) {
  if (id == RouterId::kRouter1) {
    if (flags.LocalMode == 1) return plan.router1.lan_address;
    return flags.Router1ByName == 1 ? plan.router1.dns_name : plan.router1.wan_address;
  }
  return flags.Router2ByName == 1 ? plan.router2.dns_name : plan.router2.wan_address;
}

int router_port(const AddressingFlags &flags, RouterId id) {
  if (id == RouterId::kRouter1 && flags.LocalMode == 1) return 443;
  return 8080;
}

int RemoteByName(const AddressingFlags &flags, RouterId local) {
  return local == RouterId::kRouter1 ? flags.Router2ByName : flags.Router1ByName;
}

RouterId other_router(RouterId id) {
  return id == RouterId::kRouter1 ? RouterId::kRouter2 : RouterId::kRouter1;
}

}  // namespace tunmira
