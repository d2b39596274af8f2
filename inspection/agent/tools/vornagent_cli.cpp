// A client program calling the agent library as the router's web pages and uploader would.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "vornagent.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: vornagent-cli ips [on|off]\n"
               "       vornagent-cli apps <im|p2p|anomaly>\n"
               "       vornagent-cli app <im|p2p|anomaly> <name> <action>\n"
               "       vornagent-cli thresholds <ddos|portscan>\n"
               "       vornagent-cli threshold <ddos|portscan> <name> <action> <threshold>\n"
               "       vornagent-cli upload <policy file>\n"
               "       vornagent-cli version\n"
               "       vornagent-cli top5\n"
               "       vornagent-cli categories\n"
               "       vornagent-cli events\n"
               "       vornagent-cli chart <png file>\n"
               "       vornagent-cli reset\n");
  return 2;
}

int app_type(const std::string &name) {
  if (name == "im") return kKaAppIm;
  if (name == "p2p") return kKaAppP2P;
  if (name == "anomaly") return kKaAppAnomaly;
  return -1;
}

int threshold_type(const std::string &name) {
  if (name == "ddos") return kKaThDdos;
  if (name == "portscan") return kKaThPortscan;
  return -1;
}

// Reports a library result: "ok" or "failed", exit status 0 or 1.
int finish(int result) {
  std::printf("%s\n", result == 0 ? "ok" : "failed");
  return result == 0 ? 0 : 1;
}

// Reads a whole decimal number up to `max`. Signs, blanks, other bases and values beyond `max` are
// refused: they must never wrap or be cut into the record's narrower field.
bool parse_number(const char *text, uint32_t max, uint32_t &value) {
  const char *end = text + std::strlen(text);
  auto [stop, error] = std::from_chars(text, end, value);
  return error == std::errc{} && stop == end && value <= max;
}

bool parse_action(const char *text, uint8_t &action) {
  uint32_t value = 0;
  if (!parse_number(text, 1, value)) {
    std::fprintf(stderr, "vornagent-cli: action \"%s\" is not 0 or 1\n", text);
    return false;
  }
  action = static_cast<uint8_t>(value);
  return true;
}

bool parse_threshold(const char *text, uint32_t &threshold) {
  if (parse_number(text, UINT32_MAX, threshold)) return true;
  std::fprintf(stderr, "vornagent-cli: threshold \"%s\" is not a whole number from 0 to %u\n", text,
               UINT32_MAX);
  return false;
}

int module_unreachable() {
  std::fprintf(stderr, "vornagent-cli: the inspection module cannot be reached\n");
  return finish(-1);
}

std::string name_of(const char (&name)[64]) {
  return std::string(name, strnlen(name, sizeof name));
}

int show_ips() {
  int on = 0;
  if (kaGetIPSFunction(&on) != 0) return finish(-1);
  std::printf("%s\n", on ? "on" : "off");
  return 0;
}

int list_apps(int type) {
  auto agent = std::make_unique<CmdAgnt>();
  if (kaGetAllAppInfo(agent.get()) != 0) return module_unreachable();
  for (uint32_t i = 0; i < agent->app_count[type]; ++i) {
    const IM_P2P_AD_Info &e = agent->app[type][i];
    std::printf("%u %u %u %s\n", e.index, e.action, e.app_id, name_of(e.name).c_str());
  }
  return 0;
}

int list_thresholds(int type) {
  auto agent = std::make_unique<CmdAgnt>();
  if (kaGetAllAppInfoTH(agent.get()) != 0) return module_unreachable();
  for (uint32_t i = 0; i < agent->th_count[type]; ++i) {
    const KaAppInfoTH &e = agent->th[type][i];
    std::printf("%u %u %u %u %s\n", e.index, e.action, e.rule_id, e.threshold, name_of(e.name).c_str());
  }
  return 0;
}

bool copy_name(char (&target)[64], const std::string &name) {
  if (name.size() >= sizeof target) return false;
  std::memcpy(target, name.c_str(), name.size() + 1);
  return true;
}

int set_app(int type, const std::string &name, const char *action) {
  IM_P2P_AD_Info record{};
  if (!copy_name(record.name, name) || !parse_action(action, record.action)) return finish(-1);
  return finish(kaSetAppInfo(&record, type));
}

