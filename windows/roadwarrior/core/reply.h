#pragma once
// Readers of what the gateway exchange leaves behind: the reply page (key=value lines) and the wget log.

#include <optional>
#include <string>
#include <string_view>

namespace dravik {

// Replies and logs larger than this are read only up to it; the gateway's pages are a few lines.
constexpr std::size_t kMaxReplyBytes = 64 * 1024;

struct GatewayReply {
  static constexpr std::size_t kMaxValue = 1023;
  static constexpr std::size_t kMaxShortValue = 5;  // version and status

  std::string version, msgtype, status, message;
  std::string presharedkey, rightsubnet, dnsserver, dnsserver2, domain;

  // A reply is valid when its version is a non-zero number.
  bool valid() const;
  bool is_status_page() const;
  // The status as a decimal number; empty when the value is not one.
  std::optional<int> status_number() const;
  // A reply that provisions a connection must name the remote subnet and the shared key.
  bool provisions() const;
};

// Parses reply text: a line counts by the key at its start; its value is the rest of the line without
// its line end (CR LF or LF), cut to the value limit; a later line with the same key wins.
GatewayReply parse_reply(std::string_view text);

// Reads a reply file; empty when it cannot be opened.
std::optional<GatewayReply> read_reply_file(const std::string &path);

// HTTP status in a wget log: the number after the last "awaiting response..." (a challenge or
// redirect before the final answer logs earlier ones). -1 when the log is missing, -2 when no line has
// the phrase or no number follows it.
int parse_http_status(std::string_view log_text);
int read_http_status(const std::string &log_path);

// Whole file, up to kMaxReplyBytes; empty when it cannot be opened.
std::optional<std::string> read_text_file(const std::string &path, std::size_t limit = kMaxReplyBytes);

}  // namespace dravik
