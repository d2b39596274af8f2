#include "fake_module.h"

#include <fcntl.h>
#include <unistd.h>

#include <zlib.h>

#include <csignal>
#include <cstring>

#include "records.h"

namespace vornagent::testing {

namespace {

constexpr int kRefused = -25;
FakeModule *installed = nullptr;

int fake_open(const char *, int) {
  ++installed->opens;
  return installed->device_present ? ::open("/dev/null", O_RDWR) : -1;
}
int fake_ioctl(int, unsigned long request, void *arg) {
  return installed->ioctl(request, arg);
}
int fake_close(int fd) {
  return ::close(fd);
}
void fake_pause() {
  ++installed->pauses;
}
constexpr DeviceOps kFakeOps{fake_open, fake_ioctl, fake_close, fake_pause};

struct AppRange {
  int first, last;
};
AppRange app_range(unsigned long request) {
  if (request == kIocGetImAction) return {1, 100};
  if (request == kIocGetP2pAction) return {101, 200};
  return {201, 254};
}

void copy_name(char *target, const std::string &name) {
  std::memset(target, 0, 32);
  std::memcpy(target, name.data(), std::min<std::size_t>(name.size(), 32));
}

bool threshold_in_bounds(unsigned id, uint32_t threshold) {
  if (id >= 1 && id <= 4) return threshold >= 1 && threshold <= 3040;
  if (id == 5) return threshold >= 1 && threshold <= 2048;
  if (id >= 17 && id <= 20) return threshold >= 1 && threshold <= 60000;
  return false;
}

}  // namespace

void FakeModule::add_apps(int type, int count, const std::string &prefix) {
  int first = type == 0 ? 1 : type == 1 ? 101 : 201;
  for (int i = 0; i < count; ++i)
    apps[first + i] = FakeApp{true, static_cast<uint8_t>(i), 1, prefix + std::to_string(i)};
}

void FakeModule::add_rules(int type, int count, const std::string &prefix) {
  int first = type == 0 ? 17 : 1;
  for (int i = 0; i < count; ++i)
    rules[first + i] = FakeRule{true, static_cast<uint8_t>(i), 0, 100, prefix + std::to_string(i)};
}

void FakeModule::log_event(uint32_t source, uint32_t attack_id, uint32_t category, uint32_t time) {
  if (log.size() < 1023) log.push_back(VornLogRecord{source, attack_id, category, time});
}

// Copies waiting events into the caller's ring until either side runs out, as the module does.
int FakeModule::get_logs(uint8_t *block) {
  constexpr std::size_t kRead = 0x20000, kWrite = 0x20004, kCount = 0x20008;
  uint32_t read, write, count;
  std::memcpy(&read, block + kRead, 4);
  std::memcpy(&write, block + kWrite, 4);
  std::memcpy(&count, block + kCount, 4);
  if (count == 0) return 0;
  if (count >= 8192 || read >= 8192 || write >= 8192) return kRefused;
  uint32_t copied = 0;
  while (copied < count && !log.empty() && ((write + 1) & 0x1fff) != read) {
    std::memcpy(block + write * sizeof(VornLogRecord), &log.front(), sizeof(VornLogRecord));
    log.pop_front();
    write = (write + 1) & 0x1fff;
    ++copied;
  }
  write = (write + write_overrun) & 0x1fff;
  std::memcpy(block + kWrite, &write, 4);
  std::memcpy(block + kCount, &copied, 4);
  return 0;
}

// Reads the download section at the caller's 32-bit address, as the module does.
int FakeModule::load_rule_tables(uint32_t header_address) {
  last_download_address = header_address;
  state = 2;
  if (header_address == 0) return kRefused;
  const auto *header = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(header_address));
  uint32_t id, original, zipped;
  std::memcpy(&id, header, 4);
  std::memcpy(&original, header + 4, 4);
  std::memcpy(&zipped, header + 8, 4);
  if (id != 0x20000001u || original > 0x1000000u) return kRefused;
  std::vector<uint8_t> unpacked(original);
  uLongf size = original;
  if (uncompress(unpacked.data(), &size, header + 12, zipped) != Z_OK) return kRefused;
  image = std::move(unpacked);
  tables_from_image();
  state = 8;
  return 0;
}

