// Readers of the router's web pages. Pages come from the network and are untrusted: every search and
// every value stays inside the text it was given, and a value whose end is not inside the text counts
// as not found. Each reader returns 1 when it found a valid value and 0 otherwise, and leaves its
// outputs untouched when it returns 0 (the tunnel status rows excepted: rows already read stay stored).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "tunnel_plan.h"

namespace tunmira {

// Results of CheckTunnelName; the same numbers are router read results for the entry page.
inline constexpr int kTunnelListNotFound = 4;
inline constexpr int kTunnelNameUsed = 5;
inline constexpr int kTunnelsFull = 6;
inline constexpr int kTunnelNameFree = 9;

// Receives the diagnostic line written when a status row carries an index out of order.
using ErrorLineSink = std::function<void(std::string_view line)>;

inline constexpr std::string_view kIndexMismatchLine =
    "Tunnel index mismatch! Something is wrong about wizard!\r\n";

// Appends line at the end of the file at path, creating it when missing.
void append_line_to_file(const std::string &path, std::string_view line);
// The sink the program uses: "error.txt" in the current directory.
void append_to_error_file(std::string_view line);

// "/vpn_main.htm": names of the tunnels already defined (up to five, "--new--" ends the list).
int ParseTunnelList(std::string_view text, TunnelList &list);
// Reads the tunnel list into `list` and judges tunnel_name against it (codes above).
int CheckTunnelName(std::string_view page, std::string_view tunnel_name, TunnelList &list);

// The address in the attribute value that follows the marker "c4_wan_ip" / "c4_lan_ip_".
int ParseWanIp(std::string_view page, std::string &address, Octets &octets);
int ParseLanIp(std::string_view page, std::string &address, Octets &octets);
// "/LocalNetwork.htm": the cell after "Subnet Mask:".
int ParseSubnetMask(std::string_view page, std::string &mask, Octets &octets);

// The number in the value attribute before "Tunnel(s) Defined", from 0 to limit.
int ParseTunnelCount(std::string_view text, int limit, int &count);

// "/vpn_summary.htm": the section under "Tunnel Status", its count and each tunnel's name and remote
// gateway.
int ParseTunnelStatus(std::string_view page, TunnelStatusTable &table, int &count, int limit,
                      const ErrorLineSink &error_line = append_to_error_file);
int ParseTunnelRows(std::string_view section, TunnelStatusTable &table, int &count, int limit,
                    const ErrorLineSink &error_line);
int ParseTunnelRow(std::string_view row, int &index, std::string &name, std::string &remote_gateway);

// Judges the router's reply to a connect post: 1 when the tunnel is up.
int CheckStatusUp(std::string_view reply);
int CheckConnectResult(std::string_view reply);

}  // namespace tunmira
