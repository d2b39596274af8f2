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
  auto r = parse_reply(
      "version=1\nmsgtype=config\nstatus=0\nmessage=hello domain=evil.example\n"
      "presharedkey=secret\nrightsubnet=10.1.0.0/16\ndnsserver=10.1.0.53\n"
      "dnsserver2=0.0.0.0\ndomain=corp.example\nother=1\n");
  EXPECT_TRUE(r.valid());
  EXPECT_FALSE(r.is_status_page());
  EXPECT_EQ(r.message, "hello domain=evil.example");
  EXPECT_EQ(r.presharedkey, "secret");
  EXPECT_EQ(r.rightsubnet, "10.1.0.0/16");
  EXPECT_EQ(r.dnsserver, "10.1.0.53");
  EXPECT_EQ(r.dnsserver2, "0.0.0.0");
  EXPECT_EQ(r.domain, "corp.example");
}

TEST(Reply, LineEndsAreNotPartOfValuesWhateverTheirForm) {
  auto crlf = parse_reply("version=1\r\nmessage=a\r\ndomain=x.example");
  EXPECT_EQ(crlf.message, "a");
  EXPECT_EQ(crlf.domain, "x.example");  // last line without a line end
}

TEST(Reply, LaterLineWithTheSameKeyWins) {
  EXPECT_EQ(parse_reply("message=first\nmessage=second\n").message, "second");
}

TEST(Reply, ValuesAreCutToTheirLimits) {
  auto r =
      parse_reply("version=123456789\nstatus=-123456\nmessage=" + std::string(5000, 'm') + "\ndomain=d\n");
  EXPECT_EQ(r.version, "12345");
  EXPECT_EQ(r.status, "-1234");
  EXPECT_EQ(r.message.size(), GatewayReply::kMaxValue);
  EXPECT_EQ(r.domain, "d");  // the long line's rest is not read as a new line
}

TEST(Reply, ValidityStatusPagesAndStatusNumbers) {
  EXPECT_FALSE(parse_reply("version=0\n").valid());
  EXPECT_FALSE(parse_reply("version=abc\n").valid());
  EXPECT_FALSE(parse_reply("").valid());
  auto page = parse_reply("version=2\nmsgtype=status-page\nstatus=17\n");
  EXPECT_TRUE(page.valid());
  EXPECT_TRUE(page.is_status_page());
  EXPECT_EQ(page.status_number(), 17);
  EXPECT_FALSE(parse_reply("status=x\n").status_number());
  EXPECT_FALSE(parse_reply("version=1\nmsgtype=config\n").provisions());
}

TEST(HttpStatus, NumberAfterTheLastAwaitingResponse) {
  EXPECT_EQ(parse_http_status("HTTP request sent, awaiting response... 200 OK\n"), 200);
  EXPECT_EQ(parse_http_status("HTTP request sent, awaiting response... 401 Unauthorized\n"
                              "Connecting...\nHTTP request sent, awaiting response... 200 OK\n"),
            200);
  EXPECT_EQ(parse_http_status("Connecting to host... failed: Connection refused.\n"), -2);
  EXPECT_EQ(parse_http_status("HTTP request sent, awaiting response... \nRead error\n"), -2);
  EXPECT_EQ(read_http_status("/nonexistent/dravik/log.txt"), -1);
}

TEST(WorkDirForms, BackslashPiecesGiveBothForms) {
  auto dir = std::get<WorkDir>(make_work_dir("C:\\Program Files\\RW"));
  EXPECT_EQ(dir.command_form, "C:\\\\Program Files\\\\RW\\\\");
  EXPECT_EQ(dir.file_form, "C:/Program Files/RW/");
  auto doubled = std::get<WorkDir>(make_work_dir("C:\\\\rw\\"));
  EXPECT_EQ(doubled.file_form, "C:/rw/");
}

