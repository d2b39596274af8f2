#include "vorn_checks.h"

#include <cstring>
#include <string_view>

#include "vorn_descriptor.h"
#include "vorn_log.h"
#include "vorn_queue.h"

namespace vorn {

namespace {

constexpr uint32_t kMaxTotalLength = 1522;
constexpr uint32_t kMaxTrailingData = 512;
constexpr size_t kFtpOpcodeScan = 1026;
constexpr size_t kFtpAddressText = 16;
constexpr size_t kHostNameMax = 63;

uint32_t header_length(const unsigned char *ip) {
  return (ip[0] & 0x0f) * 4u;
}
uint32_t total_length(const unsigned char *ip) {
  return be16(ip + 2);
}
// Bytes of the transport part; the IP check has made sure the header lies inside the total.
uint32_t transport_length(const unsigned char *ip) {
  return total_length(ip) - header_length(ip);
}

// The last two bytes of the dotted form, read as a number.
bool low16_reserved(const unsigned char *address) {
  uint16_t low = be16(address + 2);
  return low == 0 || low == 0xffff;
}
bool either_address_reserved(const unsigned char *ip) {
  return low16_reserved(ip + 12) || low16_reserved(ip + 16);
}
bool same_addresses_and_ports(const unsigned char *ip, const unsigned char *l4) {
  return load32(ip + 12) == load32(ip + 16) && be16(l4) == be16(l4 + 2);
}

int failed(const unsigned char *ip, uint8_t offset) {
  kkAddVornLog(load32(ip + 12), static_cast<uint16_t>(event_base() + offset), kCategoryOther);
  return kIntegrityFailed;
}

bool tcp_flags_acceptable(uint8_t flags) {
  if (flags == 0) return false;
  if (flags & kAck) return true;
  bool syn_with_fin_or_rst = (flags & kSyn) && (flags & (kFin | kRst));
  bool fin_with_rst = (flags & kFin) && (flags & kRst);
  return !syn_with_fin_or_rst && !fin_with_rst && !(flags & (kPsh | kUrg));
}

bool udp_port_echoes(uint16_t port) {
  switch (port) {
    case 7:
    case 9:
    case 19:
    case 22:
    case 53:
    case 109:
    case 110:
      return true;
    default:
      return false;
  }
}

// Options that always have one length: the length byte they must carry, else 0.
uint8_t fixed_option_length(uint8_t type) {
  switch (type) {
    case 11:
    case 12:
    case 136:
    case 148:
      return 4;
    case 82:
      return 12;
    case 130:
      return 11;
    default:
      return 0;
  }
}

bool option_ends_walk(uint8_t type) {
  switch (type) {
    case 0:
    case 10:
    case 15:
    case 142:
    case 144:
    case 147:
    case 150:
    case 151:
    case 152:
    case 205:
      return true;
    default:
      return false;
  }
}

bool option_has_length(uint8_t type) {
  switch (type) {
    case 7:
    case 68:
    case 131:
    case 133:
    case 134:
    case 137:
    case 145:
    case 149:
      return true;
    default:
      return false;
  }
}

// "a.b.c.d" (each number 1..3 digits, at most 255) as stored in an IP header; 0 when not an address.
uint32_t dotted_address(const char *text, size_t length) {
  uint32_t address = 0;
  unsigned parts = 0, digits = 0, value = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i == length || text[i] == '.') {
      if (digits == 0 || value > 255 || parts == 4) return 0;
      address |= value << (8 * parts++);
      digits = value = 0;
    } else if (text[i] >= '0' && text[i] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      ++digits;
    } else {
      return 0;
    }
  }
  return parts == 4 ? address : 0;
}

bool is_rpc_port(uint16_t port) {
  return port == 111 || port == 32768 || port == 32769 || (port >= 32771 && port <= 32779);
}

