// The command agent against an in-process module: the mirror, settings by name and their bounds.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

#include "cmd_agent.h"
#include "fake_module.h"
#include "ipc.h"
#include "ipc_namespace.h"

namespace vornagent {
namespace {

using testing::FakeDevice;
using testing::FakeModule;

class CommandAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(enterFreshIpcNamespace());
    mirror_ = CmdAgntInit();
    ASSERT_NE(mirror_, nullptr);
    module_.addApps(KA_APP_IM, 10, "im");
    module_.addApps(KA_APP_P2P, 3, "p2p");
    module_.addRules(KA_TH_DDOS, 4, "flood");
    module_.addRules(KA_TH_PORTSCAN, 6, "scan");
    ASSERT_EQ(kaGetAllAppInfo(mirror_), 0);
    ASSERT_EQ(kaGetAllAppInfoTH(mirror_), 0);
    module_.commands.clear();
  }
  void TearDown() override {
    CmdAgntExit(mirror_);
    removeSegment(kCmdAgntKey);
  }

  static IM_P2P_AD_Info app(const char *name, uint8_t action) {
    IM_P2P_AD_Info r{};
    std::strcpy(r.name, name);
    r.action = action;
    return r;
  }
  static KaAppInfoTH rule(const char *name, uint8_t action, uint32_t threshold) {
    KaAppInfoTH r{};
    std::strcpy(r.name, name);
    r.action = action;
    r.threshold = threshold;
    return r;
  }

  FakeModule module_;
  FakeDevice device_{module_};
  CmdAgnt *mirror_ = nullptr;
};

TEST_F(CommandAgentTest, MirrorHoldsEachTypeUpToItsFirstMissingIndex) {
  EXPECT_EQ(mirror_->app_count[KA_APP_IM], 10u);
  EXPECT_EQ(mirror_->app_count[KA_APP_P2P], 3u);
  EXPECT_EQ(mirror_->app_count[KA_APP_ANOMALY], 0u);
  EXPECT_EQ(mirror_->th_count[KA_TH_DDOS], 4u);
  EXPECT_EQ(mirror_->th_count[KA_TH_PORTSCAN], 6u);
  EXPECT_STREQ(mirror_->app[KA_APP_P2P][2].name, "p2p2");
  EXPECT_EQ(mirror_->app[KA_APP_P2P][2].index, 2);
  EXPECT_EQ(mirror_->app[KA_APP_P2P][2].AppID, 103);
  EXPECT_EQ(mirror_->th[KA_TH_DDOS][1].rule_id, 18);
  EXPECT_EQ(mirror_->th[KA_TH_PORTSCAN][4].threshold, 100u);
}

TEST_F(CommandAgentTest, SettingAnActionByNameReachesTheModuleAndTheMirror) {
  IM_P2P_AD_Info request = app("p2p1", 0);
  EXPECT_EQ(kaSetAppInfo(&request, KA_APP_P2P), 0);
  EXPECT_EQ(module_.apps[102].action, 0);
  EXPECT_EQ(mirror_->app[KA_APP_P2P][1].action, 0);
  EXPECT_EQ(module_.commands, std::vector<unsigned long>{kIocSetP2pAction});
}

TEST_F(CommandAgentTest, UnknownNamesAndBadArgumentsAreRefusedWithoutAnIoctl) {
  IM_P2P_AD_Info unknown = app("nosuch", 1);
  EXPECT_EQ(kaSetAppInfo(&unknown, KA_APP_IM), -1);
  IM_P2P_AD_Info bad_action = app("im1", 2);
  EXPECT_EQ(kaSetAppInfo(&bad_action, KA_APP_IM), -1);
  IM_P2P_AD_Info known = app("im1", 1);
  EXPECT_EQ(kaSetAppInfo(&known, -1), -1);
  EXPECT_EQ(kaSetAppInfo(&known, 3), -1);
  EXPECT_EQ(kaSetAppInfo(nullptr, KA_APP_IM), -1);
  EXPECT_TRUE(module_.commands.empty());
}

