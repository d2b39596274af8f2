// The tunnel plan the form tests fill their templates from; the golden bodies in tests/forms were
// written from it. The name and key carry characters that must be encoded.
#pragma once

#include "tunnel_plan.h"

namespace tunmira::test {

inline RouterSettings sample_router(const char *wan, Octets wan_octets, const char *lan, Octets lan_octets,
                                    const char *mask, Octets mask_octets, const char *dns) {
  RouterSettings r;
  r.user = "admin";
  r.password = "pw";
  r.wan_address = wan;
  r.wan_octets = std::move(wan_octets);
  r.lan_address = lan;
  r.lan_octets = std::move(lan_octets);
  r.subnet_mask = mask;
  r.mask_octets = std::move(mask_octets);
  r.dns_name = dns;
  return r;
}

inline TunnelPlan sample_plan() {
  TunnelPlan plan;
  plan.tunnel_name = "HQ link&x";
  plan.preshared_key = "s3cret&todo=x%";
  plan.router1 =
      sample_router("203.0.113.7", {"203", "0", "113", "7"}, "192.168.1.1", {"192", "168", "1", "1"},
                    "255.255.255.0", {"255", "255", "255", "0"}, "r1.example.net");
  plan.router2 =
      sample_router("198.51.100.20", {"198", "51", "100", "20"}, "192.168.2.1", {"192", "168", "2", "1"},
                    "255.255.0.0", {"255", "255", "0", "0"}, "r2.example.net");
  return plan;
}

// Router 2 given by DNS name, Router 1 by WAN address.
inline AddressingFlags sample_flags() {
  return AddressingFlags{0, 0, 1};
}

}  // namespace tunmira::test
