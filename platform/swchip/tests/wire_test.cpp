// The simulator's socket protocol: encoding and the rejection of malformed datagrams.
#include <gtest/gtest.h>

#include <cerrno>

#include "swgenio_abi.h"
#include "wire.h"

namespace swgenio::wire {
namespace {

TEST(Wire, RequestRoundTrip) {
  const std::vector<uint8_t> record{1, 2, 3, 4, 5, 6, 7, 8};
  const auto datagram = encode_request(k32BitWrite, record);
  ASSERT_EQ(datagram.size(), 20u);
  EXPECT_EQ(datagram[0], 'S');
  EXPECT_EQ(datagram[3], '1');
  const auto decoded = decode_request(datagram);
  ASSERT_EQ(decoded.error, 0);
  EXPECT_EQ(decoded.request.code, k32BitWrite);
  EXPECT_EQ(decoded.request.record, record);
}

TEST(Wire, MalformedRequestsGiveTheErrorToAnswer) {
  EXPECT_EQ(decode_request(std::vector<uint8_t>{1, 2, 3}).error, -EINVAL);
  auto bad_magic = encode_request(k32BitRead, std::vector<uint8_t>(8));
  bad_magic[0] ^= 1;
  EXPECT_EQ(decode_request(bad_magic).error, -EINVAL);
  EXPECT_EQ(decode_request(encode_request(0xc0084799, std::vector<uint8_t>(8))).error, -ENOTTY);
  EXPECT_EQ(decode_request(encode_request(k32BitRead, std::vector<uint8_t>(7))).error, -EINVAL);
  auto lying_length = encode_request(k32BitRead, std::vector<uint8_t>(8));
  lying_length.push_back(0);
  EXPECT_EQ(decode_request(lying_length).error, -EINVAL);
}

TEST(Wire, ReplyRoundTripAndTruncation) {
  const std::vector<uint8_t> record(20, 0xAB);
  auto datagram = encode_reply(-5, record);
  auto reply = decode_reply(datagram);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->result, -5);
  EXPECT_EQ(reply->record, record);
  datagram.pop_back();
  EXPECT_FALSE(decode_reply(datagram));
  EXPECT_FALSE(decode_reply(std::vector<uint8_t>{0, 0, 0}));
}

TEST(Wire, RequestCodesCarryTheirRecordSizes) {
  EXPECT_EQ(request_size(kCpldSpiReadWrite), 20u);
  EXPECT_EQ(request_size(kDriverVersion), 256u);
  EXPECT_EQ(request_direction(k32BitWrite), kDirWrite);
  EXPECT_EQ(request_direction(kCpuGpioGet), kDirWrite | kDirRead);
  EXPECT_EQ(request_direction(kDriverVersion), kDirRead);
}

TEST(WireBatch, RequestAndReplyRoundTrip) {
  const std::vector<BatchOp> ops{{BatchKind::kWrite, false, 2, 0, 0xC0, 0x1234},
                                 {BatchKind::kPoll, false, 2, 0, 0xB0, 7},
                                 {BatchKind::kTest, true, 7, 15, 0xFF, 0x400}};
  const auto datagram = encode_batch_request(ops);
  ASSERT_EQ(datagram.size(), kBatchHeader + 3 * kBatchOpSize);
  EXPECT_TRUE(is_batch(datagram));
  const auto decoded = decode_batch_request(datagram);
  ASSERT_EQ(decoded.error, 0);
  EXPECT_EQ(decoded.ops, ops);

  const std::vector<BatchOpResult> results{{kBatchDone, 0}, {kBatchDone, 1}, {-EIO, 0}};
  const auto reply = decode_batch_reply(encode_batch_reply(0, results), ops.size());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->result, 0);
  EXPECT_EQ(reply->ops, results);
}

TEST(WireBatch, MalformedRequestsAreRefused) {
  const std::vector<BatchOp> one{{BatchKind::kRead, true, 1, 2, 3, 0}};
  auto good = encode_batch_request(one);
  EXPECT_EQ(decode_batch_request(std::vector<uint8_t>(good.begin(), good.begin() + 7)).error, -EINVAL);
  auto empty = good;
  put_u32(empty.data() + 4, 0);
  empty.resize(kBatchHeader);
  EXPECT_EQ(decode_batch_request(empty).error, -EINVAL);
  auto short_ops = good;
  short_ops.pop_back();
  EXPECT_EQ(decode_batch_request(short_ops).error, -EINVAL);
  auto counted_more = good;
  put_u32(counted_more.data() + 4, 2);
  EXPECT_EQ(decode_batch_request(counted_more).error, -EINVAL);
  auto huge_count = good;
  put_u32(huge_count.data() + 4, 0x20000001);  // count * 8 wraps to 8 in 32 bits
  EXPECT_EQ(decode_batch_request(huge_count).error, -EINVAL);
  std::vector<BatchOp> too_many(kMaxBatchOps + 1);
  EXPECT_EQ(decode_batch_request(encode_batch_request(too_many)).error, -EINVAL);
  for (const auto &[offset, byte] :
       std::vector<std::pair<size_t, uint8_t>>{{8, 4}, {8, 0x44}, {9, 8}, {10, 16}}) {
    auto bad = good;
    bad[offset] = byte;
    EXPECT_EQ(decode_batch_request(bad).error, -EINVAL) << offset << " " << int{byte};
    EXPECT_TRUE(decode_batch_request(bad).ops.empty());
  }
}

TEST(WireBatch, RepliesThatCannotAnswerTheBatchAreRefused) {
  const std::vector<BatchOpResult> two{{kBatchDone, 1}, {kBatchDone, 2}};
  EXPECT_FALSE(decode_batch_reply(encode_batch_reply(0, two), 1)) << "more results than ops";
  EXPECT_FALSE(decode_batch_reply(encode_batch_reply(0, two), 3)) << "stopped early without a busy poll";
  EXPECT_FALSE(decode_batch_reply(
      encode_batch_reply(0, std::vector<BatchOpResult>{{kBatchBusy, 1}, {kBatchDone, 2}}), 2));
  EXPECT_FALSE(decode_batch_reply(encode_batch_reply(0, std::vector<BatchOpResult>{{7, 0}}), 1))
      << "unknown result";
  auto cut = encode_batch_reply(0, two);
  cut.pop_back();
  EXPECT_FALSE(decode_batch_reply(cut, 2));
  const auto stopped =
      decode_batch_reply(encode_batch_reply(0, std::vector<BatchOpResult>{{kBatchBusy, 7}}), 3);
  ASSERT_TRUE(stopped);
  EXPECT_EQ(stopped->ops.size(), 1u);
  const auto refused = decode_batch_reply(encode_batch_reply(-EINVAL, {}), 3);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->result, -EINVAL);
}

}  // namespace
}  // namespace swgenio::wire
