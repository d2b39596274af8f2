#include "packet_builder.h"

#include <arpa/inet.h>

#include <cstring>

#include "vorn_tracker.h"

namespace vorn_test {

namespace {
void put16(std::vector<unsigned char> &b, size_t at, uint16_t v) {
  b[at] = static_cast<unsigned char>(v >> 8);
  b[at + 1] = static_cast<unsigned char>(v);
}
void put32(std::vector<unsigned char> &b, size_t at, uint32_t v) {
  put16(b, at, static_cast<uint16_t>(v >> 16));
  put16(b, at + 2, static_cast<uint16_t>(v));
}
}  // namespace

uint32_t address_as_stored(const std::string &dotted) {
  in_addr a{};
  inet_pton(AF_INET, dotted.c_str(), &a);
  return a.s_addr;
}

namespace {
uint32_t address_sum(const std::string &dotted) {
  uint32_t stored = address_as_stored(dotted);  // its bytes, read little-endian on this host
  return stored + (stored >> 16);
}
uint16_t port_field(uint16_t port) {  // the port's header bytes read little-endian
  return static_cast<uint16_t>(port << 8 | port >> 8);
}
}  // namespace

uint32_t summed_slot(const Packet &packet) {
  uint32_t sum = address_sum(packet.source) + address_sum(packet.destination) +
                 port_field(packet.source_port) + port_field(packet.destination_port);
  return (sum << 2) & 0xffff;
}

std::vector<Packet> acks_summing_like(const Packet &victim, const std::string &from, size_t count) {
  std::vector<Packet> acks;
  uint32_t wanted = summed_slot(victim) >> 2;
  for (size_t i = 0; i < count; ++i) {
    auto port = static_cast<uint16_t>(2000 + i);
    Packet ack = Packet().from(from, 0).to(victim.destination, port).flags(0x10).carrying("");
    uint32_t others = address_sum(from) + address_sum(victim.destination) + port_field(port);
    // A source port field that brings the sum to the wanted slot, in the upper half of the ports.
    auto field = static_cast<uint16_t>(((wanted - others) & 0x3fff) | 0x8000);
    ack.source_port = port_field(field);
    acks.push_back(ack);
  }
  return acks;
}

uint32_t slot_of(const Packet &packet) {
  auto bytes = packet.bytes();
  uint8_t key[12];
  std::memcpy(key, &bytes[12], 8);       // source and destination address
  std::memcpy(key + 8, &bytes[22], 2);   // destination port
  std::memcpy(key + 10, &bytes[20], 2);  // source port
  return vorn::BKTcpConnectionHash(key);
}

std::vector<Packet> sharing_slot_with(const Packet &packet, size_t count) {
  uint32_t slot = slot_of(packet);
  std::vector<Packet> found;
  for (uint32_t source_port = 1024; found.size() < count && source_port <= 0xffff; ++source_port) {
    for (uint32_t port = 1; found.size() < count && port < 1024; ++port) {
      Packet candidate = Packet(packet).from(packet.source, static_cast<uint16_t>(source_port));
      candidate.destination_port = static_cast<uint16_t>(port);
      if (candidate.source_port != packet.source_port && slot_of(candidate) == slot)
        found.push_back(candidate);
    }
  }
  return found;
}

std::vector<unsigned char> Packet::bytes() const {
  size_t transport = protocol == 6 ? 20 : (protocol == 17 || protocol == 1) ? 8 : 0;
  std::vector<unsigned char> b(20 + transport + payload.size(), 0);
  b[0] = 0x45;
  put16(b, 2, static_cast<uint16_t>(b.size()));
  put16(b, 4, identification);
  b[8] = ttl;
  b[9] = protocol;
  uint32_t s = address_as_stored(source);
  uint32_t d = address_as_stored(destination);
  std::memcpy(&b[12], &s, 4);
  std::memcpy(&b[16], &d, 4);
  if (protocol == 6) {
    put16(b, 20, source_port);
    put16(b, 22, destination_port);
    put32(b, 24, sequence);
    put32(b, 28, acknowledgement);
    b[32] = 5 << 4;
    b[33] = tcp_flags;
    put16(b, 34, window);
  } else if (protocol == 17) {
    put16(b, 20, source_port);
    put16(b, 22, destination_port);
    put16(b, 24, static_cast<uint16_t>(8 + payload.size()));
  } else if (protocol == 1) {
    b[20] = icmp_type;
    put16(b, 24, 0x1234);
    put16(b, 26, 1);
  }
  std::memcpy(b.data() + 20 + transport, payload.data(), payload.size());
  return b;
}

std::vector<unsigned char> pppoe(const std::vector<unsigned char> &ip, bool one_byte_protocol,
                                 uint16_t protocol) {
  std::vector<unsigned char> b = {0x11, 0x00, 0x12, 0x34, 0, 0};
  if (one_byte_protocol) {
    b.push_back(static_cast<unsigned char>(protocol));
  } else {
    b.push_back(static_cast<unsigned char>(protocol >> 8));
    b.push_back(static_cast<unsigned char>(protocol));
  }
  uint16_t length = static_cast<uint16_t>(b.size() - 6 + ip.size());
  b[4] = static_cast<unsigned char>(length >> 8);
  b[5] = static_cast<unsigned char>(length);
  b.insert(b.end(), ip.begin(), ip.end());
  return b;
}

sk_buff *frame(const std::vector<unsigned char> &bytes, uint16_t ethertype, const std::string &device) {
  return kern::make_frame(device, ethertype, bytes.data(), bytes.size());
}

}  // namespace vorn_test
