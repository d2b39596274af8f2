#pragma once
// Removal of a name server from the interface that holds the local address.

#include <string>
#include <vector>

#include "platform.h"

namespace dravik {

// The interface whose "IPAddress" multi-string holds exactly the local address, or whose
// "DhcpIPAddress" is exactly it; empty when none does.
std::string find_interface(InterfaceRegistry &registry, const std::string &local_ip);

// Splits a NameServer value at commas and blanks (both occur), dropping empty entries.
std::vector<std::string> split_name_servers(const std::string &value);
std::string join_name_servers(const std::vector<std::string> &servers);

// Drops `address` from the interface's "NameServer" list, writes the rest back and forgets the saved
// "OldNameServer". False when the interfaces key, the interface or its NameServer value is missing or
// the write fails.
bool remove_name_server(InterfaceRegistry &registry, const std::string &address, const std::string &local_ip);

}  // namespace dravik
