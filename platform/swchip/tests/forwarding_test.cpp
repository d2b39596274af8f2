// The chip model's forwarding of frames from its ports, driven by its registers as the switch API sets them.
#include <gtest/gtest.h>

#include <map>

#include "chip_model.h"

namespace swchip {
namespace {

constexpr uint32_t kAllPorts = 0x5F;

std::vector<uint8_t> frame(std::vector<uint8_t> destination, uint8_t source_last, size_t length = 60) {
  std::vector<uint8_t> f(length, 0x77);
  std::copy(destination.begin(), destination.end(), f.begin());
  const uint8_t source[6] = {0x02, 0, 0, 0, 0, source_last};
  std::copy(source, source + 6, f.begin() + 6);
  f[12] = 0x08;
  f[13] = 0x00;
  return f;
}
const std::vector<uint8_t> kBroadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const std::vector<uint8_t> kBridgeGroup = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x00};

// Ports open, VLAN 1 with every port, flooding to all, every port forwarding and carrying every code.
class Forwarding : public ::testing::Test {
 protected:
  void SetUp() override {
    chip.egress = [this](unsigned port, const std::vector<uint8_t> &f) { out[port].push_back(f); };
    for (unsigned c : {0u, 1u, 2u, 3u, 4u, 6u}) {
      chip.write(1, c, 0, 1u << 16 | 1u << 28);
      chip.write(1, c, 0x7A, 1);
      chip.write(2, 0, 0x80 + c, kAllPorts & ~(1u << c));
    }
    chip.write(2, 0, 0xE0, 1);
    chip.write(2, 0, 0xD0, 2 | (0x5Fu << 2 & 0x17C));
    chip.write(2, 0, 0x48, kAllPorts);
    chip.write(2, 0, 0x10, kAllPorts);
    for (unsigned code = 1; code <= 16; ++code) chip.write(2, 0, 0x2F + code, kAllPorts);
  }
  std::map<unsigned, std::vector<std::vector<uint8_t>>> out;
  ChipModel chip;
};

TEST_F(Forwarding, BroadcastFloodsToEveryOtherPortOnce) {
  chip.receive_frame(0, frame(kBroadcast, 1));
  for (unsigned c : {1u, 2u, 3u, 4u, 6u}) EXPECT_EQ(out[c].size(), 1u) << c;
  EXPECT_TRUE(out[0].empty());
  EXPECT_EQ(out[1][0], frame(kBroadcast, 1));
}

TEST_F(Forwarding, BlockedSourceForwardsNothingButReservedFramesReachTheCpu) {
  chip.write(2, 0, 0x80, 0);  // port blocked: empty source mask
  chip.receive_frame(0, frame(kBroadcast, 1));
  EXPECT_TRUE(out.empty());
  chip.receive_frame(0, frame(kBridgeGroup, 1));
  EXPECT_EQ(chip.cpu_queue_length(1), 0u) << "capture not registered";
  chip.write(2, 0, 0xA0, 1u << 16);
  chip.receive_frame(0, frame(kBridgeGroup, 1));
  EXPECT_EQ(chip.cpu_queue_length(1), 1u);
  EXPECT_TRUE(out.empty()) << "captured frames are not forwarded";
}

TEST_F(Forwarding, LearnedAddressIsReachedOnItsPortAlone) {
  chip.write(2, 0, 0x0D, kAllPorts);
  for (unsigned c : {0u, 1u, 2u, 3u, 4u, 6u}) chip.write(2, 0, 0x40 + c, 1u << c);
  chip.receive_frame(3, frame(kBroadcast, 0x33));
  out.clear();
  chip.receive_frame(0, frame({0x02, 0, 0, 0, 0, 0x33}, 1));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[3].size(), 1u);
}

TEST_F(Forwarding, AwarePortsTakeTagsOffAndPutThemOnAsConfigured) {
  chip.write(1, 6, 0, 1u << 16 | 1u << 28 | 1u << 14);  // port 6 aware
  chip.write(1, 6, 0x24, 1);                            // and tags everything it sends
  chip.write(1, 0, 0, 1u << 16 | 1u << 28 | 1u << 14);  // port 1 aware, untags VLAN 1
  chip.write(1, 0, 0x24, 1 | 8 | 1u << 4);
  std::vector<uint8_t> tagged = frame(kBroadcast, 6);
  const uint8_t tag[4] = {0x81, 0x00, 0x00, 0x01};
  tagged.insert(tagged.begin() + 12, tag, tag + 4);
  chip.receive_frame(6, tagged);
  ASSERT_EQ(out[0].size(), 1u);
  EXPECT_EQ(out[0][0], frame(kBroadcast, 6)) << "untagged for VLAN 1";
  EXPECT_EQ(out[1][0], frame(kBroadcast, 6)) << "an unaware port never tags";
  out.clear();
  chip.receive_frame(0, frame(kBroadcast, 1));
  ASSERT_EQ(out[6].size(), 1u);
  EXPECT_EQ(out[6][0].size(), 64u);
  EXPECT_EQ(out[6][0][15], 0x01);
}

TEST_F(Forwarding, TaggedFrameToTheCpuArrivesWithoutItsTag) {
  chip.write(2, 0, 0xA0, 1u << 3);  // 01-80-C2-00-00-03 only
  chip.write(1, 2, 0, 1u << 16 | 1u << 28 | 1u << 14);
  std::vector<uint8_t> eapol = frame({0x01, 0x80, 0xC2, 0x00, 0x00, 0x03}, 2, 64);
  eapol[12] = 0x81;
  eapol[13] = 0x00;
  eapol[14] = 0xA0;  // priority 5, VID 7
  eapol[15] = 0x07;
  eapol[16] = 0x88;
  eapol[17] = 0x8E;
  chip.receive_frame(2, eapol);
  ASSERT_EQ(chip.cpu_queue_length(1), 1u);
  EXPECT_EQ(chip.peek(4, 0, 0) >> 16, 60u + 4) << "tag removed, FCS counted";
  EXPECT_EQ(chip.peek(4, 0, 1) >> 16, 0xA007u);
  chip.receive_frame(2, frame({0x01, 0x80, 0xC2, 0x00, 0x00, 0x00}, 2));
  EXPECT_EQ(chip.cpu_queue_length(1), 1u) << "bridge group address not registered";
}

TEST_F(Forwarding, ClosedPortsAndMalformedFramesAreDropped) {
  chip.write(1, 0, 0, 0);
  chip.receive_frame(0, frame(kBroadcast, 1));
  chip.receive_frame(1, std::vector<uint8_t>(13, 0xFF));
  chip.receive_frame(7, frame(kBroadcast, 1));
  chip.write(1, 2, 0x10, 1518);
  chip.receive_frame(2, frame(kBroadcast, 1, 1515));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(chip.ingress_drops(), 4u);
  chip.receive_frame(2, frame(kBroadcast, 1, 1514));
  EXPECT_EQ(out[1].size(), 1u);
  EXPECT_TRUE(out[0].empty()) << "a closed port sends nothing either";
  EXPECT_TRUE(out[2].empty()) << "never back out of its own port";
}

}  // namespace
}  // namespace swchip
