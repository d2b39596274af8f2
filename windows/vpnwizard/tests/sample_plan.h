// The tunnel plan the form tests fill their templates from; the golden bodies in tests/forms were
// written from it. The name and key carry characters that must be encoded.
#pragma once

#include "tunnel_plan.h"

namespace tunmira::test {

inline RouterSettings SampleRouter(const char *wan, Octets wanOctets, const char *lan, Octets lanOctets,
                                   const char *mask, Octets maskOctets, const char *dns) {
  RouterSettings r;
  r.user = "admin";
  r.password = "pw";
  r.wanAddress = wan;
  r.wanOctets = std::move(wanOctets);
  r.lanAddress = lan;
  r.lanOctets = std::move(lanOctets);
  r.subnetMask = mask;
  r.maskOctets = std::move(maskOctets);
  r.dnsName = dns;
  return r;
}

inline TunnelPlan SamplePlan() {
  TunnelPlan plan;
  plan.tunnelName = "HQ link&x";
  plan.presharedKey = "s3cret&todo=x%";
  plan.router1 =
      SampleRouter("203.0.113.7", {"203", "0", "113", "7"}, "192.168.1.1", {"192", "168", "1", "1"},
                   "255.255.255.0", {"255", "255", "255", "0"}, "r1.example.net");
  plan.router2 =
      SampleRouter("198.51.100.20", {"198", "51", "100", "20"}, "192.168.2.1", {"192", "168", "2", "1"},
                   "255.255.0.0", {"255", "255", "0", "0"}, "r2.example.net");
  return plan;
}

// Router 2 given by DNS name, Router 1 by WAN address.
inline AddressingFlags SampleFlags() {
  return AddressingFlags{0, 0, 1};
}

}  // namespace tunmira::test
