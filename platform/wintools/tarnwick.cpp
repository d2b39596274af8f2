// tarnwick.exe stand-in: edits the DNS settings in the registry as the client expects.
//   SEARCHLIST EDIT <domain>          adds the domain to Tcpip\Parameters "SearchList" (comma list)
//   SEARCHLIST DELETE <domain>        removes it
//   NAMESERVER EDIT <server> <ip>     adds the server to "NameServer" of the interface holding <ip>,
//                                     keeping the list it had in "OldNameServer" (once)
// Exit status 0 on success, 1 when the change cannot be made, 2 for a call it does not know.
#include <windows.h>

#include <algorithm>
#include <optional>

#include "tool_journal.h"

int _dowildcard = 0;

namespace {

constexpr const char *kParameters = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";

struct Key {
  HKEY h = nullptr;
  ~Key() {
    if (h) RegCloseKey(h);
  }
};

std::optional<std::string> read_value(HKEY key, const char *name, DWORD *type_out = nullptr) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  std::string data(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  data.resize(size);
  if (type_out) *type_out = type;
  return data;
}

bool write_string(HKEY key, const char *name, const std::string &value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

std::vector<std::string> split_list(const std::string &text) {
  std::vector<std::string> items;
  std::string item;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\0') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) items.push_back(item);
  return items;
}

std::string join_list(const std::vector<std::string> &items) {
  std::string text;
  for (const auto &i : items) text += (text.empty() ? "" : ",") + i;
  return text;
}

bool edit_search_list(const std::string &domain, bool add) {
  Key key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h,
                      nullptr) != ERROR_SUCCESS)
    return false;
  auto items = split_list(read_value(key.h, "SearchList").value_or(""));
  auto found = std::find(items.begin(), items.end(), domain);
  if (add && found == items.end()) items.push_back(domain);
  if (!add && found != items.end()) items.erase(found);
  return write_string(key.h, "SearchList", join_list(items));
}

bool holds(const std::optional<std::string> &data, DWORD type, DWORD wanted, const std::string &ip) {
  if (!data || type != wanted) return false;
  auto parts = split_list(*data);
  return std::find(parts.begin(), parts.end(), ip) != parts.end();
}

bool add_name_server(const std::string &server, const std::string &local_ip) {
  Key interfaces;
  std::string base = std::string(kParameters) + "\\Interfaces";
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, base.c_str(), 0, KEY_ALL_ACCESS, &interfaces.h) != ERROR_SUCCESS)
    return false;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(interfaces.h, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return false;
    Key iface;
    if (RegOpenKeyExA(interfaces.h, name, 0, KEY_ALL_ACCESS, &iface.h) != ERROR_SUCCESS) continue;
    DWORD ip_type = 0, dhcp_type = 0;
    auto ip = read_value(iface.h, "IPAddress", &ip_type);
    auto dhcp = read_value(iface.h, "DhcpIPAddress", &dhcp_type);
    if (!holds(ip, ip_type, REG_MULTI_SZ, local_ip) && !holds(dhcp, dhcp_type, REG_SZ, local_ip)) continue;
    std::string current = read_value(iface.h, "NameServer").value_or("");
    current = current.substr(0, current.find('\0'));
    if (!read_value(iface.h, "OldNameServer") && !write_string(iface.h, "OldNameServer", current))
      return false;
    auto servers = split_list(current);
    if (std::find(servers.begin(), servers.end(), server) == servers.end()) servers.push_back(server);
    return write_string(iface.h, "NameServer", join_list(servers));
  }
}

}  // namespace

int main(int argc, char **argv) {
  auto args = wintools::arguments(argc, argv);
  int status = 2;
  if (args.size() == 3 && args[0] == "SEARCHLIST" && (args[1] == "EDIT" || args[1] == "DELETE"))
    status = edit_search_list(args[2], args[1] == "EDIT") ? 0 : 1;
  else if (args.size() == 4 && args[0] == "NAMESERVER" && args[1] == "EDIT")
    status = add_name_server(args[2], args[3]) ? 0 : 1;
  wintools::journal("tarnwick", args, status == 0 ? "" : status == 1 ? "failed" : "unknown call");
  return status;
}
