// The firewall steps at start and exit over a fake firewall that records what was done to it.
#include "firewall_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tunmira {
namespace {

struct FakeFirewall {
  bool enabled = true;
  bool not_allowed = false;
  bool exceptions_readable = true;
  std::vector<std::wstring> authorised;
  std::vector<std::string> calls;
  int helpers = 0;
};

class FakeOps : public FirewallOps {
 public:
  explicit FakeOps(FakeFirewall &fw) : fw_(fw) { ++fw_.helpers; }
  FW_ERROR_CODE Initialize() override { return log("init"); }
  FW_ERROR_CODE Release() override { return log("release"); }
  FW_ERROR_CODE IsFirewallEnabled(int &enabled) override {
    enabled = fw_.enabled ? 1 : 0;
    return log("enabled?");
  }
  FW_ERROR_CODE AddAuthorizedApplication(const wchar_t *path, const wchar_t *name) override {
    EXPECT_EQ(std::wstring(name), L"Tunmira");
    for (const auto &entry : fw_.authorised) {
      if (entry == path) return log("add(kept)");
    }
    fw_.authorised.emplace_back(path);
    return log("add");
  }
  FW_ERROR_CODE RemoveAuthorizedApplication(const wchar_t *path) override {
    std::erase(fw_.authorised, std::wstring(path));
    return log("remove");
  }
  FW_ERROR_CODE GetExceptionsNotAllowed(int &not_allowed) override {
    log("exceptions?");
    if (!fw_.exceptions_readable) return kFwExceptionsSetting;
    not_allowed = fw_.not_allowed ? 1 : 0;
    return kFwOk;
  }
  FW_ERROR_CODE SetExceptionsNotAllowed(int not_allowed) override {
    fw_.not_allowed = not_allowed != 0;
    return log(not_allowed ? "forbid" : "allow");
  }

 private:
  FW_ERROR_CODE log(const char *what) {
    fw_.calls.emplace_back(what);
    return kFwOk;
  }
  FakeFirewall &fw_;
};

const std::wstring kPath = L"C:\\Program Files\\Tunmira\\Tunmira.exe";

class FirewallSteps : public ::testing::Test {
 protected:
  FirewallMemory at_start(bool xp_sp2 = true) { return firewall_at_start(xp_sp2, factory, kPath); }
  void at_exit(const FirewallMemory &memory) { firewall_at_exit(memory, factory, kPath); }

  FakeFirewall fw;
  FirewallFactory factory = [this] { return std::make_unique<FakeOps>(fw); };
};

TEST_F(FirewallSteps, OtherSystemsNeverTouchTheFirewall) {
  at_exit(at_start(false));
  EXPECT_EQ(fw.helpers, 0);
}

TEST_F(FirewallSteps, ForbiddenExceptionsAreAllowedForTheRunAndForbiddenAgainAtExit) {
  fw.not_allowed = true;
  const FirewallMemory memory = at_start();
  EXPECT_TRUE(memory.asked_for_entry);
  EXPECT_TRUE(memory.exceptions_were_off);
  EXPECT_EQ(fw.calls,
            (std::vector<std::string>{"init", "enabled?", "exceptions?", "allow", "add", "release"}));
  EXPECT_EQ(fw.authorised, std::vector<std::wstring>{kPath});
  EXPECT_FALSE(fw.not_allowed);
  fw.calls.clear();
  at_exit(memory);
  EXPECT_EQ(fw.calls, (std::vector<std::string>{"init", "remove", "forbid", "release"}));
  EXPECT_TRUE(fw.authorised.empty());
  EXPECT_TRUE(fw.not_allowed);
}

TEST_F(FirewallSteps, AllowedExceptionsStayAllowedAndAnExistingEntryIsNotAddedTwiceButRemoved) {
  fw.authorised = {kPath};
  const FirewallMemory memory = at_start();
  EXPECT_FALSE(memory.exceptions_were_off);
  EXPECT_EQ(fw.authorised.size(), 1u);
  at_exit(memory);
  EXPECT_TRUE(fw.authorised.empty());
  EXPECT_FALSE(fw.not_allowed);
  EXPECT_EQ(std::count(fw.calls.begin(), fw.calls.end(), "forbid"), 0);
}

TEST_F(FirewallSteps, AFirewallThatIsOffIsLeftAloneAtStartAndExit) {
  fw.enabled = false;
  fw.not_allowed = true;
  const FirewallMemory memory = at_start();
  EXPECT_FALSE(memory.asked_for_entry);
  at_exit(memory);
  EXPECT_EQ(fw.calls, (std::vector<std::string>{"init", "enabled?", "release"}));
  EXPECT_TRUE(fw.authorised.empty());
}

TEST_F(FirewallSteps, AnUnreadableExceptionsSettingIsNeverForbiddenAtExit) {
  fw.exceptions_readable = false;
  const FirewallMemory memory = at_start();
  EXPECT_FALSE(memory.exceptions_were_off);
  at_exit(memory);
  EXPECT_FALSE(fw.not_allowed);
  EXPECT_TRUE(fw.authorised.empty());
}

TEST(WindowsVersion, OnlyFiveOneWithExactlyServicePack2) {
  EXPECT_TRUE(is_xp_sp2_version(5, 1, "Service Pack 2"));
  EXPECT_FALSE(is_xp_sp2_version(5, 1, "Service Pack 3"));
  EXPECT_FALSE(is_xp_sp2_version(5, 1, "Service Pack 2a"));
  EXPECT_FALSE(is_xp_sp2_version(5, 1, "service pack 2"));
  EXPECT_FALSE(is_xp_sp2_version(5, 2, "Service Pack 2"));
  EXPECT_FALSE(is_xp_sp2_version(6, 1, "Service Pack 1"));
}

TEST(WindowsVersion, TheOverrideNamesMajorMinorAndServicePack) {
  unsigned major = 9, minor = 9;
  std::string pack = "x";
  ASSERT_TRUE(parse_version_override("5.1;Service Pack 2", major, minor, pack));
  EXPECT_EQ(major, 5u);
  EXPECT_EQ(minor, 1u);
  EXPECT_EQ(pack, "Service Pack 2");
  ASSERT_TRUE(parse_version_override("6.1;", major, minor, pack));
  EXPECT_EQ(pack, "");
  for (const char *bad : {"", "5.1", "51;SP", "5;1.x", ".1;x", "5.;x", "a.1;x", "99999.1;x"}) {
    EXPECT_FALSE(parse_version_override(bad, major, minor, pack)) << bad;
  }
  EXPECT_EQ(major, 6u);
}

}  // namespace
}  // namespace tunmira
