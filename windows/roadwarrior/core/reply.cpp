#include "reply.h"

#include <cstdio>
#include <memory>

namespace dravik {
namespace {

std::optional<long> parseDecimal(std::string_view text) {
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

void takeLine(GatewayReply &reply, std::string_view line) {
  for (const KeyField &k : kKeys) {
    if (line.substr(0, k.key.size()) == k.key) {
      reply.*k.field = std::string(line.substr(k.key.size(), k.limit));
      return;
    }
  }
}
}  // namespace

bool GatewayReply::valid() const {
  auto v = parseDecimal(version);
  return v && *v != 0;
}

bool GatewayReply::isStatusPage() const {
  return msgtype.rfind("status", 0) == 0;
}

std::optional<int> GatewayReply::statusNumber() const {
  auto v = parseDecimal(status);
  if (!v) return std::nullopt;
  return static_cast<int>(*v);
}

bool GatewayReply::provisions() const {
  return !rightsubnet.empty() && !presharedkey.empty();
}

GatewayReply parseReply(std::string_view text) {
  GatewayReply reply;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    takeLine(reply, line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return reply;
}

std::optional<std::string> readTextFile(const std::string &path, std::size_t limit) {
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return std::nullopt;
  std::string text(limit, '\0');
  text.resize(std::fread(text.data(), 1, limit, file.get()));
  return text;
}

std::optional<GatewayReply> readReplyFile(const std::string &path) {
  auto text = readTextFile(path);
  if (!text) return std::nullopt;
  return parseReply(*text);
}

int parseHttpStatus(std::string_view log) {
  static constexpr std::string_view kPhrase = "awaiting response...";
  std::size_t at = log.rfind(kPhrase);
  if (at == std::string_view::npos) return -2;
  std::string_view rest = log.substr(at + kPhrase.size());
  rest = rest.substr(0, rest.find('\n'));
  auto status = parseDecimal(rest);
  if (!status || *status < 0) return -2;
  return static_cast<int>(*status);
}

int readHttpStatus(const std::string &logPath) {
  auto text = readTextFile(logPath);
  if (!text) return -1;
  return parseHttpStatus(*text);
}

}  // namespace dravik