bool blank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r';
}
unsigned char fold(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Bounded text being built.
struct Text {
  unsigned char *data;
  size_t capacity;
  size_t length = 0;
  void put(unsigned char c) {
    if (length < capacity) data[length++] = c;
  }
};

// "%XX" decoded and "\" turned into "/".
size_t decode_url(const unsigned char *url, size_t length, unsigned char *out, size_t capacity) {
  Text text{out, capacity};
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = url[i];
    if (c == '%' && i + 2 < length && hex_value(static_cast<char>(url[i + 1])) >= 0 &&
        hex_value(static_cast<char>(url[i + 2])) >= 0) {
      int value = OneByteUTF8(static_cast<char>(url[i + 1]), static_cast<char>(url[i + 2]));
      text.put(value < 0 ? 0xff : fold(static_cast<unsigned char>(value)));
      i += 2;
    } else {
      text.put(c == '\\' ? '/' : c);
    }
  }
  return text.length;
}

bool starts(const unsigned char *p, size_t left, const char *s, size_t n) {
  return left >= n && std::memcmp(p, s, n) == 0;
}

// "//" -> "/", "/./" -> "/", "/../" drops the segment before it (never more than there is).
size_t resolve_segments(const unsigned char *in, size_t length, unsigned char *out) {
  size_t n = 0;
  for (size_t i = 0; i < length;) {
    const unsigned char *p = in + i;
    size_t left = length - i;
    if (starts(p, left, "//", 2) || starts(p, left, "/./", 3)) {
      i += *p == '/' && p[1] == '/' ? 1 : 2;
    } else if (starts(p, left, "/../", 4)) {
      while (n > 0 && out[n - 1] != '/') --n;
      if (n > 0) --n;
      i += 3;
    } else {
      out[n++] = in[i++];
    }
  }
  return n;
}

// The value of the first "host:" line after the request line, or an empty range.
void find_host(const unsigned char *p, size_t from, size_t length, size_t *start, size_t *size) {
  *start = *size = 0;
  for (size_t line = from; line < length;) {
    size_t i = line;
    while (i < length && blank(p[i])) ++i;
    if (length - i >= 5 && fold(p[i]) == 'h' && fold(p[i + 1]) == 'o' && fold(p[i + 2]) == 's' &&
        fold(p[i + 3]) == 't' && p[i + 4] == ':') {
      i += 5;
      while (i < length && blank(p[i])) ++i;
      *start = i;
      while (i < length && !blank(p[i]) && p[i] != '\n' && i - *start < kHostNameMax) ++i;
      *size = i - *start;
      return;
    }
    while (line < length && p[line] != '\n') ++line;
    ++line;
  }
}

// A private buffer for a decoded form of `packet`: the bytes up to its payload (link, IP and TCP
// headers) copied, then room for `payload_room` bytes, which the caller decodes straight into. The
// payload itself is never copied just to be decoded. Null when memory runs out.
sk_buff *private_copy_headers(const sk_buff *skb, const PacketView &packet, size_t payload_room) {
  auto prefix = static_cast<size_t>(packet.payload - skb->data);
  sk_buff *copy = alloc_skb(static_cast<unsigned>(prefix + payload_room), GFP_ATOMIC);
  if (!copy) return nullptr;
  std::memcpy(copy->data, skb->data, prefix);
  copy->nh = copy->data + (packet.ip - skb->data);
  copy->protocol = skb->protocol;
  copy->dev = skb->dev;
  copy->conn = skb->conn;
  return copy;
}

unsigned char *payload_of_copy(sk_buff *copy, const PacketView &original) {
  return copy->nh + (original.payload - original.ip);
}

// Hands the copy to the engine, or releases it. True when queued.
bool queue_private_copy(sk_buff *copy) {
  PacketView view;
  int code = 0;
  if (locate_ip_packet(copy, &view) && view.protocol == kTcp &&
      kkSignatureMatch_NonBlocking(copy, view, kPrivateCopyMark, &code) == 0)
    return true;
  kfree_skb(copy);
  return false;
}

}  // namespace

