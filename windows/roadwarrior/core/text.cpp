#include "text.h"

#include <cstdio>

namespace dravik {
namespace {
bool is_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool is_host_char(char c) {
  return is_alnum(c) || c == '-' || c == '_' || c == '.';
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string quote_argument(std::string_view text) {
  bool plain = !text.empty() && text.find_first_of(" \t\n\v\"") == std::string_view::npos;
  if (plain) return std::string(text);
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them; then each must be doubled.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');  // the closing quote follows them
  out += '"';
  return out;
}

std::vector<std::string> split_command_line(std::string_view line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      std::size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
      if (i < line.size() && line[i] == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2) {
          arg += '"';
        } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg += '"';  // "" inside quotes is a literal quote
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(backslashes, '\\');
        if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::string percent_encode(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (is_alnum(static_cast<char>(c)) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string percent_decode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool is_host_name(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!is_host_char(c)) return false;
  return true;
}

bool is_dotted_address_text(std::string_view text) {
  for (char c : text)
    if (!is_digit(c) && c != '.') return false;
  return true;
}

bool is_ipv4_address(std::string_view text) {
  int parts = 0;
  std::size_t i = 0;
  while (true) {
    std::size_t start = i;
    unsigned value = 0;
    while (i < text.size() && is_digit(text[i]) && i - start < 3)
      value = value * 10 + unsigned(text[i++] - '0');
    if (i == start || value > 255) return false;
    ++parts;
    if (i == text.size()) return parts == 4;
    if (text[i] != '.' || parts == 4) return false;
    ++i;
  }
}

bool is_domain_name(std::string_view text) {
  return is_host_name(text);
}

bool is_printable(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

std::string trim_right(std::string_view text, std::string_view chars) {
  std::size_t end = text.find_last_not_of(chars);
  return end == std::string_view::npos ? std::string() : std::string(text.substr(0, end + 1));
}

}  // namespace dravik
