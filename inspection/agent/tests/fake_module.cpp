#include "fake_module.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "records.h"

namespace vornagent::testing {

namespace {

constexpr int kRefused = -25;
FakeModule *installed = nullptr;

int fakeOpen(const char *, int) { return installed && installed->device_present ? ::open("/dev/null", O_RDWR) : -1; }
int fakeIoctl(int, unsigned long request, void *arg) { return installed->ioctl(request, arg); }
int fakeClose(int fd) { return ::close(fd); }
constexpr DeviceOps kFakeOps{fakeOpen, fakeIoctl, fakeClose};

struct AppRange {
  int first, last;
};
AppRange appRange(unsigned long request) {
  if (request == kIocGetImAction) return {1, 100};
  if (request == kIocGetP2pAction) return {101, 200};
  return {201, 254};
}

void copyName(char *target, const std::string &name) {
  std::memset(target, 0, 32);
  std::memcpy(target, name.data(), std::min<std::size_t>(name.size(), 32));
}

bool thresholdInBounds(unsigned id, uint32_t threshold) {
  if (id >= 1 && id <= 4) return threshold >= 1 && threshold <= 3040;
  if (id == 5) return threshold >= 1 && threshold <= 2048;
  if (id >= 17 && id <= 20) return threshold >= 1 && threshold <= 60000;
  return false;
}

}  // namespace

void FakeModule::addApps(int type, int count, const std::string &prefix) {
  int first = type == 0 ? 1 : type == 1 ? 101 : 201;
  for (int i = 0; i < count; ++i)
    apps[first + i] = FakeApp{true, static_cast<uint8_t>(i), 1, prefix + std::to_string(i)};
}

void FakeModule::addRules(int type, int count, const std::string &prefix) {
  int first = type == 0 ? 17 : 1;
  for (int i = 0; i < count; ++i)
    rules[first + i] = FakeRule{true, static_cast<uint8_t>(i), 0, 100, prefix + std::to_string(i)};
}

int FakeModule::ioctl(unsigned long request, void *arg) {
  commands.push_back(request);
  switch (request) {
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
    case kIocGetImAction:
    case kIocGetP2pAction:
    case kIocGetAnomalyAction: {
      auto *r = static_cast<IM_P2P_AD_Info *>(arg);
      AppRange range = appRange(request);
      for (int id = range.first; id <= range.last; ++id) {
        if (apps[id].index != r->index || !apps[id].valid) continue;
        r->action = apps[id].action;
        r->AppID = static_cast<uint16_t>(id);
        copyName(r->name, apps[id].name);
        return 0;
      }
      return kRefused;
    }
    case kIocSetImAction:
    case kIocSetP2pAction:
    case kIocSetAnomalyAction: {
      auto *r = static_cast<IM_P2P_AD_Status *>(arg);
      if (r->AppID > 255 || !apps[r->AppID].valid) return kRefused;
      apps[r->AppID].action = r->action;
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
        copyName(r->name, rules[id].name);
        return 0;
      }
      return kRefused;
    }
    case kIocSetRulePortscan:
    case kIocSetRuleDdos: {
      auto *r = static_cast<KaAppStatTH *>(arg);
      if (r->rule_id > 31 || !thresholdInBounds(r->rule_id, r->threshold) || !rules[r->rule_id].valid)
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
  setDeviceOps(&kFakeOps);
}

FakeDevice::~FakeDevice() {
  setDeviceOps(nullptr);
  installed = nullptr;
}

}  // namespace vornagent::testing