int ParseIPOption(const unsigned char *options, size_t length, uint32_t *flags) {
  for (size_t i = 0; i < length;) {
    uint8_t type = options[i];
    *flags |= 1u << (type & 0x1f);
    if (option_ends_walk(type)) return 1;
    if (type == 1) {
      ++i;
      continue;
    }
    uint8_t fixed = fixed_option_length(type);
    if (!fixed && !option_has_length(type)) return 1;
    if (i + 1 >= length) return -1;
    uint8_t size = options[i + 1];
    if (fixed && size != fixed) return -1;
    if (size == 0) return 1;
    // An option must hold its own type and length and end inside the options area.
    if (size < 2 || size > length - i) return -1;
    i += size;
  }
  return 1;
}

int kkIpIntegrityCheck(const unsigned char *ip, size_t available) {
  if (available < 20) return failed(ip, kIpShort);
  if ((ip[0] >> 4) != 4) return failed(ip, kIpVersion);
  uint32_t total = total_length(ip);
  uint32_t header = header_length(ip);
  if (total < 20 || total > kMaxTotalLength) return failed(ip, kIpLength);
  if (available < header || available < total) return failed(ip, kIpShort);
  if (total > 64 && available - total > kMaxTrailingData) return failed(ip, kIpTrailing);
  // A header below 20 bytes would put the transport header inside the IP header.
  if (total < header || header < 20) return failed(ip, kIpLength);
  if (ip[6] & 0x80) return failed(ip, kIpReserved);
  uint32_t seen = 0;
  if (header > 20 && ParseIPOption(ip + 20, header - 20, &seen) < 0) return failed(ip, kIpOption);
  if ((ip[6] & 0x20) || (be16(ip + 6) & 0x1fff)) return kIntegrityFragment;
  return kIntegrityPassed;
}

int kkTcpIntegrityCheck(const unsigned char *ip) {
  const unsigned char *tcp = ip + header_length(ip);
  uint32_t size = transport_length(ip);
  if (size < 20 || (tcp[12] >> 4) < 5 || size < (tcp[12] >> 4) * 4u) return failed(ip, kTcpShort);
  if (same_addresses_and_ports(ip, tcp)) return failed(ip, kTcpLand);
  if (either_address_reserved(ip)) return failed(ip, kTcpAddress);
  if (!tcp_flags_acceptable(tcp[13] & 0x3f)) return failed(ip, kTcpFlags);
  return kIntegrityPassed;
}

int kkUdpIntegrityCheck(const unsigned char *ip) {
  const unsigned char *udp = ip + header_length(ip);
  if (transport_length(ip) <= 7) return failed(ip, kUdpShort);
  if (same_addresses_and_ports(ip, udp)) return failed(ip, kUdpLand);
  if (either_address_reserved(ip) && udp_port_echoes(be16(udp + 2))) return failed(ip, kUdpBroadcast);
  return kIntegrityPassed;
}

int kkIcmpIntegrityCheck(const unsigned char *ip) {
  const unsigned char *icmp = ip + header_length(ip);
  uint32_t size = transport_length(ip);
  if (size <= 7) return failed(ip, kIcmpShort);
  if (either_address_reserved(ip)) return failed(ip, kIcmpAddress);
  if (icmp[0] == 8 && icmp[1] == 0 && size >= 1033) return failed(ip, kIcmpLarge);
  return kIntegrityPassed;
}

int kkIgmpIntegrityCheck(const unsigned char *ip) {
  // Below 8 bytes the difference wraps and fails as well.
  if (transport_length(ip) - 8u >= 33) return failed(ip, kIgmpLength);
  return kIntegrityPassed;
}

int kkIntegrityCheck(const sk_buff *skb) {
  const unsigned char *ip = skb->nh;
  int result = kkIpIntegrityCheck(ip, static_cast<size_t>(skb->data + skb->len - ip));
  if (result != kIntegrityPassed) return result;
  switch (ip[9]) {
    case kTcp:
      return kkTcpIntegrityCheck(ip);
    case kUdp:
      return kkUdpIntegrityCheck(ip);
    case kIcmp:
      return kkIcmpIntegrityCheck(ip);
    case kIgmp:
      return kkIgmpIntegrityCheck(ip);
    default:
      return kIntegrityPassed;
  }
}

