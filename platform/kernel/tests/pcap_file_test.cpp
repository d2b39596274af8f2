// Captures written for tests read back frame for frame.
#include "pcap_file.h"

#include <gtest/gtest.h>

namespace {

TEST(PcapFile, WrittenCaptureReadsBackTheSameFrames) {
  std::vector<pcap::CapturedFrame> frames(2);
  frames[0].seconds = 1700000000;
  frames[0].microseconds = 250000;
  frames[0].ethertype = 0x0800;
  frames[0].payload = {0x45, 0, 0, 20};
  frames[1].seconds = 1700000001;
  frames[1].ethertype = 0x8864;
  frames[1].payload = {0x11, 0, 0x12, 0x34, 0, 2, 0, 0x21};
  auto back = pcap::parse(pcap::serialize(frames));
  ASSERT_EQ(back.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(back[i].seconds, frames[i].seconds);
    EXPECT_EQ(back[i].microseconds, frames[i].microseconds);
    EXPECT_EQ(back[i].ethertype, frames[i].ethertype);
    EXPECT_EQ(back[i].payload, frames[i].payload);
  }
}

TEST(PcapFile, EmptyCaptureHasOnlyTheHeader) {
  EXPECT_EQ(pcap::serialize({}).size(), 24u);
  EXPECT_TRUE(pcap::parse(pcap::serialize({})).empty());
}

}  // namespace
