#include "tunnel_plan.h"

#include <gtest/gtest.h>

#include "sample_plan.h"

namespace tunmira {
namespace {

TEST(RouterAddressing, LocalModeReachesRouter1ByItsLanAddressOnPort443) {
  const TunnelPlan plan = test::sample_plan();
  const AddressingFlags local{1, 1, 0};
  EXPECT_EQ(router_host(plan, local, RouterId::kRouter1), "192.168.1.1");
  EXPECT_EQ(router_port(local, RouterId::kRouter1), 443);
  EXPECT_EQ(router_host(plan, local, RouterId::kRouter2), "198.51.100.20");
  EXPECT_EQ(router_port(local, RouterId::kRouter2), 8080);
}

TEST(RouterAddressing, OverTheInternetEachRouterIsReachedByNameOrWanAddress) {
  const TunnelPlan plan = test::sample_plan();
  const AddressingFlags by_name{0, 1, 1};
  EXPECT_EQ(router_host(plan, by_name, RouterId::kRouter1), "r1.example.net");
  EXPECT_EQ(router_host(plan, by_name, RouterId::kRouter2), "r2.example.net");
  EXPECT_EQ(router_port(by_name, RouterId::kRouter1), 8080);
  const AddressingFlags by_address{0, 0, 0};
  EXPECT_EQ(router_host(plan, by_address, RouterId::kRouter1), "203.0.113.7");
  EXPECT_EQ(RemoteByName(AddressingFlags{0, 1, 0}, RouterId::kRouter2), 1)
      << "Router 2's form names Router 1";
  EXPECT_EQ(RemoteByName(AddressingFlags{0, 1, 0}, RouterId::kRouter1), 0);
}

}  // namespace
}  // namespace tunmira