int kkFtpBounceDetect(const PacketView &packet) {
  const unsigned char *payload = packet.payload;
  size_t length = packet.payload_length;
  if (length <= 17 || std::memcmp(payload, "PORT", 4) != 0) return 0;
  char text[kFtpAddressText];
  size_t used = 0;
  unsigned commas = 0;
  for (size_t i = 5; i < length; ++i) {
    char c = static_cast<char>(payload[i]);
    if (c == ',' && ++commas == 4) {
      uint32_t address = dotted_address(text, used);
      return address != 0 && address != packet.source();
    }
    if (used == kFtpAddressText) return 0;
    text[used++] = c == ',' ? '.' : c;
  }
  return 0;
}

int kkFtpCmdOpCodeParse(const PacketView &packet) {
  size_t scan = packet.payload_length < kFtpOpcodeScan ? packet.payload_length : kFtpOpcodeScan;
  return std::memchr(packet.payload, 0xff, scan) != nullptr;
}

int kkAnomalyFtpCheck(const PacketView &packet) {
  if (!kkFtpBounceDetect(packet) && !kkFtpCmdOpCodeParse(packet)) return 0;
  kkAddVornLog(packet, static_cast<uint16_t>(event_base() + kFtpAnomaly), kCategoryOther);
  return 1;
}

int ConvertRPC(const unsigned char *payload, const uint16_t *length) {
  uint32_t mark = be32(payload);
  if (!(mark & 0x80000000u)) return 1;
  if ((mark & 0x7fffffffu) + 4 != *length) return 2;
  return 0;
}

int PreprocRpcDecode(const PacketView &packet) {
  if (!is_rpc_port(packet.destination_port()) || packet.payload_length < 32) return 0;
  auto length = static_cast<uint16_t>(packet.payload_length);
  return ConvertRPC(packet.payload, &length);
}

int kkAnomalyRpcCheck(const PacketView &packet) {
  if (PreprocRpcDecode(packet) <= 0) return 0;
  kkAddVornLog(packet, static_cast<uint16_t>(event_base() + kRpcAnomaly), kCategoryOther);
  return 1;
}

int isHTTPMethod(const char *word, size_t length) {
  // Lengths known at compile time: this runs for words of every HTTP packet.
  static constexpr std::string_view kMethods[] = {
      "get",   "put",    "post",   "head",   "copy",    "move",    "lock",     "link",     "trace",
      "mkcol", "delete", "unlink", "unlock", "options", "connect", "propfind", "proppatch"};
  for (std::string_view method : kMethods)
    if (method.size() == length && std::memcmp(method.data(), word, length) == 0) return 1;
  return 0;
}

int OneByteUTF8(char high, char low) {
  int h = hex_value(high), l = hex_value(low);
  if (h < 0 || l < 0 || h > 7) return -1;
  int value = h * 16 + l;
  return value >= 127 ? -1 : value;
}

