#include "reply.h"

#include <cstdio>
#include <memory>

namespace dravik {
namespace {

std::optional<long> parse_decimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::size_t start = i;
  long value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 9)
    value = value * 10 + (text[i++] - '0');
  if (i == start) return std::nullopt;
  return negative ? -value : value;
}

struct KeyField {
  std::string_view key;
  std::string GatewayReply::*field;
  std::size_t limit;
};

constexpr KeyField kKeys[] = {
    {"version=", &GatewayReply::version, GatewayReply::kMaxShortValue},
    {"msgtype=", &GatewayReply::msgtype, GatewayReply::kMaxValue},
    {"status=", &GatewayReply::status, GatewayReply::kMaxShortValue},
    {"message=", &GatewayReply::message, GatewayReply::kMaxValue},
    {"presharedkey=", &GatewayReply::presharedkey, GatewayReply::kMaxValue},
    {"rightsubnet=", &GatewayReply::rightsubnet, GatewayReply::kMaxValue},
    {"dnsserver=", &GatewayReply::dnsserver, GatewayReply::kMaxValue},
    {"dnsserver2=", &GatewayReply::dnsserver2, GatewayReply::kMaxValue},
    {"domain=", &GatewayReply::domain, GatewayReply::kMaxValue},
};

void take_line(GatewayReply &reply, std::string_view line) {
  for (const KeyField &k : kKeys) {
    if (line.substr(0, k.key.size()) == k.key) {
      reply.*k.field = std::string(line.substr(k.key.size(), k.limit));
      return;
    }
  }
}
}  // namespace

bool GatewayReply::valid() const {
  auto v = parse_decimal(version);
  return v && *v != 0;
}

bool GatewayReply::is_status_page() const {
  return msgtype.rfind("status", 0) == 0;
}

std::optional<int> GatewayReply::status_number() const {
  auto v = parse_decimal(status);
  if (!v) return std::nullopt;
  return static_cast<int>(*v);
}

bool GatewayReply::provisions() const {
  return !rightsubnet.empty() && !presharedkey.empty();
}

GatewayReply parse_reply(std::string_view text) {
  GatewayReply reply;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    take_line(reply, line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return reply;
}

std::optional<std::string> read_text_file(const std::string &path, std::size_t limit) {
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return std::nullopt;
  std::string text(limit, '\0');
  text.resize(std::fread(text.data(), 1, limit, file.get()));
  return text;
}

std::optional<GatewayReply> read_reply_file(const std::string &path) {
  auto text = read_text_file(path);
  if (!text) return std::nullopt;
  return parse_reply(*text);
}

int parse_http_status(std::string_view log) {
  static constexpr std::string_view kPhrase = "awaiting response...";
  std::size_t at = log.rfind(kPhrase);
  if (at == std::string_view::npos) return -2;
  std::string_view rest = log.substr(at + kPhrase.size());
  rest = rest.substr(0, rest.find('\n'));
  auto status = parse_decimal(rest);
  if (!status || *status < 0) return -2;
  return static_cast<int>(*status);
}

int read_http_status(const std::string &log_path) {
  auto text = read_text_file(log_path);
  if (!text) return -1;
  return parse_http_status(*text);
}

}  // namespace dravik