TEST(WorkDirForms, EmptyOrQuotedValuesAreRefused) {
  EXPECT_EQ(std::get<int>(make_work_dir("")), kBadWorkDir);
  EXPECT_EQ(std::get<int>(make_work_dir("\\\\\\")), kBadWorkDir);
  EXPECT_EQ(std::get<int>(make_work_dir("C:\\rw\" -e x")), kBadWorkDir);
  EXPECT_EQ(std::get<int>(make_work_dir("C:\\rw\x01")), kBadWorkDir);
}

TEST(RwIni, WorkingDirLineAfterTheFirstWord) {
  EXPECT_EQ(std::get<std::string>(parse_rw_ini("[RW]\r\nworkingDir=C:\\rw  \r\nother=1\n")), "C:\\rw");
  EXPECT_EQ(std::get<int>(parse_rw_ini("[RW]\nother=1\nworkingDir=C:\\rw\n")), kBadWorkDir);
  EXPECT_EQ(std::get<int>(parse_rw_ini("[RW]\n\n")), kIniEmpty);
  EXPECT_EQ(std::get<int>(parse_rw_ini("")), kIniEmpty);
  EXPECT_EQ(std::get<int>(parse_rw_ini("[RW]\nworkingDir=" + std::string(2000, 'a') + "\n")), kBadWorkDir);
}

TEST(RwIni, PathRulesAndFileErrors) {
  WorkArea area;
  std::string backslashed = area.ini_path.string();
  EXPECT_TRUE(std::holds_alternative<WorkDir>(load_work_dir(backslashed)));
  EXPECT_EQ(std::get<int>(load_work_dir(std::string(1024, 'a'))), kIniPathTooLong);
  EXPECT_EQ(std::get<int>(load_work_dir((area.dir / "absent.ini").string())), kIniUnreadable);
  area.write("win.ini", "[RW]\r\nworkingDir=" + area.dir.string() + "\r\n");
  std::string win_style = (area.dir / "win.ini").string();
  for (char &c : win_style)
    if (c == '/') c = '\\';
  auto dir = std::get<WorkDir>(load_work_dir(win_style));
  EXPECT_EQ(dir.file_form, area.dir.string() + "/");
}

TEST(Quoting, EveryArgumentComesBackUnchanged) {
  const std::vector<std::string> samples = {
      "plain",       "",     "two words", "quote\"inside", "trail\\", "back\\\\slash\\\"q", "\"",
      "-O evil.txt", "a\tb", "x\\\\ y\\", "@host:1/p?q#f"};
  std::string line = "prog";
  for (const auto &s : samples) line += " " + quote_argument(s);
  auto argv = split_command_line(line);
  ASSERT_EQ(argv.size(), samples.size() + 1);
  for (std::size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(argv[i + 1], samples[i]);
  EXPECT_EQ(quote_argument("10.0.0.1"), "10.0.0.1");
}

TEST(Encoding, OnlyUnreservedBytesStayAsTheyAre) {
  EXPECT_EQ(percent_encode("Ab9-._~"), "Ab9-._~");
  EXPECT_EQ(percent_encode("p@ss:w/rd?x y"), "p%40ss%3Aw%2Frd%3Fx%20y");
  EXPECT_EQ(percent_decode(percent_encode("\x01\xff%\"")), "\x01\xff%\"");
  EXPECT_EQ(percent_decode("%4"), "%4");
}

TEST(Validation, AddressesAndNames) {
  EXPECT_TRUE(is_ipv4_address("10.0.0.255"));
  EXPECT_FALSE(is_ipv4_address("10.0.0.256"));
  EXPECT_FALSE(is_ipv4_address("10.0.0"));
  EXPECT_FALSE(is_ipv4_address("10.0.0.1 --x"));
  EXPECT_FALSE(is_ipv4_address("1.2.3.4.5"));
  EXPECT_TRUE(is_host_name("vpn-gw_1.example.com"));
  EXPECT_FALSE(is_host_name("evil.com/x@gw"));
  EXPECT_FALSE(is_host_name(""));
  EXPECT_FALSE(is_domain_name("a b"));
}

}  // namespace
}  // namespace dravik
