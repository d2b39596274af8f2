// Captures written for tests read back frame for frame.
#include "pcap_file.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// A capture of the records as given, each `length` bytes of `byte`.
std::vector<unsigned char> capture_of_records(const std::vector<uint32_t> &lengths, unsigned char byte = 0) {
  std::vector<unsigned char> capture = pcap::serialize({});
  for (uint32_t length : lengths) {
    for (uint32_t word : {0u, 0u, length, length})
      for (int i = 0; i < 4; ++i) capture.push_back(static_cast<unsigned char>(word >> (8 * i)));
    capture.insert(capture.end(), length, byte);
  }
  return capture;
}

// Why the capture is refused; empty when it is read.
std::string refusal(const std::vector<unsigned char> &capture) {
  try {
    pcap::parse_capture(capture);
  } catch (const std::runtime_error &e) {
    return e.what();
  }
  return "";
}

TEST(PcapFile, WrittenCaptureReadsBackTheSameFrames) {
  std::vector<pcap::CapturedFrame> frames(2);
  frames[0].seconds = 1700000000;
  frames[0].microseconds = 250000;
  frames[0].ethertype = 0x0800;
  frames[0].payload = {0x45, 0, 0, 20};
  frames[1].seconds = 1700000001;
  frames[1].ethertype = 0x8864;
  frames[1].payload = {0x11, 0, 0x12, 0x34, 0, 2, 0, 0x21};
  auto back = pcap::parse_capture(pcap::serialize(frames)).frames;
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
  EXPECT_TRUE(pcap::parse_capture(pcap::serialize({})).frames.empty());
}

// A capture must end where a record ends: a cut record header is refused however much of it is
// there, as a cut record is.
TEST(PcapFile, CaptureCutInsideARecordIsRefused) {
  std::vector<unsigned char> whole = capture_of_records({20, 20});
  size_t second_record = 24 + 16 + 20;
  EXPECT_EQ(refusal(whole), "");
  for (size_t cut : {1u, 8u, 15u}) {
    std::vector<unsigned char> capture(whole.begin(), whole.begin() + static_cast<long>(second_record + cut));
    EXPECT_EQ(refusal(capture), "truncated record header") << cut << " bytes of the header";
  }
  EXPECT_EQ(refusal({whole.begin(), whole.begin() + static_cast<long>(second_record + 16)}),
            "truncated record");
  EXPECT_EQ(refusal({whole.begin(), whole.end() - 1}), "truncated record");
}

// Records too short for an Ethernet header are not frames, but the reader says how many it left
// out; a bare header is a frame with nothing behind it.
TEST(PcapFile, RecordsShorterThanAnEthernetHeaderAreCounted) {
  pcap::Capture capture = pcap::parse_capture(capture_of_records({0, 13, 14, 1}, 0x08));
  EXPECT_EQ(capture.too_short, 3u);
  ASSERT_EQ(capture.frames.size(), 1u);
  EXPECT_EQ(capture.frames[0].ethertype, 0x0808);
  EXPECT_TRUE(capture.frames[0].payload.empty());
  EXPECT_EQ(pcap::parse_capture(pcap::serialize({})).too_short, 0u);
}

}  // namespace
