#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "fake_platform.h"
#include "status_log.h"

namespace dravik {
namespace {

using testing::WorkArea;

// "YYYY/MM/DD HH:MM:SS " then `rest`.
bool is_log_line(const std::string &line, const std::string &rest) {
  const std::string shape = "dddd/dd/dd dd:dd:dd ";
  if (line.size() != shape.size() + rest.size() || line.substr(shape.size()) != rest) return false;
  for (std::size_t i = 0; i < shape.size(); ++i)
    if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i])
      return false;
  return true;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::string local_stamp(std::time_t t) {
  std::tm parts{};
  localtime_r(&t, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &parts);
  return text;
}

TEST(StatusLog, LineIsLocalTimeBlankBracketedCategoryAndMessage) {
  WorkArea area;
  const std::time_t when = 1700000000;
  StatusLog log((area.dir / "Log.txt").string(), [=] { return when; });
  ASSERT_TRUE(log.log("STATUS", "Provisioning..."));
  EXPECT_EQ(area.read("Log.txt"), local_stamp(when) + " [STATUS]Provisioning...\n");
}

TEST(StatusLog, MissingFileIsCreatedAndLinesAreAppended) {
  WorkArea area;
  StatusLog log((area.dir / "Log.txt").string());
  EXPECT_FALSE(area.exists("Log.txt"));
  log.log("WARNING", "one");
  log.log("ERROR", "two");
  auto lines = lines_of(area.read("Log.txt"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(is_log_line(lines[0], "[WARNING]one")) << lines[0];
  EXPECT_TRUE(is_log_line(lines[1], "[ERROR]two")) << lines[1];
}

TEST(StatusLog, CategoryStartsAsStatusAndStaysCurrent) {
  WorkArea area;
  StatusLog log((area.dir / "Log.txt").string());
  EXPECT_EQ(log.current_category(), "Status");
  log.log("ERROR", "x");
  EXPECT_EQ(log.current_category(), "ERROR");
}

TEST(StatusLog, RelativeNameFollowsTheCurrentDirectory) {
  WorkArea first, second;
  StatusLog log("Log.txt");
  std::filesystem::current_path(first.dir);
  log.log("STATUS", "a");
  std::filesystem::current_path(second.dir);
  log.log("STATUS", "b");
  EXPECT_NE(first.read("Log.txt").find("]a"), std::string::npos);
  EXPECT_NE(second.read("Log.txt").find("]b"), std::string::npos);
  EXPECT_EQ(first.read("Log.txt").find("]b"), std::string::npos);
}

TEST(StatusLog, LongMessagesAreCutToTheLineLimit) {
  WorkArea area;
  StatusLog log((area.dir / "Log.txt").string());
  log.log("STATUS", std::string(1000, 'x'));
  std::string text = area.read("Log.txt");
  EXPECT_EQ(text.size(), StatusLog::kMaxLine + 1);
  EXPECT_EQ(text.back(), '\n');
}

TEST(StatusLog, UnwritablePlaceIsReportedNotFatal) {
  StatusLog log("/nonexistent-dir-for-dravik/Log.txt");
  EXPECT_FALSE(log.log("STATUS", "x"));
}

TEST(StatusLog, InstanceKeepsTheFirstName) {
  StatusLog *a = StatusLog::instance("first.txt");
  StatusLog *b = StatusLog::instance("second.txt");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(b->file_name(), "first.txt");
}

TEST(StatusLog, LinesFromManyThreadsNeverInterleave) {
  WorkArea area;
  StatusLog log((area.dir / "Log.txt").string());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) log.log(t % 2 ? "STATUS" : "ERROR", std::string(100, char('a' + t)));
    });
  for (auto &th : threads) th.join();
  auto lines = lines_of(area.read("Log.txt"));
  std::size_t count = 0;
  for (const auto &l : lines) {
    bool whole = false;
    for (int th = 0; th < 4; ++th)
      whole = whole ||
              is_log_line(l, std::string(th % 2 ? "[STATUS]" : "[ERROR]") + std::string(100, char('a' + th)));
    ASSERT_TRUE(whole) << l;
    ++count;
  }
  EXPECT_EQ(count, 800u);
}

}  // namespace
}  // namespace dravik
