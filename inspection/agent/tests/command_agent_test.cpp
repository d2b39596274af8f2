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
    ASSERT_TRUE(enter_fresh_ipc_namespace());
    mirror = CmdAgntInit();
    ASSERT_NE(mirror, nullptr);
    module.add_apps(kKaAppIm, 10, "im");
    module.add_apps(kKaAppP2P, 3, "p2p");
    module.add_rules(kKaThDdos, 4, "flood");
    module.add_rules(kKaThPortscan, 6, "scan");
    ASSERT_EQ(kaGetAllAppInfo(mirror), 0);
    ASSERT_EQ(kaGetAllAppInfoTH(mirror), 0);
    module.commands.clear();
  }
  void TearDown() override {
    CmdAgntExit(mirror);
    remove_segment(kCmdAgntKey);
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

  FakeModule module;
  FakeDevice device{module};
  CmdAgnt *mirror = nullptr;
};

TEST_F(CommandAgentTest, MirrorHoldsEachTypeUpToItsFirstMissingIndex) {
  EXPECT_EQ(mirror->app_count[kKaAppIm], 10u);
  EXPECT_EQ(mirror->app_count[kKaAppP2P], 3u);
  EXPECT_EQ(mirror->app_count[kKaAppAnomaly], 0u);
  EXPECT_EQ(mirror->th_count[kKaThDdos], 4u);
  EXPECT_EQ(mirror->th_count[kKaThPortscan], 6u);
  EXPECT_STREQ(mirror->app[kKaAppP2P][2].name, "p2p2");
  EXPECT_EQ(mirror->app[kKaAppP2P][2].index, 2);
  EXPECT_EQ(mirror->app[kKaAppP2P][2].app_id, 103);
  EXPECT_EQ(mirror->th[kKaThDdos][1].rule_id, 18);
  EXPECT_EQ(mirror->th[kKaThPortscan][4].threshold, 100u);
}

// A module that cannot be reached is not a module without entries: the mirror keeps what it held.
TEST_F(CommandAgentTest, WithoutTheDeviceTheMirrorIsNotRefreshed) {
  module.device_present = false;
  EXPECT_EQ(kaGetAllAppInfo(mirror), -1);
  EXPECT_EQ(kaGetAllAppInfoTH(mirror), -1);
  EXPECT_EQ(mirror->app_count[kKaAppIm], 10u);
  EXPECT_EQ(mirror->th_count[kKaThPortscan], 6u);
}

TEST_F(CommandAgentTest, SettingAnActionByNameReachesTheModuleAndTheMirror) {
  IM_P2P_AD_Info request = app("p2p1", 0);
  EXPECT_EQ(kaSetAppInfo(&request, kKaAppP2P), 0);
  EXPECT_EQ(module.apps[102].action, 0);
  EXPECT_EQ(mirror->app[kKaAppP2P][1].action, 0);
  EXPECT_EQ(module.commands, std::vector<unsigned long>{kIocSetP2pAction});
}

TEST_F(CommandAgentTest, UnknownNamesAndBadArgumentsAreRefusedWithoutAnIoctl) {
  IM_P2P_AD_Info unknown = app("nosuch", 1);
  EXPECT_EQ(kaSetAppInfo(&unknown, kKaAppIm), -1);
  IM_P2P_AD_Info bad_action = app("im1", 2);
  EXPECT_EQ(kaSetAppInfo(&bad_action, kKaAppIm), -1);
  IM_P2P_AD_Info known = app("im1", 1);
  EXPECT_EQ(kaSetAppInfo(&known, -1), -1);
  EXPECT_EQ(kaSetAppInfo(&known, 3), -1);
  EXPECT_EQ(kaSetAppInfo(nullptr, kKaAppIm), -1);
  EXPECT_TRUE(module.commands.empty());
}

