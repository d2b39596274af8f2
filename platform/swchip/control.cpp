#include "control.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace swchip {

namespace {

std::vector<std::string> split_words(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\n' || line[i] == '\r')) ++i;
    size_t start = i;
    while (i < line.size() && !(line[i] == ' ' || line[i] == '\t' || line[i] == '\n' || line[i] == '\r')) ++i;
    if (i > start) words.emplace_back(line.substr(start, i - start));
  }
  return words;
}

std::optional<uint32_t> parse_number(const std::string &word, uint64_t max = 0xFFFFFFFFu) {
  if (word.empty() || word[0] == '-') return std::nullopt;
  char *end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(word.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v > max) return std::nullopt;
  return static_cast<uint32_t>(v);
}

std::string hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(v));
  return text;
}

const std::string kUsage = "error: unknown command";

struct Address {
  uint32_t block, subblock, reg;
};

std::optional<Address> parse_address(const std::vector<std::string> &w, size_t at) {
  if (w.size() < at + 3) return std::nullopt;
  auto b = parse_number(w[at], 7);
  auto s = parse_number(w[at + 1], 15);
  auto r = parse_number(w[at + 2], 255);
  if (!b || !s || !r) return std::nullopt;
  return Address{*b, *s, *r};
}

std::optional<AccessKind> parse_kind(const std::string &word) {
  if (word == "any") return AccessKind::kAny;
  if (word == "spi-read") return AccessKind::kSpiRead;
  if (word == "spi-write") return AccessKind::kSpiWrite;
  if (word == "bus-read") return AccessKind::kBusRead;
  if (word == "bus-write") return AccessKind::kBusWrite;
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> from_hex(const std::string &text) {
  if (text.size() % 2) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned byte = 0;
    for (size_t j = i; j < i + 2; ++j) {
      const char c = text[j];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return std::nullopt;
      byte = byte << 4 | static_cast<unsigned>(digit);
    }
    out.push_back(static_cast<uint8_t>(byte));
  }
  return out;
}

// aa:bb:cc:dd:ee:ff as a 48-bit number.
std::optional<uint64_t> parse_mac(const std::string &text) {
  if (text.size() != 17) return std::nullopt;
  uint64_t mac = 0;
  for (size_t i = 0; i < 17; i += 3) {
    if (i + 2 < 17 && text[i + 2] != ':') return std::nullopt;
    const auto byte = from_hex(text.substr(i, 2));
    if (!byte) return std::nullopt;
    mac = mac << 8 | (*byte)[0];
  }
  return mac;
}

std::string to_hex(const std::vector<uint8_t> &bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

}  // namespace

PhyModel *Control::parse_phy(const std::vector<std::string> &w) {
  const auto controller = parse_number(w[1], 1);
  const auto address = parse_number(w[2], 31);
  if (!controller.has_value() || !address.has_value()) return nullptr;
  return &chip_.phy(controller.value(), address.value());
}

std::string Control::inject(const std::vector<std::string> &w) {
  auto q = w.size() >= 4 ? parse_number(w[1], 2) : std::nullopt;
  auto c = w.size() >= 4 ? parse_number(w[2], kChipPorts - 1) : std::nullopt;
  auto frame = w.size() >= 4 ? from_hex(w[3]) : std::nullopt;
  auto tci = w.size() == 5 ? parse_number(w[4], 0xFFFF) : std::optional<uint32_t>(0);
  if (!q || *q == 0 || !c || !frame || !tci || w.size() > 5) {
    return "error: usage: inject QUEUE CHIPPORT HEXFRAME [TCI]";
  }
  if (!chip_.inject_cpu_frame(*q, *c, *frame, static_cast<uint16_t>(*tci))) return "error: frame dropped";
  return "ok";
}

std::string Control::learn(const std::vector<std::string> &w) {
  auto port = w.size() == 5 ? parse_number(w[1], kChipPorts - 1) : std::nullopt;
  auto vid = w.size() == 5 ? parse_number(w[2], kVlans - 1) : std::nullopt;
  auto mac = w.size() == 5 ? parse_mac(w[3]) : std::nullopt;
  auto count = w.size() == 5 ? parse_number(w[4], kMacEntries) : std::nullopt;
  if (!port || !vid || !mac || !count) return "error: usage: learn CHIPPORT VID MAC COUNT";
  return "ok " + std::to_string(chip_.learn_addresses(*port, *vid, *mac, *count));
}

