#include "tunnel_forms.h"

#include <gtest/gtest.h>

#include <vector>

#include "fixtures.h"
#include "sample_plan.h"

namespace tunmira {
namespace {

using test::FormTemplate;
using test::GoldenForm;

std::vector<std::string> FieldNames(const std::string &form) {
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
  const std::string tunnel = FormTemplate("tunnel_form.bin");
  const std::string connect = FormTemplate("connect_form.bin");
  EXPECT_EQ(tunnel.size(), 1481u);
  EXPECT_EQ(connect.size(), 1469u);
  const auto tunnelFields = FieldNames(tunnel);
  ASSERT_EQ(tunnelFields.size(), 81u);
  EXPECT_EQ(tunnelFields.front(), "h_ipsec_select");
  EXPECT_EQ(tunnelFields[48], "save");
  EXPECT_EQ(tunnelFields.back(), "message");
  EXPECT_EQ(FieldNames(connect).size(), 80u) << "the connect form has no save field";
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
  EXPECT_EQ(EncodeFormValue("192.168.1.1"), "192.168.1.1");
  EXPECT_EQ(EncodeFormValue(std::string("\x00\xff\r\n", 4)), "%00%FF%0D%0A");
}

TEST(FormFields, AValueThatWouldOverflowThePageBufferIsRefused) {
  std::string form = FormTemplate("tunnel_form.bin");
  const std::string before = form;
  EXPECT_EQ(SetFormField("sharedkey", std::string(kPageCapacity, 'k'), form), kFormTooLong);
  EXPECT_EQ(form, before);
  const std::string fits(kPageCapacity - 1 - (before.size() - 5), 'k');  // "qelom" is 5 bytes
  EXPECT_EQ(SetFormField("sharedkey", fits, form), kFieldReplaced);
  EXPECT_EQ(form.size(), kPageCapacity - 1);
}

TEST(TunnelForm, IsFilledByteForByteForEachSide) {
  const TunnelPlan plan = test::SamplePlan();
  const AddressingFlags flags = test::SampleFlags();
  std::string form = FormTemplate("tunnel_form.bin");
  ASSERT_EQ(BuildTunnelForm(form, RouterId::Router1, plan, flags), 1);
  EXPECT_EQ(form, GoldenForm("tunnel_router1.txt"));
  form = FormTemplate("tunnel_form.bin");
  ASSERT_EQ(BuildTunnelForm(form, RouterId::Router2, plan, flags), 1);
  EXPECT_EQ(form, GoldenForm("tunnel_router2.txt"));
}

TEST(ConnectForm, IsFilledByteForByteForEachSide) {
  const TunnelPlan plan = test::SamplePlan();
  const AddressingFlags flags = test::SampleFlags();
  std::string form = FormTemplate("connect_form.bin");
  ASSERT_EQ(BuildConnectForm(form, RouterId::Router1, plan, flags), 1);
  EXPECT_EQ(form, GoldenForm("connect_router1.txt"));
  form = FormTemplate("connect_form.bin");
  ASSERT_EQ(BuildConnectForm(form, RouterId::Router2, plan, flags), 1);
  EXPECT_EQ(form, GoldenForm("connect_router2.txt"));
}

TEST(TunnelForm, FailsWhenAValueCannotFit) {
  TunnelPlan plan = test::SamplePlan();
  plan.presharedKey.assign(kPageCapacity, 'k');
  std::string form = FormTemplate("tunnel_form.bin");
  EXPECT_EQ(BuildTunnelForm(form, RouterId::Router1, plan, test::SampleFlags()), 0);
}

}  // namespace
}  // namespace tunmira
