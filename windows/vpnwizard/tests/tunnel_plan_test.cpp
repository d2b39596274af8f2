#include "tunnel_plan.h"

#include <gtest/gtest.h>

#include "sample_plan.h"

namespace tunmira {
namespace {

TEST(RouterAddressing, LocalModeReachesRouter1ByItsLanAddressOnPort443) {
  const TunnelPlan plan = test::SamplePlan();
  const AddressingFlags local{1, 1, 0};
  EXPECT_EQ(RouterHost(plan, local, RouterId::Router1), "192.168.1.1");
  EXPECT_EQ(RouterPort(local, RouterId::Router1), 443);
  EXPECT_EQ(RouterHost(plan, local, RouterId::Router2), "198.51.100.20");
  EXPECT_EQ(RouterPort(local, RouterId::Router2), 8080);
}

TEST(RouterAddressing, OverTheInternetEachRouterIsReachedByNameOrWanAddress) {
  const TunnelPlan plan = test::SamplePlan();
  const AddressingFlags byName{0, 1, 1};
  EXPECT_EQ(RouterHost(plan, byName, RouterId::Router1), "r1.example.net");
  EXPECT_EQ(RouterHost(plan, byName, RouterId::Router2), "r2.example.net");
  EXPECT_EQ(RouterPort(byName, RouterId::Router1), 8080);
  const AddressingFlags byAddress{0, 0, 0};
  EXPECT_EQ(RouterHost(plan, byAddress, RouterId::Router1), "203.0.113.7");
  EXPECT_EQ(RemoteByName(AddressingFlags{0, 1, 0}, RouterId::Router2), 1) << "Router 2's form names Router 1";
  EXPECT_EQ(RemoteByName(AddressingFlags{0, 1, 0}, RouterId::Router1), 0);
}

}  // namespace
}  // namespace tunmira