int set_threshold(int type, const std::string &name, const char *action, const char *threshold) {
  KaAppInfoTH record{};
  if (!copy_name(record.name, name) || !parse_action(action, record.action) ||
      !parse_threshold(threshold, record.threshold))
    return finish(-1);
  return finish(kaSetAppInfoTH(&record, type));
}

// The uploader's sequence: attach the raw policy segment, write the file, detach, install.
int upload(const char *path) {
  std::FILE *file = std::fopen(path, "rb");
  if (!file) {
    std::fprintf(stderr, "vornagent-cli: cannot read %s\n", path);
    return finish(-1);
  }
  void *segment = nullptr;
  int size = 0;
  if (kaGetSharedMemory(&segment, &size) != 0) {
    std::fclose(file);
    return finish(-1);
  }
  std::memset(segment, 0, static_cast<std::size_t>(size));
  std::size_t length = std::fread(segment, 1, static_cast<std::size_t>(size), file);
  bool too_large = length == static_cast<std::size_t>(size) && std::fgetc(file) != EOF;
  std::fclose(file);
  kaReleaseSharedMemory(&segment);
  if (too_large) {
    std::fprintf(stderr, "vornagent-cli: %s does not fit the upload segment\n", path);
    return finish(-1);
  }
  return finish(kaUpdateSig());
}

int show_version() {
  int first = 0, second = 0;
  if (kaGetSigVer(&first, &second) != 0) return finish(-1);
  std::printf("%d.%d\n", first, second);
  return 0;
}

int show_top5() {
  KaTop5 top{};
  if (kaGetTop5(&top) != 0) return finish(-1);
  for (int place = 0; place < 5; ++place) std::printf("%s %u\n", top.address[place], top.count[place]);
  return 0;
}

int show_categories() {
  KaCategoryList list{};
  if (kaGetCategory(&list) != 0) return finish(-1);
  for (uint32_t i = 0; i < list.n && i < 12; ++i) std::printf("%s: %u\n", list.name[i], list.count[i]);
  return 0;
}

// Every stored event, newest first, read inside one semaphore bracket as the web pages do.
int show_events() {
  // The report data lives only while the inspection daemon runs; without it there is nothing to
  // read, and no semaphore set should be made for it either.
  KaTop5 probe{};
  if (kaGetTop5(&probe) != 0) {
    std::fprintf(stderr, "vornagent-cli: no report data: the inspection daemon is not running\n");
    return finish(-1);
  }
  int semaphore = kaGetKey();
  if (semaphore < 0 || kaSemWait(semaphore) != 0) return finish(-1);
  KaRawEvent event{};
  for (int n = 0; kaGetRawData(n, &event) == 0; ++n)
    std::printf("%u %s %s\n", event.time, event.address,
                std::string(event.name, strnlen(event.name, 64)).c_str());
  kaSemSignal(semaphore);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return usage();
  std::string command = argv[1];
  if (command == "ips" && argc == 2) return show_ips();
  if (command == "ips" && argc == 3) {
    std::string state = argv[2];
    if (state != "on" && state != "off") return usage();
    return finish(kaSetIPSFunction(state == "on" ? 1 : 0));
  }
  if (command == "apps" && argc == 3 && app_type(argv[2]) >= 0) return list_apps(app_type(argv[2]));
  if (command == "app" && argc == 5 && app_type(argv[2]) >= 0)
    return set_app(app_type(argv[2]), argv[3], argv[4]);
  if (command == "thresholds" && argc == 3 && threshold_type(argv[2]) >= 0)
    return list_thresholds(threshold_type(argv[2]));
  if (command == "threshold" && argc == 6 && threshold_type(argv[2]) >= 0)
    return set_threshold(threshold_type(argv[2]), argv[3], argv[4], argv[5]);
  if (command == "upload" && argc == 3) return upload(argv[2]);
  if (command == "version" && argc == 2) return show_version();
  if (command == "top5" && argc == 2) return show_top5();
  if (command == "categories" && argc == 2) return show_categories();
  if (command == "events" && argc == 2) return show_events();
  if (command == "chart" && argc == 3) return finish(kaPaintChart(argv[2]));
  if (command == "reset" && argc == 2) return finish(kaResetLog());
  return usage();
}
