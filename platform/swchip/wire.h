// Socket protocol between the access layer's socket back end and the chip simulator.
//
// One SOCK_SEQPACKET connection stands for one open of the device; every driver request is one
// datagram each way, all integers little-endian:
//   request: u32 magic "SWG1", u32 request code, u32 record length, the record
//   reply:   i32 result (0 or a negative errno), u32 record length, the record the driver returns
// The record length of a request is always the request code's size; a reply carries the record only
// for requests that return data.
//
// A batch carries many SPI register accesses in one datagram each way, so that a walk over a chip table
// costs a few round trips instead of one per access:
//   request: u32 magic "SWB1", u32 op count (1..kMaxBatchOps), per op 8 bytes:
//            u8 kind (BatchKind, | kBatchGroupEnd on the last op of a group), u8 block, u8 subblock,
//            u8 register, u32 value (write: the value; poll and test: the mask)
//   reply:   i32 result (0 or a negative errno for a malformed batch), u32 ops handled, per op handled:
//            i32 result (BatchResult or a negative errno), u32 value read
// The simulator runs the ops in order. A failed access ends its group: the group's further ops are
// skipped. A test whose bits are all clear ends its group the same way (not an error). A poll that reads
// any of its bits set stops the whole batch after that op, so the client can keep polling on its own and
// send the rest later; `ops handled` then counts up to and including the poll.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace swgenio::wire {

inline constexpr uint32_t kMagic = 0x31475753;  // "SWG1" in memory order
inline constexpr size_t kRequestHeader = 12;
inline constexpr size_t kReplyHeader = 8;
inline constexpr size_t kMaxDatagram = 512;

struct Request {
  uint32_t code = 0;
  std::vector<uint8_t> record;
};

struct Reply {
  int32_t result = 0;
  std::vector<uint8_t> record;
};

void put_u32(uint8_t *out, uint32_t value);
uint32_t get_u32(const uint8_t *in);

std::vector<uint8_t> encode_request(uint32_t code, std::span<const uint8_t> record);
std::vector<uint8_t> encode_reply(int32_t result, std::span<const uint8_t> record);

// Decoding checks every length against the datagram; malformed input gives the negative errno the
// peer should answer with.
struct DecodedRequest {
  int error = 0;  // 0, or -EINVAL (malformed) / -ENOTTY (unknown request)
  Request request;
};
DecodedRequest decode_request(std::span<const uint8_t> datagram);
std::optional<Reply> decode_reply(std::span<const uint8_t> datagram);

// True for the request codes the driver knows.
bool known_request(uint32_t code);

inline constexpr uint32_t kBatchMagic = 0x31425753;  // "SWB1" in memory order
inline constexpr size_t kBatchHeader = 8;
inline constexpr size_t kBatchOpSize = 8;
inline constexpr size_t kMaxBatchOps = 1024;
inline constexpr size_t kMaxBatchDatagram = kBatchHeader + kMaxBatchOps * kBatchOpSize;

enum class BatchKind : uint8_t { kWrite = 0, kRead = 1, kPoll = 2, kTest = 3 };
inline constexpr uint8_t kBatchGroupEnd = 0x80;

struct BatchOp {
  BatchKind kind = BatchKind::kRead;
  bool group_end = false;
  uint8_t block = 0;
  uint8_t subblock = 0;
  uint8_t reg = 0;
  uint32_t value = 0;  // write: the value; poll and test: the mask

  bool operator==(const BatchOp &) const = default;
};

// Result of one op in a batch reply, besides the negative errno of a failed access.
enum BatchResult : int32_t { kBatchDone = 0, kBatchSkipped = 1, kBatchBusy = 2 };

struct BatchOpResult {
  int32_t result = kBatchDone;
  uint32_t value = 0;

  bool operator==(const BatchOpResult &) const = default;
};

struct BatchReply {
  int32_t result = 0;
  std::vector<BatchOpResult> ops;
};

// True when the datagram starts with the batch magic (a batch request, well formed or not).
bool is_batch(std::span<const uint8_t> datagram);
std::vector<uint8_t> encode_batch_request(std::span<const BatchOp> ops);
// Checks count, length, kinds and addresses; malformed input gives -EINVAL with no ops.
struct DecodedBatch {
  int error = 0;
  std::vector<BatchOp> ops;
};
DecodedBatch decode_batch_request(std::span<const uint8_t> datagram);
std::vector<uint8_t> encode_batch_reply(int32_t result, std::span<const BatchOpResult> ops);
// A reply for a batch of `sent` ops: never more results than ops sent.
std::optional<BatchReply> decode_batch_reply(std::span<const uint8_t> datagram, size_t sent);

}  // namespace swgenio::wire
