// ipsec.exe stand-in. Without arguments it reads ipsec.conf from its current directory, checks that it
// is one host-to-network connection in the shape the client writes, and switches the policy on by
// writing ipsec_state.txt ("on" and the connection's settings); "-off" writes "off".
#include <fstream>
#include <map>
#include <sstream>

#include "tool_journal.h"

int _dowildcard = 0;

namespace {

bool write_state(const std::string &text) {
  std::ofstream out("ipsec_state.txt", std::ios::binary | std::ios::trunc);
  out << text;
  return bool(out);
}

// "conn HostToRemote" followed by tab-indented key=value settings; every required key present.
std::string check_conf(std::istream &in, std::map<std::string, std::string> &settings) {
  std::string line;
  auto next = [&] {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // written in text mode
    return true;
  };
  if (!next() || line != "conn HostToRemote") return "first line is not 'conn HostToRemote'";
  while (next()) {
    if (line.empty()) continue;
    std::size_t eq = line.find('=');
    if (line[0] != '\t' || eq == std::string::npos) return "malformed line: " + line;
    std::string key = line.substr(1, eq - 1);
    if (settings.count(key)) return "repeated setting: " + key;
    settings[key] = line.substr(eq + 1);
  }
  for (const char *key : {"left", "right", "rightsubnet", "presharedkey", "auto", "pfs"})
    if (!settings.count(key) || settings[key].empty()) return std::string("missing setting: ") + key;
  if (settings["left"] != "%any" || settings["auto"] != "start" || settings["pfs"] != "yes")
    return "unexpected fixed setting";
  return {};
}

}  // namespace

int main(int argc, char **argv) {
  auto args = wintools::arguments(argc, argv);
  if (args.size() == 1 && args[0] == "-off") {
    wintools::journal("ipsec", args, "off");
    return write_state("off\n") ? 0 : 1;
  }
  if (!args.empty()) {
    wintools::journal("ipsec", args, "unknown arguments");
    return 2;
  }
  std::ifstream conf("ipsec.conf", std::ios::binary);
  if (!conf) {
    wintools::journal("ipsec", args, "no ipsec.conf");
    return 1;
  }
  std::map<std::string, std::string> settings;
  std::string problem = check_conf(conf, settings);
  if (!problem.empty()) {
    wintools::journal("ipsec", args, "rejected: " + problem);
    return 1;
  }
  std::ostringstream state;
  state << "on\nright=" << settings["right"] << "\nrightsubnet=" << settings["rightsubnet"] << "\n";
  wintools::journal("ipsec", args, "on " + settings["right"] + " " + settings["rightsubnet"]);
  return write_state(state.str()) ? 0 : 1;
}
