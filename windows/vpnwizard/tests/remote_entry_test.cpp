// The router entry page's decisions against a scripted host: field checks, the judgement of both
// reads, the existing-tunnel message, the gateway choice and the whole Next sequence.
#include "remote_entry.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace tunmira {
namespace {

// Every message text is its key in brackets, so tests see which text was used where.
class KeyTexts : public MessageSource {
 public:
  std::string text(std::string_view key) const override { return "[" + std::string(key) + "]"; }
};

RemoteInputs good_inputs() {
  RemoteInputs in;
  in.router1_user = "admin";
  in.router2_user = "root";
  in.router2_password = "pw2";
  in.tunnel_name = "hq";
  in.preshared_key = "k";
  in.router1_octets = {"203", "0", "113", "7"};
  in.router2_octets = {"198", "51", "100", "20"};
  return in;
}

std::vector<int> raised_slots(const FieldErrors &errors) {
  std::vector<int> slots;
  for (int i = 0; i < kFieldSlotCount; ++i) {
    if (errors.flags[static_cast<std::size_t>(i)]) slots.push_back(i);
  }
  return slots;
}

TEST(ValidateFields, GoodInputsFillThePlanAndTheWanAddressesOfRoutersGivenByAddress) {
  TunnelPlan plan;
  const FieldErrors errors = ValidateFields(good_inputs(), AddressingFlags{0, 0, 0}, plan);
  EXPECT_FALSE(errors.any());
  EXPECT_EQ(plan.router1.user, "admin");
  EXPECT_EQ(plan.router1.password, "");  // an empty password is accepted
  EXPECT_EQ(plan.router2.password, "pw2");
  EXPECT_EQ(plan.router1.wan_address, "203.0.113.7");
  EXPECT_EQ(plan.router2.wan_address, "198.51.100.20");
  EXPECT_EQ(plan.router2.wan_octets[3], "20");
  EXPECT_EQ(plan.tunnel_name, "hq");
}

TEST(ValidateFields, EveryWrongInputIsReportedTogetherWithItsOwnMessage) {
  RemoteInputs in;  // all empty
  in.tunnel_name = "a/b";
  in.router1_octets = {"1", "2", "3", "256"};
  in.router2_octets = {"1", "", "3", "4"};
  TunnelPlan plan;
  FieldErrors errors = ValidateFields(in, AddressingFlags{0, 0, 0}, plan);
  EXPECT_EQ(raised_slots(errors),
            (std::vector<int>{kErrRouter1User, kErrRouter2User, kErrTunnelName, kErrPresharedKey,
                              kErrRouter1Address, kErrRouter2Address}));
  EXPECT_EQ(errors.message_keys[kErrRouter1User], "MSG_INVALIDUSERNAME");
  EXPECT_EQ(errors.message_keys[kErrRouter2Address], "MSG_INVALIDADDRESS");
  EXPECT_EQ(plan.router1.wan_address, "");  // refused octets never become an address

  errors = ValidateFields(in, AddressingFlags{0, 1, 1}, plan);  // both by (empty) DNS name
  EXPECT_EQ(raised_slots(errors),
            (std::vector<int>{kErrRouter1User, kErrRouter2User, kErrTunnelName, kErrPresharedKey,
                              kErrRouter1DnsName, kErrRouter2DnsName}));
  EXPECT_EQ(errors.message_keys[kErrRouter2DnsName], "MSG_INVALID");
}

TEST(ValidateFields, LocalModeNeverChecksRouter1Address) {
  RemoteInputs in = good_inputs();
  in.router1_octets = {"x", "", "", ""};
  TunnelPlan plan;
  EXPECT_FALSE(ValidateFields(in, AddressingFlags{1, 0, 0}, plan).any());
  EXPECT_EQ(plan.router1.wan_address, "");
}

TEST(CheckReadResults, LoginRefusedOnRouter1AndRouter2UnreachableShowLabelsAndFindFail3) {
  FieldErrors errors = cleared_field_errors();
  const ReadJudgement j = CheckReadResults(kReadRefused, kReadUnreachable, 0, errors, KeyTexts());
  EXPECT_FALSE(j.success);
  EXPECT_EQ(raised_slots(errors), (std::vector<int>{kErrRouter1User, kErrRouter1Password}));
  EXPECT_EQ(errors.message_keys[kErrRouter1Password], "MSG_AUTHERISEFAILURE");
  EXPECT_EQ(j.dialogs, (std::vector<std::string>{"[MSG_FINDFAIL3]"}));
}

TEST(CheckReadResults, UnreachableRoutersGiveOneDialogChosenByMode) {
  FieldErrors errors = cleared_field_errors();
  EXPECT_EQ(CheckReadResults(1, 1, 0, errors, KeyTexts()).dialogs,
            (std::vector<std::string>{"[MSG_FINDFAIL4]"}));
  EXPECT_EQ(CheckReadResults(1, 9, 1, errors, KeyTexts()).dialogs,
            (std::vector<std::string>{"[MSG_FINDFAIL1]"}));
  EXPECT_EQ(CheckReadResults(1, 9, 0, errors, KeyTexts()).dialogs,
            (std::vector<std::string>{"[MSG_FINDFAIL2]"}));
  EXPECT_FALSE(errors.any());
}

TEST(CheckReadResults, FullTablesJoinInOneDialogAndUsedNamesMarkTheTunnelName) {
  FieldErrors errors = cleared_field_errors();
  ReadJudgement j = CheckReadResults(kReadTunnelsFull, kReadTunnelsFull, 0, errors, KeyTexts());
  EXPECT_EQ(j.dialogs, (std::vector<std::string>{"[MSG_TUNNELFULL1][MSG_TUNNELFULL2]"}));
  EXPECT_FALSE(errors.any());

  j = CheckReadResults(kReadOk, kReadTunnelNameUsed, 0, errors, KeyTexts());
  EXPECT_TRUE(j.dialogs.empty());
  EXPECT_EQ(raised_slots(errors), (std::vector<int>{kErrTunnelName}));
  EXPECT_EQ(errors.message_keys[kErrTunnelName], "MSG_TUNNELNAMEEXIST");
}

TEST(CheckReadResults, CodesWithoutTheirOwnTextStillFailAndRouter2WanMissReadsAsLoginFailure) {
  for (int code :
       {kReadNoLanAddress, kReadNoSubnetMask, kReadNoTunnelList, kReadNoTunnelStatus, kReadNoWanAddress}) {
    FieldErrors errors = cleared_field_errors();
    const ReadJudgement j = CheckReadResults(code, kReadOk, 0, errors, KeyTexts());
    EXPECT_FALSE(j.success) << code;
    EXPECT_TRUE(j.dialogs.empty()) << code;
    EXPECT_FALSE(errors.any()) << code;
  }
  FieldErrors errors = cleared_field_errors();
  CheckReadResults(kReadOk, kReadNoWanAddress, 0, errors, KeyTexts());
  EXPECT_EQ(raised_slots(errors), (std::vector<int>{kErrRouter2User, kErrRouter2Password}));
  EXPECT_TRUE(CheckReadResults(kReadOk, kReadOk, 1, errors, KeyTexts()).success);
}

TEST(ExistingTunnels, TheMessageNamesEachRoutersTunnelToTheOther) {
  TunnelPlan plan;
  plan.router1.wan_address = "203.0.113.7";
  plan.router2.wan_address = "198.51.100.20";
  RouterReadState r1, r2;
  r1.status[0] = {"old", "10.0.0.1"};
  r1.status[1] = {"toR2", "198.51.100.20"};
  r1.tunnel_count = 2;
  r2.status[0] = {"toR1", "203.0.113.7"};
  r2.tunnel_count = 0;  // rows past the count are not looked at
  EXPECT_EQ(existing_tunnel_message(plan, r1, r2, KeyTexts()),
            "[MSG_TUNNELNAME0] [MSG_TUNNELNAME1] toR2. [MSG_TUNNELNAME3]");
  r2.tunnel_count = 1;
  EXPECT_EQ(existing_tunnel_message(plan, r1, r2, KeyTexts()),
            "[MSG_TUNNELNAME0] [MSG_TUNNELNAME1] toR2.  toR1 [MSG_TUNNELNAME2]. [MSG_TUNNELNAME3]");
  r1.tunnel_count = 1;
  r2.tunnel_count = 99;  // a count beyond the table is held to the table
  EXPECT_EQ(existing_tunnel_message(plan, r1, r2, KeyTexts()),
            "[MSG_TUNNELNAME0] toR1 [MSG_TUNNELNAME2]. [MSG_TUNNELNAME3]");
  r2.tunnel_count = 0;
  EXPECT_EQ(existing_tunnel_message(plan, r1, r2, KeyTexts()), "");
}

TEST(DefaultGateway, AnAdapterWithoutAGatewayReportsNoneOrTheUnspecifiedAddress) {
  EXPECT_TRUE(is_gateway_address("192.168.1.1"));
  EXPECT_TRUE(is_gateway_address("10.0.0.254"));
  EXPECT_FALSE(is_gateway_address(""));
  EXPECT_FALSE(is_gateway_address("0.0.0.0"));
}

TEST(DefaultGateway, NoneOneOrAChoiceAmongSeveral) {
  int asked = 0;
  std::vector<std::string> shown;
  std::optional<int> answer;
  const AdapterChooser chooser = [&](const std::vector<std::string> &names) {
    ++asked;
    shown = names;
    return answer;
  };
  EXPECT_EQ(choose_default_gateway({}, chooser), std::nullopt);
  EXPECT_EQ(choose_default_gateway({{"Wired-x", "192.168.1.1"}}, chooser), "192.168.1.1");
  EXPECT_EQ(asked, 0);

  const std::vector<AdapterGateway> two = {{"Fast Eth - Packet Scheduler Miniport", "192.168.1.1"},
                                           {"Wireless", "10.0.0.1"}};
  answer = 1;
  EXPECT_EQ(choose_default_gateway(two, chooser), "10.0.0.1");
  EXPECT_EQ(shown, (std::vector<std::string>{"Fast Eth ", "Wireless"}));
  answer = 2;
  EXPECT_EQ(choose_default_gateway(two, chooser), std::nullopt);
  answer = std::nullopt;  // Cancel
  EXPECT_EQ(choose_default_gateway(two, chooser), "");
}

TEST(Addresses, SplitAndJoin) {
  Octets o;
  ASSERT_TRUE(split_address("192.168.1.254", o));
  EXPECT_EQ(o, (Octets{"192", "168", "1", "254"}));
  EXPECT_EQ(join_octets(o), "192.168.1.254");
  EXPECT_FALSE(split_address("1.2.3", o));
  EXPECT_FALSE(split_address("1.2.3.4.5", o));
  EXPECT_FALSE(split_address("", o));
  EXPECT_EQ(o, (Octets{"192", "168", "1", "254"}));  // untouched on failure
}

// A host whose reads fill the router states from a script.
class ScriptedHost : public RemotePageHost {
 public:
  explicit ScriptedHost(std::array<RouterReadState, 2> &routers) : routers_(routers) {}
  std::string text(std::string_view key) const override { return "[" + std::string(key) + "]"; }
  RemoteInputs read_inputs() override { return inputs; }
  void ShowFieldErrors(const FieldErrors &errors) override { shown_errors.push_back(errors); }
  void show_message(const std::string &text) override { messages.push_back(text); }
  std::optional<std::string> default_gateway() override { return gateway; }
  bool read_router(RouterId id) override {
    const std::size_t i = id == RouterId::kRouter1 ? 0 : 1;
    reads.push_back(static_cast<int>(i) + 1);
    routers_[i] = scripted[i];
    return !stopped;
  }

