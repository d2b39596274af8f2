#include "http_request.h"

#include <algorithm>

namespace tunmira {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char lower_ascii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_host_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

}  // namespace

std::string Base64Encode(std::string_view source, int line_length) {
  std::string out;
  int on_line = 0;
  std::size_t i = 0;
  for (; i + 3 <= source.size(); i += 3) {
    const auto b0 = static_cast<unsigned char>(source[i]);
    const auto b1 = static_cast<unsigned char>(source[i + 1]);
    const auto b2 = static_cast<unsigned char>(source[i + 2]);
    out += kAlphabet[b0 >> 2];
    out += kAlphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
    out += kAlphabet[((b1 & 0x0F) << 2) | (b2 >> 6)];
    out += kAlphabet[b2 & 0x3F];
    on_line += 4;
    if (on_line > line_length - 4) {
      out += "\r\n";
      on_line = 0;
    }
  }
  const std::size_t rest = source.size() - i;
  if (rest > 0) {
    const auto b0 = static_cast<unsigned char>(source[i]);
    const auto b1 = rest > 1 ? static_cast<unsigned char>(source[i + 1]) : 0;
    out += kAlphabet[b0 >> 2];
    out += kAlphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
    out += rest > 1 ? kAlphabet[(b1 & 0x0F) << 2] : '=';
    out += '=';
  }
  return out;
}

bool is_secure_url(std::string_view url) {
  static constexpr std::string_view kScheme = "https";
  if (url.size() < kScheme.size()) return false;
  return std::equal(kScheme.begin(), kScheme.end(), url.begin(),
                    [](char a, char b) { return a == lower_ascii(b); });
}

bool is_usable_host(std::string_view host) {
  return !host.empty() && host.size() <= kMaxHostLength &&
         std::all_of(host.begin(), host.end(), is_host_character);
}

std::optional<std::string> authorization_line(std::string_view user, std::string_view password) {
  std::string pair;
  pair.append(user).append(":").append(password);
  if (pair.size() > kMaxCredentials) return std::nullopt;
  return "Authorization: Basic " + Base64Encode(pair, kCredentialLineLength) + "\r\n";
}

std::optional<std::string> referer_line(std::string_view host, std::string_view selection, bool read_reply) {
  if (selection.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
  std::string line(kRefererStart);
  line.append(host).append(kRefererPage);
  line.append(read_reply ? selection : std::string_view("$"));
  line.append(kLineEnd);
  if (line.size() > kMaxRefererLine) return std::nullopt;
  return line;
}

std::optional<std::vector<HeaderLine>> post_headers(std::string_view host, std::string_view selection,
                                                    bool read_reply, std::string_view user,
                                                    std::string_view password, std::size_t body_length) {
  auto referer = referer_line(host, selection, read_reply);
  auto authorization = authorization_line(user, password);
  if (!referer || !authorization) return std::nullopt;
  return std::vector<HeaderLine>{
      {"Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-powerpoint, "
       "application/vnd.ms-excel, application/msword, */*\r\n",
       kHeaderReplace},
      {std::move(*referer), kHeaderReplaceOrAdd},
      {"Accept-Language: zh-cn\r\n", kHeaderAddIfNew},
      {"Content-Type: application/x-www-form-urlencoded\r\n", kHeaderAddIfNew},
      {"Accept-Encoding: gzip, deflate\r\n", kHeaderAddIfNew},
      {std::move(*authorization), kHeaderReplaceOrAdd},
      {"Content-Length: " + std::to_string(body_length) + "\r\n", kHeaderAddIfNew},
  };
}

std::optional<std::vector<HeaderLine>> get_headers(std::string_view user, std::string_view password) {
  auto authorization = authorization_line(user, password);
  if (!authorization) return std::nullopt;
  return std::vector<HeaderLine>{
      {"Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
       "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n",
       kHeaderReplace},
      {"Accept-Language: zh-cn\r\n", kHeaderAddIfNew},
      {"Accept-Encoding: gzip, deflate\r\n", kHeaderAddIfNew},
      {std::move(*authorization), kHeaderReplaceOrAdd},
  };
}

int post_result_for_status(std::uint32_t status) {
  if (status >= 200 && status < 300) return kHttpOk;
  if (status == 401) return kHttpUnauthorized;
  return kHttpNoConnection;
}

}  // namespace tunmira
