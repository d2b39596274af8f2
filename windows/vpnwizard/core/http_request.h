// What the router HTTPS client sends, apart from the sockets: the result codes, the request and
// connection flags, and the exact request header lines with the limits they must stay within.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tunmira {

// Result codes of RouterHttpClient::Get, Post and ReadReply.
inline constexpr int kHttpOk = 200;
inline constexpr int kHttpUnauthorized = 401;
inline constexpr int kHttpNoConnection = 1;  // also: any refused status
inline constexpr int kHttpHeaderFailed = 6;
inline constexpr int kHttpSendFailed = 7;
inline constexpr int kHttpWriteFailed = 8;
inline constexpr int kHttpEndFailed = 9;
inline constexpr int kHttpNoMemory = 10;
inline constexpr int kHttpStatusUnknown = 11;
inline constexpr int kHttpReplyTooLong = -1;

// Limits of what the client sends.
inline constexpr std::size_t kMaxHostLength = 59;
inline constexpr std::size_t kMaxRefererLine = 255;  // including the final CR LF
inline constexpr std::size_t kMaxCredentials = 93;   // user name, colon and password
// The Referer line of a post around the router name and the selection.
inline constexpr std::string_view kRefererStart = "Referer: https://";
inline constexpr std::string_view kRefererPage = "/vpn_main.htm&h_ipsec_select=";
inline constexpr std::string_view kLineEnd = "\r\n";
// The longest tunnel name that fits the connect post's Referer line beside the longest router name.
inline constexpr std::size_t kMaxTunnelName =
    kMaxRefererLine - kRefererStart.size() - kMaxHostLength - kRefererPage.size() - kLineEnd.size();
inline constexpr int kCredentialLineLength = 128;

// Header flags as the platform's request-header call takes them.
inline constexpr std::uint32_t kHeaderReplace = 0x80000000u;
inline constexpr std::uint32_t kHeaderReplaceOrAdd = 0xA0000000u;
inline constexpr std::uint32_t kHeaderAddIfNew = 0x10000000u;

// Connection and request flags (no cache write, secure, keep connection, ignore certificate date
// and name; for plain http: cache if the net fails, and for GET no auth and resynchronize).
inline constexpr std::uint32_t kPostConnectFlags = 0x04000000u;
inline constexpr std::uint32_t kGetConnectFlags = 0u;
inline constexpr std::uint32_t kSecureRequestFlags = 0x04C03000u;
inline constexpr std::uint32_t kPlainPostRequestFlags = 0x04410000u;
inline constexpr std::uint32_t kPlainGetRequestFlags = 0x04450800u;
// Added to the request's security flags: accept a certificate of an unknown authority.
inline constexpr std::uint32_t kIgnoreUnknownAuthority = 0x100u;

inline constexpr std::string_view kUserAgent = "Orvane-HBX7300NQ VPN-Wizard";

struct HeaderLine {
  std::string text;
  std::uint32_t flags;
};

// Standard Base64 with "=" padding; after each full group of four characters a line that has grown
// past line_length - 4 characters is ended with CR LF.
std::string Base64Encode(std::string_view source, int line_length);

// True when the URL's first five characters are "https", ignoring case.
bool is_secure_url(std::string_view url);

// A router host the client may put in a URL: 1 to 59 letters, digits, "-" and ".". Anything else
// could move the user name, port or path the URL parser finds.
bool is_usable_host(std::string_view host);

// "Authorization: Basic ..." for user:password; nothing when the pair is longer than allowed.
std::optional<std::string> authorization_line(std::string_view user, std::string_view password);

// "Referer: https://host/vpn_main.htm&h_ipsec_select=..."; the selection is named only when the
// reply is read. Nothing when the line would exceed its limit or the selection holds a line break.
std::optional<std::string> referer_line(std::string_view host, std::string_view selection, bool read_reply);

// The header lines of a form post and of a page read, in the order they are added. Nothing when a
// line cannot be built within its limits.
std::optional<std::vector<HeaderLine>> post_headers(std::string_view host, std::string_view selection,
                                                    bool read_reply, std::string_view user,
                                                    std::string_view password, std::size_t body_length);
std::optional<std::vector<HeaderLine>> get_headers(std::string_view user, std::string_view password);

// The client's result for the HTTP status a router answered a form post with: only a 2xx status
// means the router took the form.
int post_result_for_status(std::uint32_t status);

}  // namespace tunmira