size_t normalise_http_request(const unsigned char *p, size_t length, unsigned char *out, size_t capacity) {
  size_t start = 0;
  while (start < length && blank(p[start])) ++start;
  size_t line_end = start;
  while (line_end < length && p[line_end] != '\n') ++line_end;
  size_t end = line_end;
  while (end > start && blank(p[end - 1])) --end;
  if (end - start <= 4) return 0;
  // A trailing "HTTP/x.y" word goes with the blanks before it.
  size_t last_word = end;
  while (last_word > start && !blank(p[last_word - 1])) --last_word;
  if (last_word > start && end - last_word >= 4 && std::memcmp(p + last_word, "HTTP", 4) == 0) {
    end = last_word;
    while (end > start && blank(p[end - 1])) --end;
  }
  char method[10];
  size_t word = 0;
  while (word < sizeof method && start + word < end && !blank(p[start + word])) {
    method[word] = static_cast<char>(fold(p[start + word]));
    ++word;
  }
  if (word < 3 || word > 9 || !isHTTPMethod(method, word)) return 0;
  size_t url = start + word;
  while (url < end && blank(p[url])) ++url;
  size_t url_end = url;
  while (url_end < end && !blank(p[url_end])) ++url_end;

  unsigned char decoded[kHttpTextSize];
  size_t decoded_length = decode_url(p + url, url_end - url, decoded, sizeof decoded);
  unsigned char resolved[kHttpTextSize];
  size_t resolved_length = resolve_segments(decoded, decoded_length, resolved);

  size_t host = 0, host_length = 0;
  find_host(p, line_end < length ? line_end + 1 : length, length, &host, &host_length);
  Text text{out, capacity};
  for (size_t i = 0; i < host_length; ++i) text.put(p[host + i]);
  if (resolved_length == 0 || resolved[0] != '/') text.put('/');
  for (size_t i = 0; i < resolved_length; ++i) text.put(resolved[i]);
  return text.length;
}

size_t strip_telnet_commands(const unsigned char *p, size_t length, unsigned char *out, size_t capacity) {
  Text text{out, capacity};
  for (size_t i = 0; i < length;) {
    if (p[i] != 0xff) {
      text.put(p[i++]);
      continue;
    }
    if (i + 1 >= length) break;  // a command cut off by the end of the segment
    uint8_t command = p[i + 1];
    if (command == 0xff) {
      text.put(0xff);
      i += 2;
    } else if (command == 247) {
      if (text.length > 0) --text.length;  // erase character: nothing to erase at the start
      i += 2;
    } else if ((command >= 240 && command <= 246) || command == 248 || command == 249) {
      i += 2;
    } else if (command == 250) {
      const void *end = std::memchr(p + i + 2, 240, length - (i + 2));
      i = end ? static_cast<size_t>(static_cast<const unsigned char *>(end) - p) + 1 : length;
    } else {
      i += 3;
    }
  }
  return text.length;
}

// The copy holds the normalised text followed by the rest of the original payload.
void kkAnomalyHttpCheck_NonBlocking(const sk_buff *skb, const PacketView &packet, int *code) {
  size_t payload_length = packet.payload_length;
  sk_buff *copy = payload_length > 5 ? private_copy_headers(skb, packet, payload_length) : nullptr;
  if (!copy) {
    *code = -1;
    return;
  }
  unsigned char *text = payload_of_copy(copy, packet);
  size_t length = normalise_http_request(packet.payload, payload_length, text,
                                         payload_length < kHttpTextSize ? payload_length : kHttpTextSize);
  if (length == 0) {
    kfree_skb(copy);
    *code = -1;
    return;
  }
  std::memcpy(text + length, packet.payload + length, payload_length - length);
  if (!queue_private_copy(copy)) *code = -1;
}

// The copy ends where the cleaned data ends.
void kkAnomalyTelnetCheck_NonBlocking(const sk_buff *skb, const PacketView &packet, int *code) {
  if (packet.payload_length <= 2 || !std::memchr(packet.payload, 0xff, packet.payload_length)) {
    *code = -1;
    return;
  }
  size_t room = packet.payload_length < kTelnetTextSize ? packet.payload_length : kTelnetTextSize;
  sk_buff *copy = private_copy_headers(skb, packet, room);
  if (!copy) {
    *code = -1;
    return;
  }
  size_t length =
      strip_telnet_commands(packet.payload, packet.payload_length, payload_of_copy(copy, packet), room);
  auto total = static_cast<uint16_t>(packet.header_length + packet.transport_header_length + length);
  copy->nh[2] = static_cast<unsigned char>(total >> 8);
  copy->nh[3] = static_cast<unsigned char>(total);
  if (!queue_private_copy(copy)) *code = -1;
}

}  // namespace vorn
