#include "loop.h"
#include "startup.h"
#include "trace.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class Options : public ::testing::Test {
 protected:
  void SetUp() override {
    process_state() = DaemonState{};
    trace_reset_levels();
  }
  void TearDown() override { SetUp(); }

  OptionResult parse(std::vector<std::string> args) {
    args.insert(args.begin(), "portvisor");
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    char *buf = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&buf, &size);
    OptionResult r = parse_options(static_cast<int>(argv.size()), argv.data(), out);
    std::fclose(out);
    printed = std::string(buf, size);
    std::free(buf);
    return r;
  }
  std::string printed;
};

TEST_F(Options, HelpByExactDashHOrAnyHelp) {
  EXPECT_EQ(parse({"-h"}), OptionResult::kExitOk);
  EXPECT_EQ(printed.rfind("Usage: portvisor [options]\n\nOptions:\n-h or --help ", 0), 0u);
  EXPECT_NE(printed.find("Trace modules: ???? main conf"), std::string::npos);
  EXPECT_NE(printed.find("Trace levels: emerg alert crit error warn note info debug noise\n"),
            std::string::npos);
  EXPECT_EQ(parse({"x-helpme"}), OptionResult::kExitOk);
  EXPECT_EQ(parse({"-hx"}), OptionResult::kRun);
}

TEST_F(Options, DaemonSpellings) {
  for (const char *arg : {"--daemon", "deamon", "xdemonx"}) {
    process_state().daemon_mode = false;
    EXPECT_EQ(parse({arg}), OptionResult::kRun);
    EXPECT_TRUE(process_state().daemon_mode) << arg;
  }
  process_state().daemon_mode = false;
  parse({"--dae"});
  EXPECT_FALSE(process_state().daemon_mode);
}

TEST_F(Options, TraceConsumesTwoArguments) {
  EXPECT_EQ(parse({"--trace", "l2", "debug", "--pause_execution"}), OptionResult::kRun);
  EXPECT_EQ(trace_module_level(trace::kL2), trace::kDebug);
  EXPECT_EQ(trace_module_level(trace::kL3), trace::kError);
  EXPECT_EQ(process_state().pause, 1);
}

TEST_F(Options, TraceWithoutArgumentsFailsWithTheTraceHelp) {
  EXPECT_EQ(parse({"--trace"}), OptionResult::kExitFail);
  EXPECT_EQ(printed.rfind("Trace option: --trace <module> <level>\n", 0), 0u);
  EXPECT_EQ(parse({"--trace", "all"}), OptionResult::kExitFail);
  EXPECT_EQ(parse({"--trace", "all", "loud"}), OptionResult::kExitFail);
}

TEST_F(Options, DebugTraceRaisesAllModulesToDebug) {
  EXPECT_EQ(parse({"--debug_trace"}), OptionResult::kRun);
  for (unsigned m = 0; m < trace::kModuleCount; ++m) EXPECT_EQ(trace_module_level(m), trace::kDebug);
}

TEST_F(Options, PauseOrSuspendAndUnknownIgnored) {
  parse({"whatever", "--suspend"});
  EXPECT_EQ(process_state().pause, 1);
  process_state().pause = 0;
  parse({"--nothing"});
  EXPECT_EQ(process_state().pause, 0);
}

class PidFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pv_pidfile.XXXXXX";
    dir = mkdtemp(tmpl);
    path = dir + "/portvisor.pid";
  }
  void TearDown() override {
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
  void write_file(const std::string &text) { std::ofstream(path) << text; }
  std::string read_file() {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
  }
  std::string dir, path;
};

TEST_F(PidFile, CreatesFileWithOwnPid) {
  EXPECT_EQ(app_assert(path.c_str()), 0);
  EXPECT_EQ(read_file(), std::to_string(getpid()));
}

TEST_F(PidFile, LivingProcessRefusesAndKeepsFile) {
  pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  write_file(std::to_string(child));
  EXPECT_EQ(app_assert(path.c_str()), 1);
  EXPECT_EQ(read_file(), std::to_string(child));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

TEST_F(PidFile, StaleEmptyOrGarbledFileIsReplaced) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  for (std::string content : {std::to_string(child), std::string(), std::string("garbage"), std::string("0"),
                              std::string("-5"), std::string(40, '9')}) {
    write_file(content);
    EXPECT_EQ(app_assert(path.c_str()), 0) << content;
    EXPECT_EQ(read_file(), std::to_string(getpid()));
  }
}

}  // namespace