std::string Control::registers(const std::vector<std::string> &w) {
  if (w[0] == "read") {
    auto a = parse_address(w, 1);
    if (!a || w.size() != 4) return "error: usage: read BLOCK SUBBLOCK REGISTER";
    return hex32(chip_.read(a->block, a->subblock, a->reg));
  }
  if (w[0] == "write") {
    auto a = parse_address(w, 1);
    auto v = w.size() == 5 ? parse_number(w[4]) : std::nullopt;
    if (!a || !v) return "error: usage: write BLOCK SUBBLOCK REGISTER VALUE";
    chip_.write(a->block, a->subblock, a->reg, *v);
    return "ok";
  }
  return dump(w);
}

std::string Control::dump(const std::vector<std::string> &w) {
  if (w.size() == 2 && w[1] == "mac") return chip_.dump_mac_table();
  if (w.size() == 2 && w[1] == "vlan") return chip_.dump_vlan_table();
  uint32_t block = 8;
  if (w.size() == 2) {
    auto b = parse_number(w[1], 7);
    if (!b) return "error: usage: dump [BLOCK]";
    block = *b;
  } else if (w.size() > 2) {
    return "error: usage: dump [BLOCK]";
  }
  return chip_.dump_registers(block);
}

std::string Control::phy_presence(const std::vector<std::string> &w) {
  PhyModel *phy = w.size() == 4 ? parse_phy(w) : nullptr;
  if (!phy || (w[3] != "absent" && w[3] != "present"))
    return "error: usage: phy CONTROLLER ADDRESS absent|present";
  phy->mounted = w[3] == "present";
  return "ok";
}

std::string Control::cable(const std::vector<std::string> &w) {
  if (w.size() >= 4 && w[3] == "describe") return describe_cable(w);
  PhyModel *target = w.size() >= 4 && w.size() <= 5 ? parse_phy(w) : nullptr;
  const uint32_t all = kAbilityAll | kAbilityPause | kAbilityAsymPause;
  const auto abilities = w.size() == 5 ? parse_number(w[4]) : std::optional<uint32_t>(all);
  if (!target || !abilities || (w[3] != "plug" && w[3] != "unplug")) {
    return "error: usage: cable CONTROLLER ADDRESS plug [ABILITIES] | unplug";
  }
  if (w[3] == "plug") {
    target->plug(*abilities);
  } else {
    target->unplug();
  }
  return "ok";
}

std::string Control::describe_cable(const std::vector<std::string> &w) {
  PhyModel *target = parse_phy(w);
  std::string text;
  for (size_t i = 4; i < w.size(); ++i) text += w[i] + " ";
  CableDescription description;
  const std::string wrong = target ? parse_cable_description(text, description) : "bad controller or address";
  if (!wrong.empty()) {
    return "error: " + wrong +
           "; usage: cable CONTROLLER ADDRESS describe METRES [PAIR=good|open@M|short@M]...";
  }
  target->describe_cable(description);
  return "ok";
}

std::string Control::classify(const std::vector<std::string> &w) {
  auto c = w.size() == 3 ? parse_number(w[1], kChipPorts - 1) : std::nullopt;
  auto frame = w.size() == 3 ? from_hex(w[2]) : std::nullopt;
  if (!c || !frame) return "error: usage: classify CHIPPORT HEXFRAME";
  return "queue " + std::to_string(chip_.classify_queue(*c, *frame));
}

std::string Control::transmitted(const std::vector<std::string> &w) {
  auto c = w.size() == 2 ? parse_number(w[1], kChipPorts - 1) : std::nullopt;
  if (!c) return "error: usage: transmitted CHIPPORT";
  std::string out;
  for (const auto &frame : chip_.take_transmitted(*c)) out += to_hex(frame) + "\n";
  return out;
}

