// The command-line tools as a user runs them when neither the inspection daemon nor the module is
// there, and the policy builder's refusals; each test in its own IPC namespace.
#include <gtest/gtest.h>
#include <sys/sem.h>

#include <filesystem>
#include <fstream>

#include "ipc_namespace.h"
#include "process_helpers.h"

namespace vornagent::testing {
namespace {

namespace fs = std::filesystem;

class ToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(enter_fresh_ipc_namespace());
    dir = fs::temp_directory_path() / ("vornagent-tools." + std::to_string(getpid()) + "." +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    // No module serves this path.
    environment = {"VORN_DEVICE=" + (dir / "vorn").string(),
                   "VORNAGENT_DEBUG_LOG=" + (dir / "glb_dbg").string()};
  }
  void TearDown() override { fs::remove_all(dir); }

  Output cli(const std::vector<std::string> &args) {
    return run_program_with_errors(program_path("VORNAGENT_CLI_BIN"), args, environment);
  }

  // Builds from `description`; the output goes to policy.bin in the test's folder.
  Output build(const std::string &description) {
    std::string source = (dir / "policy.txt").string();
    std::ofstream(source) << description;
    return build_from(source);
  }
  Output build_from(const std::string &source) {
    fs::remove(output());
    return run_program_with_errors(program_path("VORNPOLICY_BIN"), {source, output().string()});
  }
  fs::path output() const { return dir / "policy.bin"; }

  fs::path dir;
  std::vector<std::string> environment;
};

TEST_F(ToolsTest, WithoutDaemonAndModuleTheListingsFailWithAMessage) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  for (const Case &c :
       {Case{{"apps", "im"}, "vornagent-cli: the inspection module cannot be reached\n"},
        Case{{"thresholds", "portscan"}, "vornagent-cli: the inspection module cannot be reached\n"},
        Case{{"events"}, "vornagent-cli: no report data: the inspection daemon is not running\n"}}) {
    Output failed = cli(c.args);
    EXPECT_EQ(failed.status, 1) << c.args[0];
    EXPECT_NE(failed.text.find(c.message), std::string::npos) << failed.text;
  }
  EXPECT_LT(semget(14610, 1, 0), 0) << "a client left a semaphore set behind";
}

TEST_F(ToolsTest, APolicyIsBuiltOnlyFromADescriptionThatCanBeReadToItsEnd) {
  for (const std::string &unreadable : {dir.string(), std::string("/proc/self/mem")}) {
    Output refused = build_from(unreadable);
    EXPECT_EQ(refused.status, 1) << unreadable;
    EXPECT_NE(refused.text.find("vornpolicy: cannot read the description\n"), std::string::npos)
        << refused.text;
    EXPECT_FALSE(fs::exists(output())) << unreadable;
  }
  Output empty = build("");
  EXPECT_EQ(empty.status, 0) << empty.text;
  EXPECT_TRUE(fs::exists(output()));
}

TEST_F(ToolsTest, NumbersThatDoNotFitTheirFieldAreRefusedNotCut) {
  for (const char *line : {"rule 5 4 1 0 IP Sweep", "rule 5 4 1 65535 IP Sweep", "rule 5 255 255 1 IP Sweep",
                           "app im 1 255 255 MSN", "app im 1 0 0 MSN", "version 65535 65535"}) {
    Output built = build(std::string(line) + "\n");
    EXPECT_EQ(built.status, 0) << line << ": " << built.text;
  }
  for (const char *line :
       {"rule 5 4 1 65536 IP Sweep", "rule 5 4 1 4294967297 IP Sweep", "rule 5 4 1 -4294967295 IP Sweep",
        "rule 5 4 1", "rule 5 256 1 1 IP Sweep", "rule 5 4 256 1 IP Sweep", "app im 1 256 1 MSN",
        "app im 1 0 256 MSN", "app im 1 0 -255 MSN", "version 65536 0", "version 1 65536"}) {
    Output refused = build(std::string("version 1 1\n") + line + "\n");
    EXPECT_EQ(refused.status, 1) << line;
    EXPECT_EQ(refused.text.rfind("vornpolicy: line 2: ", 0), 0u) << line << ": " << refused.text;
    EXPECT_FALSE(fs::exists(output())) << line;
  }
}

}  // namespace
}  // namespace vornagent::testing