TEST_F(CommandAgentTest, ModuleRefusalLeavesTheMirrorUnchanged) {
  module_.apps[3].valid = false;  // im2 vanished from the module
  IM_P2P_AD_Info request = app("im2", 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(kaSetAppInfo(&request, KA_APP_IM), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "kaCmdAgnt(206) : Get App Info Fail\n");
  EXPECT_EQ(mirror_->app[KA_APP_IM][2].action, 1);
}

TEST_F(CommandAgentTest, PortScanThresholdsFollowTheBoundOfTheirPosition) {
  KaAppInfoTH sweep = rule("scan4", 1, 2048);
  EXPECT_EQ(kaSetAppInfoTH(&sweep, KA_TH_PORTSCAN), 0);
  EXPECT_EQ(module_.rules[5].threshold, 2048);
  EXPECT_EQ(mirror_->th[KA_TH_PORTSCAN][4].threshold, 2048u);
  module_.commands.clear();

  KaAppInfoTH too_high = rule("scan4", 1, 2049);
  EXPECT_EQ(kaSetAppInfoTH(&too_high, KA_TH_PORTSCAN), -1);
  KaAppInfoTH position_five = rule("scan5", 1, 1);
  EXPECT_EQ(kaSetAppInfoTH(&position_five, KA_TH_PORTSCAN), -1);
  KaAppInfoTH zero = rule("scan0", 1, 0);
  EXPECT_EQ(kaSetAppInfoTH(&zero, KA_TH_PORTSCAN), -1);
  KaAppInfoTH over_scan_bound = rule("scan3", 1, 3041);
  EXPECT_EQ(kaSetAppInfoTH(&over_scan_bound, KA_TH_PORTSCAN), -1);
  EXPECT_TRUE(module_.commands.empty());
  EXPECT_EQ(mirror_->th[KA_TH_PORTSCAN][4].threshold, 2048u);
}

TEST_F(CommandAgentTest, FloodThresholdsAcceptUpToSixtyThousand) {
  KaAppInfoTH top = rule("flood3", 1, 60000);
  EXPECT_EQ(kaSetAppInfoTH(&top, KA_TH_DDOS), 0);
  EXPECT_EQ(module_.rules[20].threshold, 60000);
  EXPECT_EQ(module_.rules[20].action, 1);
  KaAppInfoTH over = rule("flood3", 1, 60001);
  EXPECT_EQ(kaSetAppInfoTH(&over, KA_TH_DDOS), -1);
  KaAppInfoTH bad_type = rule("flood3", 1, 10);
  EXPECT_EQ(kaSetAppInfoTH(&bad_type, 2), -1);
}

TEST_F(CommandAgentTest, CorruptMirrorCountsAndUnterminatedNamesStayInsideTheTables) {
  mirror_->app_count[KA_APP_IM] = 100000;
  std::memset(mirror_->app[KA_APP_IM][127].name, 'x', 64);
  IM_P2P_AD_Info request = app("absent", 1);
  EXPECT_EQ(kaSetAppInfo(&request, KA_APP_IM), -1);
  mirror_->th_count[KA_TH_DDOS] = 0xFFFFFFFFu;
  KaAppInfoTH th = rule("absent", 1, 5);
  EXPECT_EQ(kaSetAppInfoTH(&th, KA_TH_DDOS), -1);
}

TEST_F(CommandAgentTest, SetAllSendsEveryCountedRecordAndGoesOnAfterAFailure) {
  mirror_->app[KA_APP_IM][0].action = 0;
  module_.apps[2].valid = false;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(kaSetAllAppStat(mirror_), 0);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Set All App Stat error"), std::string::npos);
  EXPECT_EQ(module_.commands.size(), 13u);
  EXPECT_EQ(module_.apps[1].action, 0);

  module_.commands.clear();
  EXPECT_EQ(kaSetAllAppStatTH(mirror_), 0);
  EXPECT_EQ(module_.commands.size(), 10u);
  EXPECT_EQ(kaSetAllAppStat(nullptr), -1);
}

TEST_F(CommandAgentTest, IpsStateRoundTripsAndAnInvalidValueChangesNothing) {
  EXPECT_EQ(kaSetIPSFunction(2), -1);
  EXPECT_TRUE(module_.commands.empty());
  EXPECT_EQ(kaSetIPSFunction(0), 0);
  EXPECT_EQ(module_.ips, 0u);
  EXPECT_EQ(mirror_->ips, 0u);
  int on = -1;
  EXPECT_EQ(kaGetIPSFunction(&on), 0);
  EXPECT_EQ(on, 0);
  EXPECT_EQ(kaGetIPSFunction(nullptr), -1);
}

TEST_F(CommandAgentTest, IpsChangeRefusedByAModuleWithoutPolicyKeepsTheMirror) {
  module_.state = 4;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(kaSetIPSFunction(0), -1);
  int on = -1;
  EXPECT_EQ(kaGetIPSFunction(&on), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "kaCmdAgnt(276) : Set Vorn Stat Fail\nkaCmdAgnt(238) : Get Vorn Stat Fail\n");
  EXPECT_EQ(mirror_->ips, 1u);
  EXPECT_EQ(on, -1);
}

TEST_F(CommandAgentTest, MissingDeviceFailsEveryWrapper) {
  module_.device_present = false;
  int on = 0;
  IM_P2P_AD_Info info{};
  KaAppInfoTH th{};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(CmdGetVrnStat(&on), 1);
  EXPECT_EQ(CmdStartUpVrn(&on), 1);
  EXPECT_EQ(CmdGetAppInfo(&info, KA_APP_IM), 1);
  EXPECT_EQ(CmdGetAppInfoTH(&th, KA_TH_DDOS), 1);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(module_.commands.empty());
}

}  // namespace
}  // namespace vornagent
