// Crafted IPv4 packets (TCP, UDP, ICMP, others), optionally inside a PPPoE session header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kservices.h"

namespace vorn_test {

struct Packet {
  std::string source = "10.0.0.1";
  std::string destination = "10.0.0.2";
  uint8_t protocol = 6;
  uint16_t source_port = 40000;
  uint16_t destination_port = 80;
  uint8_t tcp_flags = 0x18;  // PSH+ACK
  uint32_t sequence = 1000;
  uint32_t acknowledgement = 2000;
  uint16_t window = 512;
  uint8_t ttl = 64;
  uint16_t identification = 1;
  uint8_t icmp_type = 8;
  std::string payload;

  Packet &from(const std::string &address, uint16_t port) {
    source = address;
    source_port = port;
    return *this;
  }
  Packet &to(const std::string &address, uint16_t port) {
    destination = address;
    destination_port = port;
    return *this;
  }
  Packet &flags(uint8_t f) {
    tcp_flags = f;
    return *this;
  }
  Packet &carrying(const std::string &text) {
    payload = text;
    return *this;
  }
  Packet &udp() {
    protocol = 17;
    return *this;
  }
  Packet &icmp() {
    protocol = 1;
    return *this;
  }
  // The packet turned around: addresses and ports swapped.
  Packet reply() const {
    Packet r = *this;
    r.source = destination;
    r.destination = source;
    r.source_port = destination_port;
    r.destination_port = source_port;
    return r;
  }

  std::vector<unsigned char> bytes() const;
};

uint32_t address_as_stored(const std::string &dotted);

// The connection-table slot a sender can work out from a TCP packet with no secret: the stored
// addresses and port fields read as little-endian numbers and summed, shifted to a multiple of 4.
uint32_t summed_slot(const Packet &packet);
// `count` bare ACKs from `from` to the server of `victim`, each to a port of its own, whose summed
// slots all equal the victim's: a sender's try at filling the slots ahead of the victim's connection.
std::vector<Packet> acks_summing_like(const Packet &victim, const std::string &from, size_t count);
// The slot index the running tracker gives a TCP packet's connection.
uint32_t slot_of(const Packet &packet);
// `count` packets between the same two hosts as `packet`, on other ports, whose connections share its
// slot index: found by trying port pairs, as only the tracker knows its hash's seed.
std::vector<Packet> sharing_slot_with(const Packet &packet, size_t count);

// PPPoE session header (code 0) and PPP protocol field of one or two bytes around an IP packet.
std::vector<unsigned char> pppoe(const std::vector<unsigned char> &ip, bool one_byte_protocol,
                                 uint16_t protocol = 0x21);

sk_buff *frame(const std::vector<unsigned char> &bytes, uint16_t ethertype = ETH_P_IP,
               const std::string &device = "eth0");

}  // namespace vorn_test
