// The frames two engines exchange, as Wireshark's dissectors read them: every LACPDU and marker
// response decodes without expert warnings and with the fields the engines hold.
#include "lacp_test_host.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace lacp;
using namespace lacp_test;

namespace {

void put32(std::ofstream &out, uint32_t v) {
  out.write(reinterpret_cast<const char *>(&v), 4);
}
void put16(std::ofstream &out, uint16_t v) {
  out.write(reinterpret_cast<const char *>(&v), 2);
}

// A little-endian pcap file of Ethernet frames.
void write_pcap(const std::string &path, const std::vector<SentFrame> &frames) {
  std::ofstream out(path, std::ios::binary);
  put32(out, 0xa1b2c3d4);
  put16(out, 2);
  put16(out, 4);
  put32(out, 0);
  put32(out, 0);
  put32(out, 65535);
  put32(out, 1);
  uint32_t second = 0;
  for (const SentFrame &f : frames) {
    put32(out, ++second);
    put32(out, 0);
    put32(out, static_cast<uint32_t>(f.bytes.size()));
    put32(out, static_cast<uint32_t>(f.bytes.size()));
    out.write(reinterpret_cast<const char *>(f.bytes.data()), static_cast<std::streamsize>(f.bytes.size()));
  }
}

std::vector<std::string> run_lines(const std::string &command) {
  std::vector<std::string> lines;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return lines;
  std::array<char, 4096> line{};
  while (fgets(line.data(), static_cast<int>(line.size()), pipe)) {
    std::string text(line.data());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    lines.push_back(text);
  }
  EXPECT_EQ(pclose(pipe), 0) << command;
  return lines;
}

std::string colon_mac(const Mac &mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                mac[5]);
  return text;
}

TEST(LacpOnTheWire, DissectorReadsEveryFrameAsTheEnginesMeantIt) {
  ASSERT_EQ(system("command -v tshark >/dev/null"), 0) << "tshark is needed (package tshark)";
  BackToBack net;
  net.configure_all(1);
  net.link(1, 1);
  net.link(2, 1);
  net.seconds(8);
  std::vector<uint8_t> marker(kPduLength, 0);
  const Mac b1 = net.host_b.port_mac(1);
  std::copy(kSlowProtocolsMac.begin(), kSlowProtocolsMac.end(), marker.begin());
  std::copy(b1.begin(), b1.end(), marker.begin() + 6);
  marker[12] = 0x88;
  marker[13] = 0x09;
  marker[14] = kSubtypeMarker;
  marker[15] = 1;
  marker[16] = kMarkerInformation;
  marker[17] = 16;
  marker[19] = 1;
  std::copy(b1.begin(), b1.end(), marker.begin() + 20);
  marker[29] = 42;
  net.a.receive(1, marker.data(), marker.size());

  std::string path = "/tmp/lacp_tshark_" + std::to_string(getpid()) + ".pcap";
  write_pcap(path, net.host_a.sent);
  const std::string read = "tshark -n -r " + path + " ";
  auto warnings = run_lines(
      read + "-Y '_ws.expert.severity >= warning || _ws.malformed' -T fields -e frame.number 2>/dev/null");
  EXPECT_TRUE(warnings.empty()) << "frames with dissector warnings: "
                                << (warnings.empty() ? "" : warnings[0]);

  // One line per frame: subtype, then the LACPDU fields, then the marker fields (first occurrences).
  auto frames =
      run_lines(read +
                "-T fields -E separator=, -E occurrence=f -e slow.subtype -e lacp.actor.sysid "
                "-e lacp.actor.key -e lacp.actor.port -e lacp.actor.state -e lacp.partner.sysid "
                "-e lacp.partner.port -e lacp.partner.key -e marker.tlvType "
                "-e marker.requesterPort -e marker.requesterSystem -e marker.requesterTransId 2>/dev/null");
  ASSERT_EQ(frames.size(), net.host_a.sent.size());
  const std::string own = colon_mac(net.host_a.system_mac());
  std::string last_port1;
  for (size_t i = 0; i < frames.size(); ++i) {
    const std::string &line = frames[i];
    if (net.host_a.sent[i].bytes[kOffSubtype] == kSubtypeMarker) {
      EXPECT_EQ(line, "0x02,,,,,,,,0x02,1," + colon_mac(b1) + ",42");
      continue;
    }
    EXPECT_EQ(line.substr(0, 5 + own.size()), "0x01," + own) << "frame " << i + 1;
    if (net.host_a.sent[i].port == 1) last_port1 = line;
  }
  // Port 1 at the end: aggregating, in sync, collecting and distributing, with B's port 1 as partner.
  EXPECT_EQ(last_port1, "0x01," + own + ",259,1,0x3f," + colon_mac(net.host_b.system_mac()) + ",1,259,,,,");
  std::remove(path.c_str());
}

}  // namespace