TEST_F(CommandAgentTest, ModuleRefusalLeavesTheMirrorUnchanged) {
  module.apps[3].valid = false;  // im2 vanished from the module
  IM_P2P_AD_Info request = app("im2", 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(kaSetAppInfo(&request, kKaAppIm), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "kaCmdAgnt(206) : Get App Info Fail\n");
  EXPECT_EQ(mirror->app[kKaAppIm][2].action, 1);
}

TEST_F(CommandAgentTest, PortScanThresholdsFollowTheBoundOfTheirPosition) {
  KaAppInfoTH sweep = rule("scan4", 1, 2048);
  EXPECT_EQ(kaSetAppInfoTH(&sweep, kKaThPortscan), 0);
  EXPECT_EQ(module.rules[5].threshold, 2048);
  EXPECT_EQ(mirror->th[kKaThPortscan][4].threshold, 2048u);
  module.commands.clear();

  KaAppInfoTH too_high = rule("scan4", 1, 2049);
  EXPECT_EQ(kaSetAppInfoTH(&too_high, kKaThPortscan), -1);
  KaAppInfoTH position_five = rule("scan5", 1, 1);
  EXPECT_EQ(kaSetAppInfoTH(&position_five, kKaThPortscan), -1);
  KaAppInfoTH zero = rule("scan0", 1, 0);
  EXPECT_EQ(kaSetAppInfoTH(&zero, kKaThPortscan), -1);
  KaAppInfoTH over_scan_bound = rule("scan3", 1, 3041);
  EXPECT_EQ(kaSetAppInfoTH(&over_scan_bound, kKaThPortscan), -1);
  EXPECT_TRUE(module.commands.empty());
  EXPECT_EQ(mirror->th[kKaThPortscan][4].threshold, 2048u);
}

TEST_F(CommandAgentTest, FloodThresholdsAcceptUpToSixtyThousand) {
  KaAppInfoTH top = rule("flood3", 1, 60000);
  EXPECT_EQ(kaSetAppInfoTH(&top, kKaThDdos), 0);
  EXPECT_EQ(module.rules[20].threshold, 60000);
  EXPECT_EQ(module.rules[20].action, 1);
  KaAppInfoTH over = rule("flood3", 1, 60001);
  EXPECT_EQ(kaSetAppInfoTH(&over, kKaThDdos), -1);
  KaAppInfoTH bad_type = rule("flood3", 1, 10);
  EXPECT_EQ(kaSetAppInfoTH(&bad_type, 2), -1);
}

TEST_F(CommandAgentTest, CorruptMirrorCountsAndUnterminatedNamesStayInsideTheTables) {
  mirror->app_count[kKaAppIm] = 100000;
  std::memset(mirror->app[kKaAppIm][127].name, 'x', 64);
  IM_P2P_AD_Info request = app("absent", 1);
  EXPECT_EQ(kaSetAppInfo(&request, kKaAppIm), -1);
  mirror->th_count[kKaThDdos] = 0xFFFFFFFFu;
  KaAppInfoTH th = rule("absent", 1, 5);
  EXPECT_EQ(kaSetAppInfoTH(&th, kKaThDdos), -1);
}

TEST_F(CommandAgentTest, SetAllSendsEveryCountedRecordAndGoesOnAfterAFailure) {
  mirror->app[kKaAppIm][0].action = 0;
  module.apps[2].valid = false;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(kaSetAllAppStat(mirror), 0);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Set All App Stat error"), std::string::npos);
  EXPECT_EQ(module.commands.size(), 13u);
  EXPECT_EQ(module.apps[1].action, 0);

  module.commands.clear();
  EXPECT_EQ(kaSetAllAppStatTH(mirror), 0);
  EXPECT_EQ(module.commands.size(), 10u);
  EXPECT_EQ(kaSetAllAppStat(nullptr), -1);
}

TEST_F(CommandAgentTest, IpsStateRoundTripsAndAnInvalidValueChangesNothing) {
  EXPECT_EQ(kaSetIPSFunction(2), -1);
  EXPECT_TRUE(module.commands.empty());
  EXPECT_EQ(kaSetIPSFunction(0), 0);
  EXPECT_EQ(module.ips, 0u);
  EXPECT_EQ(mirror->ips, 0u);
  int on = -1;
  EXPECT_EQ(kaGetIPSFunction(&on), 0);
  EXPECT_EQ(on, 0);
  EXPECT_EQ(kaGetIPSFunction(nullptr), -1);
}

TEST_F(CommandAgentTest, IpsChangeRefusedByAModuleWithoutPolicyIsKeptForTheFirstLoad) {
  module.state = 4;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(kaSetIPSFunction(0), -1);
  int on = -1;
  EXPECT_EQ(kaGetIPSFunction(&on), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "kaCmdAgnt(276) : Set Vorn Stat Fail\nkaCmdAgnt(238) : Get Vorn Stat Fail\n");
  EXPECT_EQ(mirror->ips, 0u);
  EXPECT_EQ(mirror->status, 0u);
  EXPECT_EQ(module.ips, 1u);
  EXPECT_EQ(on, -1);
}

TEST_F(CommandAgentTest, MissingDeviceFailsEveryWrapper) {
  module.device_present = false;
  int on = 0;
  IM_P2P_AD_Info info{};
  KaAppInfoTH th{};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(CmdGetVrnStat(&on), 1);
  EXPECT_EQ(CmdStartUpVrn(&on), 1);
  EXPECT_EQ(CmdGetAppInfo(&info, kKaAppIm), 1);
  EXPECT_EQ(CmdGetAppInfoTH(&th, kKaThDdos), 1);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(module.commands.empty());
}

}  // namespace
}  // namespace vornagent
