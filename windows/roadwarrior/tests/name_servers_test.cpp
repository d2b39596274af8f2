#include <gtest/gtest.h>

#include "fake_platform.h"
#include "name_servers.h"

namespace dravik {
namespace {

using testing::FakeRegistry;

TEST(NameServers, RemovesTheAddressAndForgetsTheSavedList) {
  FakeRegistry reg;
  reg.add_interface("{A}", {"10.0.0.12"}, "", "10.0.0.1,10.0.0.2");  // a prefix of its address must not match
  reg.add_interface("{B}", {"0.0.0.0"}, "10.0.0.1", "10.0.0.1,10.0.0.2");
  reg.write_string("{B}", "OldNameServer", "10.0.0.2");
  EXPECT_TRUE(remove_name_server(reg, "10.0.0.1", "10.0.0.1"));
  EXPECT_EQ(reg.string_value("{B}", "NameServer"), "10.0.0.2");
  EXPECT_FALSE(reg.read("{B}", "OldNameServer"));
  EXPECT_EQ(reg.string_value("{A}", "NameServer"), "10.0.0.1,10.0.0.2");
}

TEST(NameServers, MultiStringAddressesAnyPartMatches) {
  FakeRegistry reg;
  reg.add_interface("{A}", {"172.16.0.1", "192.168.1.20"}, "", "10.0.0.1 10.0.0.2,10.0.0.1");
  EXPECT_EQ(find_interface(reg, "192.168.1.20"), "{A}");
  EXPECT_TRUE(remove_name_server(reg, "10.0.0.1", "192.168.1.20"));
  EXPECT_EQ(reg.string_value("{A}", "NameServer"), "10.0.0.2");
}

TEST(NameServers, FailsWithoutKeyInterfaceOrValue) {
  FakeRegistry reg;
  EXPECT_FALSE(remove_name_server(reg, "10.0.0.1", "192.168.1.20"));  // no interface at all
  reg.add_interface("{A}", {"192.168.1.20"}, "", std::nullopt);
  EXPECT_FALSE(remove_name_server(reg, "10.0.0.1", "192.168.1.20"));  // no NameServer
  EXPECT_FALSE(remove_name_server(reg, "10.0.0.1", ""));
  reg.openable = false;
  EXPECT_FALSE(remove_name_server(reg, "10.0.0.1", "192.168.1.20"));
  reg.openable = true;
  reg.write_string("{A}", "NameServer", "10.0.0.1");
  reg.fail_writes = true;
  EXPECT_FALSE(remove_name_server(reg, "10.0.0.1", "192.168.1.20"));
}

TEST(NameServers, DhcpAddressMustBeAPlainString) {
  FakeRegistry reg;
  reg.add_interface("{A}", {}, "", "10.0.0.1");
  (*reg.find("{A}"))["DhcpIPAddress"] = {RegistryValue::Kind::kMultiString, {"192.168.1.20"}};
  EXPECT_EQ(find_interface(reg, "192.168.1.20"), "");
}

TEST(NameServers, SplitAndJoin) {
  EXPECT_EQ(split_name_servers(",10.0.0.1,, 10.0.0.2 "), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(join_name_servers({}), "");
  EXPECT_EQ(join_name_servers({"a", "b"}), "a,b");
}

}  // namespace
}  // namespace dravik
