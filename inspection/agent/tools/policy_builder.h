// Writes signature policy files in the format the loader reads. A test tool: it lets tests, the
// benchmark and the run command load real policies.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace vornagent::builder {

constexpr uint32_t kEngineTableId = 0x20000001u;

struct AppEntry {
  int type = 0;  // 0 IM, 1 P2P, 2 anomaly
  unsigned app_id = 0;
  unsigned index = 0;
  unsigned action = 0;
  std::string name;
};

struct ThresholdRule {
  unsigned rule_id = 0;
  unsigned index = 0;
  unsigned action = 0;
  unsigned threshold = 0;
  std::string name;
};

struct PolicySpec {
  uint32_t version = 0;  // low 16 bits: first number, high 16 bits: second
  std::vector<std::string> attack_names;
  std::vector<std::vector<uint8_t>> extra_sections;  // further compressed sections, unpacked contents
  std::vector<uint8_t> engine_image;                 // the module's image, before the tables below
  std::vector<AppEntry> apps;
  std::vector<ThresholdRule> rules;
  uint32_t table_id = kEngineTableId;
  int extra_download_sections = 0;  // the loader skips all but the first
};

// Reads a description; throws std::runtime_error with the line number on a bad line, and when the
// text cannot be read to its end. Numbers are whole decimal numbers that must fit their fields
// (version numbers, attack ids and thresholds 0..65535, indices and actions 0..255).
//   version <first> <second>
//   name <id> <text>                              attack name of id
//   app <im|p2p|anomaly> <appid> <index> <action> <name>
//   rule <id> <index> <action> <threshold> <name>  port-scan (1..5) or flood (17..20) rule
//   image <file>                                  engine image the tables are written over
//   section <file>                                a further compressed section
// Relative file names are taken from `base_directory`.
PolicySpec read_description(std::istream &in, const std::string &base_directory);

// The engine image with the application and threshold tables written in.
std::vector<uint8_t> engine_image(const PolicySpec &spec);

// One section: id, original size, compressed size, zlib stream padded to whole words, check word.
std::vector<uint8_t> compressed_section(uint32_t id, const std::vector<uint8_t> &contents);

// The decrypted payload, its checksum made valid.
std::vector<uint8_t> build_payload(const PolicySpec &spec);

// Sets the payload's last word so that its checksum holds (payloads built here end in that word).
void fix_payload_checksum(std::vector<uint8_t> &payload);

// Encrypts the payload with the key made from `key_material` and prepends the masked length.
std::vector<uint8_t> seal_policy(std::vector<uint8_t> payload, const uint8_t *key_material);

// build_payload + seal_policy with the library's key material.
std::vector<uint8_t> build_policy_file(const PolicySpec &spec);

}  // namespace vornagent::builder
