#include "page_readers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "text_checks.h"

namespace tunmira {
namespace {

constexpr auto kNpos = std::string_view::npos;

bool stands_at(std::string_view text, std::size_t pos, std::string_view marker) {
  return pos <= text.size() && text.substr(pos).starts_with(marker);
}

// The text after the next ">" at or after p, up to the next "<". The search for "<" starts one byte
// into the value, so a value is never empty; a value not closed inside the text is not found.
std::optional<std::string_view> cell_value_after(std::string_view text, std::size_t p) {
  const std::size_t close = text.find('>', p);
  if (close == kNpos || close + 1 >= text.size()) return std::nullopt;
  const std::size_t start = close + 1;
  const std::size_t end = text.find('<', start + 1);
  if (end == kNpos) return std::nullopt;
  return text.substr(start, end - start);
}

// The text between the next double quote at or after p and the one after it, with the same
// one-byte start as cell_value_after.
std::optional<std::string_view> quoted_value_after(std::string_view text, std::size_t p) {
  const std::size_t open = text.find('"', p);
  if (open == kNpos || open + 1 >= text.size()) return std::nullopt;
  const std::size_t start = open + 1;
  const std::size_t end = text.find('"', start + 1);
  if (end == kNpos) return std::nullopt;
  return text.substr(start, end - start);
}

// A number written in a page, read the way the router's own pages are read elsewhere: leading
// blanks and one sign allowed, digits as far as they go, saturating instead of overflowing.
std::int64_t read_leading_number(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::int64_t magnitude = read_decimal_digits(text.substr(i));
  return negative ? -magnitude : magnitude;
}

Octets split_address(std::string_view address) {
  Octets octets;
  std::size_t start = 0;
  for (std::string &octet : octets) {
    std::size_t dot = address.find('.', start);
    if (dot == kNpos) dot = address.size();
    octet.assign(address.substr(start, dot - start));
    start = std::min(dot + 1, address.size());
  }
  return octets;
}

void store_address(std::string_view value, std::string &address, Octets &octets) {
  address.assign(value);
  octets = split_address(value);
}

int parse_address_after_marker(std::string_view page, std::string_view marker, std::string &address,
                               Octets &octets) {
  const std::size_t at = page.find(marker);
  if (at == kNpos) return 0;
  const auto value = quoted_value_after(page, at + marker.size());
  if (!value || !IsValidIpAddress(*value)) return 0;
  store_address(*value, address, octets);
  return 1;
}

// Walks from `from` over nested rows and returns the end of the row that closes the level the walk
// started in. The byte right after a matched tag is never examined, as the router's pages expect.
std::size_t end_of_enclosing_row(std::string_view text, std::size_t from) {
  int level = 1;
  for (std::size_t i = from; i < text.size(); ++i) {
    if (stands_at(text, i, "<tr")) {
      ++level;
      i += 3;
    }
    if (stands_at(text, i, "/tr>")) {
      i += 4;
      if (level == 1) return i;
      --level;
    }
  }
  return kNpos;
}

}  // namespace

void append_line_to_file(const std::string &path, std::string_view line) {
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "a+b"), &std::fclose);
  if (!file) return;
  std::fwrite(line.data(), 1, line.size(), file.get());
}

void append_to_error_file(std::string_view line) {
  append_line_to_file("error.txt", line);
}

int ParseTunnelList(std::string_view text, TunnelList &list) {
  static constexpr std::string_view kMarker = "Select Tunnel Entry:";
  static constexpr std::string_view kOption = "option value";
  const std::size_t at = text.find(kMarker);
  if (at == kNpos) return 0;
  TunnelList found;
  std::size_t pos = at + kMarker.size();
  while (true) {
    const std::size_t option = text.find(kOption, pos);
    if (option == kNpos) return 0;
    const auto entry = cell_value_after(text, option);
    if (!entry) return 0;
    if (*entry == "--new--") break;
    found.names[found.count++].assign(*entry);
    if (found.count == kMaxTunnels) break;
    pos = static_cast<std::size_t>(entry->data() - text.data()) + entry->size();
  }
  list = found;
  return 1;
}

int CheckTunnelName(std::string_view page, std::string_view tunnel_name, TunnelList &list) {
  list = TunnelList{};
  if (!ParseTunnelList(page, list)) return kTunnelListNotFound;
  if (list.count > kMaxTunnels - 1) return kTunnelsFull;
  for (std::size_t i = 0; i < list.count; ++i) {
    if (list.names[i] == tunnel_name) return kTunnelNameUsed;
  }
  return kTunnelNameFree;
}

int ParseWanIp(std::string_view page, std::string &address, Octets &octets) {
  return parse_address_after_marker(page, "\"c4_wan_ip\"", address, octets);
}

int ParseLanIp(std::string_view page, std::string &address, Octets &octets) {
  return parse_address_after_marker(page, "\"c4_lan_ip_\"", address, octets);
}

int ParseSubnetMask(std::string_view page, std::string &mask, Octets &octets) {
  static constexpr std::string_view kMarker = "Subnet Mask:";
  const std::size_t at = page.find(kMarker);
  if (at == kNpos) return 0;
  const std::size_t first = page.find('>', at + kMarker.size());
  if (first == kNpos) return 0;
  const std::size_t second = page.find('>', first + 1);
  if (second == kNpos || second + 1 >= page.size()) return 0;
  const std::size_t start = second + 1;
  const std::size_t end = page.find('<', start + 1);
  if (end == kNpos) return 0;
  const std::string_view value = page.substr(start, end - start);
  if (value.size() > 15 || !IsValidIpAddress(value)) return 0;
  store_address(value, mask, octets);
  return 1;
}

