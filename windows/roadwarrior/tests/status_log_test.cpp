#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "fake_platform.h"
#include "status_log.h"

namespace dravik {
namespace {

using testing::WorkArea;

std::string localStamp(std::time_t t) {
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
    EXPECT_EQ(area.read("Log.txt"), localStamp(when) + " [STATUS]Provisioning...\n");
}

TEST(StatusLog, MissingFileIsCreatedAndLinesAreAppended) {
    WorkArea area;
    StatusLog log((area.dir / "Log.txt").string());
    EXPECT_FALSE(area.exists("Log.txt"));
    log.log("WARNING", "one");
    log.log("ERROR", "two");
    std::regex shape(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d \[WARNING\]one\n\d{4}/\d\d/\d\d \d\d:\d\d:\d\d \[ERROR\]two\n)");
    EXPECT_TRUE(std::regex_match(area.read("Log.txt"), shape)) << area.read("Log.txt");
}

TEST(StatusLog, CategoryStartsAsStatusAndStaysCurrent) {
    WorkArea area;
    StatusLog log((area.dir / "Log.txt").string());
    EXPECT_EQ(log.currentCategory(), "Status");
    log.log("ERROR", "x");
    EXPECT_EQ(log.currentCategory(), "ERROR");
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
    StatusLog* a = StatusLog::instance("first.txt");
    StatusLog* b = StatusLog::instance("second.txt");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(b->fileName(), "first.txt");
}

TEST(StatusLog, LinesFromManyThreadsNeverInterleave) {
    WorkArea area;
    StatusLog log((area.dir / "Log.txt").string());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) log.log(t % 2 ? "STATUS" : "ERROR", std::string(100, char('a' + t)));
        });
    for (auto& th : threads) th.join();
    std::regex line(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d (\[STATUS\]([bd])\2{99}|\[ERROR\]([ac])\3{99}))");
    std::istringstream in(area.read("Log.txt"));
    int count = 0;
    for (std::string l; std::getline(in, l); ++count) ASSERT_TRUE(std::regex_match(l, line)) << l;
    EXPECT_EQ(count, 800);
}

}  // namespace
}  // namespace dravik
