#include "cmd_agent.h"

#include <sys/shm.h>

#include <algorithm>
#include <cstring>

#include "device.h"
#include "ipc.h"
#include "messages.h"

namespace vornagent {

namespace {

constexpr const char *kSource = "kaCmdAgnt";

constexpr unsigned long kGetAppCommand[] = {kIocGetImAction, kIocGetP2pAction, kIocGetAnomalyAction};
constexpr unsigned long kSetAppCommand[] = {kIocSetImAction, kIocSetP2pAction, kIocSetAnomalyAction};
constexpr unsigned long kGetThresholdCommand[] = {kIocGetRuleDdos, kIocGetRulePortscan};
constexpr unsigned long kSetThresholdCommand[] = {kIocSetRuleDdos, kIocSetRulePortscan};

bool is_app_type(int type) {
  return type >= kKaAppIm && type <= kKaAppAnomaly;
}
bool is_threshold_type(int type) {
  return type == kKaThDdos || type == kKaThPortscan;
}
bool is_action(uint8_t action) {
  return action == 0 || action == 1;
}

// Counts live in a segment any process may write: never trust them beyond the table size.
uint32_t app_count(const CmdAgnt &agent, int type) {
  return std::min<uint32_t>(agent.app_count[type], kKaAppTableSize);
}
uint32_t threshold_count(const CmdAgnt &agent, int type) {
  return std::min<uint32_t>(agent.th_count[type], kKaThTableSize);
}

// Names are fixed 64-byte fields that need not be terminated.
bool same_name(const char *a, const char *b) {
  return std::strncmp(a, b, 64) == 0;
}

int status_command(unsigned long request, ParamtVornStatus &record) {
  return device_command(request, &record) == 0 && record.status == 0 ? 0 : 1;
}

// Runs `body` with the daemon's mirror attached; -1 when there is none.
template <typename Body>
int with_mirror(Body body) {
  CmdAgnt *agent = cmd_agnt_attach();
  if (!agent) return -1;
  int result = body(*agent);
  CmdAgntExit(agent);
  return result;
}

}  // namespace

uint32_t threshold_bound(int type, int position) {
  if (position < 0 || position > 4) return 0;
  if (type == kKaThDdos) return position <= 3 ? 60000 : 0;
  if (type == kKaThPortscan) return position <= 3 ? 3040 : 2048;
  return 0;
}

int CmdGetVrnStat(int *on) {
  if (!on) return 1;
  ParamtVornStatus record{};
  if (status_command(kIocGetStatus, record) != 0) {
    print_message(kSource, 238, "Get Vorn Stat Fail");
    return 1;
  }
  *on = static_cast<int>(record.value);
  return 0;
}

int CmdSetVrnStat(int on) {
  ParamtVornStatus record{static_cast<uint32_t>(on), 0};
  if (status_command(kIocSetStatus, record) != 0) {
    print_message(kSource, 276, "Set Vorn Stat Fail");
    return 1;
  }
  return 0;
}

int CmdStartUpVrn(int *on) {
  if (!on) return 1;
  *on = 1;
  return CmdSetVrnStat(1);
}

int CmdGetAppInfo(IM_P2P_AD_Info *rec, int type) {
  if (!rec || !is_app_type(type)) return 1;
  return device_command(kGetAppCommand[type], rec) == 0 ? 0 : 1;
}

int CmdSetAppStat(IM_P2P_AD_Status *rec, int type) {
  if (!rec || !is_app_type(type)) return 1;
  if (device_command(kSetAppCommand[type], rec) != 0) {
    print_message(kSource, 206, "Get App Info Fail");
    return 1;
  }
  return 0;
}

int CmdGetAppInfoTH(KaAppInfoTH *rec, int type) {
  if (!rec || !is_threshold_type(type)) return 1;
  return device_command(kGetThresholdCommand[type], rec) == 0 ? 0 : 1;
}

int CmdSetAppStatTH(KaAppStatTH *rec, int type) {
  if (!rec || !is_threshold_type(type)) return 1;
  if (device_command(kSetThresholdCommand[type], rec) != 0) {
    print_message(kSource, 97, "Get App Info Fail");
    return 1;
  }
  return 0;
}

CmdAgnt *CmdAgntInit() {
  void *address = nullptr;
  int id = create_segment(kCmdAgntKey, sizeof(CmdAgnt));
  if (id >= 0) {
    address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) address = nullptr;
  }
  if (!address) {
    print_message(kSource, 309, "Out of Space");
    return nullptr;
  }
  auto *agent = static_cast<CmdAgnt *>(address);
  std::memset(agent, 0, sizeof *agent);
  agent->ips = 1;
  return agent;
}

CmdAgnt *cmd_agnt_attach() {
  return static_cast<CmdAgnt *>(attach_segment(kCmdAgntKey, sizeof(CmdAgnt)));
}

void CmdAgntExit(CmdAgnt *agent) {
  detach_segment(agent);
}

}  // namespace vornagent

using namespace vornagent;

