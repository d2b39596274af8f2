#pragma once
// Making untrusted text safe to put into command lines and URLs.

#include <string>
#include <string_view>
#include <vector>

namespace dravik {

// One argument quoted so that the Windows command-line rules (CommandLineToArgv, the C runtime's argv)
// give it back unchanged: plain text stays as it is, anything with blanks, tabs, quotes or nothing at
// all is put in quotes with its quotes and the backslashes in front of them escaped.
std::string quoteArgument(std::string_view text);

// The reverse: splits a command line by the same rules (used by the stand-in tools and by tests).
std::vector<std::string> splitCommandLine(std::string_view commandLine);

// Percent-encodes every byte outside the unreserved set (letters, digits, "-", ".", "_", "~").
std::string percentEncode(std::string_view text);
std::string percentDecode(std::string_view text);

// A host name or IPv4 address: letters, digits, "-", "_" and ".", not empty.
bool isHostName(std::string_view text);
// Digits and dots only (may be empty: an unknown local address).
bool isDottedAddressText(std::string_view text);
// Four decimal numbers 0..255.
bool isIpv4Address(std::string_view text);
// A DNS domain for the search list: letters, digits, "-", "_" and ".", not empty.
bool isDomainName(std::string_view text);

// Text without control characters (nothing below 0x20 and no DEL).
bool isPrintable(std::string_view text);

std::string trimRight(std::string_view text, std::string_view chars = " \t\r\n");

}  // namespace dravik
