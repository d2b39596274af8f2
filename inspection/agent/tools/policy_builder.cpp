#include "policy_builder.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "policy_format.h"
#include "rul_agent.h"
#include "vornagent_blowfish.h"

namespace vornagent::builder {

namespace {

// Where the module finds its tables in the engine image.
constexpr std::size_t kRuleSetInfo = 0xdb1a24;
constexpr std::size_t kAppTable = 0xdc3a78;
constexpr std::size_t kAppEntrySize = 36;
constexpr std::size_t kThresholdTable = 0xdf7e78;
constexpr std::size_t kThresholdEntrySize = 40;
constexpr unsigned kFirstAppId[] = {1, 101, 201};
constexpr unsigned kLastAppId[] = {100, 200, 254};

void append32(std::vector<uint8_t> &out, uint32_t value) {
  uint8_t bytes[4];
  store_little_endian32(bytes, value);
  out.insert(out.end(), bytes, bytes + 4);
}

void pad_to(std::vector<uint8_t> &out, std::size_t multiple, std::size_t remainder = 0) {
  while (out.size() % multiple != remainder) out.push_back(0);
}

std::vector<uint8_t> read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_name(uint8_t *target, std::size_t size, const std::string &name) {
  std::memcpy(target, name.data(), std::min(name.size(), size - 1));
}

void ensure_size(std::vector<uint8_t> &image, std::size_t size) {
  if (image.size() < size) image.resize(size, 0);
}

std::string rest_of_line(std::istringstream &line) {
  std::string rest;
  std::getline(line >> std::ws, rest);
  return rest;
}

// Reads the next word as a whole decimal number up to `max`. A sign, another base or a larger value
// is refused: written into the image's narrower fields it would wrap or be cut without a word.
uint32_t read_number(std::istringstream &line, uint32_t max, const char *what) {
  std::string word;
  uint32_t value = 0;
  if (line >> word) {
    const char *end = word.data() + word.size();
    auto [stop, error] = std::from_chars(word.data(), end, value);
    if (error == std::errc{} && stop == end && value <= max) return value;
  }
  throw std::runtime_error(std::string(what) + " must be a whole number from 0 to " + std::to_string(max) +
                           (word.empty() ? "" : ", not " + word));
}

int app_type(const std::string &word) {
  if (word == "im") return 0;
  if (word == "p2p") return 1;
  if (word == "anomaly") return 2;
  return -1;
}

void check_app(const AppEntry &app) {
  if (app.type < 0 || app.app_id < kFirstAppId[app.type] || app.app_id > kLastAppId[app.type])
    throw std::runtime_error("application id outside its type's range");
}

void check_rule(const ThresholdRule &rule) {
  if (rule.rule_id < 1 || rule.rule_id > 31) throw std::runtime_error("rule id outside 1..31");
}

}  // namespace

PolicySpec read_description(std::istream &in, const std::string &base_directory) {
  PolicySpec spec;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    std::istringstream line(text);
    std::string keyword;
    if (!(line >> keyword) || keyword[0] == '#') continue;
    auto path = [&](const std::string &name) {
      return name.starts_with('/') ? name : base_directory + "/" + name;
    };
    try {
      if (keyword == "version") {
        uint32_t first = read_number(line, 0xFFFF, "version number");
        spec.version = first | read_number(line, 0xFFFF, "version number") << 16;
      } else if (keyword == "name") {
        std::size_t id = read_number(line, 65535, "attack id");
        if (spec.attack_names.size() <= id) spec.attack_names.resize(id + 1);
        spec.attack_names[id] = rest_of_line(line);
      } else if (keyword == "app") {
        AppEntry app;
        std::string type;
        line >> type;
        app.type = app_type(type);
        app.app_id = read_number(line, 255, "application id");
        app.index = read_number(line, 255, "index");
        app.action = read_number(line, 255, "action");
        app.name = rest_of_line(line);
        check_app(app);
        spec.apps.push_back(app);
      } else if (keyword == "rule") {
        ThresholdRule rule;
        rule.rule_id = read_number(line, 255, "rule id");
        rule.index = read_number(line, 255, "index");
        rule.action = read_number(line, 255, "action");
        rule.threshold = read_number(line, 0xFFFF, "threshold");
        rule.name = rest_of_line(line);
        check_rule(rule);
        spec.rules.push_back(rule);
      } else if (keyword == "image") {
        spec.engine_image = read_file(path(rest_of_line(line)));
      } else if (keyword == "section") {
        spec.extra_sections.push_back(read_file(path(rest_of_line(line))));
      } else {
        throw std::runtime_error("unknown keyword " + keyword);
      }
    } catch (const std::exception &e) {
      throw std::runtime_error("line " + std::to_string(number) + ": " + e.what());
    }
  }
  // A read error ends the lines as the end of the text would: the policy would be built from part.
  if (in.bad()) throw std::runtime_error("cannot read the description");
  return spec;
}

