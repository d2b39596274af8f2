// Socket protocol between the access layer's socket back end and the chip simulator.
//
// One SOCK_SEQPACKET connection stands for one open of the device; every driver request is one
// datagram each way, all integers little-endian:
//   request: u32 magic "SWG1", u32 request code, u32 record length, the record
//   reply:   i32 result (0 or a negative errno), u32 record length, the record the driver returns
// The record length of a request is always the request code's size; a reply carries the record only
// for requests that return data.
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

void put_u32(uint8_t* out, uint32_t value);
uint32_t get_u32(const uint8_t* in);

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

}  // namespace swgenio::wire
