#include "tunnel_forms.h"

#include <gtest/gtest.h>

#include <vector>

#include "fixtures.h"
#include "sample_plan.h"

namespace tunmira {
namespace {

using test::form_template;
using test::golden_form;

std::vector<std::string> field_names(const std::string &form) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= form.size()) {
    std::size_t end = form.find('&', start);
    if (end == std::string::npos) end = form.size();
    names.push_back(form.substr(start, form.find('=', start) - start));
    start = end + 1;
  }
  return names;
}

TEST(FormTemplates, HaveTheRoutersFieldsInOrder) {
  const std::string tunnel = form_template("tunnel_form.bin");
  const std::string connect = form_template("connect_form.bin");
  EXPECT_EQ(tunnel.size(), 1481u);
  EXPECT_EQ(connect.size(), 1469u);
  const auto tunnel_fields = field_names(tunnel);
  ASSERT_EQ(tunnel_fields.size(), 81u);
  EXPECT_EQ(tunnel_fields.front(), "h_ipsec_select");
  EXPECT_EQ(tunnel_fields[48], "save");
  EXPECT_EQ(tunnel_fields.back(), "message");
  EXPECT_EQ(field_names(connect).size(), 80u) << "the connect form has no save field";
  EXPECT_TRUE(tunnel.ends_with("&message="));
  EXPECT_NE(tunnel.find("&todo=save&"), std::string::npos);
  EXPECT_NE(connect.find("&todo=tunnel_connect&"), std::string::npos);
}

TEST(FormFields, ANameMatchesOnlyWholeFieldNames) {
  std::string form = "dnsresolve=0&h_dnsresolve=0&x=1";
  EXPECT_EQ(SetFormField("h_dnsresolve", "1", form), kFieldReplaced);
  EXPECT_EQ(form, "dnsresolve=0&h_dnsresolve=1&x=1");
  EXPECT_EQ(SetFormField("dnsresolve", "1", form), kFieldReplaced);
  EXPECT_EQ(form, "dnsresolve=1&h_dnsresolve=1&x=1");
}

TEST(FormFields, AnAbsentNameLeavesTheFormAlone) {
  std::string form = "a=1&b=2";
  EXPECT_EQ(SetFormField("tunnel_name", "x", form), kFieldAbsent);
  EXPECT_EQ(SetFormField("a=1", "x", form), kFieldAbsent);
  EXPECT_EQ(form, "a=1&b=2");
}

TEST(FormFields, EveryMatchingFieldIsReplaced) {
  std::string form = "a=1&b=2&a=3";
  EXPECT_EQ(SetFormField("a", "9", form), kFieldReplaced);
  EXPECT_EQ(form, "a=9&b=2&a=9");
}

TEST(FormFields, AValueCannotAddOrEndFields) {
  std::string form = "sharedkey=qelom&todo=save";
  ASSERT_EQ(SetFormField("sharedkey", "k&todo=delete%41+ =", form), kFieldReplaced);
  EXPECT_EQ(form, "sharedkey=k%26todo%3Ddelete%2541%2B+%3D&todo=save");
  EXPECT_EQ(encode_form_value("192.168.1.1"), "192.168.1.1");
  EXPECT_EQ(encode_form_value(std::string("\x00\xff\r\n", 4)), "%00%FF%0D%0A");
}

TEST(FormFields, AValueThatWouldOverflowThePageBufferIsRefused) {
  std::string form = form_template("tunnel_form.bin");
  const std::string before = form;
  EXPECT_EQ(SetFormField("sharedkey", std::string(kPageCapacity, 'k'), form), kFormTooLong);
  EXPECT_EQ(form, before);
  const std::string fits(kPageCapacity - 1 - (before.size() - 5), 'k');  // "qelom" is 5 bytes
  EXPECT_EQ(SetFormField("sharedkey", fits, form), kFieldReplaced);
  EXPECT_EQ(form.size(), kPageCapacity - 1);
}

TEST(TunnelForm, IsFilledByteForByteForEachSide) {
  const TunnelPlan plan = test::sample_plan();
  const AddressingFlags flags = test::sample_flags();
  std::string form = form_template("tunnel_form.bin");
  ASSERT_EQ(BuildTunnelForm(form, RouterId::kRouter1, plan, flags), 1);
  EXPECT_EQ(form, golden_form("tunnel_router1.txt"));
  form = form_template("tunnel_form.bin");
  ASSERT_EQ(BuildTunnelForm(form, RouterId::kRouter2, plan, flags), 1);
  EXPECT_EQ(form, golden_form("tunnel_router2.txt"));
}

TEST(ConnectForm, IsFilledByteForByteForEachSide) {
  const TunnelPlan plan = test::sample_plan();
  const AddressingFlags flags = test::sample_flags();
  std::string form = form_template("connect_form.bin");
  ASSERT_EQ(BuildConnectForm(form, RouterId::kRouter1, plan, flags), 1);
  EXPECT_EQ(form, golden_form("connect_router1.txt"));
  form = form_template("connect_form.bin");
  ASSERT_EQ(BuildConnectForm(form, RouterId::kRouter2, plan, flags), 1);
  EXPECT_EQ(form, golden_form("connect_router2.txt"));
}

TEST(TunnelForm, FailsWhenAValueCannotFit) {
  TunnelPlan plan = test::sample_plan();
  plan.preshared_key.assign(kPageCapacity, 'k');
  std::string form = form_template("tunnel_form.bin");
  EXPECT_EQ(BuildTunnelForm(form, RouterId::kRouter1, plan, test::sample_flags()), 0);
}

}  // namespace
}  // namespace tunmira
