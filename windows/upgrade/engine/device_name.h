// Names the upgrade wizard shows for routers, made from and parsed back to their MAC addresses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "upgrade_frame.h"

namespace upgrade {

inline constexpr Mac kVendorOui{0x02, 0x5A, 0xC3, 0, 0, 0};  // only the first three bytes count
inline constexpr std::size_t kDeviceNameMax = 12;

// "VT" + the last three bytes for the vendor's own addresses, else all twelve hex digits.
std::string device_name_of_mac(const Mac &mac);

// Accepts both forms, digits in either case; nullopt when the digits are missing or not hex.
std::optional<Mac> mac_of_device_name(std::string_view name);

}  // namespace upgrade
