#include "trace.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

class Trace : public ::testing::Test {
 protected:
  void SetUp() override { trace_reset_levels(); }
  void TearDown() override { trace_reset_levels(); }

  template <typename F>
  static std::string capture(F &&f) {
    ::testing::internal::CaptureStdout();
    f();
    return ::testing::internal::GetCapturedStdout();
  }
};

// True when `line` is "YYYY/MM/DD hh:mm:ss.mmm" followed by `rest`.
bool dated_line(const std::string &line, const std::string &rest) {
  const std::string shape = "dddd/dd/dd dd:dd:dd.ddd";
  if (line.size() != shape.size() + rest.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    bool ok = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == shape[i];
    if (!ok) return false;
  }
  return line.compare(shape.size(), rest.size(), rest) == 0;
}

TEST_F(Trace, PlainEventLineHasModuleFunctionLineAndLevel) {
  std::string out = capture(
      [] { trace_printf(trace::kMain, "main", nullptr, 42, 0, 0, trace::kError, "%s started", "pv"); });
  EXPECT_TRUE(dated_line(out, " portvisor/main/main(42)/error: pv started\n")) << out;
}

TEST_F(Trace, LineWithSourceUnitNamesFunctionAndUnit) {
  std::string out =
      capture([] { trace_printf(trace::kPort, "port_init", "port.cpp", 7, 0, 0, trace::kEmerg, "x=%d", 3); });
  EXPECT_TRUE(dated_line(out, " portvisor/port_init(port.cpp 7)/emerg: x=3\n")) << out;
}

TEST_F(Trace, LevelsAboveTheModuleLevelAreFiltered) {
  std::string out = capture([] {
    trace_printf(trace::kL2, "f", nullptr, 1, 0, 0, trace::kWarn, "hidden");
    trace_printf(trace::kL2, "f", nullptr, 1, 0, 0, trace::kError, "shown");
  });
  EXPECT_EQ(out.find("hidden"), std::string::npos);
  EXPECT_NE(out.find("shown"), std::string::npos);
}

TEST_F(Trace, ApiResultRule) {
  EXPECT_EQ(capture([] {
              EXPECT_EQ(trace_printf(trace::kPort, "f", "u", 1, 1, 0, trace::kDebug, "%s", "call()"), 0);
            }),
            "");
  EXPECT_EQ(capture([] {
              EXPECT_EQ(trace_printf(trace::kPort, "f", "u", 1, 1, 5, trace::kEmerg, "%s", "call()"), 5);
            }),
            "");
  // -1 is a warning: hidden at the default level error.
  EXPECT_EQ(capture([] {
              EXPECT_EQ(trace_printf(trace::kPort, "f", "u", 1, 1, -1, trace::kDebug, "%s", "call()"), -1);
            }),
            "");
  std::string out = capture(
      [] { EXPECT_EQ(trace_printf(trace::kPort, "f", "u", 1, 1, -2, trace::kNoise, "%s", "call()"), -2); });
  EXPECT_NE(out.find("/error: call() swc_rc=-2\n"), std::string::npos) << out;
  trace_option_apply("port", "warn");
  out = capture([] { trace_printf(trace::kPort, "f", "u", 1, 1, -1, trace::kDebug, "%s", "call()"); });
  EXPECT_NE(out.find("/warn: call() swc_rc=-1\n"), std::string::npos) << out;
}

