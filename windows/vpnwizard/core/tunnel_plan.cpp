#include "tunnel_plan.h"

namespace tunmira {

const std::string &RouterHost(const TunnelPlan &plan, const AddressingFlags &flags, RouterId id) {
  if (id == RouterId::Router1) {
    if (flags.localMode == 1) return plan.router1.lanAddress;
    return flags.router1ByName == 1 ? plan.router1.dnsName : plan.router1.wanAddress;
  }
  return flags.router2ByName == 1 ? plan.router2.dnsName : plan.router2.wanAddress;
}

int RouterPort(const AddressingFlags &flags, RouterId id) {
  if (id == RouterId::Router1 && flags.localMode == 1) return 443;
  return 8080;
}

int RemoteByName(const AddressingFlags &flags, RouterId local) {
  return local == RouterId::Router1 ? flags.router2ByName : flags.router1ByName;
}

RouterId OtherRouter(RouterId id) {
  return id == RouterId::Router1 ? RouterId::Router2 : RouterId::Router1;
}

}  // namespace tunmira