int ParseTunnelCount(std::string_view text, int limit, int &count) {
  static constexpr std::string_view kMarker = "Tunnel(s) Defined";
  static constexpr std::string_view kValue = "value=";
  const std::size_t at = text.find(kMarker);
  if (at == kNpos) return 0;
  const std::size_t value = text.substr(0, at).rfind(kValue);
  if (value == kNpos) return 0;
  const auto quoted = quoted_value_after(text, value + kValue.size());
  if (!quoted) return 0;
  const std::int64_t number = read_leading_number(*quoted);
  if (number < 0 || number > limit) return 0;
  count = static_cast<int>(number);
  return 1;
}

int ParseTunnelStatus(std::string_view page, TunnelStatusTable &table, int &count, int limit,
                      const ErrorLineSink &error_line) {
  static constexpr std::string_view kMarker = "Tunnel Status";
  const std::size_t at = page.find(kMarker);
  if (at == kNpos) return 0;
  const std::size_t end = end_of_enclosing_row(page, at + kMarker.size());
  if (end == kNpos) return 0;
  return ParseTunnelRows(page.substr(at, end - at), table, count, limit, error_line);
}

int ParseTunnelRows(std::string_view section, TunnelStatusTable &table, int &count, int limit,
                    const ErrorLineSink &error_line) {
  static constexpr std::string_view kRowStart = "<tr align=\"center\">";
  static constexpr std::string_view kRowEnd = "</tr>";
  int rows = 0;
  // The table holds five tunnels whatever limit a caller passes.
  if (!ParseTunnelCount(section, std::min(limit, static_cast<int>(kMaxTunnels)), rows)) return 0;
  std::size_t pos = 0;
  for (int k = 1; k <= rows; ++k) {
    const std::size_t start = section.find(kRowStart, pos);
    if (start == kNpos) return 0;
    const std::size_t close = section.find(kRowEnd, start + kRowStart.size());
    if (close == kNpos) return 0;
    pos = close + kRowEnd.size();
    int index = 0;
    TunnelStatusEntry entry;
    if (!ParseTunnelRow(section.substr(start, pos - start), index, entry.name, entry.remote_gateway))
      return 0;
    if (index != k && error_line) error_line(kIndexMismatchLine);
    table[static_cast<std::size_t>(k - 1)] = std::move(entry);
  }
  count = rows;
  return 1;
}

int ParseTunnelRow(std::string_view row, int &index, std::string &name, std::string &remote_gateway) {
  static constexpr std::string_view kCell = "<td";
  std::optional<std::string_view> index_text;
  std::optional<std::string_view> name_text;
  int cells = 0;
  for (std::size_t at = row.find(kCell); at != kNpos; at = row.find(kCell, at + kCell.size())) {
    ++cells;
    if (cells == 1) {
      index_text = cell_value_after(row, at);
      if (!index_text) return 0;
      const std::int64_t number = read_leading_number(*index_text);
      if (number < 1 || number > static_cast<std::int64_t>(kMaxTunnels)) return 0;
    } else if (cells == 2) {
      name_text = cell_value_after(row, at);
      if (!name_text) return 0;
    } else if (cells == 7) {
      const auto remote = cell_value_after(row, at);
      if (!remote) return 0;
      const std::size_t remote_end = static_cast<std::size_t>(remote->data() - row.data()) + remote->size();
      if (remote_end >= row.size() - 1 || !IsValidIpAddress(*remote)) return 0;
      index = static_cast<int>(read_leading_number(*index_text));
      name.assign(*name_text);
      remote_gateway.assign(*remote);
      return 1;
    }
  }
  return 0;
}

int CheckStatusUp(std::string_view reply) {
  static constexpr std::string_view kStatus = "Status";
  std::size_t at = kNpos;
  std::size_t pos = 0;
  for (int n = 0; n < 8; ++n) {
    at = reply.find(kStatus, pos);
    if (at == kNpos) return 0;
    pos = at + kStatus.size();
  }
  std::size_t close = at;
  for (int n = 0; n < 7; ++n) {
    close = reply.find('>', n == 0 ? close : close + 1);
    if (close == kNpos) return 0;
  }
  const std::size_t end = reply.find('<', close + 1);
  if (end == kNpos) return 0;
  return reply.substr(close + 1, end - close - 1) == "Up" ? 1 : 0;
}

int CheckConnectResult(std::string_view reply) {
  static constexpr std::string_view kMarker = "<tr id=\"a8\">";
  const std::size_t at = reply.find(kMarker);
  if (at == kNpos) return 0;
  int level = 1;
  std::size_t end = kNpos;
  for (std::size_t i = at + kMarker.size(); i < reply.size(); ++i) {
    if (stands_at(reply, i, "tr")) {
      ++level;
      i += 2;
    } else if (stands_at(reply, i, "/tr")) {
      i += 3;
      if (level == 1) {
        end = i + 1;
        break;
      }
      --level;
    }
  }
  if (end == kNpos || end > reply.size()) return 0;
  const std::string_view row = reply.substr(at, end - at);
  return row.find("Status") != kNpos && row.find("Up") != kNpos ? 1 : 0;
}

}  // namespace tunmira