std::string Control::fail(const std::vector<std::string> &w) {
  if (w.size() == 2 && w[1] == "off") {
    driver_.clear_faults();
    return "ok";
  }
  if (w.size() < 2) return "error: usage: fail KIND [block B] [count N] | fail off";
  auto kind = parse_kind(w[1]);
  if (!kind) return "error: unknown access kind";
  FaultRule rule;
  rule.kind = *kind;
  for (size_t i = 2; i < w.size(); i += 2) {
    if (i + 1 >= w.size()) return "error: missing value";
    if (w[i] == "block") {
      auto b = parse_number(w[i + 1], 7);
      if (!b) return "error: bad block";
      rule.block = static_cast<int>(*b);
    } else if (w[i] == "count") {
      auto n = parse_number(w[i + 1], 0x7FFFFFFF);
      if (!n) return "error: bad count";
      rule.remaining = static_cast<int>(*n);
    } else {
      return "error: unknown option " + w[i];
    }
  }
  driver_.add_fault(rule);
  return "ok";
}

std::string Control::stick(const std::vector<std::string> &w) {
  if (w.size() != 3 || (w[2] != "on" && w[2] != "off")) return "error: usage: stick BIT on|off";
  const bool on = w[2] == "on";
  bool *bit = w[1] == "done"      ? &chip_.stuck.indirect_done
              : w[1] == "miim"    ? &chip_.stuck.miim_busy
              : w[1] == "mac"     ? &chip_.stuck.mac_busy
              : w[1] == "vlan"    ? &chip_.stuck.vlan_busy
              : w[1] == "arbiter" ? &chip_.stuck.arbiter_full
              : w[1] == "txbusy"  ? &chip_.stuck.tx_busy
                                  : nullptr;
  if (!bit) return "error: unknown bit " + w[1];
  *bit = on;
  return "ok";
}

std::string Control::set_value(const std::vector<std::string> &w) {
  const std::string &cmd = w[0];
  const bool count = cmd == "done-delay" || cmd == "mac-busy";
  auto v = w.size() == 2 ? parse_number(w[1], count ? 1000000 : 0xFFFFFFFFu) : std::nullopt;
  if (!v) return "error: usage: " + cmd + (count ? " N" : " VALUE");
  if (cmd == "done-delay") chip_.indirect_done_delay = *v;
  if (cmd == "mac-busy") chip_.mac_busy_reads = *v;
  if (cmd == "chipid") chip_.set_chip_id(*v);
  if (cmd == "gpio-input") driver_.set_cpu_gpio_input(*v);
  return "ok";
}

std::string Control::driver_state(const std::vector<std::string> &w) {
  if (w.size() != 1) return kUsage;
  char text[160];
  std::snprintf(text, sizeof text, "spi-timing %u %u %u cpu-gpio-direction 0x%08x cpu-gpio-output 0x%08x",
                static_cast<unsigned>(driver_.spi_timing(0)), static_cast<unsigned>(driver_.spi_timing(1)),
                static_cast<unsigned>(driver_.spi_timing(2)),
                static_cast<unsigned>(driver_.cpu_gpio_direction()),
                static_cast<unsigned>(driver_.cpu_gpio_output()));
  return text;
}

std::string Control::exchanges(const std::vector<std::string> &w) {
  if (w.size() != 1) return kUsage;
  return std::to_string(driver_.exchanges());
}

std::string Control::power_on(const std::vector<std::string> &w) {
  if (w.size() != 1) return kUsage;
  chip_.power_on();
  return "ok";
}

std::string Control::execute(std::string_view line) {
  using Handler = std::string (Control::*)(const std::vector<std::string> &);
  static constexpr std::pair<std::string_view, Handler> kCommands[] = {
      {"read", &Control::registers},
      {"write", &Control::registers},
      {"dump", &Control::dump},
      {"phy", &Control::phy_presence},
      {"cable", &Control::cable},
      {"inject", &Control::inject},
      {"learn", &Control::learn},
      {"classify", &Control::classify},
      {"transmitted", &Control::transmitted},
      {"fail", &Control::fail},
      {"stick", &Control::stick},
      {"done-delay", &Control::set_value},
      {"mac-busy", &Control::set_value},
      {"chipid", &Control::set_value},
      {"gpio-input", &Control::set_value},
      {"driver", &Control::driver_state},
      {"exchanges", &Control::exchanges},
      {"power-on", &Control::power_on},
  };
  const auto w = split_words(line);
  if (w.empty()) return kUsage;
  for (const auto &[name, handler] : kCommands) {
    if (w[0] == name) return (this->*handler)(w);
  }
  return kUsage;
}

}  // namespace swchip
