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

}  // namespace
}  // namespace swgenio::wire
