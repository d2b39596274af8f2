#include "rul_agent.h"

#include <sys/shm.h>

#include <cstring>

#include "ipc.h"
#include "messages.h"

namespace vornagent {

const uint8_t kKeyMaterial[kKeySize] = {VORNAGENT_KEY_MATERIAL};

namespace {

constexpr const char *kSource = "kaRulAgnt";

}  // namespace

RulAgnt *RulAgntInit() {
  void *address = nullptr;
  int id = create_segment(kRulAgntKey, sizeof(RulAgnt));
  if (id >= 0) {
    address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) address = nullptr;
  }
  if (!address) {
    print_message(kSource, 410, "Out of Space");
    if (id >= 0) remove_segment(kRulAgntKey);
    return nullptr;
  }
  auto *agent = static_cast<RulAgnt *>(address);
  RulAgntReset(agent);
  return agent;
}

RulAgnt *rul_agnt_attach() {
  return static_cast<RulAgnt *>(attach_segment(kRulAgntKey, sizeof(RulAgnt)));
}

int RulAgntReset(RulAgnt *agent) {
  if (!agent) return 1;
  std::memset(agent, 0, sizeof *agent);
  std::memcpy(agent->key, kKeyMaterial, kKeySize);
  return 0;
}

void RulAgntRelease(RulAgnt *agent) {
  if (!agent) return;
  auto *bytes = reinterpret_cast<uint8_t *>(agent);
  std::memset(bytes + offsetof(RulAgnt, version), 0,
              offsetof(RulAgnt, decompressed_size) - offsetof(RulAgnt, version));
}

void RulAgntExit(RulAgnt *agent) {
  RulAgntRelease(agent);
  detach_segment(agent);
}

}  // namespace vornagent

using namespace vornagent;

extern "C" int kaGetSigVer(int *major, int *minor) {
  if (!major || !minor) return -1;
  RulAgnt *agent = rul_agnt_attach();
  if (!agent) return -1;
  *major = static_cast<int>(agent->version & 0xFFFFu);
  *minor = static_cast<int>(agent->version >> 16);
  detach_segment(agent);
  return 0;
}
