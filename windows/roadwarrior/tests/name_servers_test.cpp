#include <gtest/gtest.h>

#include "fake_platform.h"
#include "name_servers.h"

namespace dravik {
namespace {

using testing::FakeRegistry;

TEST(NameServers, RemovesTheAddressAndForgetsTheSavedList) {
  FakeRegistry reg;
  reg.addInterface("{A}", {"10.0.0.12"}, "", "10.0.0.1,10.0.0.2");  // a prefix of its address must not match
  reg.addInterface("{B}", {"0.0.0.0"}, "10.0.0.1", "10.0.0.1,10.0.0.2");
  reg.writeString("{B}", "OldNameServer", "10.0.0.2");
  EXPECT_TRUE(removeNameServer(reg, "10.0.0.1", "10.0.0.1"));
  EXPECT_EQ(reg.stringValue("{B}", "NameServer"), "10.0.0.2");
  EXPECT_FALSE(reg.read("{B}", "OldNameServer"));
  EXPECT_EQ(reg.stringValue("{A}", "NameServer"), "10.0.0.1,10.0.0.2");
}

TEST(NameServers, MultiStringAddressesAnyPartMatches) {
  FakeRegistry reg;
  reg.addInterface("{A}", {"172.16.0.1", "192.168.1.20"}, "", "10.0.0.1 10.0.0.2,10.0.0.1");
  EXPECT_EQ(findInterface(reg, "192.168.1.20"), "{A}");
  EXPECT_TRUE(removeNameServer(reg, "10.0.0.1", "192.168.1.20"));
  EXPECT_EQ(reg.stringValue("{A}", "NameServer"), "10.0.0.2");
}

TEST(NameServers, FailsWithoutKeyInterfaceOrValue) {
  FakeRegistry reg;
  EXPECT_FALSE(removeNameServer(reg, "10.0.0.1", "192.168.1.20"));  // no interface at all
  reg.addInterface("{A}", {"192.168.1.20"}, "", std::nullopt);
  EXPECT_FALSE(removeNameServer(reg, "10.0.0.1", "192.168.1.20"));  // no NameServer
  EXPECT_FALSE(removeNameServer(reg, "10.0.0.1", ""));
  reg.openable = false;
  EXPECT_FALSE(removeNameServer(reg, "10.0.0.1", "192.168.1.20"));
  reg.openable = true;
  reg.writeString("{A}", "NameServer", "10.0.0.1");
  reg.failWrites = true;
  EXPECT_FALSE(removeNameServer(reg, "10.0.0.1", "192.168.1.20"));
}

TEST(NameServers, DhcpAddressMustBeAPlainString) {
  FakeRegistry reg;
  reg.addInterface("{A}", {}, "", "10.0.0.1");
  (*reg.find("{A}"))["DhcpIPAddress"] = {RegistryValue::Kind::MultiString, {"192.168.1.20"}};
  EXPECT_EQ(findInterface(reg, "192.168.1.20"), "");
}

TEST(NameServers, SplitAndJoin) {
  EXPECT_EQ(splitNameServers(",10.0.0.1,, 10.0.0.2 "), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(joinNameServers({}), "");
  EXPECT_EQ(joinNameServers({"a", "b"}), "a,b");
}

}  // namespace
}  // namespace dravik
