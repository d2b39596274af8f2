#include "vorn_packet.h"

#include "vorn_module.h"

namespace vorn {

namespace {

bool has_ports(uint8_t protocol) {
  return protocol == kTcp || protocol == kUdp;
}
}  // namespace

uint32_t PacketView::source() const {
  return load32(ip + 12);
}
uint32_t PacketView::destination() const {
  return load32(ip + 16);
}
uint16_t PacketView::source_port() const {
  return transport && has_ports(protocol) ? be16(transport) : 0;
}
uint16_t PacketView::destination_port() const {
  return transport && has_ports(protocol) ? be16(transport + 2) : 0;
}
uint8_t PacketView::tcp_flags() const {
  return transport && protocol == kTcp ? transport[13] & 0x3f : 0;
}

bool parse_ipv4(const unsigned char *ip, size_t available, PacketView *view) {
  *view = PacketView{};
  if (available < 20 || (ip[0] >> 4) != 4) return false;
  uint32_t header = (ip[0] & 0x0f) * 4u;
  uint32_t total = be16(ip + 2);
  if (header < 20 || header > total || total > available) return false;
  view->ip = ip;
  view->header_length = header;
  view->total_length = total;
  view->protocol = ip[9];
  const unsigned char *transport = ip + header;
  uint32_t remaining = total - header;
  switch (view->protocol) {
    case kTcp: {
      if (remaining < 20) return false;
      uint32_t offset = (transport[12] >> 4) * 4u;
      if (offset < 20 || offset > remaining) return false;
      view->transport_header_length = offset;
      break;
    }
    case kUdp:
    case kIcmp:
      if (remaining < 8) return false;
      view->transport_header_length = 8;
      break;
    default:
      view->transport_header_length = 0;
      break;
  }
  view->transport = view->transport_header_length ? transport : nullptr;
  view->payload = transport + view->transport_header_length;
  view->payload_length = remaining - view->transport_header_length;
  return true;
}

bool locate_ip_packet(const sk_buff *skb, PacketView *packet) {
  if (!skb->nh || skb->nh < skb->data || skb->nh > skb->data + skb->len) return false;
  return parse_ipv4(skb->nh, static_cast<size_t>(skb->data + skb->len - skb->nh), packet);
}

}  // namespace vorn
