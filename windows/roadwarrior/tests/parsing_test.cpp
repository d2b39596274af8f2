#include <gtest/gtest.h>

#include "fake_platform.h"
#include "reply.h"
#include "result_codes.h"
#include "text.h"
#include "work_dir.h"

namespace dravik {
namespace {

using testing::WorkArea;

TEST(Reply, ReadsKnownKeysAtLineStartOnly) {
  auto r = parseReply(
      "version=1\nmsgtype=config\nstatus=0\nmessage=hello domain=evil.example\n"
      "presharedkey=secret\nrightsubnet=10.1.0.0/16\ndnsserver=10.1.0.53\n"
      "dnsserver2=0.0.0.0\ndomain=corp.example\nother=1\n");
  EXPECT_TRUE(r.valid());
  EXPECT_FALSE(r.isStatusPage());
  EXPECT_EQ(r.message, "hello domain=evil.example");
  EXPECT_EQ(r.presharedkey, "secret");
  EXPECT_EQ(r.rightsubnet, "10.1.0.0/16");
  EXPECT_EQ(r.dnsserver, "10.1.0.53");
  EXPECT_EQ(r.dnsserver2, "0.0.0.0");
  EXPECT_EQ(r.domain, "corp.example");
}

TEST(Reply, LineEndsAreNotPartOfValuesWhateverTheirForm) {
  auto crlf = parseReply("version=1\r\nmessage=a\r\ndomain=x.example");
  EXPECT_EQ(crlf.message, "a");
  EXPECT_EQ(crlf.domain, "x.example");  // last line without a line end
}

TEST(Reply, LaterLineWithTheSameKeyWins) {
  EXPECT_EQ(parseReply("message=first\nmessage=second\n").message, "second");
}

TEST(Reply, ValuesAreCutToTheirLimits) {
  auto r =
      parseReply("version=123456789\nstatus=-123456\nmessage=" + std::string(5000, 'm') + "\ndomain=d\n");
  EXPECT_EQ(r.version, "12345");
  EXPECT_EQ(r.status, "-1234");
  EXPECT_EQ(r.message.size(), GatewayReply::kMaxValue);
  EXPECT_EQ(r.domain, "d");  // the long line's rest is not read as a new line
}

TEST(Reply, ValidityStatusPagesAndStatusNumbers) {
  EXPECT_FALSE(parseReply("version=0\n").valid());
  EXPECT_FALSE(parseReply("version=abc\n").valid());
  EXPECT_FALSE(parseReply("").valid());
  auto page = parseReply("version=2\nmsgtype=status-page\nstatus=17\n");
  EXPECT_TRUE(page.valid());
  EXPECT_TRUE(page.isStatusPage());
  EXPECT_EQ(page.statusNumber(), 17);
  EXPECT_FALSE(parseReply("status=x\n").statusNumber());
  EXPECT_FALSE(parseReply("version=1\nmsgtype=config\n").provisions());
}

TEST(HttpStatus, NumberAfterTheLastAwaitingResponse) {
  EXPECT_EQ(parseHttpStatus("HTTP request sent, awaiting response... 200 OK\n"), 200);
  EXPECT_EQ(parseHttpStatus("HTTP request sent, awaiting response... 401 Unauthorized\n"
                            "Connecting...\nHTTP request sent, awaiting response... 200 OK\n"),
            200);
  EXPECT_EQ(parseHttpStatus("Connecting to host... failed: Connection refused.\n"), -2);
  EXPECT_EQ(parseHttpStatus("HTTP request sent, awaiting response... \nRead error\n"), -2);
  EXPECT_EQ(readHttpStatus("/nonexistent/dravik/log.txt"), -1);
}

TEST(WorkDirForms, BackslashPiecesGiveBothForms) {
  auto dir = std::get<WorkDir>(makeWorkDir("C:\\Program Files\\RW"));
  EXPECT_EQ(dir.commandForm, "C:\\\\Program Files\\\\RW\\\\");
  EXPECT_EQ(dir.fileForm, "C:/Program Files/RW/");
  auto doubled = std::get<WorkDir>(makeWorkDir("C:\\\\rw\\"));
  EXPECT_EQ(doubled.fileForm, "C:/rw/");
}

TEST(WorkDirForms, EmptyOrQuotedValuesAreRefused) {
  EXPECT_EQ(std::get<int>(makeWorkDir("")), kBadWorkDir);
  EXPECT_EQ(std::get<int>(makeWorkDir("\\\\\\")), kBadWorkDir);
  EXPECT_EQ(std::get<int>(makeWorkDir("C:\\rw\" -e x")), kBadWorkDir);
  EXPECT_EQ(std::get<int>(makeWorkDir("C:\\rw\x01")), kBadWorkDir);
}

TEST(RwIni, WorkingDirLineAfterTheFirstWord) {
  EXPECT_EQ(std::get<std::string>(parseRwIni("[RW]\r\nworkingDir=C:\\rw  \r\nother=1\n")), "C:\\rw");
  EXPECT_EQ(std::get<int>(parseRwIni("[RW]\nother=1\nworkingDir=C:\\rw\n")), kBadWorkDir);
  EXPECT_EQ(std::get<int>(parseRwIni("[RW]\n\n")), kIniEmpty);
  EXPECT_EQ(std::get<int>(parseRwIni("")), kIniEmpty);
  EXPECT_EQ(std::get<int>(parseRwIni("[RW]\nworkingDir=" + std::string(2000, 'a') + "\n")), kBadWorkDir);
}

TEST(RwIni, PathRulesAndFileErrors) {
  WorkArea area;
  std::string backslashed = area.iniPath.string();
  EXPECT_TRUE(std::holds_alternative<WorkDir>(loadWorkDir(backslashed)));
  EXPECT_EQ(std::get<int>(loadWorkDir(std::string(1024, 'a'))), kIniPathTooLong);
  EXPECT_EQ(std::get<int>(loadWorkDir((area.dir / "absent.ini").string())), kIniUnreadable);
  area.write("win.ini", "[RW]\r\nworkingDir=" + area.dir.string() + "\r\n");
  std::string winStyle = (area.dir / "win.ini").string();
  for (char &c : winStyle)
    if (c == '/') c = '\\';
  auto dir = std::get<WorkDir>(loadWorkDir(winStyle));
  EXPECT_EQ(dir.fileForm, area.dir.string() + "/");
}

TEST(Quoting, EveryArgumentComesBackUnchanged) {
  const std::vector<std::string> samples = {
      "plain",       "",     "two words", "quote\"inside", "trail\\", "back\\\\slash\\\"q", "\"",
      "-O evil.txt", "a\tb", "x\\\\ y\\", "@host:1/p?q#f"};
  std::string line = "prog";
  for (const auto &s : samples) line += " " + quoteArgument(s);
  auto argv = splitCommandLine(line);
  ASSERT_EQ(argv.size(), samples.size() + 1);
  for (std::size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(argv[i + 1], samples[i]);
  EXPECT_EQ(quoteArgument("10.0.0.1"), "10.0.0.1");
}

TEST(Encoding, OnlyUnreservedBytesStayAsTheyAre) {
  EXPECT_EQ(percentEncode("Ab9-._~"), "Ab9-._~");
  EXPECT_EQ(percentEncode("p@ss:w/rd?x y"), "p%40ss%3Aw%2Frd%3Fx%20y");
  EXPECT_EQ(percentDecode(percentEncode("\x01\xff%\"")), "\x01\xff%\"");
  EXPECT_EQ(percentDecode("%4"), "%4");
}

TEST(Validation, AddressesAndNames) {
  EXPECT_TRUE(isIpv4Address("10.0.0.255"));
  EXPECT_FALSE(isIpv4Address("10.0.0.256"));
  EXPECT_FALSE(isIpv4Address("10.0.0"));
  EXPECT_FALSE(isIpv4Address("10.0.0.1 --x"));
  EXPECT_FALSE(isIpv4Address("1.2.3.4.5"));
  EXPECT_TRUE(isHostName("vpn-gw_1.example.com"));
  EXPECT_FALSE(isHostName("evil.com/x@gw"));
  EXPECT_FALSE(isHostName(""));
  EXPECT_FALSE(isDomainName("a b"));
}

}  // namespace
}  // namespace dravik