std::vector<uint8_t> engine_image(const PolicySpec &spec) {
  std::vector<uint8_t> image = spec.engine_image;
  if (!spec.apps.empty() || !spec.rules.empty())
    ensure_size(image, kThresholdTable + 32 * kThresholdEntrySize);
  ensure_size(image, kRuleSetInfo + 76);
  for (const AppEntry &app : spec.apps) {
    uint8_t *entry = image.data() + kAppTable + app.app_id * kAppEntrySize;
    std::memset(entry, 0, kAppEntrySize);
    entry[0] = 1;
    entry[1] = static_cast<uint8_t>(app.index);
    entry[2] = static_cast<uint8_t>(app.app_id);
    entry[3] = static_cast<uint8_t>(app.action);
    write_name(entry + 4, 32, app.name);
  }
  for (const ThresholdRule &rule : spec.rules) {
    uint8_t *entry = image.data() + kThresholdTable + rule.rule_id * kThresholdEntrySize;
    std::memset(entry, 0, kThresholdEntrySize);
    entry[0] = 1;
    entry[1] = static_cast<uint8_t>(rule.index);
    entry[2] = static_cast<uint8_t>(rule.rule_id);
    entry[3] = static_cast<uint8_t>(rule.action);
    entry[4] = static_cast<uint8_t>(rule.threshold);
    entry[5] = static_cast<uint8_t>(rule.threshold >> 8);
    write_name(entry + 8, 32, rule.name);
  }
  return image;
}

std::vector<uint8_t> compressed_section(uint32_t id, const std::vector<uint8_t> &contents) {
  uLongf size = compressBound(contents.size());
  std::vector<uint8_t> stream(size);
  if (compress2(stream.data(), &size, contents.data(), contents.size(), Z_DEFAULT_COMPRESSION) != Z_OK)
    throw std::runtime_error("zlib failed");
  stream.resize(size);
  pad_to(stream, 4);  // the check word then sits on a word boundary; inflate ignores the padding
  std::vector<uint8_t> section;
  append32(section, id);
  append32(section, static_cast<uint32_t>(contents.size()));
  append32(section, static_cast<uint32_t>(stream.size()));
  section.insert(section.end(), stream.begin(), stream.end());
  append32(section, -RulCheckSum(stream.data(), stream.size()));
  return section;
}

std::vector<uint8_t> build_payload(const PolicySpec &spec) {
  std::vector<uint8_t> names(spec.attack_names.size() * 64, 0);
  for (std::size_t i = 0; i < spec.attack_names.size(); ++i)
    write_name(names.data() + i * 64, 64, spec.attack_names[i]);

  std::vector<uint8_t> payload;
  append32(payload, spec.version);
  payload.resize(kPolicyHeaderSize, 0);
  payload[21] = static_cast<uint8_t>(1 + spec.extra_sections.size());
  payload[22] = static_cast<uint8_t>(1 + spec.extra_download_sections);

  auto add = [&](const std::vector<uint8_t> &section) {
    payload.insert(payload.end(), section.begin(), section.end());
  };
  add(compressed_section(0, names));
  for (std::size_t i = 0; i < spec.extra_sections.size(); ++i)
    add(compressed_section(static_cast<uint32_t>(i + 1), spec.extra_sections[i]));
  std::vector<uint8_t> download = compressed_section(spec.table_id, engine_image(spec));
  for (int i = 0; i <= spec.extra_download_sections; ++i) add(download);
  payload.resize(payload.size() + kTrailerSize, 0);
  pad_to(payload, 8, 4);
  append32(payload, 0);
  fix_payload_checksum(payload);
  return payload;
}

void fix_payload_checksum(std::vector<uint8_t> &payload) {
  uint8_t *last = payload.data() + payload.size() - 4;
  store_little_endian32(last, 0);
  store_little_endian32(last, -RulCheckSum(payload.data(), payload.size()));
}

std::vector<uint8_t> seal_policy(std::vector<uint8_t> payload, const uint8_t *key_material) {
  uint8_t material[kKeySize];
  std::memcpy(material, key_material, kKeySize);
  uint8_t key[kKeySize];
  auto length = static_cast<uint32_t>(payload.size());
  build_policy_key(material, length, key);
  if (bw_EncryptMemory(key, kKeySize, payload.data(), payload.size()) != 0)
    throw std::runtime_error("payload is not a whole number of blocks");
  std::vector<uint8_t> file;
  append32(file, length ^ kLengthMask);
  file.insert(file.end(), payload.begin(), payload.end());
  return file;
}

std::vector<uint8_t> build_policy_file(const PolicySpec &spec) {
  return seal_policy(build_payload(spec), kKeyMaterial);
}

}  // namespace vornagent::builder