extern "C" {

int kaGetIPSFunction(int *on) {
  if (!on) return -1;
  return CmdGetVrnStat(on) == 0 ? 0 : -1;
}

int kaSetIPSFunction(int on) {
  if (on != 0 && on != 1) return -1;
  return with_mirror([on](CmdAgnt &agent) {
    // The mirror keeps the user's choice even when the module cannot take it now (no policy yet):
    // each policy load pushes the mirror's state, so the choice holds from the first load on.
    agent.ips = static_cast<uint32_t>(on);
    agent.status = 0;
    return CmdSetVrnStat(on) == 0 ? 0 : -1;
  });
}

int kaGetAppInfo(IM_P2P_AD_Info *rec, int type) {
  return CmdGetAppInfo(rec, type) == 0 ? 0 : -1;
}

int kaGetAppInfoTH(KaAppInfoTH *rec, int type) {
  return CmdGetAppInfoTH(rec, type) == 0 ? 0 : -1;
}

int kaSetAppInfo(IM_P2P_AD_Info *rec, int type) {
  if (!rec || !is_action(rec->action) || !is_app_type(type)) return -1;
  return with_mirror([rec, type](CmdAgnt &agent) {
    IM_P2P_AD_Info *table = agent.app[type];
    IM_P2P_AD_Info *end = table + app_count(agent, type);
    IM_P2P_AD_Info *entry =
        std::find_if(table, end, [rec](const IM_P2P_AD_Info &e) { return same_name(e.name, rec->name); });
    if (entry == end) return -1;
    IM_P2P_AD_Status status{entry->index, rec->action, entry->app_id};
    if (CmdSetAppStat(&status, type) != 0) return -1;
    entry->action = rec->action;
    return 0;
  });
}

int kaSetAppInfoTH(KaAppInfoTH *rec, int type) {
  if (!rec || !is_action(rec->action) || !is_threshold_type(type)) return -1;
  return with_mirror([rec, type](CmdAgnt &agent) {
    KaAppInfoTH *table = agent.th[type];
    KaAppInfoTH *end = table + threshold_count(agent, type);
    KaAppInfoTH *entry =
        std::find_if(table, end, [rec](const KaAppInfoTH &e) { return same_name(e.name, rec->name); });
    if (entry == end) return -1;
    uint32_t bound = threshold_bound(type, static_cast<int>(entry - table));
    if (rec->threshold < 1 || rec->threshold > bound) return -1;
    KaAppStatTH status{entry->index, rec->action, entry->rule_id, rec->threshold};
    if (CmdSetAppStatTH(&status, type) != 0) return -1;
    entry->action = rec->action;
    entry->threshold = rec->threshold;
    return 0;
  });
}

// The enumerations end at the module's first refusal; a module that cannot be reached at all must
// not pass for one without entries, and must not empty the caller's tables.
int kaGetAllAppInfo(CmdAgnt *agent) {
  if (!agent || !device_reachable()) return -1;
  for (int type = kKaAppIm; type <= kKaAppAnomaly; ++type) {
    uint32_t stored = 0;
    for (; stored < kKaAppTableSize; ++stored) {
      IM_P2P_AD_Info record{};
      record.index = static_cast<uint8_t>(stored);
      if (CmdGetAppInfo(&record, type) != 0) break;
      record.index = static_cast<uint8_t>(stored);
      agent->app[type][stored] = record;
    }
    agent->app_count[type] = stored;
  }
  return 0;
}

int kaGetAllAppInfoTH(CmdAgnt *agent) {
  if (!agent || !device_reachable()) return -1;
  for (int type = kKaThDdos; type <= kKaThPortscan; ++type) {
    uint32_t stored = 0;
    for (; stored < kKaThTableSize; ++stored) {
      KaAppInfoTH record{};
      record.index = static_cast<uint8_t>(stored);
      if (CmdGetAppInfoTH(&record, type) != 0) break;
      record.index = static_cast<uint8_t>(stored);
      agent->th[type][stored] = record;
    }
    agent->th_count[type] = stored;
  }
  return 0;
}

int kaSetAllAppStat(CmdAgnt *agent) {
  if (!agent) return -1;
  for (int type = kKaAppIm; type <= kKaAppAnomaly; ++type) {
    for (uint32_t j = 0; j < app_count(*agent, type); ++j) {
      const IM_P2P_AD_Info &entry = agent->app[type][j];
      IM_P2P_AD_Status status{entry.index, entry.action, entry.app_id};
      if (CmdSetAppStat(&status, type) != 0) print_text("Set All App Stat error\n");
    }
  }
  return 0;
}

int kaSetAllAppStatTH(CmdAgnt *agent) {
  if (!agent) return -1;
  for (int type = kKaThDdos; type <= kKaThPortscan; ++type) {
    for (uint32_t j = 0; j < threshold_count(*agent, type); ++j) {
      const KaAppInfoTH &entry = agent->th[type][j];
      KaAppStatTH status{entry.index, entry.action, entry.rule_id, entry.threshold};
      if (CmdSetAppStatTH(&status, type) != 0) print_text("Set All App Stat error\n");
    }
  }
  return 0;
}

}  // extern "C"
