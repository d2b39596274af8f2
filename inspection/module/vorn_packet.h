// A bounded view of a received IPv4 packet: every field the module reads lies inside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kservices.h"

namespace vorn {

enum IpProtocol : uint8_t { kIcmp = 1, kIgmp = 2, kTcp = 6, kUdp = 17 };
enum TcpFlag : uint8_t { kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10, kUrg = 0x20 };

struct PacketView {
  const unsigned char *ip = nullptr;
  uint32_t header_length = 0;  // IP header bytes
  uint32_t total_length = 0;   // IP total length, never beyond the buffer
  uint8_t protocol = 0;
  const unsigned char *transport = nullptr;  // null when the protocol's header is not complete
  uint32_t transport_header_length = 0;      // TCP: data offset bytes; UDP and ICMP: 8
  const unsigned char *payload = nullptr;    // what the engine scans
  uint32_t payload_length = 0;

  uint32_t source() const;       // as stored in the header (first octet in the lowest byte)
  uint32_t destination() const;  // likewise
  uint16_t source_port() const;  // numeric; 0 without a TCP or UDP header
  uint16_t destination_port() const;
  uint8_t tcp_flags() const;
};

// Parses the IPv4 packet at `ip` with `available` bytes. False for a packet the module cannot read
// safely: not version 4, header shorter than 20 bytes or longer than the packet, total length below
// the header or beyond the buffer, or a TCP/UDP/ICMP header cut short.
bool parse_ipv4(const unsigned char *ip, size_t available, PacketView *view);

// Finds the IP packet in a frame whose link header has been removed: the IPv4 header at skb->nh, to
// the end of the buffer. False when skb->nh lies outside the buffer or the packet is unreadable.
bool locate_ip_packet(const sk_buff *skb, PacketView *packet);

}  // namespace vorn
