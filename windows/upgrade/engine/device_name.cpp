#include "device_name.h"

#include <cstdio>

namespace upgrade {
namespace {

std::optional<std::uint8_t> hex_digit(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  return std::nullopt;
}

// Reads `count` bytes as pairs of hex digits into `out`.
bool parse_hex_bytes(std::string_view digits, std::size_t count, std::uint8_t *out) {
  if (digits.size() < count * 2) return false;
  for (std::size_t i = 0; i < count; ++i) {
    auto high = hex_digit(digits[2 * i]);
    auto low = hex_digit(digits[2 * i + 1]);
    if (!high || !low) return false;
    out[i] = static_cast<std::uint8_t>((*high << 4) | *low);
  }
  return true;
}

bool has_vendor_oui(const Mac &mac) {
  return mac[0] == kVendorOui[0] && mac[1] == kVendorOui[1] && mac[2] == kVendorOui[2];
}

}  // namespace

std::string device_name_of_mac(const Mac &mac) {
  char text[kDeviceNameMax + 1];
  if (has_vendor_oui(mac)) {
    std::snprintf(text, sizeof text, "VT%02X%02X%02X", mac[3], mac[4], mac[5]);
  } else {
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
  }
  return text;
}

std::optional<Mac> mac_of_device_name(std::string_view name) {
  Mac mac{};
  if (name.substr(0, 2) == "VT") {
    mac[0] = kVendorOui[0];
    mac[1] = kVendorOui[1];
    mac[2] = kVendorOui[2];
    if (!parse_hex_bytes(name.substr(2), 3, &mac[3])) return std::nullopt;
    return mac;
  }
  if (!parse_hex_bytes(name, 6, mac.data())) return std::nullopt;
  return mac;
}

}  // namespace upgrade
