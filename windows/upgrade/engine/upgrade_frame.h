// The raw upgrade frame exchanged with the router's firmware receiver, and its byte codec.
// Every 16-bit field after the EtherType is little-endian; the codec never depends on host layout.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace upgrade {

using Mac = std::array<std::uint8_t, 6>;

inline constexpr Mac kBroadcastMac{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

inline constexpr std::size_t kMaxFrameSize = 1514;   // a full Ethernet frame without checksum
inline constexpr std::size_t kFrameHeaderSize = 24;  // addresses, EtherType and five 16-bit fields
inline constexpr std::size_t kBareRequestSize = 64;  // requests without data go out zero-padded
inline constexpr std::size_t kBlockSize = 512;       // image bytes per program or verify frame
inline constexpr std::size_t kInfoBlockSize = 56;    // DeviceInfoBlock
inline constexpr std::size_t kStatusSize = 2;        // status word of an acknowledgement

inline constexpr std::uint16_t kEtherTypeVariant1 = 0x8888;
inline constexpr std::uint16_t kEtherTypeVariant0 = 0x0000;

enum Opcode : std::uint16_t {
  kOpInfo = 0,  // discover / information query and its reply
  kOpStart = 1,
  kOpProgram = 2,
  kOpEnd = 3,
  kOpVerify = 4,
  kOpStartAlt = 5,  // some receivers acknowledge a start with 5
};

using FrameBuffer = std::array<std::uint8_t, kMaxFrameSize>;

struct FrameFields {
  Mac destination{};
  Mac source{};
  std::uint16_t ether_type = 0;
  std::uint16_t opcode = 0;
  std::uint16_t sequence = 0;
  std::uint16_t remainder = 0;
  std::uint16_t segment = 0;
  std::uint16_t length = 0;  // the data length field as carried, not the bytes present
};

// A received frame whose fixed header was present. `payload` holds the bytes actually received after
// the header, which may be fewer or more than the length field says.
struct ParsedFrame {
  FrameFields fields;
  std::span<const std::uint8_t> payload;

  // The status word of an acknowledgement, when its two bytes were really received.
  std::optional<std::uint16_t> status() const;
};

std::uint16_t ether_type_of_variant(std::uint16_t variant);

// Zero-fills `out` and writes the header and data. Returns the number of bytes to send: 24 + data
// length for frames with data, 64 for bare requests. Data beyond kBlockSize is refused (returns 0).
std::size_t encode_frame(const FrameFields &fields, std::span<const std::uint8_t> data, FrameBuffer &out);

// nullopt when the frame is shorter than the fixed header.
std::optional<ParsedFrame> parse_frame(std::span<const std::uint8_t> frame);

void put_le16(std::uint8_t *at, std::uint16_t value);
std::uint16_t get_le16(const std::uint8_t *at);

}  // namespace upgrade
