#pragma once
// Making untrusted text safe to put into command lines and URLs.

#include <string>
#include <string_view>
#include <vector>

namespace dravik {

// One argument quoted so that the Windows command-line rules (CommandLineToArgv, the C runtime's argv)
// give it back unchanged: plain text stays as it is, anything with blanks, tabs, quotes or nothing at
// all is put in quotes with its quotes and the backslashes in front of them escaped.
std::string quote_argument(std::string_view text);

// The reverse: splits a command line by the same rules (used by the stand-in tools and by tests).
std::vector<std::string> split_command_line(std::string_view command_line);

// Percent-encodes every byte outside the unreserved set (letters, digits, "-", ".", "_", "~").
std::string percent_encode(std::string_view text);
std::string percent_decode(std::string_view text);

// A host name or IPv4 address: letters, digits, "-", "_" and ".", not empty.
bool is_host_name(std::string_view text);
// Digits and dots only (may be empty: an unknown local address).
bool is_dotted_address_text(std::string_view text);
// Four decimal numbers 0..255.
bool is_ipv4_address(std::string_view text);
// A DNS domain for the search list: letters, digits, "-", "_" and ".", not empty.
bool is_domain_name(std::string_view text);

// Text without control characters (nothing below 0x20 and no DEL).
bool is_printable(std::string_view text);

std::string trim_right(std::string_view text, std::string_view chars = " \t\r\n");

}  // namespace dravik
