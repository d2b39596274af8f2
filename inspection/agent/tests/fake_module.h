// An in-process stand-in for the module's settings commands, behind the library's device seam:
// the application table (IM 1..100, P2P 101..200, anomaly 201..254) and the scan and flood rules.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "device.h"
#include "records.h"

namespace vornagent::testing {

struct FakeApp {
  bool valid = false;
  uint8_t index = 0;
  uint8_t action = 0;
  std::string name;
};

struct FakeRule {
  bool valid = false;
  uint8_t index = 0;
  uint8_t action = 0;
  uint16_t threshold = 0;
  std::string name;
};

struct FakeModule {
  uint32_t ips = 1;
  uint32_t state = 8;  // 8: a policy is loaded
  FakeApp apps[256];
  FakeRule rules[32];
  std::vector<unsigned long> commands;  // every ioctl received, in order
  std::vector<uint8_t> image;           // the engine image of the last successful download
  uint32_t last_download_address = 0;
  bool device_present = true;
  int opens = 0;                  // tries to open the device
  int pauses = 0;                 // waits between two tries
  std::deque<VornLogRecord> log;  // events waiting in the module's ring
  bool refuse_log_length = false;
  bool refuse_logs = false;
  uint32_t write_overrun = 0;    // moves the caller's write index this much further than it copied
  int signal_in_next_ioctl = 0;  // raised inside the next ioctl, while the caller holds the device lock

  // Logs an event as the inspection path would; the ring holds at most 1023 records.
  void log_event(uint32_t source, uint32_t attack_id, uint32_t category, uint32_t time = 0);

  // Adds `count` entries of a type (0 IM, 1 P2P, 2 anomaly) with indices 0.. and names "<prefix><n>".
  void add_apps(int type, int count, const std::string &prefix);
  // Adds rules (0 DDoS ids from 17, 1 port scan ids from 1) with indices 0.. and names "<prefix><n>".
  void add_rules(int type, int count, const std::string &prefix);

  int ioctl(unsigned long request, void *arg);

 private:
  int load_rule_tables(uint32_t header_address);
  int get_logs(uint8_t *block);
  void tables_from_image();
};

// Installs `module` behind the device seam for the lifetime of the object.
class FakeDevice {
 public:
  explicit FakeDevice(FakeModule &module);
  ~FakeDevice();
  FakeDevice(const FakeDevice &) = delete;
  FakeDevice &operator=(const FakeDevice &) = delete;
};

}  // namespace vornagent::testing
