// Protocol integrity checks of every IPv4 packet and the application anomaly checks of a few TCP
// services (FTP, RPC), plus the HTTP and Telnet normalisers that queue a decoded private copy.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vorn_module.h"
#include "vorn_packet.h"

namespace vorn {

enum IntegrityResult : int { kIntegrityPassed = 0, kIntegrityFailed = 1, kIntegrityFragment = 2 };

// Attack id offsets from the rule set's event base; every event here has category 6.
enum CheckOffset : uint8_t {
  kIpShort = 1,
  kIpVersion = 2,
  kIpLength = 3,
  kIpTrailing = 4,
  kIpReserved = 5,
  kIpOption = 7,
  kTcpShort = 21,
  kTcpLand = 22,
  kTcpAddress = 23,
  kTcpFlags = 24,
  kUdpShort = 42,
  kUdpLand = 43,
  kUdpBroadcast = 44,
  kIcmpShort = 52,
  kIcmpLarge = 53,
  kIcmpAddress = 54,
  kIgmpLength = 72,
  kFtpAnomaly = 92,
  kRpcAnomaly = 94,
};
constexpr uint8_t kCategoryOther = 6;

// Application anomaly entries of the application table.
constexpr uint8_t kAnomalyHttp = 201;
constexpr uint8_t kAnomalyFtp = 202;
constexpr uint8_t kAnomalyTelnet = 203;
constexpr uint8_t kAnomalyRpc = 204;

constexpr size_t kHttpTextSize = 1024;
constexpr size_t kTelnetTextSize = 1536;

// The IPv4 packet at skb->nh, to the end of the buffer: 0 passed, 1 failed (logged), 2 fragment.
int kkIntegrityCheck(const sk_buff *skb);
// The same on raw bytes; `available` counts the bytes from `ip` to the end of the buffer.
int kkIpIntegrityCheck(const unsigned char *ip, size_t available);
int kkTcpIntegrityCheck(const unsigned char *ip);
int kkUdpIntegrityCheck(const unsigned char *ip);
int kkIcmpIntegrityCheck(const unsigned char *ip);
int kkIgmpIntegrityCheck(const unsigned char *ip);
// Walks the options area; 1, or -1 for a malformed option. `flags` collects the option numbers seen.
int ParseIPOption(const unsigned char *options, size_t length, uint32_t *flags);

// FTP command anomalies: 1 drop (logged), 0 pass.
int kkAnomalyFtpCheck(const PacketView &packet);
int kkFtpBounceDetect(const PacketView &packet);
int kkFtpCmdOpCodeParse(const PacketView &packet);

// RPC record marks on the portmapper and the usual RPC service ports: 1 drop (logged), 0 pass.
int kkAnomalyRpcCheck(const PacketView &packet);
int PreprocRpcDecode(const PacketView &packet);
int ConvertRPC(const unsigned char *payload, const uint16_t *length);

// Queue a normalised private copy with mark 90; *code := -1 when no copy was queued.
void kkAnomalyHttpCheck_NonBlocking(const sk_buff *skb, const PacketView &packet, int *code);
void kkAnomalyTelnetCheck_NonBlocking(const sk_buff *skb, const PacketView &packet, int *code);

// The request line of an HTTP request reduced to "host/url" (URL decoded, folded, dot segments
// resolved); its length, at most `capacity`, or 0 when the payload is no request of a known method.
size_t normalise_http_request(const unsigned char *payload, size_t length, unsigned char *out,
                              size_t capacity);
// A Telnet stream without its commands; the length written (never more than `length` or `capacity`).
size_t strip_telnet_commands(const unsigned char *payload, size_t length, unsigned char *out,
                             size_t capacity);

int isHTTPMethod(const char *word, size_t length);
int OneByteUTF8(char high, char low);

}  // namespace vorn
