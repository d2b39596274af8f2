#include "rstp_bpdu.h"
#include "rstp_engine.h"

#include <gtest/gtest.h>

#include <vector>

namespace rstp {
namespace {

const Mac kSource{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

Bpdu sample_rst() {
  Bpdu b;
  b.version = 2;
  b.type = kBpduRst;
  b.flags = kFlagTc | kFlagProposal | kBpduRoleDesignated << kFlagRoleShift | kFlagAgreement;
  b.vector.root = {0x1001, {0x02, 0, 0, 0, 1, 1}};
  b.vector.root_path_cost = 20000;
  b.vector.designated_bridge = {0x8001, {0x02, 0, 0, 0, 2, 1}};
  b.vector.designated_port = 0x8003;
  b.times = {1, 20, 15, 2};
  return b;
}

TEST(BpduCodec, RstBpduGoldenBytes) {
  uint8_t frame[kMaxBpduFrame];
  ASSERT_EQ(encode_bpdu(sample_rst(), kSource, frame), 53u);
  const std::vector<uint8_t> expected{0x01, 0x80, 0xC2, 0x00, 0x00, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44,
                                      0x55, 0x00, 0x27, 0x42, 0x42, 0x03, 0x00, 0x00, 0x02, 0x02, 0x4F,
                                      0x10, 0x01, 0x02, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x4E,
                                      0x20, 0x80, 0x01, 0x02, 0x00, 0x00, 0x00, 0x02, 0x01, 0x80, 0x03,
                                      0x01, 0x00, 0x14, 0x00, 0x02, 0x00, 0x0F, 0x00, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(frame, frame + 53), expected);
}

TEST(BpduCodec, ConfigAndTcnLengths) {
  uint8_t frame[kMaxBpduFrame];
  Bpdu b = sample_rst();
  b.type = kBpduConfig;
  b.version = 0;
  EXPECT_EQ(encode_bpdu(b, kSource, frame), 52u);
  EXPECT_EQ(frame[13], 38);
  b.type = kBpduTcn;
  EXPECT_EQ(encode_bpdu(b, kSource, frame), 21u);
  EXPECT_EQ(frame[13], 7);
  EXPECT_EQ(frame[20], 0x80);
}

TEST(BpduCodec, DecodeRoundTripsAPaddedFrame) {
  uint8_t frame[64] = {};
  encode_bpdu(sample_rst(), kSource, frame);
  Bpdu out;
  ASSERT_EQ(decode_bpdu(frame, 60, out), Decode::kOk);
  EXPECT_EQ(out.vector.root, sample_rst().vector.root);
  EXPECT_EQ(out.vector.designated_port, 0x8003);
  EXPECT_EQ(out.times, sample_rst().times);
  EXPECT_EQ(out.role(), kBpduRoleDesignated);
}

TEST(BpduCodec, RejectsFramesThatAreNotSpanningTree) {
  uint8_t frame[64] = {};
  encode_bpdu(sample_rst(), kSource, frame);
  Bpdu out;
  frame[16] = 0x13;
  EXPECT_EQ(decode_bpdu(frame, 60, out), Decode::kUnrecognised);
  frame[16] = 0x03;
  frame[18] = 1;  // protocol identifier
  EXPECT_EQ(decode_bpdu(frame, 60, out), Decode::kUnrecognised);
  frame[18] = 0;
  frame[20] = 0x05;
  EXPECT_EQ(decode_bpdu(frame, 60, out), Decode::kUnrecognised);
  frame[20] = kBpduRst;
  frame[19] = 0;  // an RST BPDU needs version 2
  EXPECT_EQ(decode_bpdu(frame, 60, out), Decode::kUnrecognised);
}

TEST(BpduCodec, LengthFieldMustCoverTheBpduAndStayInsideTheFrame) {
  uint8_t frame[64] = {};
  encode_bpdu(sample_rst(), kSource, frame);
  Bpdu out;
  frame[13] = 38;  // claims a configuration BPDU's length for an RST BPDU
  EXPECT_EQ(decode_bpdu(frame, 60, out), Decode::kIllegal);
  frame[12] = 0x05;
  frame[13] = 0xDC;
  EXPECT_EQ(decode_bpdu(frame, 60, out), Decode::kIllegal);
  EXPECT_EQ(decode_bpdu(frame, 10, out), Decode::kIllegal);
}

TEST(BpduCodec, ReceivedTimesAreClampedToUsableRanges) {
  uint8_t frame[64] = {};
  Bpdu b = sample_rst();
  b.times = {3, 0, 0, 0};
  encode_bpdu(b, kSource, frame);
  Bpdu out;
  ASSERT_EQ(decode_bpdu(frame, 60, out), Decode::kOk);
  EXPECT_EQ(out.times, (Times{3, kMinMaxAge, kMinForwardDelay, kMinHello}));
  b.times = {0, 200, 200, 200};
  encode_bpdu(b, kSource, frame);
  ASSERT_EQ(decode_bpdu(frame, 60, out), Decode::kOk);
  EXPECT_EQ(out.times, (Times{0, kMaxMaxAge, kMaxForwardDelay, kMaxHello}));
}

TEST(PriorityVectors, CompareFieldByFieldSmallerIsBetter) {
  PriorityVector a;
  a.root = {0x8000, {0, 0, 0, 0, 0, 2}};
  PriorityVector b = a;
  EXPECT_EQ(compare(a, b), Order::kEqual);
  b.root.mac[5] = 1;
  EXPECT_EQ(compare(a, b), Order::kWorse);
  b = a;
  b.root.priority = 0x7000;
  b.root_path_cost = 99;
  EXPECT_EQ(compare(a, b), Order::kWorse);
  b = a;
  b.root_path_cost = 1;
  EXPECT_EQ(compare(a, b), Order::kBetter);
  b = a;
  b.designated_port = 1;
  EXPECT_EQ(compare(b, a), Order::kWorse);
  b = a;
  a.bridge_port = 2;
  b.bridge_port = 3;
  EXPECT_EQ(compare(a, b), Order::kBetter);
}

TEST(PathCost, FollowsTheLinkSpeed) {
  EXPECT_EQ(path_cost_for_speed(10), 2000000u);
  EXPECT_EQ(path_cost_for_speed(100), 200000u);
  EXPECT_EQ(path_cost_for_speed(1000), 20000u);
  EXPECT_EQ(path_cost_for_speed(200), 100000u);  // two aggregated 100 Mbit/s links
  EXPECT_EQ(path_cost_for_speed(0), 200000000u);
  EXPECT_EQ(path_cost_for_speed(100000000), 2u);
}

}  // namespace
}  // namespace rstp
