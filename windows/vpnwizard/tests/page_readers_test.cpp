#include "page_readers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "fixtures.h"

namespace tunmira {
namespace {

using test::fixture_page;

// A copy of text in a heap block of exactly its size, so that the address sanitizer reports any read
// past the end of the text.
class ExactCopy {
 public:
  explicit ExactCopy(std::string_view text)
      : bytes_(std::make_unique<char[]>(text.size())), size_(text.size()) {
    std::memcpy(bytes_.get(), text.data(), text.size());
  }
  std::string_view view() const { return {bytes_.get(), size_}; }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_;
};

TEST(TunnelListReader, ReadsTheNamesUpToNew) {
  TunnelList list;
  ASSERT_EQ(ParseTunnelList(fixture_page("vpn_main.htm"), list), 1);
  ASSERT_EQ(list.count, 2u);
  EXPECT_EQ(list.names[0], "office");
  EXPECT_EQ(list.names[1], "branch-2");
}

TEST(TunnelListReader, NewAsFirstOptionGivesAnEmptyListAndAFreeName) {
  TunnelList list;
  EXPECT_EQ(CheckTunnelName(fixture_page("vpn_main_new_first.htm"), "never-read", list), kTunnelNameFree);
  EXPECT_EQ(list.count, 0u);
}

TEST(TunnelListReader, FiveTunnelsAreFullEvenForAnExistingName) {
  TunnelList list;
  EXPECT_EQ(CheckTunnelName(fixture_page("vpn_main_full.htm"), "t3", list), kTunnelsFull);
  EXPECT_EQ(list.count, 5u);
  EXPECT_EQ(list.names[4], "t5");
}

TEST(TunnelListReader, AnExistingNameIsRefusedAndCaseCounts) {
  TunnelList list;
  EXPECT_EQ(CheckTunnelName(fixture_page("vpn_main.htm"), "branch-2", list), kTunnelNameUsed);
  EXPECT_EQ(CheckTunnelName(fixture_page("vpn_main.htm"), "Office", list), kTunnelNameFree);
}

TEST(TunnelListReader, AListCutOffBeforeItsEndIsNotRead) {
  TunnelList list;
  list.count = 3;
  EXPECT_EQ(CheckTunnelName(fixture_page("vpn_main_damaged.htm"), "x", list), kTunnelListNotFound);
  EXPECT_EQ(list.count, 0u) << "the list is cleared before it is read";
  EXPECT_EQ(CheckTunnelName(fixture_page("Setup_lan.htm"), "x", list), kTunnelListNotFound);
}

TEST(AddressReaders, ReadTheWanAndLanAddressesAndTheirOctets) {
  std::string address;
  Octets octets;
  ASSERT_EQ(ParseWanIp(fixture_page("vpn_main.htm"), address, octets), 1);
  EXPECT_EQ(address, "203.0.113.7");
  EXPECT_EQ(octets, (Octets{"203", "0", "113", "7"}));
  ASSERT_EQ(ParseLanIp(fixture_page("Setup_lan.htm"), address, octets), 1);
  EXPECT_EQ(address, "192.168.1.1");
  EXPECT_EQ(octets[3], "1");
}

TEST(AddressReaders, OnlyTheFirstMarkerCountsAndFailuresLeaveTheOutputs) {
  std::string address = "kept";
  Octets octets{"a", "b", "c", "d"};
  const std::string page = R"(name="c4_wan_ip" value="300.1.1.1" name="c4_wan_ip" value="1.2.3.4")";
  EXPECT_EQ(ParseWanIp(page, address, octets), 0);
  EXPECT_EQ(ParseLanIp(fixture_page("Setup_lan_damaged.htm"), address, octets), 0);
  EXPECT_EQ(ParseWanIp("name=c4_wan_ip value=\"1.2.3.4\"", address, octets), 0)
      << "the marker has its quotes";
  EXPECT_EQ(address, "kept");
  EXPECT_EQ(octets[0], "a");
}

TEST(AddressReaders, AnAddressWithEmptyPiecesKeepsThemAsOctets) {
  std::string address;
  Octets octets;
  ASSERT_EQ(ParseWanIp(R"("c4_wan_ip" value="1..2.3")", address, octets), 1);
  EXPECT_EQ(octets, (Octets{"1", "", "2", "3"}));
}

TEST(SubnetMaskReader, ReadsTheCellAfterTheMarker) {
  std::string mask;
  Octets octets;
  ASSERT_EQ(ParseSubnetMask(fixture_page("LocalNetwork.htm"), mask, octets), 1);
  EXPECT_EQ(mask, "255.255.255.0");
  EXPECT_EQ(octets[2], "255");
  EXPECT_EQ(ParseSubnetMask(fixture_page("LocalNetwork_bad_mask.htm"), mask, octets), 0)
      << "longer than 15 characters";
  EXPECT_EQ(ParseSubnetMask(fixture_page("vpn_main.htm"), mask, octets), 0);
}

TEST(TunnelCountReader, TakesTheValueBeforeTheMarkerWithinTheLimit) {
  int count = -1;
  EXPECT_EQ(ParseTunnelCount(R"(<input value="3"> 3 Tunnel(s) Defined)", 5, count), 1);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(ParseTunnelCount(R"(<input value="6"> Tunnel(s) Defined)", 5, count), 0);
  EXPECT_EQ(ParseTunnelCount(R"(<input value="-1"> Tunnel(s) Defined)", 5, count), 0);
  EXPECT_EQ(ParseTunnelCount(R"(<input value="4294967299"> Tunnel(s) Defined)", 5, count), 0);
  EXPECT_EQ(ParseTunnelCount(R"(Tunnel(s) Defined <input value="1">)", 5, count), 0)
      << "value= must come first";
  EXPECT_EQ(count, 3);
}

TEST(TunnelStatusReader, ReadsEveryRowsNameAndRemoteGateway) {
  TunnelStatusTable table;
  int count = -1;
  int error_lines = 0;
  ASSERT_EQ(ParseTunnelStatus(fixture_page("vpn_summary.htm"), table, count, 5,
                              [&](std::string_view) { ++error_lines; }),
            1);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(table[0].name, "office");
  EXPECT_EQ(table[0].remote_gateway, "198.51.100.20");
  EXPECT_EQ(table[1].name, "branch-2");
  EXPECT_EQ(table[1].remote_gateway, "192.0.2.44");
  EXPECT_EQ(error_lines, 0);
}

TEST(TunnelStatusReader, NoTunnelsIsAnEmptyTable) {
  TunnelStatusTable table;
  int count = -1;
  ASSERT_EQ(ParseTunnelStatus(fixture_page("vpn_summary_empty.htm"), table, count, 5, nullptr), 1);
  EXPECT_EQ(count, 0);
}

TEST(TunnelStatusReader, ARowOutOfOrderIsStoredAndReported) {
  TunnelStatusTable table;
  int count = 0;
  std::vector<std::string> lines;
  ASSERT_EQ(ParseTunnelStatus(fixture_page("vpn_summary_mismatch.htm"), table, count, 5,
                              [&](std::string_view line) { lines.emplace_back(line); }),
            1);
  EXPECT_EQ(table[1].name, "branch-2");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Tunnel index mismatch! Something is wrong about wizard!\r\n");
}

TEST(TunnelStatusReader, ACutOffPageIsNotRead) {
  TunnelStatusTable table;
  int count = 7;
  EXPECT_EQ(ParseTunnelStatus(fixture_page("vpn_summary_damaged.htm"), table, count, 5, nullptr), 0);
  EXPECT_EQ(count, 7);
}

TEST(TunnelStatusReader, AnOversizedPageIsReadOnlyWithinItsText) {
  TunnelStatusTable table;
  int count = 0;
  const std::string page = fixture_page("vpn_summary_oversized.htm");
  ASSERT_GT(page.size(), kPageCapacity);
  EXPECT_EQ(ParseTunnelStatus(page, table, count, 5, nullptr), 1);
  EXPECT_EQ(count, 2);
}

TEST(TunnelStatusReader, ARowNeedsSevenCellsAValidIndexAndAnAddress) {
  int index = 0;
  std::string name, remote;
  const std::string good =
      R"(<tr align="center"><td>2</td><td>n</td><td></td><td></td><td></td><td></td><td>1.2.3.4</td></tr>)";
  ASSERT_EQ(ParseTunnelRow(good, index, name, remote), 1);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(name, "n");
  EXPECT_EQ(remote, "1.2.3.4");
  EXPECT_EQ(ParseTunnelRow(R"(<tr><td>1</td><td>n</td><td>1.2.3.4</td></tr>)", index, name, remote), 0);
  std::string bad_index = good;
  bad_index.replace(bad_index.find(">2<"), 3, ">6<");
  EXPECT_EQ(ParseTunnelRow(bad_index, index, name, remote), 0);
  std::string bad_address = good;
  bad_address.replace(bad_address.find("1.2.3.4"), 7, "1.2.3.x");
  EXPECT_EQ(ParseTunnelRow(bad_address, index, name, remote), 0);
  EXPECT_EQ(ParseTunnelRow(good.substr(0, good.find("1.2.3.4") + 8), index, name, remote), 0)
      << "the address must end before the row's last byte";
}

TEST(TunnelStatusReader, ARowTagRightAfterARowEndIsNotCounted) {
  // The byte after a matched "/tr>" is never examined, so a "<tr" glued to it does not open a level:
  // the second inner row's end then closes the section before the count.
  const std::string glued =
      "<table><tr><td>Tunnel Status <table><tr><td>a</td></tr><tr><td>b</td></tr></table>"
      " <input value=\"0\"> Tunnel(s) Defined</td></tr></table>";
  TunnelStatusTable table;
  int count = 9;
  EXPECT_EQ(ParseTunnelStatus(glued, table, count, 5, nullptr), 0);
  std::string spaced = glued;
  spaced.insert(spaced.find("<tr><td>b"), "\n");
  EXPECT_EQ(ParseTunnelStatus(spaced, table, count, 5, nullptr), 1);
  EXPECT_EQ(count, 0);
}

TEST(ConnectReplyReaders, TheA8RowDecides) {
  EXPECT_EQ(CheckConnectResult(fixture_page("connect_a8_up.htm")), 1);
  EXPECT_EQ(CheckConnectResult(fixture_page("connect_a8_down.htm")), 0);
  EXPECT_EQ(CheckStatusUp(fixture_page("connect_a8_up.htm")), 0)
      << "no eighth Status needed for the row check";
  EXPECT_EQ(CheckConnectResult(R"(<tr id="a8"><td>Status</td><td>Up</td>)"), 0) << "row not closed";
}

TEST(ConnectReplyReaders, TheEighthStatusDecidesWithoutAnA8Row) {
  EXPECT_EQ(CheckStatusUp(fixture_page("connect_status_up.htm")), 1);
  EXPECT_EQ(CheckStatusUp(fixture_page("connect_status_down.htm")), 0);
  EXPECT_EQ(CheckConnectResult(fixture_page("connect_status_up.htm")), 0);
}

// Every reader over every prefix of every fixture: none may read past the text it was given.
TEST(UntrustedPages, NoReaderRunsPastTheText) {
  const char *names[] = {"vpn_main.htm",      "vpn_main_full.htm",    "Setup_lan.htm",
                         "LocalNetwork.htm",  "vpn_summary.htm",      "vpn_summary_mismatch.htm",
                         "connect_a8_up.htm", "connect_status_up.htm"};
  for (const char *name : names) {
    const std::string page = fixture_page(name);
    for (std::size_t length = 0; length <= page.size(); ++length) {
      const ExactCopy copy(std::string_view(page).substr(0, length));
      const std::string_view text = copy.view();
      TunnelList list;
      std::string address;
      Octets octets;
      TunnelStatusTable table;
      int count = 0;
      CheckTunnelName(text, "x", list);
      ParseWanIp(text, address, octets);
      ParseLanIp(text, address, octets);
      ParseSubnetMask(text, address, octets);
      ParseTunnelCount(text, 5, count);
      ParseTunnelStatus(text, table, count, 5, nullptr);
      CheckStatusUp(text);
      CheckConnectResult(text);
    }
  }
}

TEST(ErrorFile, LinesAreAppendedAtTheEnd) {
  const auto path =
      std::filesystem::temp_directory_path() / ("tunmira-error-" + std::to_string(::getpid()) + ".txt");
  append_line_to_file(path.string(), kIndexMismatchLine);
  append_line_to_file(path.string(), kIndexMismatchLine);
  std::ifstream in(path, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, std::string(kIndexMismatchLine) + std::string(kIndexMismatchLine));
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace tunmira
