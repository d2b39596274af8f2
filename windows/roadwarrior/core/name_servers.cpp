#include "name_servers.h"

#include <algorithm>

namespace dravik {
namespace {
bool holds_address(const std::optional<RegistryValue> &value, RegistryValue::Kind kind,
                   const std::string &ip) {
  if (!value || value->kind != kind) return false;
  return std::find(value->strings.begin(), value->strings.end(), ip) != value->strings.end();
}
}  // namespace

std::string find_interface(InterfaceRegistry &registry, const std::string &local_ip) {
  auto names = registry.interfaces();
  if (!names || local_ip.empty()) return {};
  for (const std::string &name : *names) {
    // Whole-address equality: a prefix test would take 10.0.0.12 for 10.0.0.1.
    if (holds_address(registry.read(name, "IPAddress"), RegistryValue::Kind::kMultiString, local_ip) ||
        holds_address(registry.read(name, "DhcpIPAddress"), RegistryValue::Kind::kString, local_ip))
      return name;
  }
  return {};
}

std::vector<std::string> split_name_servers(const std::string &value) {
  std::vector<std::string> servers;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find_first_of(", ", start);
    if (end == std::string::npos) end = value.size();
    if (end > start) servers.push_back(value.substr(start, end - start));
    start = end + 1;
  }
  return servers;
}

std::string join_name_servers(const std::vector<std::string> &servers) {
  std::string joined;
  for (const std::string &s : servers) joined += (joined.empty() ? "" : ",") + s;
  return joined;
}

bool remove_name_server(InterfaceRegistry &registry, const std::string &address,
                        const std::string &local_ip) {
  std::string iface = find_interface(registry, local_ip);
  if (iface.empty()) return false;
  auto current = registry.read(iface, "NameServer");
  if (!current || current->kind != RegistryValue::Kind::kString || current->strings.empty()) return false;
  std::vector<std::string> servers = split_name_servers(current->strings.front());
  std::erase(servers, address);
  if (!registry.write_string(iface, "NameServer", join_name_servers(servers))) return false;
  registry.remove(iface, "OldNameServer");  // absent already is fine
  return true;
}

}  // namespace dravik