  RemoteInputs inputs = good_inputs();
  std::optional<std::string> gateway = "192.168.1.1";
  std::array<RouterReadState, 2> scripted{};
  bool stopped = false;
  std::vector<FieldErrors> shown_errors;
  std::vector<std::string> messages;
  std::vector<int> reads;

 private:
  std::array<RouterReadState, 2> &routers_;
};

class RemoteNext : public ::testing::Test {
 protected:
  void SetUp() override {
    plan.router1.mask_octets = {"255", "255", "255", "0"};
    plan.router2.mask_octets = {"255", "255", "255", "0"};
    plan.router2.lan_octets = {"192", "168", "2", "1"};
  }
  int next() { return remote_wizard_next(host, state); }

  TunnelPlan plan;
  AddressingFlags flags{0, 0, 0};
  std::array<RouterReadState, 2> routers{};
  int step = 4;
  int phase = 3;
  RemoteState state{plan, flags, routers, step, phase};
  ScriptedHost host{routers};
};

TEST_F(RemoteNext, GoodReadsGoToTheSummaryOnAFreshPhase) {
  plan.router1.lan_octets = {"192", "168", "1", "1"};
  EXPECT_EQ(next(), kSummaryPageTemplate);
  EXPECT_EQ(step, 5);
  EXPECT_EQ(phase, 0);
  EXPECT_EQ(host.reads, (std::vector<int>{1, 2}));
  EXPECT_EQ(plan.router1.port, 8080);
  EXPECT_EQ(plan.router2.port, 8080);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(RemoteNext, LocalModeReachesRouter1ByItsGatewayOrStaysWithoutOne) {
  flags.LocalMode = 1;
  host.gateway = "192.168.7.1";
  EXPECT_EQ(next(), kSummaryPageTemplate);
  EXPECT_EQ(plan.router1.port, 443);
  EXPECT_EQ(plan.router1.lan_address, "192.168.7.1");
  EXPECT_EQ(plan.router1.lan_octets, (Octets{"192", "168", "7", "1"}));

  host.reads.clear();
  host.gateway = std::nullopt;
  EXPECT_EQ(next(), -1);
  EXPECT_EQ(host.messages, (std::vector<std::string>{"[MSG_FINDFAIL1]"}));
  EXPECT_TRUE(host.reads.empty());  // no router is read without a gateway
}

TEST_F(RemoteNext, RefusedFieldsStayBeforeAnyRead) {
  host.inputs.router1_user.clear();
  EXPECT_EQ(next(), -1);
  EXPECT_TRUE(host.reads.empty());
  ASSERT_FALSE(host.shown_errors.empty());
  EXPECT_EQ(raised_slots(host.shown_errors.back()), (std::vector<int>{kErrRouter1User}));
}

TEST_F(RemoteNext, AStoppedReadStaysWithoutJudgingResults) {
  host.stopped = true;
  host.scripted[0].result = kReadUnreachable;
  EXPECT_EQ(next(), -1);
  EXPECT_EQ(host.reads, (std::vector<int>{1}));
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(RemoteNext, FailedReadsShowTheirDialogsAndLabels) {
  host.scripted[0].result = kReadRefused;
  host.scripted[1].result = kReadUnreachable;
  EXPECT_EQ(next(), -1);
  EXPECT_EQ(host.messages, (std::vector<std::string>{"[MSG_FINDFAIL3]"}));
  EXPECT_EQ(raised_slots(host.shown_errors.back()), (std::vector<int>{kErrRouter1User, kErrRouter1Password}));

  // A later Next starts again with cleared labels.
  host.scripted[0].result = kReadOk;
  host.scripted[1].result = kReadOk;
  plan.router1.lan_octets = {"10", "0", "0", "1"};
  EXPECT_EQ(next(), kSummaryPageTemplate);
  EXPECT_FALSE(host.shown_errors.back().any());
}

TEST_F(RemoteNext, RoutersOnTheSameSubnetOrAlreadyJoinedStay) {
  plan.router1.lan_octets = {"192", "168", "2", "9"};
  EXPECT_EQ(next(), -1);
  EXPECT_EQ(host.messages, (std::vector<std::string>{"[MSG_SMAEDOMAIN]"}));

  host.messages.clear();
  plan.router1.lan_octets = {"192", "168", "1", "1"};
  host.scripted[0].status[0] = {"hq", "198.51.100.20"};
  host.scripted[0].tunnel_count = 1;
  EXPECT_EQ(next(), -1);
  EXPECT_EQ(host.messages,
            (std::vector<std::string>{"[MSG_TUNNELNAME0] [MSG_TUNNELNAME1] hq. [MSG_TUNNELNAME3]"}));
  EXPECT_EQ(step, 4);
}

}  // namespace
}  // namespace tunmira