void FakeModule::tables_from_image() {
  constexpr std::size_t kAppTable = 0xdc3a78, kRuleTable = 0xdf7e78;
  for (int id = 0; id < 256; ++id) {
    std::size_t at = kAppTable + static_cast<std::size_t>(id) * 36;
    apps[id] = FakeApp{};
    if (at + 36 > image.size() || image[at] != 1) continue;
    apps[id] = FakeApp{true, image[at + 1], image[at + 3],
                       std::string(reinterpret_cast<char *>(&image[at + 4]),
                                   strnlen(reinterpret_cast<char *>(&image[at + 4]), 32))};
  }
  for (int id = 0; id < 32; ++id) {
    std::size_t at = kRuleTable + static_cast<std::size_t>(id) * 40;
    rules[id] = FakeRule{};
    if (at + 40 > image.size() || image[at] != 1) continue;
    rules[id] = FakeRule{true, image[at + 1], image[at + 3],
                         static_cast<uint16_t>(image[at + 4] | image[at + 5] << 8),
                         std::string(reinterpret_cast<char *>(&image[at + 8]),
                                     strnlen(reinterpret_cast<char *>(&image[at + 8]), 32))};
  }
}

int FakeModule::ioctl(unsigned long request, void *arg) {
  if (int signal_number = signal_in_next_ioctl) {
    signal_in_next_ioctl = 0;
    raise(signal_number);
  }
  commands.push_back(request);
  switch (request) {
    case kIocLoadRuleTables:
      return load_rule_tables(static_cast<ParamtVornPolicyTable *>(arg)->header_address);
    case kIocGetStatus: {
      auto *r = static_cast<ParamtVornStatus *>(arg);
      *r = state == 8 ? ParamtVornStatus{ips, 0} : ParamtVornStatus{0, 0x1000000u + state};
      return 0;
    }
    case kIocSetStatus: {
      auto *r = static_cast<ParamtVornStatus *>(arg);
      if (state == 8) {
        ips = r->value;
        r->status = 0;
      } else {
        r->value = ips;
        r->status = 0x1000000u + state;
      }
      return 0;
    }
    case kIocGetLogsLen:
      if (refuse_log_length) return kRefused;
      *static_cast<uint32_t *>(arg) = static_cast<uint32_t>(log.size());
      return 0;
    case kIocGetLogs:
      return refuse_logs ? kRefused : get_logs(static_cast<uint8_t *>(arg));
    case kIocGetImAction:
    case kIocGetP2pAction:
    case kIocGetAnomalyAction: {
      auto *r = static_cast<IM_P2P_AD_Info *>(arg);
      AppRange range = app_range(request);
      for (int id = range.first; id <= range.last; ++id) {
        if (apps[id].index != r->index || !apps[id].valid) continue;
        r->action = apps[id].action;
        r->app_id = static_cast<uint16_t>(id);
        copy_name(r->name, apps[id].name);
        return 0;
      }
      return kRefused;
    }
    case kIocSetImAction:
    case kIocSetP2pAction:
    case kIocSetAnomalyAction: {
      auto *r = static_cast<IM_P2P_AD_Status *>(arg);
      if (r->app_id > 255 || !apps[r->app_id].valid) return kRefused;
      apps[r->app_id].action = r->action;
      return 0;
    }
    case kIocGetRulePortscan:
    case kIocGetRuleDdos: {
      auto *r = static_cast<KaAppInfoTH *>(arg);
      int first = request == kIocGetRulePortscan ? 1 : 17, last = request == kIocGetRulePortscan ? 16 : 31;
      for (int id = first; id <= last; ++id) {
        if (rules[id].index != r->index || !rules[id].valid) continue;
        r->action = rules[id].action;
        r->rule_id = static_cast<uint16_t>(id);
        r->threshold = rules[id].threshold;
        copy_name(r->name, rules[id].name);
        return 0;
      }
      return kRefused;
    }
    case kIocSetRulePortscan:
    case kIocSetRuleDdos: {
      auto *r = static_cast<KaAppStatTH *>(arg);
      if (r->rule_id > 31 || !threshold_in_bounds(r->rule_id, r->threshold) || !rules[r->rule_id].valid)
        return kRefused;
      rules[r->rule_id].action = r->action;
      rules[r->rule_id].threshold = static_cast<uint16_t>(r->threshold);
      return 0;
    }
    default:
      return kRefused;
  }
}

FakeDevice::FakeDevice(FakeModule &module) {
  installed = &module;
  set_device_ops(&kFakeOps);
}

FakeDevice::~FakeDevice() {
  set_device_ops(nullptr);
  installed = nullptr;
}

}  // namespace vornagent::testing
