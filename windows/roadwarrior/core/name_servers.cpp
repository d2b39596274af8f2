#include "name_servers.h"

#include <algorithm>

namespace dravik {
namespace {
bool holdsAddress(const std::optional<RegistryValue> &value, RegistryValue::Kind kind,
                  const std::string &ip) {
  if (!value || value->kind != kind) return false;
  return std::find(value->strings.begin(), value->strings.end(), ip) != value->strings.end();
}
}  // namespace

std::string findInterface(InterfaceRegistry &registry, const std::string &localIp) {
  auto names = registry.interfaces();
  if (!names || localIp.empty()) return {};
  for (const std::string &name : *names) {
    // Whole-address equality: a prefix test would take 10.0.0.12 for 10.0.0.1.
    if (holdsAddress(registry.read(name, "IPAddress"), RegistryValue::Kind::MultiString, localIp) ||
        holdsAddress(registry.read(name, "DhcpIPAddress"), RegistryValue::Kind::String, localIp))
      return name;
  }
  return {};
}

std::vector<std::string> splitNameServers(const std::string &value) {
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

std::string joinNameServers(const std::vector<std::string> &servers) {
  std::string joined;
  for (const std::string &s : servers) joined += (joined.empty() ? "" : ",") + s;
  return joined;
}

bool removeNameServer(InterfaceRegistry &registry, const std::string &address, const std::string &localIp) {
  std::string iface = findInterface(registry, localIp);
  if (iface.empty()) return false;
  auto current = registry.read(iface, "NameServer");
  if (!current || current->kind != RegistryValue::Kind::String || current->strings.empty()) return false;
  std::vector<std::string> servers = splitNameServers(current->strings.front());
  std::erase(servers, address);
  if (!registry.writeString(iface, "NameServer", joinNameServers(servers))) return false;
  registry.remove(iface, "OldNameServer");  // absent already is fine
  return true;
}

}  // namespace dravik
