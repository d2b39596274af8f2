// The firewall steps at start and exit over a fake firewall that records what was done to it.
#include "firewall_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tunmira {
namespace {

struct FakeFirewall {
  bool enabled = true;
  bool notAllowed = false;
  bool exceptionsReadable = true;
  std::vector<std::wstring> authorised;
  std::vector<std::string> calls;
  int helpers = 0;
};

class FakeOps : public FirewallOps {
 public:
  explicit FakeOps(FakeFirewall &fw) : fw_(fw) { ++fw_.helpers; }
  FW_ERROR_CODE Initialize() override { return Log("init"); }
  FW_ERROR_CODE Release() override { return Log("release"); }
  FW_ERROR_CODE IsFirewallEnabled(int &enabled) override {
    enabled = fw_.enabled ? 1 : 0;
    return Log("enabled?");
  }
  FW_ERROR_CODE AddAuthorizedApplication(const wchar_t *path, const wchar_t *name) override {
    EXPECT_EQ(std::wstring(name), L"Tunmira");
    for (const auto &entry : fw_.authorised) {
      if (entry == path) return Log("add(kept)");
    }
    fw_.authorised.emplace_back(path);
    return Log("add");
  }
  FW_ERROR_CODE RemoveAuthorizedApplication(const wchar_t *path) override {
    std::erase(fw_.authorised, std::wstring(path));
    return Log("remove");
  }
  FW_ERROR_CODE GetExceptionsNotAllowed(int &notAllowed) override {
    Log("exceptions?");
    if (!fw_.exceptionsReadable) return kFwExceptionsSetting;
    notAllowed = fw_.notAllowed ? 1 : 0;
    return kFwOk;
  }
  FW_ERROR_CODE SetExceptionsNotAllowed(int notAllowed) override {
    fw_.notAllowed = notAllowed != 0;
    return Log(notAllowed ? "forbid" : "allow");
  }

 private:
  FW_ERROR_CODE Log(const char *what) {
    fw_.calls.emplace_back(what);
    return kFwOk;
  }
  FakeFirewall &fw_;
};

const std::wstring kPath = L"C:\\Program Files\\Tunmira\\Tunmira.exe";

class FirewallSteps : public ::testing::Test {
 protected:
  FirewallMemory Start(bool xpSp2 = true) { return FirewallAtStart(xpSp2, factory, kPath); }
  void Exit(const FirewallMemory &memory) { FirewallAtExit(memory, factory, kPath); }

  FakeFirewall fw;
  FirewallFactory factory = [this] { return std::make_unique<FakeOps>(fw); };
};

TEST_F(FirewallSteps, OtherSystemsNeverTouchTheFirewall) {
  Exit(Start(false));
  EXPECT_EQ(fw.helpers, 0);
}

TEST_F(FirewallSteps, ForbiddenExceptionsAreAllowedForTheRunAndForbiddenAgainAtExit) {
  fw.notAllowed = true;
  const FirewallMemory memory = Start();
  EXPECT_TRUE(memory.askedForEntry);
  EXPECT_TRUE(memory.exceptionsWereOff);
  EXPECT_EQ(fw.calls,
            (std::vector<std::string>{"init", "enabled?", "exceptions?", "allow", "add", "release"}));
  EXPECT_EQ(fw.authorised, std::vector<std::wstring>{kPath});
  EXPECT_FALSE(fw.notAllowed);
  fw.calls.clear();
  Exit(memory);
  EXPECT_EQ(fw.calls, (std::vector<std::string>{"init", "remove", "forbid", "release"}));
  EXPECT_TRUE(fw.authorised.empty());
  EXPECT_TRUE(fw.notAllowed);
}

TEST_F(FirewallSteps, AllowedExceptionsStayAllowedAndAnExistingEntryIsNotAddedTwiceButRemoved) {
  fw.authorised = {kPath};
  const FirewallMemory memory = Start();
  EXPECT_FALSE(memory.exceptionsWereOff);
  EXPECT_EQ(fw.authorised.size(), 1u);
  Exit(memory);
  EXPECT_TRUE(fw.authorised.empty());
  EXPECT_FALSE(fw.notAllowed);
  EXPECT_EQ(std::count(fw.calls.begin(), fw.calls.end(), "forbid"), 0);
}

TEST_F(FirewallSteps, AFirewallThatIsOffIsLeftAloneAtStartAndExit) {
  fw.enabled = false;
  fw.notAllowed = true;
  const FirewallMemory memory = Start();
  EXPECT_FALSE(memory.askedForEntry);
  Exit(memory);
  EXPECT_EQ(fw.calls, (std::vector<std::string>{"init", "enabled?", "release"}));
  EXPECT_TRUE(fw.authorised.empty());
}

TEST_F(FirewallSteps, AnUnreadableExceptionsSettingIsNeverForbiddenAtExit) {
  fw.exceptionsReadable = false;
  const FirewallMemory memory = Start();
  EXPECT_FALSE(memory.exceptionsWereOff);
  Exit(memory);
  EXPECT_FALSE(fw.notAllowed);
  EXPECT_TRUE(fw.authorised.empty());
}

TEST(WindowsVersion, OnlyFiveOneWithExactlyServicePack2) {
  EXPECT_TRUE(IsXpSp2Version(5, 1, "Service Pack 2"));
  EXPECT_FALSE(IsXpSp2Version(5, 1, "Service Pack 3"));
  EXPECT_FALSE(IsXpSp2Version(5, 1, "Service Pack 2a"));
  EXPECT_FALSE(IsXpSp2Version(5, 1, "service pack 2"));
  EXPECT_FALSE(IsXpSp2Version(5, 2, "Service Pack 2"));
  EXPECT_FALSE(IsXpSp2Version(6, 1, "Service Pack 1"));
}

TEST(WindowsVersion, TheOverrideNamesMajorMinorAndServicePack) {
  unsigned major = 9, minor = 9;
  std::string pack = "x";
  ASSERT_TRUE(ParseVersionOverride("5.1;Service Pack 2", major, minor, pack));
  EXPECT_EQ(major, 5u);
  EXPECT_EQ(minor, 1u);
  EXPECT_EQ(pack, "Service Pack 2");
  ASSERT_TRUE(ParseVersionOverride("6.1;", major, minor, pack));
  EXPECT_EQ(pack, "");
  for (const char *bad : {"", "5.1", "51;SP", "5;1.x", ".1;x", "5.;x", "a.1;x", "99999.1;x"}) {
    EXPECT_FALSE(ParseVersionOverride(bad, major, minor, pack)) << bad;
  }
  EXPECT_EQ(major, 6u);
}

}  // namespace
}  // namespace tunmira