// The daemon's API-result lines name the calling function and its own source file, not the module.
TEST_F(Trace, ApiResultMacroNamesTheCallingFunctionAndSourceUnit) {
  int line = 0;
  std::string out = capture([&line] {
    line = __LINE__ + 1;
    EXPECT_EQ(TRACE_API_RESULT(trace::kL2, -7, trace::kDebug, "swc_x(1)"), -7);
  });
  EXPECT_NE(out.find(" portvisor/operator()(trace_test.cpp " + std::to_string(line) +
                     ")/error: swc_x(1) swc_rc=-7\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(capture([] { EXPECT_EQ(TRACE_API_RESULT(trace::kL2, 0, trace::kDebug, "swc_x(1)"), 0); }), "");
}

TEST_F(Trace, ModuleAbove16IsNeverFilteredAndShownAsUnknown) {
  std::string out = capture([] { trace_printf(40, "f", nullptr, 9, 0, 0, trace::kNoise, "deep"); });
  EXPECT_NE(out.find("portvisor/" + std::string(4, '?') + "/f(9)/noise: deep\n"), std::string::npos) << out;
  EXPECT_EQ(trace_module_level(40), trace::kNoise);
}

TEST_F(Trace, LevelAbove8IsNamedUnknown) {
  trace_set_all_levels(trace::kNoise);
  std::string out = capture([] { trace_printf(99, "f", nullptr, 9, 0, 0, 12, "odd"); });
  EXPECT_NE(out.find("/" + std::string(4, '?') + ": odd\n"), std::string::npos) << out;
}

TEST_F(Trace, TrailingNewlinesCollapseToOne) {
  std::string out =
      capture([] { trace_printf(trace::kMain, "f", nullptr, 1, 0, 0, trace::kError, "text\n\n\n"); });
  EXPECT_TRUE(out.ends_with(": text\n")) << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1);
}

TEST_F(Trace, LongTextIsTruncatedAndKeepsTheResultCode) {
  std::string big(1000, 'x');
  std::string out =
      capture([&] { trace_printf(trace::kMain, "f", "u", 1, 1, -7, trace::kError, "%s", big.c_str()); });
  size_t text_start = out.find("/error: ") + 8;
  std::string text = out.substr(text_start, out.size() - text_start - 1);
  EXPECT_EQ(text.size(), trace::kTextSize - 1);
  EXPECT_EQ(text.substr(text.size() - 10), " swc_rc=-7");
}

TEST_F(Trace, ContextShapeUsesStoredModuleFunctionLineAndLevel) {
  trace_option_apply("rstp", "info");
  trace_set_context(trace::kInfo, "rstp_tick", 77, trace::kRstp);
  std::string out = capture([] { trace_context_printf("port %d", 2); });
  EXPECT_NE(out.find("portvisor/rstp/rstp_tick(77)/info: port 2\n"), std::string::npos) << out;
  trace_set_context(trace::kDebug, "rstp_tick", 78, trace::kRstp);
  EXPECT_EQ(capture([] { trace_context_printf("quiet"); }), "");
}

TEST_F(Trace, OptionAllNoiseRaisesEveryModule) {
  EXPECT_TRUE(trace_option_apply("all", "noise"));
  for (unsigned m = 0; m < trace::kModuleCount; ++m) EXPECT_EQ(trace_module_level(m), trace::kNoise) << m;
}

TEST_F(Trace, OptionOneModuleChangesOnlyIt) {
  EXPECT_TRUE(trace_option_apply("l2", "debug"));
  for (unsigned m = 0; m < trace::kModuleCount; ++m)
    EXPECT_EQ(trace_module_level(m), m == trace::kL2 ? trace::kDebug : trace::kError) << m;
}

TEST_F(Trace, OptionMatchesBySubstring) {
  EXPECT_TRUE(trace_option_apply("mod=cablescan", "level-warning"));
  EXPECT_EQ(trace_module_level(trace::kCablescan), trace::kWarn);
}

TEST_F(Trace, OptionFailuresChangeNothing) {
  EXPECT_FALSE(trace_option_apply(nullptr, nullptr));
  EXPECT_FALSE(trace_option_apply("l2", nullptr));
  EXPECT_FALSE(trace_option_apply("nosuch", "debug"));
  EXPECT_FALSE(trace_option_apply("l2", "loud"));
  for (unsigned m = 0; m < trace::kModuleCount; ++m) EXPECT_EQ(trace_module_level(m), trace::kError);
}

TEST_F(Trace, HelpListsAllInPlaceOfUnknownModule) {
  std::string out = capture([] { trace_option_help(stdout); });
  EXPECT_EQ(out.rfind("Trace option: --trace <module> <level>\n\nTrace modules:\nall\nmain\n", 0), 0u) << out;
  EXPECT_NE(out.find("dot1x\n\nTrace levels:\nemerg\n"), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 6), "noise\n");
}

TEST_F(Trace, DaemonModeWritesNothingToStdout) {
  trace_set_daemon_mode(true);
  EXPECT_EQ(capture([] { trace_printf(trace::kMain, "f", nullptr, 1, 0, 0, trace::kDebug, "x"); }), "");
}

}  // namespace
